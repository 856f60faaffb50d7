#include "objects/p11_rsa_private_key.h"

#include <vector>

#include "base/p11_convert.h"
#include "objects/p11_frame.h"
#include "objects/p11_rsa_public_key.h"

namespace
{

// The eight key components, in the order Verify checks them.
unsigned long const components[] = {CKA_MODULUS,    CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT,
                                    CKA_PRIME_1,    CKA_PRIME_2,         CKA_EXPONENT_1,
                                    CKA_EXPONENT_2, CKA_COEFFICIENT};
unsigned long const componentCount = sizeof(components) / sizeof(components[0]);

} // namespace

CP11RSAPrivateKey::CP11RSAPrivateKey() : CP11PrivateKey()
{
    try {
        CP11Base::SetAttribute(CKA_KEY_TYPE, (unsigned long)CKK_RSA);
        addBinaryAttribute("CKA_MODULUS", CKA_MODULUS);
        addBinaryAttribute("CKA_PUBLIC_EXPONENT", CKA_PUBLIC_EXPONENT);
        addBinaryAttribute("CKA_PRIVATE_EXPONENT", CKA_PRIVATE_EXPONENT);
        addBinaryAttribute("CKA_PRIME_1", CKA_PRIME_1);
        addBinaryAttribute("CKA_PRIME_2", CKA_PRIME_2);
        addBinaryAttribute("CKA_EXPONENT_1", CKA_EXPONENT_1);
        addBinaryAttribute("CKA_EXPONENT_2", CKA_EXPONENT_2);
        addBinaryAttribute("CKA_COEFFICIENT", CKA_COEFFICIENT);
    } catch (CP11Exception const &e) {
        p11_frame::constructionFailed(*this, "CP11RSAPrivateKey::CP11RSAPrivateKey ", e);
    }
}

CP11RSAPrivateKey::CP11RSAPrivateKey(CP11RSAPrivateKey const &other) : CP11PrivateKey(other) {}

CP11RSAPrivateKey::~CP11RSAPrivateKey() {}

bool CP11RSAPrivateKey::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    for (unsigned long i = 0; i < componentCount; ++i) {
        if (attribute->type == components[i]) {
            checkOperation(attribute, operation, P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_INTERNAL));
            return setAttributeBinary(attribute);
        }
    }
    return CP11PrivateKey::SetAttribute(attribute, operation);
}

unsigned long CP11RSAPrivateKey::GetSize()
{
    return getSize(const_cast<unsigned long *>(components), componentCount) +
           CP11PrivateKey::GetSize();
}

void CP11RSAPrivateKey::Verify(P11Operation operation)
{
    unsigned long keyType = FindLongAttribute(CKA_KEY_TYPE);
    if (keyType != CKK_RSA)
        p11_frame::valueInvalid(CKA_KEY_TYPE, &keyType, sizeof(keyType), CKR_TEMPLATE_INCONSISTENT);
    bool mustHave = operation == P11_OP_CREATE;
    bool mustLack = operation == P11_OP_GENERATE || (int)operation == 5;
    for (unsigned long i = 0; i < componentCount; ++i) {
        unsigned long size = 0;
        FindBinaryAttribute(components[i], &size);
        if ((mustHave && size == 0) || (mustLack && size != 0))
            p11_frame::presenceInvalid(components[i], size != 0);
    }
    CP11PrivateKey::Verify(operation);
}

_asn_t *CP11RSAPrivateKey::Encode()
{
    bool token = FindByteAttribute(CKA_TOKEN) == 1;
    return EncodeEx(token ? const_cast<unsigned long *>(components) : nullptr,
                    token ? componentCount : 0);
}

CP11RSAPublicKey *CP11RSAPrivateKey::MakePublicKey()
{
    vok_log::hl_log(vok_log::HL_ENTER, "CP11RSAPrivateKey::MakePublicKey()\n");
    unsigned long count = 0;
    std::vector<unsigned long> types;
    bool listed = GetAttributes((unsigned long *)nullptr, &count);
    if (listed) {
        try {
            types.resize(count);
        } catch (std::bad_alloc const &) {
            listed = false;
        }
    }
    if (listed && count != 0)
        listed = GetAttributes(types.data(), &count);
    if (!listed) {
        vok_log::hl_log(vok_log::HL_LEAVE, "CP11RSAPrivateKey::MakePublicKey( %p )\n",
                        (void *)nullptr);
        return nullptr;
    }

    // Private-only attributes and those the public key sets itself.
    static unsigned long const skipped[] = {CKA_CLASS,
                                            CKA_KEY_TYPE,
                                            CKA_PRIVATE,
                                            CKA_PRIME_1,
                                            CKA_PRIME_2,
                                            CKA_EXPONENT_1,
                                            CKA_EXPONENT_2,
                                            CKA_COEFFICIENT,
                                            CKA_PRIVATE_EXPONENT,
                                            CKA_SENSITIVE,
                                            CKA_EXTRACTABLE,
                                            CKA_SIGN_RECOVER,
                                            CKA_ALWAYS_SENSITIVE,
                                            CKA_KEY_GEN_MECHANISM,
                                            CKA_NEVER_EXTRACTABLE,
                                            CKA_WRAP_WITH_TRUSTED,
                                            CKA_ALWAYS_AUTHENTICATE,
                                            CKA_UNWRAP_TEMPLATE};

    CP11RSAPublicKey *key = nullptr;
    try {
        key = new (std::nothrow) CP11RSAPublicKey();
        if (key == nullptr)
            throw CP11Exception(CKR_HOST_MEMORY);
        for (unsigned long type : types) {
            if ((type & 0x80000000UL) != 0)
                continue;
            bool skip = false;
            for (unsigned long s : skipped)
                skip = skip || s == type;
            if (skip)
                continue;
            unsigned long target = type;
            if (type == CKA_SIGN)
                target = CKA_VERIFY;
            else if (type == CKA_UNWRAP)
                target = CKA_WRAP;
            else if (type == CKA_DECRYPT)
                target = CKA_ENCRYPT;
            switch (CP11Convert::CKA2Type(type)) {
            case CKA_KIND_BOOL:
                key->SetAttribute(target, FindByteAttribute(type));
                break;
            case CKA_KIND_ULONG:
                key->SetAttribute(target, FindLongAttribute(type));
                break;
            case CKA_KIND_STRING:
                key->SetAttribute(target, FindStringAttribute(type), (unsigned long)-1);
                break;
            default: {
                unsigned long size = 0;
                void const *value = FindBinaryAttribute(type, &size);
                key->SetAttribute(target, value, value != nullptr ? size : 0UL);
                break;
            }
            }
        }
        // Clients show the key size from CKA_MODULUS_BITS: derive it from the
        // modulus, as for keys read from the card.
        unsigned long modulusSize = 0;
        FindBinaryAttribute(CKA_MODULUS, &modulusSize);
        if (modulusSize != 0) {
            unsigned long bits = modulusSize * 8;
            CK_ATTRIBUTE a = {CKA_MODULUS_BITS, &bits, sizeof(bits)};
            key->SetAttribute(&a, P11_OP_INTERNAL);
        }
    } catch (CP11Exception const &e) {
        delete key;
        p11_frame::rethrow("CP11RSAPrivateKey::MakePublicKey ", e);
    }
    vok_log::hl_log(vok_log::HL_LEAVE, "CP11RSAPrivateKey::MakePublicKey( %p )\n", (void *)key);
    return key;
}
