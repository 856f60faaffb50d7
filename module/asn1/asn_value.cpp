#include "asn1/asn_value.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "asn1/asn_check.h"
#include "asn1/asn_der.h"

// ---- table and item-level calls

namespace
{
struct codec_row {
    uint32_t tag;
    asn_encoder_t encoder;
    asn_decoder_t decoder;
};

const codec_row codec_table[] = {
    {ASN_TAG_EOC, asn_v_encode_eoc, asn_v_decode_eoc},
    {ASN_TAG_BOOLEAN, asn_v_encode_bool, asn_v_decode_bool},
    {ASN_TAG_INTEGER, asn_v_encode_int32, asn_v_decode_int32},
    {ASN_TAG_BIT_STRING, asn_v_encode_bitstring_bin, asn_v_decode_bitstring_bin},
    {ASN_TAG_OCTET_STRING, asn_v_encode_octetstring, asn_v_decode_octetstring},
    {ASN_TAG_NULL, asn_v_encode_null, asn_v_decode_null},
    {ASN_TAG_OID, asn_v_encode_oid, asn_v_decode_oid},
    {ASN_TAG_UTF8STRING, asn_v_encode_utf8string, asn_v_decode_utf8string},
    {ASN_TAG_NUMERICSTRING, asn_v_encode_numericstring, asn_v_decode_numericstring},
    {ASN_TAG_PRINTABLESTRING, asn_v_encode_printablestring, asn_v_decode_printablestring},
    {ASN_TAG_T61STRING, asn_v_encode_octetstring, asn_v_decode_octetstring},
    {ASN_TAG_VIDEOTEXSTRING, asn_v_encode_octetstring, asn_v_decode_octetstring},
    {ASN_TAG_IA5STRING, asn_v_encode_ia5string, asn_v_decode_ia5string},
    {ASN_TAG_UTCTIME, asn_v_encode_utctime, asn_v_decode_utctime},
    {ASN_TAG_GENERALIZEDTIME, asn_v_encode_gentime, asn_v_decode_gentime},
    {ASN_TAG_GRAPHICSTRING, asn_v_encode_octetstring, asn_v_decode_octetstring},
    {ASN_TAG_VISIBLESTRING, asn_v_encode_visiblestring, asn_v_decode_visiblestring},
    {ASN_TAG_GENERALSTRING, asn_v_encode_octetstring, asn_v_decode_octetstring},
    {ASN_TAG_UNIVERSALSTRING, asn_v_encode_octetstring, asn_v_decode_octetstring},
    {ASN_TAG_BMPSTRING, asn_v_encode_octetstring, asn_v_decode_octetstring},
};
} // namespace

bool asn_default_codec(uint32_t tag, asn_encoder_t *encoder, asn_decoder_t *decoder)
{
    for (const codec_row &row : codec_table) {
        if (row.tag == tag) {
            if (encoder)
                *encoder = row.encoder;
            if (decoder)
                *decoder = row.decoder;
            return true;
        }
    }
    return false;
}

int32_t asn_decode(const _asn_t *item, void *out, asn_decoder_t decoder)
{
    if (!item || item->constructed || item->length < 0)
        return -1;
    if (item->length == 0)
        return 0;
    if (!item->data)
        return -1;
    if (!decoder && !asn_default_codec(item->tag, NULL, &decoder))
        return -1;
    const unsigned char *content = static_cast<const unsigned char *>(item->data);
    uint32_t length = static_cast<uint32_t>(item->length);
    uint32_t size = 0;
    if (decoder(content, length, NULL, &size) < 0)
        return -1;
    if (size > 0x7FFFFFFFu)
        return -1;
    if (out) {
        uint32_t capacity = size;
        if (decoder(content, length, out, &capacity) < 0)
            return -1;
    }
    return static_cast<int32_t>(size);
}

_asn_t *asn_encode(uint32_t cls, uint32_t tag, const void *value, uint32_t length,
                   asn_encoder_t encoder)
{
    if (!encoder && !asn_default_codec(tag, &encoder, NULL))
        return NULL;
    int32_t size = encoder(value, length, NULL);
    if (size < 0)
        return NULL;
    _asn_t *item = asn_item_alloc(cls, ASN_PRIMITIVE, tag);
    if (!item)
        return NULL;
    if (size > 0) {
        unsigned char *content = asn_item_alloc_data(item, static_cast<uint32_t>(size));
        if (!content || encoder(value, length, content) != size) {
            asn_item_free(item);
            return NULL;
        }
    }
    return item;
}

