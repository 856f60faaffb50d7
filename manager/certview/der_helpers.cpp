// Bounded walks over runs of DER elements.
#include "certview/der_helpers.h"

#include <openssl/objects.h>

namespace Orvane::Certificate
{

namespace
{

// UTF8String and the character strings from NumericString to BMPString.
bool anyStringTag(int tag)
{
    return tag == V_ASN1_UTF8STRING || (tag >= 18 && tag <= 30);
}

bool constructiveTag(int tag)
{
    return tag == 0x30 || tag == 0x31;
}

bool oidTag(int tag)
{
    return tag == V_ASN1_OBJECT;
}

// Header and content size of the element at offset, inside a run of size bytes.
bool readElement(const unsigned char *data, size_t size, size_t offset, DerElement *element)
{
    if (size - offset < 2)
        return false;
    size_t header = 2;
    size_t content = data[offset + 1];
    if (content & 0x80) {
        size_t octets = content & 0x7F;
        // indefinite lengths are not DER; more than four octets exceed any run here
        if (octets == 0 || octets > 4 || size - offset - 2 < octets)
            return false;
        content = 0;
        for (size_t i = 0; i < octets; i++)
            content = (content << 8) | data[offset + 2 + i];
        header += octets;
    }
    if (size - offset - header < content)
        return false;
    *element = {data + offset, header, content};
    return true;
}

ASN1_STRING *contentString(const DerElement &element, int type)
{
    ASN1_STRING *string = ASN1_STRING_type_new(type);
    if (string &&
        !ASN1_STRING_set(string, element.contentStart(), static_cast<int>(element.content))) {
        ASN1_STRING_free(string);
        return nullptr;
    }
    return string;
}

} // namespace

bool findDerElement(const unsigned char *data, int length, int index, bool (*accept)(int tag),
                    DerElement *found)
{
    if (!data || length < 1 || !found)
        return false;
    const size_t size = static_cast<size_t>(length);
    size_t offset = 0;
    for (int count = -1; offset < size; count++) {
        DerElement element;
        if (!accept(data[offset]) || !readElement(data, size, offset, &element))
            return false;
        if (count == index) {
            *found = element;
            return true;
        }
        offset += element.size();
    }
    return false;
}

ASN1_STRING *parseASN1_AnyString(const unsigned char *data, int length, int index)
{
    DerElement element;
    if (!findDerElement(data, length, index, anyStringTag, &element))
        return nullptr;
    return contentString(element, element.tag());
}

ASN1_OCTET_STRING *parseASN1_Constructive(const unsigned char *data, int length, int index)
{
    DerElement element;
    if (!findDerElement(data, length, index, constructiveTag, &element))
        return nullptr;
    return contentString(element, element.tag());
}

ASN1_OBJECT *parseASN1_OID(const unsigned char *data, int length, int index)
{
    DerElement element;
    if (!findDerElement(data, length, index, oidTag, &element))
        return nullptr;
    const unsigned char *p = element.start;
    return d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(element.size()));
}

} // namespace Orvane::Certificate
