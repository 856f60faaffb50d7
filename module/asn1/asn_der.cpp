#include "asn1/asn_der.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/hex.h"

int32_t asn_tag_read(const unsigned char *data, uint32_t length, uint32_t *cls,
                     uint32_t *constructed, uint32_t *tag)
{
    if (!data || length == 0)
        return 0;
    uint32_t number = data[0] & 0x1Fu;
    uint32_t used = 1;
    if (number == 0x1F) {
        number = 0;
        for (;;) {
            if (used >= length)
                return 0;
            unsigned char octet = data[used++];
            if (number > (0xFFFFFFFFu >> 7))
                return 0;
            number = (number << 7) | (octet & 0x7Fu);
            if (!(octet & 0x80))
                break;
        }
    }
    if (cls)
        *cls = data[0] & 0xC0u;
    if (constructed)
        *constructed = data[0] & 0x20u;
    if (tag)
        *tag = number;
    return static_cast<int32_t>(used);
}

int32_t asn_tag_write(uint32_t cls, uint32_t constructed, uint32_t tag, unsigned char *out)
{
    if ((cls & ~0xC0u) != 0 || (constructed != ASN_PRIMITIVE && constructed != ASN_CONSTRUCTED))
        return 0;
    if (tag < 31) {
        if (out)
            out[0] = static_cast<unsigned char>(cls | constructed | tag);
        return 1;
    }
    int groups = 1;
    for (uint32_t rest = tag >> 7; rest; rest >>= 7)
        groups++;
    if (out) {
        out[0] = static_cast<unsigned char>(cls | constructed | 0x1F);
        for (int i = 0; i < groups; i++) {
            unsigned char bits = (tag >> (7 * (groups - 1 - i))) & 0x7F;
            out[1 + i] = static_cast<unsigned char>(i < groups - 1 ? bits | 0x80 : bits);
        }
    }
    return 1 + groups;
}

int32_t asn_len_read(const unsigned char *data, uint32_t length, int32_t *out_length)
{
    if (!data || length == 0)
        return 0;
    unsigned char first = data[0];
    if (first < 0x80) {
        if (out_length)
            *out_length = first;
        return 1;
    }
    if (first == 0x80) {
        if (out_length)
            *out_length = -1;
        return 1;
    }
    uint32_t count = first & 0x7Fu;
    if (count > 4 || count >= length)
        return 0;
    uint32_t value = 0;
    for (uint32_t i = 1; i <= count; i++)
        value = (value << 8) | data[i];
    if (value >= 0x80000000u)
        return 0;
    if (out_length)
        *out_length = static_cast<int32_t>(value);
    return static_cast<int32_t>(count + 1);
}

int32_t asn_len_write(int32_t length, unsigned char *out)
{
    if (length < 0)
        return 0;
    if (length < 0x80) {
        if (out)
            out[0] = static_cast<unsigned char>(length);
        return 1;
    }
    uint32_t value = static_cast<uint32_t>(length);
    int count = 1;
    while (count < 4 && (value >> (8 * count)))
        count++;
    if (out) {
        out[0] = static_cast<unsigned char>(0x80 | count);
        for (int i = 0; i < count; i++)
            out[1 + i] = static_cast<unsigned char>(value >> (8 * (count - 1 - i)));
    }
    return 1 + count;
}

// Reads a list of items. *encoded receives the size the list takes when written back,
// which is smaller than the input where it used longer identifier or length forms than
// needed; constructed items store the length their children will be written with, so that
// reading then writing always gives consistent DER.
static _asn_t *read_list(const unsigned char *data, uint32_t length, _asn_t *parent, int depth,
                         int32_t *encoded)
{
    if (!data || length == 0 || depth > ASN_MAX_DEPTH)
        return NULL;
    int64_t total = 0;
    _asn_t *first = NULL;
    _asn_t *last = NULL;
    uint32_t pos = 0;
    while (pos < length) {
        _asn_t *item = static_cast<_asn_t *>(calloc(1, sizeof(_asn_t)));
        if (!item)
            goto fail;
        item->parent = parent;
        item->previous = last;
        if (last)
            last->next = item;
        else
            first = item;
        last = item;

        int32_t used =
            asn_tag_read(data + pos, length - pos, &item->cls, &item->constructed, &item->tag);
        if (used <= 0)
            goto fail;
        pos += static_cast<uint32_t>(used);
        int32_t content = 0;
        used = asn_len_read(data + pos, length - pos, &content);
        if (used <= 0)
            goto fail;
        pos += static_cast<uint32_t>(used);
        // Definite lengths only: all stored data and certificates use them.
        if (content < 0)
            goto fail;
        if (static_cast<uint32_t>(content) > length - pos)
            goto fail;
        item->length = content;
        if (content > 0) {
            if (item->constructed) {
                int32_t written = 0;
                _asn_t *child = read_list(data + pos, static_cast<uint32_t>(content), item,
                                          depth + 1, &written);
                if (!child)
                    goto fail;
                item->data = child;
                item->length = written;
            } else {
                void *value = malloc(static_cast<size_t>(content));
                if (!value)
                    goto fail;
                memcpy(value, data + pos, static_cast<size_t>(content));
                item->data = value;
                item->flags |= ASN_FLAG_OWNS_DATA;
            }
        }
        pos += static_cast<uint32_t>(content);
        total += asn_tag_write(item->cls, item->constructed, item->tag, NULL) +
                 asn_len_write(item->length, NULL) + item->length;
    }
    *encoded = static_cast<int32_t>(total); // never more than the input length
    return first;
fail:
    if (first) {
        first->previous = NULL; // detached: freeing must not touch the caller's parent
        first->parent = NULL;
    }
    asn_item_free(first);
    return NULL;
}

