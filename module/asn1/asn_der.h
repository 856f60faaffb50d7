// DER reader and writer of ASN.1 item trees: identifier and length octets, whole trees,
// files, and identifiers written as hex text.
#pragma once

#include <cstdint>

#include "asn1/asn_item.h"

// Deepest nesting of constructed items asn_read accepts.
#define ASN_MAX_DEPTH 64

// Reads identifier octets. Returns their count (1 or more); 0 for NULL or empty input, a
// high tag number that runs past the input or does not fit in 32 bits. Outputs may be NULL.
int32_t asn_tag_read(const unsigned char *data, uint32_t length, uint32_t *cls,
                     uint32_t *constructed, uint32_t *tag);

// Writes identifier octets when out is given; returns their count. 0 for a class or
// constructed value that is not one of the defined ones.
int32_t asn_tag_write(uint32_t cls, uint32_t constructed, uint32_t tag, unsigned char *out);

// Reads length octets. Returns their count (1 + the long-form count); the length is -1 for
// the indefinite form. 0 for NULL or empty input, long-form octets past the input, more than
// four long-form octets, or a length of 0x80000000 and above.
int32_t asn_len_read(const unsigned char *data, uint32_t length, int32_t *out_length);

// Writes length octets (short form up to 127, else 0x80 + n and n octets) when out is given;
// returns their count. 0 for a negative length.
int32_t asn_len_write(int32_t length, unsigned char *out);

// Parses bytes into a list of items whose parent is set to parent. The bytes must be a
// sequence of complete items with definite lengths. Identifier and length octets in longer
// forms than needed are accepted; constructed items then hold the length of their children
// in the shortest forms, which asn_write produces. NULL for NULL or empty input or any
// malformed input; nothing is left allocated then.
_asn_t *asn_read(const unsigned char *data, uint32_t length, _asn_t *parent);

// DER of the item (whole_list 0) or of the item and all that follow it (non-zero). With buf
// NULL only the size is computed. -1 when an item can't be written (a length that disagrees
// with its content, a bad identifier); 0 for a NULL item.
int32_t asn_write(const _asn_t *item, int whole_list, unsigned char *buf);

// Copies a primitive item's value bytes into buf (when given); returns their count, -1 for
// a NULL or constructed item.
int32_t asn_write_value(const _asn_t *item, unsigned char *buf);

// asn_read of a whole file; NULL when it can't be read in full, is empty or does not parse.
_asn_t *asn_read_file(const char *path);

// Writes the item and its following siblings to the file (created or truncated). Returns
// the number of bytes written; 0 on any failure.
int32_t asn_write_file(const _asn_t *item, const char *path);

// Decodes an identifier written as hex text: pairs of hex digits, each pair optionally
// preceded by blanks, carriage returns or line feeds. Returns the number of identifier
// octets; 0 for text that is not exactly one valid identifier.
int32_t asn_hex_to_tag(const char *text, uint32_t *cls, uint32_t *constructed, uint32_t *tag);