_asn_t *asn_encode_ex(const char *id, const void *value, uint32_t length, asn_encoder_t encoder)
{
    uint32_t cls, constructed, tag;
    if (asn_hex_to_tag(id, &cls, &constructed, &tag) <= 0 || constructed)
        return NULL;
    return asn_encode(cls, tag, value, length, encoder);
}

// ---- helpers

// Copies length bytes into out (when given) after checking its capacity; size := length.
static int32_t copy_out(const unsigned char *data, uint32_t length, void *out, uint32_t *size)
{
    if (!size || length > 0x7FFFFFFFu)
        return -1;
    if (out) {
        if (*size < length)
            return -1;
        if (length)
            memcpy(out, data, length);
    }
    *size = length;
    return static_cast<int32_t>(length);
}

// ---- end-of-contents and NULL

int32_t asn_v_encode_eoc(const void *, uint32_t, unsigned char *)
{
    return 0;
}

int32_t asn_v_decode_eoc(const unsigned char *, uint32_t, void *, uint32_t *)
{
    return 0;
}

int32_t asn_v_encode_null(const void *, uint32_t, unsigned char *)
{
    return 0;
}

int32_t asn_v_decode_null(const unsigned char *, uint32_t, void *, uint32_t *)
{
    return 0;
}

// ---- BOOLEAN

int32_t asn_v_encode_bool(const void *value, uint32_t length, unsigned char *out)
{
    if (!value || !length)
        return -1;
    if (out)
        out[0] = static_cast<const unsigned char *>(value)[0] ? 0xFF : 0x00;
    return 1;
}

int32_t asn_v_decode_bool(const unsigned char *data, uint32_t length, void *out, uint32_t *size)
{
    if (!data || !length || !size)
        return -1;
    if (out) {
        if (*size < 1)
            return -1;
        static_cast<unsigned char *>(out)[0] = data[0] ? 1 : 0;
    }
    *size = 1;
    return 1;
}

// ---- INTEGER

int32_t asn_v_encode_int32(const void *value, uint32_t length, unsigned char *out)
{
    if (!value)
        return length ? -1 : 0;
    if (length != 4 && length != 8)
        return -1;
    int32_t v;
    memcpy(&v, value, sizeof(v));
    uint32_t bits = static_cast<uint32_t>(v);
    int count = 4;
    // Drop a leading octet while the nine top bits of the rest all equal the sign.
    while (count > 1) {
        uint32_t top9 = (bits >> (8 * count - 9)) & 0x1FF;
        if (top9 != 0 && top9 != 0x1FF)
            break;
        count--;
    }
    if (out)
        for (int i = 0; i < count; i++)
            out[i] = static_cast<unsigned char>(bits >> (8 * (count - 1 - i)));
    return count;
}

int32_t asn_v_decode_int32(const unsigned char *data, uint32_t length, void *out, uint32_t *size)
{
    if (!data || !length || !size || length > 0x7FFFFFFFu)
        return -1;
    if (out && *size < 4)
        return -1;
    uint32_t bits = (data[0] & 0x80) ? 0xFFFFFFFFu : 0;
    for (uint32_t i = 0; i < length; i++)
        bits = (bits << 8) | data[i];
    if (out) {
        int32_t v = static_cast<int32_t>(bits);
        memcpy(out, &v, sizeof(v));
    }
    *size = 4;
    return static_cast<int32_t>(length);
}

int32_t asn_v_encode_int(const void *value, uint32_t length, unsigned char *out)
{
    if (!value || !length || length >= 0x7FFFFFFFu)
        return -1;
    const unsigned char *bytes = static_cast<const unsigned char *>(value);
    uint32_t pad = (bytes[0] & 0x80) ? 1 : 0;
    if (out) {
        if (pad)
            out[0] = 0;
        memcpy(out + pad, bytes, length);
    }
    return static_cast<int32_t>(length + pad);
}

int32_t asn_v_decode_int(const unsigned char *data, uint32_t length, void *out, uint32_t *size)
{
    if (!data || !length || length > 0x7FFFFFFFu)
        return -1;
    uint32_t skip = (length >= 2 && data[0] == 0 && (data[1] & 0x80)) ? 1 : 0;
    if (copy_out(data + skip, length - skip, out, size) < 0)
        return -1;
    return static_cast<int32_t>(length);
}

// ---- BIT STRING

// The number of significant bits of BIT STRING content; -1 for no unused-bits octet, more
// than seven unused bits, or unused bits with no content octet to hold them.
static int64_t bit_count(const unsigned char *data, uint32_t length)
{
    if (!data || !length || data[0] > 7)
        return -1;
    if (length == 1 && data[0] != 0)
        return -1;
    return 8 * static_cast<int64_t>(length) - data[0] - 8;
}

