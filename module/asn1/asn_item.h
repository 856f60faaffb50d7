// ASN.1 item tree: one node of a decoded or to-be-encoded tree, and its allocation.
#pragma once

#include <cstdint>

// Identifier classes (bits 7-6 of the identifier octet, in place).
#define ASN_CLASS_UNIVERSAL 0x00u
#define ASN_CLASS_APPLICATION 0x40u
#define ASN_CLASS_CONTEXT 0x80u
#define ASN_CLASS_PRIVATE 0xC0u
// Constructed bit (bit 5 of the identifier octet, in place).
#define ASN_PRIMITIVE 0x00u
#define ASN_CONSTRUCTED 0x20u

// Item flags.
#define ASN_FLAG_OWNS_DATA 0x1u  // the value bytes belong to the item
#define ASN_FLAG_INDEFINITE 0x2u // read with an indefinite length

// Universal tag numbers.
#define ASN_TAG_EOC 0u
#define ASN_TAG_BOOLEAN 1u
#define ASN_TAG_INTEGER 2u
#define ASN_TAG_BIT_STRING 3u
#define ASN_TAG_OCTET_STRING 4u
#define ASN_TAG_NULL 5u
#define ASN_TAG_OID 6u
#define ASN_TAG_UTF8STRING 12u
#define ASN_TAG_SEQUENCE 16u
#define ASN_TAG_SET 17u
#define ASN_TAG_NUMERICSTRING 18u
#define ASN_TAG_PRINTABLESTRING 19u
#define ASN_TAG_T61STRING 20u
#define ASN_TAG_VIDEOTEXSTRING 21u
#define ASN_TAG_IA5STRING 22u
#define ASN_TAG_UTCTIME 23u
#define ASN_TAG_GENERALIZEDTIME 24u
#define ASN_TAG_GRAPHICSTRING 25u
#define ASN_TAG_VISIBLESTRING 26u
#define ASN_TAG_GENERALSTRING 27u
#define ASN_TAG_UNIVERSALSTRING 28u
#define ASN_TAG_BMPSTRING 30u

// One item of a tree. Siblings form a doubly linked list; a constructed item points at its
// first child through data. A constructed item's length is the encoded size of its child
// list; every editing operation keeps it so.
typedef struct _asn_t {
    uint32_t cls;         // ASN_CLASS_*
    uint32_t constructed; // ASN_PRIMITIVE or ASN_CONSTRUCTED
    uint32_t tag;         // tag number
    int32_t length;       // content octets
    uint32_t flags;       // ASN_FLAG_*
    void *data;           // primitive: value bytes (NULL when empty); constructed: first child
    struct _asn_t *next;
    struct _asn_t *previous;
    struct _asn_t *parent;
} _asn_t;

// A zeroed item with the given identifier; NULL for an invalid class or constructed value
// or when memory runs out.
_asn_t *asn_item_alloc(uint32_t cls, uint32_t constructed, uint32_t tag);

// A new detached item. A primitive item given data and a non-zero length gets its own copy
// of the bytes; a constructed item must come without data (NULL otherwise).
_asn_t *asn_item_new(uint32_t cls, uint32_t constructed, uint32_t tag, const void *data,
                     uint32_t length);

// asn_item_new with the identifier given as hex text ("30", "A0", "9F8100").
_asn_t *asn_item_new_ex(const char *id, const void *data, uint32_t length);

// Gives a primitive item a new owned value buffer of size bytes and returns it. The old
// value is released. Size 0 leaves the item empty and returns NULL; NULL also for a NULL or
// constructed item or when memory runs out (the item is then unchanged).
unsigned char *asn_item_alloc_data(_asn_t *item, uint32_t size);

// Releases a primitive item's value (freed when owned); length 0 and data NULL afterwards.
// A constructed item is left alone: its data is its child list.
void asn_item_free_data(_asn_t *item);

// Frees the item, every item that follows it through next, and all their descendants.
// When the item has a predecessor, that predecessor's next link is cleared; when it is its
// parent's first child, the parent's child link is cleared. NULL is accepted.
void asn_item_free(_asn_t *item);
