#include "asn1/asn_check.h"

#include <cstring>

// 1 when every byte passes ok, else 0. A NULL text without length passes; a
// NULL text with a length, or an empty one, gives missing.
template <typename Ok>
static int every_byte(const unsigned char *data, uint32_t length, int missing, Ok ok)
{
    if (!data)
        return length ? missing : 1;
    if (!length)
        return missing;
    for (uint32_t i = 0; i < length; i++)
        if (!ok(data[i]))
            return 0;
    return 1;
}

int is_str_bit(const unsigned char *data, uint32_t length)
{
    return every_byte(data, length, -1, [](unsigned char c) { return c <= 1; });
}

int is_str_ia5(const unsigned char *data, uint32_t length)
{
    return every_byte(data, length, -1, [](unsigned char c) { return c < 0x80; });
}

int is_str_utf8(const unsigned char *data, uint32_t length)
{
    if (!data)
        return length ? -1 : 1;
    if (!length)
        return -1;
    // Smallest value each sequence length may carry; below it the form is overlong.
    static const uint32_t minimum[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
    uint32_t i = 0;
    while (i < length) {
        unsigned char lead = data[i];
        uint32_t count;
        uint32_t value;
        if (lead < 0x80) {
            i++;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            count = 2;
            value = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            count = 3;
            value = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            count = 4;
            value = lead & 0x07;
        } else if ((lead & 0xFC) == 0xF8) {
            count = 5;
            value = lead & 0x03;
        } else if ((lead & 0xFE) == 0xFC) {
            count = 6;
            value = lead & 0x01;
        } else {
            return 0;
        }
        if (length - i < count)
            return 0;
        for (uint32_t k = 1; k < count; k++) {
            unsigned char c = data[i + k];
            if ((c & 0xC0) != 0x80)
                return 0;
            value = (value << 6) | (c & 0x3F);
        }
        if (value < minimum[count])
            return 0;
        i += count;
    }
    return 1;
}

// Zero bytes are let through by the character-set checks.
static int in_set(const unsigned char *data, uint32_t length, const char *set)
{
    return every_byte(data, length, 0,
                      [set](unsigned char c) { return c == 0 || strchr(set, c) != nullptr; });
}

int is_str_numerics(const unsigned char *data, uint32_t length)
{
    return in_set(data, length, " 0123456789");
}

int is_str_printable(const unsigned char *data, uint32_t length)
{
    return in_set(data, length,
                  " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
}

int is_str_visible(const unsigned char *data, uint32_t length)
{
    return every_byte(data, length, 0,
                      [](unsigned char c) { return c == 0 || (c >= 0x20 && c <= 0x7E); });
}

static bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Two digits at text[pos] within [low, high].
static bool read_pair(const char *text, uint32_t length, uint32_t pos, int low, int high,
                      int *value)
{
    if (pos + 2 > length || !is_digit(text[pos]) || !is_digit(text[pos + 1]))
        return false;
    int v = (text[pos] - '0') * 10 + (text[pos + 1] - '0');
    if (v < low || v > high)
        return false;
    *value = v;
    return true;
}

// The zone after the date pairs: "Z", "+hh[mm]", "-hh[mm]", or nothing.
static bool read_zone(const char *text, uint32_t length, uint32_t pos, int *hours, int *minutes)
{
    *hours = 0;
    *minutes = 0;
    if (pos == length)
        return true;
    char c = text[pos];
    if (c == 'Z')
        return pos + 1 == length;
    if (c != '+' && c != '-')
        return false;
    pos++;
    int h = 0, m = 0;
    if (!read_pair(text, length, pos, 0, 12, &h))
        return false;
    pos += 2;
    if (length - (pos - 2) >= 4) {
        if (!read_pair(text, length, pos, 0, 59, &m))
            return false;
        pos += 2;
    }
    if (pos != length)
        return false;
    *hours = c == '-' ? -h : h;
    *minutes = c == '-' ? -m : m;
    return true;
}

static void put(int *out, int value)
{
    if (out)
        *out = value;
}

int is_time_utc(const char *text, uint32_t length, int *year, int *month, int *day, int *hour,
                int *minute, int *second, int *offset_hours, int *offset_minutes)
{
    put(second, 0);
    put(offset_hours, 0);
    put(offset_minutes, 0);
    if (!text || length < 11)
        return 0;
    int yy, mo, dd, hh, mi, ss = 0;
    if (!read_pair(text, length, 0, 0, 99, &yy) || !read_pair(text, length, 2, 1, 12, &mo) ||
        !read_pair(text, length, 4, 1, 31, &dd) || !read_pair(text, length, 6, 0, 23, &hh) ||
        !read_pair(text, length, 8, 0, 59, &mi))
        return 0;
    uint32_t pos = 10;
    char c = text[pos];
    if (c != 'Z' && c != '+' && c != '-') {
        if (!read_pair(text, length, pos, 0, 59, &ss))
            return 0;
        pos += 2;
    }
    int oh, om;
    if (!read_zone(text, length, pos, &oh, &om))
        return 0;
    put(year, yy < 50 ? 2000 + yy : 1900 + yy);
    put(month, mo);
    put(day, dd);
    put(hour, hh);
    put(minute, mi);
    put(second, ss);
    put(offset_hours, oh);
    put(offset_minutes, om);
    return 1;
}

int is_time_gen(const char *text, uint32_t length, int *year, int *month, int *day, int *hour,
                int *minute, int *second, int *fraction, int *offset_hours, int *offset_minutes)
{
    put(year, 0);
    put(second, 0);
    put(fraction, 0);
    put(offset_hours, 0);
    put(offset_minutes, 0);
    if (!text || length < 12)
        return 0;
    int cc, yy, mo, dd, hh, mi, ss = 0, frac = 0;
    if (!read_pair(text, length, 0, 0, 99, &cc) || !read_pair(text, length, 2, 0, 99, &yy) ||
        !read_pair(text, length, 4, 1, 12, &mo) || !read_pair(text, length, 6, 1, 31, &dd) ||
        !read_pair(text, length, 8, 0, 23, &hh) || !read_pair(text, length, 10, 0, 59, &mi))
        return 0;
    uint32_t pos = 12;
    if (pos < length && text[pos] != 'Z' && text[pos] != '+' && text[pos] != '-') {
        if (!read_pair(text, length, pos, 0, 59, &ss))
            return 0;
        pos += 2;
        if (pos < length && text[pos] == '.') {
            pos++;
            uint32_t digits = 0;
            while (pos < length && is_digit(text[pos])) {
                if (digits < 9)
                    frac = frac * 10 + (text[pos] - '0');
                digits++;
                pos++;
            }
            if (digits == 0)
                return 0;
        }
    }
    int oh, om;
    if (!read_zone(text, length, pos, &oh, &om))
        return 0;
    put(year, cc * 100 + yy);
    put(month, mo);
    put(day, dd);
    put(hour, hh);
    put(minute, mi);
    put(second, ss);
    put(fraction, frac);
    put(offset_hours, oh);
    put(offset_minutes, om);
    return 1;
}
