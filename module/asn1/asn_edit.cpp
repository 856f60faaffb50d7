#include "asn1/asn_edit.h"

#include <cstdlib>
#include <cstring>

#include "asn1/asn_der.h"

// Sets the length of start and of every ancestor above it to the size of its child list.
static void fix_lengths(_asn_t *start)
{
    for (_asn_t *p = start; p; p = p->parent) {
        if (!p->constructed)
            continue;
        const _asn_t *child = static_cast<const _asn_t *>(p->data);
        int32_t size = child ? asn_write(child, 1, NULL) : 0;
        if (size >= 0)
            p->length = size;
    }
}

static void unlink_item(_asn_t *item)
{
    if (item->parent && item->parent->data == item)
        item->parent->data = item->next;
    if (item->next)
        item->next->previous = item->previous;
    if (item->previous)
        item->previous->next = item->next;
    item->next = NULL;
    item->previous = NULL;
    item->parent = NULL;
}

// Copies item (and, with whole_list, all that follow it) under parent.
static _asn_t *dup_list(const _asn_t *item, _asn_t *parent, bool whole_list)
{
    _asn_t *first = NULL;
    _asn_t *last = NULL;
    for (; item; item = whole_list ? item->next : NULL) {
        _asn_t *copy = static_cast<_asn_t *>(calloc(1, sizeof(_asn_t)));
        if (!copy)
            goto fail;
        copy->cls = item->cls;
        copy->constructed = item->constructed;
        copy->tag = item->tag;
        copy->length = item->length;
        copy->parent = parent;
        copy->previous = last;
        if (last)
            last->next = copy;
        else
            first = copy;
        last = copy;
        if (item->constructed) {
            if (item->data) {
                copy->data = dup_list(static_cast<const _asn_t *>(item->data), copy, true);
                if (!copy->data)
                    goto fail;
            }
        } else if (item->length > 0 && item->data) {
            copy->data = malloc(static_cast<size_t>(item->length));
            if (!copy->data)
                goto fail;
            memcpy(copy->data, item->data, static_cast<size_t>(item->length));
            copy->flags |= ASN_FLAG_OWNS_DATA;
        } else {
            copy->length = 0;
        }
    }
    return first;
fail:
    if (first)
        first->parent = NULL;
    asn_item_free(first);
    return NULL;
}

_asn_t *asn_item_copy(const _asn_t *item)
{
    return item ? dup_list(item, NULL, false) : NULL;
}

int asn_item_paste(_asn_t *target, _asn_t *item, int as_child, int copy)
{
    if (!target || !item)
        return -1;
    if (!copy) {
        if (item->parent || item->next || item->previous)
            return -1;
        for (const _asn_t *p = target; p; p = p->parent)
            if (p == item)
                return -1;
    }
    _asn_t *node = copy ? asn_item_copy(item) : item;
    if (!node)
        return -1;
    if (as_child && target->constructed) {
        _asn_t *last = static_cast<_asn_t *>(target->data);
        while (last && last->next)
            last = last->next;
        if (last)
            last->next = node;
        else
            target->data = node;
        node->previous = last;
        node->parent = target;
        fix_lengths(target);
    } else {
        node->previous = target;
        node->next = target->next;
        if (target->next)
            target->next->previous = node;
        target->next = node;
        node->parent = target->parent;
        fix_lengths(target->parent);
    }
    return 1;
}

_asn_t *asn_item_cut(_asn_t *item, int mode)
{
    if (!item || (mode != 0 && mode != 1))
        return NULL;
    _asn_t *copy = NULL;
    if (mode == 1) {
        copy = asn_item_copy(item);
        if (!copy)
            return NULL;
    }
    _asn_t *parent = item->parent;
    unlink_item(item);
    fix_lengths(parent);
    if (mode == 0)
        return item;
    asn_item_free(item);
    return copy;
}

int asn_item_delete(_asn_t *item)
{
    if (!item)
        return -1;
    _asn_t *parent = item->parent;
    unlink_item(item);
    asn_item_free(item);
    fix_lengths(parent);
    return 1;
}

int32_t asn_item_copy_data(_asn_t *item, const _asn_t *source)
{
    if (!item || !source || item->constructed || source->constructed || item->cls != source->cls ||
        item->tag != source->tag || source->length < 0)
        return -1;
    // Taken before the item's value goes: the source may be the item itself.
    const int32_t length = source->length;
    void *value = NULL;
    if (length > 0) {
        if (!source->data)
            return -1;
        value = malloc(static_cast<size_t>(length));
        if (!value)
            return -1;
        memcpy(value, source->data, static_cast<size_t>(length));
    }
    asn_item_free_data(item);
    if (value) {
        item->data = value;
        item->length = length;
        item->flags |= ASN_FLAG_OWNS_DATA;
    }
    fix_lengths(item->parent);
    return length;
}