int32_t asn_v_encode_bitstring_bin(const void *value, uint32_t length, unsigned char *out)
{
    if (!value && length)
        return -1;
    if (value && !length)
        return -1;
    if (length >= 0x7FFFFFFFu)
        return -1;
    if (out) {
        out[0] = 0;
        if (length)
            memcpy(out + 1, value, length);
    }
    return static_cast<int32_t>(length + 1);
}

int32_t asn_v_decode_bitstring_bin(const unsigned char *data, uint32_t length, void *out,
                                   uint32_t *size)
{
    if (bit_count(data, length) < 0 || length > 0x7FFFFFFFu)
        return -1;
    if (copy_out(data + 1, length - 1, out, size) < 0)
        return -1;
    return static_cast<int32_t>(length);
}

int32_t asn_v_encode_bitstring(const void *value, uint32_t length, unsigned char *out)
{
    if (!value && length)
        return -1;
    if (value && (!length || is_str_bit(static_cast<const unsigned char *>(value), length) != 1))
        return -1;
    if (length > 0xFFFFFFF0u)
        return -1;
    const unsigned char *bits = static_cast<const unsigned char *>(value);
    uint32_t octets = (length + 7) / 8;
    if (out) {
        out[0] = static_cast<unsigned char>((8 - length % 8) % 8);
        memset(out + 1, 0, octets);
        for (uint32_t i = 0; i < length; i++)
            if (bits[i])
                out[1 + i / 8] |= static_cast<unsigned char>(0x80 >> (i % 8));
    }
    return static_cast<int32_t>(octets + 1);
}

int32_t asn_v_decode_bitstring(const unsigned char *data, uint32_t length, void *out,
                               uint32_t *size)
{
    int64_t count = bit_count(data, length);
    if (count < 0 || count > 0x7FFFFFFF || !size)
        return -1;
    if (out) {
        if (*size < count)
            return -1;
        unsigned char *bits = static_cast<unsigned char *>(out);
        for (int64_t i = 0; i < count; i++)
            bits[i] = (data[1 + i / 8] >> (7 - i % 8)) & 1;
    }
    *size = static_cast<uint32_t>(count);
    return static_cast<int32_t>(length);
}

// ---- OCTET STRING

int32_t asn_v_encode_octetstring(const void *value, uint32_t length, unsigned char *out)
{
    if ((!value && length) || (value && !length) || length > 0x7FFFFFFFu)
        return -1;
    if (out && length)
        memcpy(out, value, length);
    return static_cast<int32_t>(length);
}

int32_t asn_v_decode_octetstring(const unsigned char *data, uint32_t length, void *out,
                                 uint32_t *size)
{
    if ((!data && length) || (data && !length))
        return -1;
    return copy_out(data, length, out, size);
}

// ---- OBJECT IDENTIFIER

int32_t asn_v_encode_oid(const void *value, uint32_t length, unsigned char *out)
{
    if (!value || !length)
        return -1;
    const char *text = static_cast<const char *>(value);
    uint32_t arcs[2] = {0, 0};
    uint32_t arc_index = 0;
    int32_t count = 0;
    uint32_t pos = 0;
    while (pos <= length) {
        // one decimal arc
        uint32_t start = pos;
        uint32_t arc = 0;
        while (pos < length && text[pos] >= '0' && text[pos] <= '9') {
            arc = arc * 10 + static_cast<uint32_t>(text[pos] - '0');
            if (arc > 0x7FFFFFFFu)
                return -1;
            pos++;
        }
        if (pos == start)
            return -1;
        if (pos < length && text[pos] != '.')
            return -1;
        if (pos < length && pos + 1 == length) // trailing dot
            return -1;
        pos++;

        uint32_t sub;
        if (arc_index < 2) {
            arcs[arc_index++] = arc;
            if (arc_index < 2)
                continue;
            if (arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39) || arcs[1] > 0xFFFFFFFFu - 80)
                return -1;
            sub = arcs[0] * 40 + arcs[1];
        } else {
            sub = arc;
        }
        int groups = 1;
        for (uint32_t rest = sub >> 7; rest; rest >>= 7)
            groups++;
        if (out)
            for (int i = 0; i < groups; i++) {
                unsigned char bits = (sub >> (7 * (groups - 1 - i))) & 0x7F;
                out[count + i] = static_cast<unsigned char>(i < groups - 1 ? bits | 0x80 : bits);
            }
        count += groups;
    }
    if (arc_index < 2)
        return -1;
    return count;
}

