#include "asn1/asn_item.h"

#include <cstdlib>
#include <cstring>

#include "asn1/asn_der.h"

static bool valid_identifier(uint32_t cls, uint32_t constructed)
{
    return (cls & ~0xC0u) == 0 && (constructed == ASN_PRIMITIVE || constructed == ASN_CONSTRUCTED);
}

_asn_t *asn_item_alloc(uint32_t cls, uint32_t constructed, uint32_t tag)
{
    if (!valid_identifier(cls, constructed))
        return NULL;
    _asn_t *item = static_cast<_asn_t *>(calloc(1, sizeof(_asn_t)));
    if (!item)
        return NULL;
    item->cls = cls;
    item->constructed = constructed;
    item->tag = tag;
    return item;
}

_asn_t *asn_item_new(uint32_t cls, uint32_t constructed, uint32_t tag, const void *data,
                     uint32_t length)
{
    if (length > 0x7FFFFFFFu)
        return NULL;
    if (constructed == ASN_CONSTRUCTED && (data || length))
        return NULL;
    if (!data && length)
        return NULL;
    _asn_t *item = asn_item_alloc(cls, constructed, tag);
    if (!item)
        return NULL;
    if (data && length) {
        unsigned char *value = asn_item_alloc_data(item, length);
        if (!value) {
            free(item);
            return NULL;
        }
        memcpy(value, data, length);
    }
    return item;
}

_asn_t *asn_item_new_ex(const char *id, const void *data, uint32_t length)
{
    uint32_t cls, constructed, tag;
    if (asn_hex_to_tag(id, &cls, &constructed, &tag) <= 0)
        return NULL;
    return asn_item_new(cls, constructed, tag, data, length);
}

unsigned char *asn_item_alloc_data(_asn_t *item, uint32_t size)
{
    if (!item || item->constructed || size > 0x7FFFFFFFu)
        return NULL;
    if (size == 0) {
        asn_item_free_data(item);
        return NULL;
    }
    unsigned char *value = static_cast<unsigned char *>(malloc(size));
    if (!value)
        return NULL;
    asn_item_free_data(item);
    item->data = value;
    item->length = static_cast<int32_t>(size);
    item->flags |= ASN_FLAG_OWNS_DATA;
    return value;
}

void asn_item_free_data(_asn_t *item)
{
    if (!item || item->constructed)
        return;
    if (item->flags & ASN_FLAG_OWNS_DATA)
        free(item->data);
    item->flags &= ~ASN_FLAG_OWNS_DATA;
    item->data = NULL;
    item->length = 0;
}

static void free_list(_asn_t *item)
{
    while (item) {
        _asn_t *next = item->next;
        if (item->constructed)
            free_list(static_cast<_asn_t *>(item->data));
        else if (item->flags & ASN_FLAG_OWNS_DATA)
            free(item->data);
        free(item);
        item = next;
    }
}

void asn_item_free(_asn_t *item)
{
    if (!item)
        return;
    // Leave no link from the part of the list that stays to the part that goes.
    if (item->previous)
        item->previous->next = NULL;
    else if (item->parent && item->parent->data == item)
        item->parent->data = NULL;
    free_list(item);
}
