// Picking one element out of a run of consecutive DER elements, for extension values
// OpenSSL does not decode itself. Every length is bounded by the run: an element
// whose header or content would reach past the run's end is not there, and neither
// is anything after it. Index -1 is the first element, index k the element after
// k + 1 others; every element up to the wanted one must carry an accepted tag.
#pragma once

#include <cstddef>

#include <openssl/asn1.h>

namespace Orvane::Certificate
{

// One element found in a run: where it starts, its header and content sizes.
struct DerElement {
    const unsigned char *start = nullptr;
    size_t header = 0;
    size_t content = 0;
    const unsigned char *contentStart() const { return start + header; }
    size_t size() const { return header + content; }
    int tag() const { return start[0]; }
};

// The element at index whose tag and every earlier tag pass accept; false when the
// run is empty, a tag is refused, a length is malformed or the run ends first.
bool findDerElement(const unsigned char *data, int length, int index, bool (*accept)(int tag),
                    DerElement *found);

// A character string (UTF8String, or tags 18 to 30): a new ASN1_STRING of that type,
// or null.
ASN1_STRING *parseASN1_AnyString(const unsigned char *data, int length, int index);
// A SEQUENCE or SET: its content in a new string typed by the tag, or null.
ASN1_OCTET_STRING *parseASN1_Constructive(const unsigned char *data, int length, int index);
// An OBJECT IDENTIFIER: a new object, or null (also for an invalid encoding).
ASN1_OBJECT *parseASN1_OID(const unsigned char *data, int length, int index);

} // namespace Orvane::Certificate
