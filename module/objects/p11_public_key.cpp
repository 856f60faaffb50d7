#include "objects/p11_public_key.h"

#include "objects/p11_frame.h"

CP11PublicKey::CP11PublicKey() : CP11Key()
{
    try {
        CP11Base::SetAttribute(CKA_CLASS, (unsigned long)CKO_PUBLIC_KEY);
        addBinaryAttribute("CKA_SUBJECT", CKA_SUBJECT);
        addByteAttribute("CKA_ENCRYPT", CKA_ENCRYPT, 1);
        addByteAttribute("CKA_VERIFY", CKA_VERIFY, 1);
        addByteAttribute("CKA_VERIFY_RECOVER", CKA_VERIFY_RECOVER, 1);
        addByteAttribute("CKA_WRAP", CKA_WRAP, 0);
        addByteAttribute("CKA_TRUSTED", CKA_TRUSTED, 0);
        addBinaryAttribute("CKA_WRAP_TEMPLATE", CKA_WRAP_TEMPLATE);
    } catch (CP11Exception const &e) {
        p11_frame::constructionFailed(*this, "CP11PublicKey::CP11PublicKey ", e);
    }
}

CP11PublicKey::CP11PublicKey(CP11PublicKey const &other) : CP11Key(other) {}

CP11PublicKey::~CP11PublicKey() {}

bool CP11PublicKey::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    switch (attribute->type) {
    case CKA_SUBJECT:
        return setAttributeBinary(attribute);
    case CKA_ENCRYPT:
    case CKA_WRAP:
    case CKA_VERIFY:
    case CKA_VERIFY_RECOVER:
        checkOperation(attribute, operation,
                       P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_GENERATE) |
                           P11_OPS(P11_OP_INTERNAL));
        return setAttributeBool(attribute);
    case CKA_TRUSTED:
        return setAttributeBool(attribute);
    case CKA_WRAP_TEMPLATE: {
        // Wrap templates are not supported: the value is accepted and dropped.
        CK_ATTRIBUTE empty = {attribute->type, nullptr, 0};
        return setAttributeBinary(&empty);
    }
    default:
        return CP11Key::SetAttribute(attribute, operation);
    }
}

unsigned long CP11PublicKey::GetSize()
{
    unsigned long counted[] = {CKA_SUBJECT, CKA_ENCRYPT, CKA_VERIFY, CKA_WRAP, CKA_TRUSTED};
    return getSize(counted, sizeof(counted) / sizeof(counted[0])) + CP11Key::GetSize();
}

void CP11PublicKey::Verify(P11Operation operation)
{
    unsigned long cls = FindLongAttribute(CKA_CLASS);
    if (cls != CKO_PUBLIC_KEY)
        p11_frame::valueInvalid(CKA_CLASS, &cls, sizeof(cls), CKR_ATTRIBUTE_VALUE_INVALID);
    CP11Key::Verify(operation);
}

_asn_t *CP11PublicKey::Encode()
{
    throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
}