int32_t asn_v_decode_oid(const unsigned char *data, uint32_t length, void *out, uint32_t *size)
{
    if (!data || !length || !size)
        return -1;
    char text[ASN_OID_TEXT_MAX + 16];
    size_t used = 0;
    uint32_t pos = 0;
    bool first = true;
    while (pos < length) {
        uint32_t sub = 0;
        for (;;) {
            if (pos >= length)
                return -1; // subidentifier cut short
            unsigned char octet = data[pos++];
            if (sub > (0xFFFFFFFFu >> 7))
                return -1;
            sub = (sub << 7) | (octet & 0x7Fu);
            if (!(octet & 0x80))
                break;
        }
        int n;
        if (first) {
            uint32_t a = sub < 80 ? sub / 40 : 2;
            n = snprintf(text, sizeof(text), "%u.%u", a, sub - 40 * a);
            first = false;
        } else {
            n = snprintf(text + used, sizeof(text) - used, ".%u", sub);
        }
        if (n < 0)
            return -1;
        used += static_cast<size_t>(n);
        if (used + 1 > ASN_OID_TEXT_MAX)
            return -1;
    }
    if (out) {
        if (*size < used + 1)
            return -1;
        memcpy(out, text, used + 1);
    }
    *size = static_cast<uint32_t>(used + 1);
    return static_cast<int32_t>(length);
}

// ---- character strings

typedef int (*string_check_t)(const unsigned char *, uint32_t);

static int32_t encode_checked(string_check_t check, const void *value, uint32_t length,
                              unsigned char *out)
{
    if (check(static_cast<const unsigned char *>(value), length) != 1)
        return -1;
    return asn_v_encode_octetstring(value, length, out);
}

static int32_t decode_checked(string_check_t check, const unsigned char *data, uint32_t length,
                              void *out, uint32_t *size)
{
    if (check(data, length) != 1)
        return -1;
    return asn_v_decode_octetstring(data, length, out, size);
}

#define ASN_STRING_CODEC(name, check)                                                              \
    int32_t asn_v_encode_##name(const void *value, uint32_t length, unsigned char *out)            \
    {                                                                                              \
        return encode_checked(check, value, length, out);                                          \
    }                                                                                              \
    int32_t asn_v_decode_##name(const unsigned char *data, uint32_t length, void *out,             \
                                uint32_t *size)                                                    \
    {                                                                                              \
        return decode_checked(check, data, length, out, size);                                     \
    }

ASN_STRING_CODEC(utf8string, is_str_utf8)
ASN_STRING_CODEC(numericstring, is_str_numerics)
ASN_STRING_CODEC(printablestring, is_str_printable)
ASN_STRING_CODEC(ia5string, is_str_ia5)
ASN_STRING_CODEC(visiblestring, is_str_visible)

int32_t asn_v_encode_utf8string_cs(const void *value, uint32_t length, unsigned char *out)
{
    if (!value || !length || length > 0x7FFFFFFFu)
        return -1;
    if (out)
        memcpy(out, value, length);
    return static_cast<int32_t>(length);
}

int32_t asn_v_decode_utf8string_cs(const unsigned char *data, uint32_t length, void *out,
                                   uint32_t *size)
{
    if (is_str_utf8(data, length) != 1)
        return -1;
    return copy_out(data, length, out, size);
}

int32_t asn_v_encode_utf8string_wcs(const void *, uint32_t, unsigned char *)
{
    return 0;
}

int32_t asn_v_decode_utf8string_wcs(const unsigned char *, uint32_t, void *, uint32_t *)
{
    return 0;
}

// ---- times

static bool is_utc_text(const unsigned char *data, uint32_t length)
{
    return is_time_utc(reinterpret_cast<const char *>(data), length, NULL, NULL, NULL, NULL, NULL,
                       NULL, NULL, NULL) == 1;
}

static bool is_gen_text(const unsigned char *data, uint32_t length)
{
    return is_time_gen(reinterpret_cast<const char *>(data), length, NULL, NULL, NULL, NULL, NULL,
                       NULL, NULL, NULL, NULL) == 1;
}

