// Editing ASN.1 item trees. Every operation leaves each constructed ancestor of the changed
// place with the length of its child list.
#pragma once

#include <cstdint>

#include "asn1/asn_item.h"

// A deep copy of the item alone (children included, siblings not), detached. NULL for NULL
// or when memory runs out.
_asn_t *asn_item_copy(const _asn_t *item);

// Puts item into the tree of target: as the last child of a constructed target when as_child
// is set, otherwise as target's next sibling. With copy set a deep copy of the item goes in
// and the caller keeps the item; without it the item must be detached (no parent, no
// siblings) and not hold target, and it becomes part of the tree. 1 on success, -1 for a
// NULL target or item, an item that is not detached or holds target, or a failed copy.
int asn_item_paste(_asn_t *target, _asn_t *item, int as_child, int copy);

// Unlinks the item from its parent and siblings. Mode 0 returns the item itself, detached;
// mode 1 returns a detached deep copy and frees the cut item (nothing changes when the copy
// fails). NULL for a NULL item, another mode or a failed copy.
_asn_t *asn_item_cut(_asn_t *item, int mode);

// Unlinks the item and frees it with its children (its siblings stay). 1, or -1 for NULL.
int asn_item_delete(_asn_t *item);

// Gives item a copy of source's value. Both must be primitive with the same class and tag
// number, else -1 and nothing changes. Returns the source's length; -1 when memory runs out
// (the item keeps its old value).
int32_t asn_item_copy_data(_asn_t *item, const _asn_t *source);
