#include "objects/p11_rsa_public_key.h"

#include "objects/p11_frame.h"

namespace
{

// The bit length of a big-endian number (leading zero bytes and bits not counted).
unsigned long bitLength(unsigned char const *value, unsigned long size)
{
    unsigned long i = 0;
    while (i < size && value[i] == 0)
        ++i;
    if (i == size)
        return 0;
    unsigned long bits = (size - i) * 8;
    for (unsigned char top = value[i]; (top & 0x80) == 0; top <<= 1)
        --bits;
    return bits;
}

} // namespace

CP11RSAPublicKey::CP11RSAPublicKey() : CP11PublicKey()
{
    try {
        CP11Base::SetAttribute(CKA_KEY_TYPE, (unsigned long)CKK_RSA);
        addBinaryAttribute("CKA_MODULUS", CKA_MODULUS);
        // A byte array until it is first written as an unsigned long.
        addBinaryAttribute("CKA_MODULUS_BITS", CKA_MODULUS_BITS);
        addBinaryAttribute("CKA_PUBLIC_EXPONENT", CKA_PUBLIC_EXPONENT);
    } catch (CP11Exception const &e) {
        p11_frame::constructionFailed(*this, "CP11RSAPublicKey::CP11RSAPublicKey ", e);
    }
}

CP11RSAPublicKey::CP11RSAPublicKey(CP11RSAPublicKey const &other) : CP11PublicKey(other) {}

CP11RSAPublicKey::~CP11RSAPublicKey() {}

bool CP11RSAPublicKey::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    switch (attribute->type) {
    case CKA_MODULUS: {
        checkOperation(attribute, operation, P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_INTERNAL));
        bool result = setAttributeBinary(attribute);
        if (operation == P11_OP_INTERNAL) {
            CAttribute *bits = findAttribute(CKA_MODULUS_BITS);
            if (bits != nullptr)
                bits->Modify((unsigned long)(attribute->ulValueLen * 8));
        }
        return result;
    }
    case CKA_MODULUS_BITS:
        checkOperation(attribute, operation, P11_OPS_CREATE_GENERATE_INTERNAL);
        return setAttributeLong(attribute);
    case CKA_PUBLIC_EXPONENT:
        checkOperation(attribute, operation, P11_OPS_CREATE_GENERATE_INTERNAL);
        return setAttributeBinary(attribute);
    default:
        return CP11PublicKey::SetAttribute(attribute, operation);
    }
}

unsigned long CP11RSAPublicKey::GetSize()
{
    unsigned long counted[] = {CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_MODULUS_BITS};
    return getSize(counted, sizeof(counted) / sizeof(counted[0])) + CP11PublicKey::GetSize();
}

void CP11RSAPublicKey::Verify(P11Operation operation)
{
    unsigned long keyType = FindLongAttribute(CKA_KEY_TYPE);
    if (keyType != CKK_RSA)
        p11_frame::valueInvalid(CKA_KEY_TYPE, &keyType, sizeof(keyType), CKR_TEMPLATE_INCONSISTENT);

    unsigned long size = 0;
    FindBinaryAttribute(CKA_MODULUS, &size);
    if (operation == P11_OP_CREATE && size == 0)
        p11_frame::presenceInvalid(CKA_MODULUS, false);
    if (operation == P11_OP_GENERATE && size != 0)
        p11_frame::presenceInvalid(CKA_MODULUS, true);

    unsigned long bits = FindLongAttribute(CKA_MODULUS_BITS);
    if ((operation == P11_OP_CREATE && bits != 0) || (operation == P11_OP_GENERATE && bits == 0))
        p11_frame::valueInvalid(CKA_MODULUS_BITS, &bits, sizeof(bits), CKR_TEMPLATE_INCONSISTENT);

    FindBinaryAttribute(CKA_PUBLIC_EXPONENT, &size);
    if (operation == P11_OP_CREATE && size == 0)
        p11_frame::presenceInvalid(CKA_PUBLIC_EXPONENT, false);

    CP11PublicKey::Verify(operation);

    // The caller gives no size with a created key: it is the modulus's.
    if (operation == P11_OP_CREATE) {
        unsigned long modulusSize = 0;
        void const *modulus = FindBinaryAttribute(CKA_MODULUS, &modulusSize);
        CAttribute *modulusBits = findAttribute(CKA_MODULUS_BITS);
        if (modulusBits == nullptr ||
            !modulusBits->Modify(
                bitLength(static_cast<unsigned char const *>(modulus), modulusSize)))
            throw CP11Exception(CKR_HOST_MEMORY);
    }
}

_asn_t *CP11RSAPublicKey::Encode()
{
    unsigned long excluded[] = {CKA_MODULUS, CKA_MODULUS_BITS, CKA_PUBLIC_EXPONENT};
    bool token = FindByteAttribute(CKA_TOKEN) == 1;
    return EncodeEx(token ? excluded : nullptr, token ? 3 : 0);
}
