// Walking, testing and searching ASN.1 item trees.
#pragma once

#include <cstdint>

#include "asn1/asn_item.h"

// Navigation; NULL in gives NULL out.
_asn_t *asn_get_parent(const _asn_t *item);
_asn_t *asn_get_child(const _asn_t *item); // first child; NULL for a primitive item
_asn_t *asn_get_next(const _asn_t *item);
_asn_t *asn_get_previous(const _asn_t *item);

// 1 when the item itself, its parent, its first child, its next or its previous sibling
// exists and has exactly this class, constructed value and tag number; else 0.
int asn_is_current(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag);
int asn_is_parent(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag);
int asn_is_child(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag);
int asn_is_next(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag);
int asn_is_previous(const _asn_t *item, uint32_t cls, uint32_t constructed, uint32_t tag);
// The same with the identifier as hex text ("30", "A0"); 0 for bad text.
int asn_is_current_ex(const _asn_t *item, const char *id);
int asn_is_parent_ex(const _asn_t *item, const char *id);
int asn_is_child_ex(const _asn_t *item, const char *id);
int asn_is_next_ex(const _asn_t *item, const char *id);
int asn_is_previous_ex(const _asn_t *item, const char *id);

// The index-th (from 0) item with this identifier in a depth-first, pre-order walk of the
// list that starts at item (each item, then its children, then its next sibling). With
// descendants_only set the items of the starting list are skipped, only their descendants
// are compared. NULL when there are fewer matches.
_asn_t *asn_find(const _asn_t *item, int descendants_only, uint32_t index, uint32_t cls,
                 uint32_t constructed, uint32_t tag);
// The walk behind asn_find; *countdown is shared across the walk and reaches 0 at the match.
_asn_t *asn_find_next(const _asn_t *item, int descendants_only, uint32_t *countdown, uint32_t cls,
                      uint32_t constructed, uint32_t tag);
_asn_t *asn_find_ex(const _asn_t *item, int descendants_only, uint32_t index, const char *id);

// Follows a path of hex identifiers separated by "/" ("30/30/A0"): the item must match the
// first, and each further identifier is matched among the children of the item matched
// before it, trying later siblings when a deeper step finds nothing. NULL when the path is
// bad or does not match.
_asn_t *asn_find_path(const _asn_t *item, const char *path);
