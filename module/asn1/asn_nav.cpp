#include "asn1/asn_nav.h"

#include <cstring>

#include "asn1/asn_der.h"

_asn_t *asn_get_parent(const _asn_t *item)
{
    return item ? item->parent : NULL;
}

_asn_t *asn_get_child(const _asn_t *item)
{
    return item && item->constructed ? static_cast<_asn_t *>(item->data) : NULL;
}

_asn_t *asn_get_next(const _asn_t *item)
{
    return item ? item->next : NULL;
}

_asn_t *asn_get_previous(const _asn_t *item)
{
    return item ? item->previous : NULL;
}

static int matches(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag)
{
    return item && item->cls == cls && item->constructed == constructed && item->tag == tag;
}

int asn_is_current(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag)
{
    return matches(item, cls, constructed, tag);
}

int asn_is_parent(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag)
{
    return matches(asn_get_parent(item), cls, constructed, tag);
}

int asn_is_child(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag)
{
    return matches(asn_get_child(item), cls, constructed, tag);
}

int asn_is_next(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag)
{
    return matches(asn_get_next(item), cls, constructed, tag);
}

int asn_is_previous(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag)
{
    return matches(asn_get_previous(item), cls, constructed, tag);
}

static int matches_ex(const _asn_t *item, const char *id)
{
    uint32_t cls, constructed, tag;
    if (asn_hex_to_tag(id, &cls, &constructed, &tag) <= 0)
        return 0;
    return matches(item, cls, constructed, tag);
}

int asn_is_current_ex(const _asn_t *item, const char *id)
{
    return matches_ex(item, id);
}

int asn_is_parent_ex(const _asn_t *item, const char *id)
{
    return matches_ex(asn_get_parent(item), id);
}

int asn_is_child_ex(const _asn_t *item, const char *id)
{
    return matches_ex(asn_get_child(item), id);
}

int asn_is_next_ex(const _asn_t *item, const char *id)
{
    return matches_ex(asn_get_next(item), id);
}

int asn_is_previous_ex(const _asn_t *item, const char *id)
{
    return matches_ex(asn_get_previous(item), id);
}

_asn_t *asn_find_next(const _asn_t *item, int descendants_only, uint32_t *countdown, uint32_t cls,
                      uint32_t constructed, uint32_t tag)
{
    if (!countdown)
        return NULL;
    for (; item; item = item->next) {
        if (!descendants_only && matches(item, cls, constructed, tag)) {
            if (*countdown == 0)
                return const_cast<_asn_t *>(item);
            (*countdown)--;
        }
        _asn_t *found = asn_find_next(asn_get_child(item), 0, countdown, cls, constructed, tag);
        if (found)
            return found;
    }
    return NULL;
}

_asn_t *asn_find(const _asn_t *item, int descendants_only, uint32_t index, uint32_t cls,
                 uint32_t constructed, uint32_t tag)
{
    uint32_t countdown = index;
    return asn_find_next(item, descendants_only, &countdown, cls, constructed, tag);
}

_asn_t *asn_find_ex(const _asn_t *item, int descendants_only, uint32_t index, const char *id)
{
    uint32_t cls, constructed, tag;
    if (asn_hex_to_tag(id, &cls, &constructed, &tag) <= 0)
        return NULL;
    return asn_find(item, descendants_only, index, cls, constructed, tag);
}

namespace
{
struct identifier {
    uint32_t cls, constructed, tag;
};
} // namespace

static _asn_t *follow(const _asn_t *item, const identifier *steps, size_t count)
{
    if (!matches(item, steps[0].cls, steps[0].constructed, steps[0].tag))
        return NULL;
    if (count == 1)
        return const_cast<_asn_t *>(item);
    for (const _asn_t *child = asn_get_child(item); child; child = child->next) {
        _asn_t *found = follow(child, steps + 1, count - 1);
        if (found)
            return found;
    }
    return NULL;
}

_asn_t *asn_find_path(const _asn_t *item, const char *path)
{
    if (!item || !path)
        return NULL;
    identifier steps[ASN_MAX_DEPTH + 1];
    size_t count = 0;
    const char *p = path;
    for (;;) {
        const char *slash = strchr(p, '/');
        size_t n = slash ? static_cast<size_t>(slash - p) : strlen(p);
        char part[64];
        if (n >= sizeof(part) || count == sizeof(steps) / sizeof(steps[0]))
            return NULL;
        memcpy(part, p, n);
        part[n] = 0;
        identifier &step = steps[count++];
        if (asn_hex_to_tag(part, &step.cls, &step.constructed, &step.tag) <= 0)
            return NULL;
        if (!slash)
            break;
        p = slash + 1;
    }
    return follow(item, steps, count);
}