_asn_t *asn_read(const unsigned char *data, uint32_t length, _asn_t *parent)
{
    int32_t encoded = 0;
    return read_list(data, length, parent, 1, &encoded);
}

// Writes the item (and its followers when whole_list is set) at buf + 0; returns the size or
// -1. Sizes are summed in 64 bits so that an absurd tree cannot wrap the count.
static int64_t write_list(const _asn_t *item, int whole_list, unsigned char *buf)
{
    int64_t total = 0;
    for (; item; item = whole_list ? item->next : NULL) {
        if (item->length < 0)
            return -1;
        int32_t n =
            asn_tag_write(item->cls, item->constructed, item->tag, buf ? buf + total : NULL);
        if (n <= 0)
            return -1;
        total += n;
        n = asn_len_write(item->length, buf ? buf + total : NULL);
        if (n <= 0)
            return -1;
        total += n;
        if (item->constructed) {
            const _asn_t *child = static_cast<const _asn_t *>(item->data);
            int64_t size = child ? write_list(child, 1, buf ? buf + total : NULL) : 0;
            // A length that disagrees with the children would produce corrupt DER.
            if (size != item->length)
                return -1;
        } else if (item->length > 0) {
            if (!item->data)
                return -1;
            if (buf)
                memcpy(buf + total, item->data, static_cast<size_t>(item->length));
        }
        total += item->length;
        if (total > 0x7FFFFFFF)
            return -1;
    }
    return total;
}

int32_t asn_write(const _asn_t *item, int whole_list, unsigned char *buf)
{
    if (!item)
        return 0;
    int64_t size = write_list(item, whole_list, buf);
    return size < 0 ? -1 : static_cast<int32_t>(size);
}

int32_t asn_write_value(const _asn_t *item, unsigned char *buf)
{
    if (!item || item->constructed || item->length < 0)
        return -1;
    if (item->length > 0) {
        if (!item->data)
            return -1;
        if (buf)
            memcpy(buf, item->data, static_cast<size_t>(item->length));
    }
    return item->length;
}

_asn_t *asn_read_file(const char *path)
{
    if (!path)
        return NULL;
    FILE *f = fopen(path, "rb");
    if (!f)
        return NULL;
    _asn_t *result = NULL;
    long size = -1;
    if (fseek(f, 0, SEEK_END) == 0)
        size = ftell(f);
    if (size > 0 && size <= 0x7FFFFFFF && fseek(f, 0, SEEK_SET) == 0) {
        unsigned char *bytes = static_cast<unsigned char *>(malloc(static_cast<size_t>(size)));
        if (bytes) {
            if (fread(bytes, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size))
                result = asn_read(bytes, static_cast<uint32_t>(size), NULL);
            free(bytes);
        }
    }
    fclose(f);
    return result;
}

int32_t asn_write_file(const _asn_t *item, const char *path)
{
    if (!item || !path)
        return 0;
    int32_t size = asn_write(item, 1, NULL);
    if (size <= 0)
        return 0;
    unsigned char *bytes = static_cast<unsigned char *>(malloc(static_cast<size_t>(size)));
    if (!bytes)
        return 0;
    int32_t written = 0;
    if (asn_write(item, 1, bytes) == size) {
        FILE *f = fopen(path, "wb");
        if (f) {
            bool ok = fwrite(bytes, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
            if (fclose(f) != 0)
                ok = false;
            if (ok)
                written = size;
        }
    }
    free(bytes);
    return written;
}

int32_t asn_hex_to_tag(const char *text, uint32_t *cls, uint32_t *constructed, uint32_t *tag)
{
    if (!text)
        return 0;
    // An identifier takes at most six octets (a first octet and five groups of seven bits).
    unsigned char octets[8];
    uint32_t count = 0;
    const char *p = text;
    for (;;) {
        while (*p == ' ' || *p == '\r' || *p == '\n')
            p++;
        if (!*p)
            break;
        int hi = hexDigit(p[0]);
        if (hi < 0)
            return 0;
        int lo = hexDigit(p[1]);
        if (lo < 0)
            return 0;
        if (count == sizeof(octets))
            return 0;
        octets[count++] = static_cast<unsigned char>(hi << 4 | lo);
        p += 2;
    }
    uint32_t c, k, t;
    int32_t used = asn_tag_read(octets, count, &c, &k, &t);
    if (used <= 0 || static_cast<uint32_t>(used) != count)
        return 0;
    if (cls)
        *cls = c;
    if (constructed)
        *constructed = k;
    if (tag)
        *tag = t;
    return used;
}