// Formats a UTC time. With record NULL the clock is read. The record is normalised as UTC
// first, so out-of-range fields roll over as timegm does. Returns the text length or -1.
static int32_t format_time(const struct tm *record, bool generalized, unsigned char *out)
{
    struct tm t;
    if (record) {
        struct tm copy = *record;
        copy.tm_isdst = 0;
        time_t seconds = timegm(&copy);
        if (!gmtime_r(&seconds, &t))
            return -1;
    } else {
        time_t now = time(NULL);
        if (!gmtime_r(&now, &t))
            return -1;
    }
    long year = 1900L + t.tm_year;
    char text[32];
    int n;
    if (generalized) {
        if (year < 0 || year > 9999)
            return -1;
        n = snprintf(text, sizeof(text), "%4.4ld%2.2d%2.2d%2.2d%2.2d%2.2dZ", year, t.tm_mon + 1,
                     t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    } else {
        if (year < 1950 || year > 2049)
            return -1;
        n = snprintf(text, sizeof(text), "%2.2ld%2.2d%2.2d%2.2d%2.2d%2.2dZ", year % 100,
                     t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    }
    if (n <= 0 || n >= static_cast<int>(sizeof(text)))
        return -1;
    if (out)
        memcpy(out, text, static_cast<size_t>(n));
    return n;
}

int32_t asn_v_encode_utctime(const void *value, uint32_t length, unsigned char *out)
{
    if (!value && !length)
        return format_time(NULL, false, out);
    if (!value || !is_utc_text(static_cast<const unsigned char *>(value), length))
        return -1;
    return asn_v_encode_octetstring(value, length, out);
}

int32_t asn_v_decode_utctime(const unsigned char *data, uint32_t length, void *out, uint32_t *size)
{
    if (!is_utc_text(data, length))
        return -1;
    return asn_v_decode_octetstring(data, length, out, size);
}

int32_t asn_v_encode_gentime(const void *value, uint32_t length, unsigned char *out)
{
    if (!value && !length)
        return format_time(NULL, true, out);
    if (!value || !is_gen_text(static_cast<const unsigned char *>(value), length))
        return -1;
    return asn_v_encode_octetstring(value, length, out);
}

int32_t asn_v_decode_gentime(const unsigned char *data, uint32_t length, void *out, uint32_t *size)
{
    if (!is_gen_text(data, length))
        return -1;
    return asn_v_decode_octetstring(data, length, out, size);
}

int32_t asn_v_encode_utctime_tm(const void *value, uint32_t length, unsigned char *out)
{
    if (value && length < sizeof(struct tm))
        return -1;
    return format_time(static_cast<const struct tm *>(value), false, out);
}

int32_t asn_v_encode_gentime_tm(const void *value, uint32_t length, unsigned char *out)
{
    if (value && length < sizeof(struct tm))
        return -1;
    return format_time(static_cast<const struct tm *>(value), true, out);
}

// Stores the decoded fields into the record; a zone offset is taken off in plain UTC
// arithmetic so that the record always holds UTC.
static int32_t fill_time(int year, int month, int day, int hour, int minute, int second,
                         int offset_hours, int offset_minutes, uint32_t length, void *out,
                         uint32_t *size)
{
    if (!size)
        return -1;
    if (out) {
        if (*size < sizeof(struct tm))
            return -1;
        struct tm *record = static_cast<struct tm *>(out);
        if (offset_hours || offset_minutes) {
            struct tm t;
            memset(&t, 0, sizeof(t));
            t.tm_year = year - 1900;
            t.tm_mon = month - 1;
            t.tm_mday = day;
            t.tm_hour = hour;
            t.tm_min = minute;
            t.tm_sec = second;
            time_t seconds = timegm(&t) - (offset_hours * 3600L + offset_minutes * 60L);
            if (!gmtime_r(&seconds, &t))
                return -1;
            year = t.tm_year + 1900;
            month = t.tm_mon + 1;
            day = t.tm_mday;
            hour = t.tm_hour;
            minute = t.tm_min;
            second = t.tm_sec;
        }
        record->tm_year = year - 1900;
        record->tm_mon = month - 1;
        record->tm_mday = day;
        record->tm_hour = hour;
        record->tm_min = minute;
        record->tm_sec = second;
    }
    *size = sizeof(struct tm);
    return static_cast<int32_t>(length);
}

int32_t asn_v_decode_utctime_tm(const unsigned char *data, uint32_t length, void *out,
                                uint32_t *size)
{
    int year, month, day, hour, minute, second, oh, om;
    if (is_time_utc(reinterpret_cast<const char *>(data), length, &year, &month, &day, &hour,
                    &minute, &second, &oh, &om) != 1)
        return -1;
    return fill_time(year, month, day, hour, minute, second, oh, om, length, out, size);
}

int32_t asn_v_decode_gentime_tm(const unsigned char *data, uint32_t length, void *out,
                                uint32_t *size)
{
    int year, month, day, hour, minute, second, fraction, oh, om;
    if (is_time_gen(reinterpret_cast<const char *>(data), length, &year, &month, &day, &hour,
                    &minute, &second, &fraction, &oh, &om) != 1)
        return -1;
    return fill_time(year, month, day, hour, minute, second, oh, om, length, out, size);
}
