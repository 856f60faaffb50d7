#include "objects/p11_private_key.h"

#include "objects/p11_frame.h"

CP11PrivateKey::CP11PrivateKey() : CP11Key()
{
    try {
        CP11Base::SetAttribute(CKA_CLASS, (unsigned long)CKO_PRIVATE_KEY);
        addBinaryAttribute("CKA_SUBJECT", CKA_SUBJECT);
        addByteAttribute("CKA_SENSITIVE", CKA_SENSITIVE, 1);
        addByteAttribute("CKA_DECRYPT", CKA_DECRYPT, 1);
        addByteAttribute("CKA_SIGN", CKA_SIGN, 1);
        addByteAttribute("CKA_SIGN_RECOVER", CKA_SIGN_RECOVER, 1);
        addByteAttribute("CKA_UNWRAP", CKA_UNWRAP, 0);
        addByteAttribute("CKA_EXTRACTABLE", CKA_EXTRACTABLE, 0);
        addByteAttribute("CKA_ALWAYS_SENSITIVE", CKA_ALWAYS_SENSITIVE, 1);
        addByteAttribute("CKA_NEVER_EXTRACTABLE", CKA_NEVER_EXTRACTABLE, 1);
        addByteAttribute("CKA_WRAP_WITH_TRUSTED", CKA_WRAP_WITH_TRUSTED, 0);
        addByteAttribute("CKA_ALWAYS_AUTHENTICATE", CKA_ALWAYS_AUTHENTICATE, 0);
        addBinaryAttribute("CKA_UNWRAP_TEMPLATE", CKA_UNWRAP_TEMPLATE);
    } catch (CP11Exception const &e) {
        p11_frame::constructionFailed(*this, "CP11PrivateKey::CP11PrivateKey ", e);
    }
}

CP11PrivateKey::CP11PrivateKey(CP11PrivateKey const &other) : CP11Key(other) {}

CP11PrivateKey::~CP11PrivateKey() {}

bool CP11PrivateKey::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    switch (attribute->type) {
    case CKA_SUBJECT:
        return setAttributeBinary(attribute);
    case CKA_SENSITIVE:
    case CKA_EXTRACTABLE:
        return setExposureFlag(attribute, operation);
    case CKA_DECRYPT:
    case CKA_UNWRAP:
    case CKA_SIGN:
    case CKA_SIGN_RECOVER:
    case CKA_ALWAYS_AUTHENTICATE:
    case CKA_WRAP_WITH_TRUSTED:
        checkOperation(attribute, operation, P11_OPS_CREATE_GENERATE_INTERNAL);
        return setAttributeBool(attribute);
    case CKA_NEVER_EXTRACTABLE:
    case CKA_ALWAYS_SENSITIVE:
        checkOperation(attribute, operation, P11_OPS(P11_OP_INTERNAL));
        return setAttributeBool(attribute);
    case CKA_UNWRAP_TEMPLATE: {
        // Unwrap templates are not supported: the value is accepted and dropped.
        CK_ATTRIBUTE empty = {attribute->type, nullptr, 0};
        return setAttributeBinary(&empty);
    }
    default:
        return CP11Key::SetAttribute(attribute, operation);
    }
}

unsigned long CP11PrivateKey::GetSize()
{
    unsigned long counted[] = {CKA_SUBJECT, CKA_SENSITIVE, CKA_DECRYPT,
                               CKA_SIGN,    CKA_UNWRAP,    CKA_EXTRACTABLE};
    return getSize(counted, sizeof(counted) / sizeof(counted[0])) + CP11Key::GetSize();
}

void CP11PrivateKey::Verify(P11Operation operation)
{
    unsigned long cls = FindLongAttribute(CKA_CLASS);
    if (cls != CKO_PRIVATE_KEY)
        p11_frame::valueInvalid(CKA_CLASS, &cls, sizeof(cls), CKR_ATTRIBUTE_VALUE_INVALID);
    unsigned char sensitive = FindByteAttribute(CKA_SENSITIVE);
    if (sensitive == 0)
        p11_frame::valueInvalid(CKA_SENSITIVE, &sensitive, 1, CKR_ATTRIBUTE_VALUE_INVALID);
    // Key material that came from outside the card was not always sensitive.
    if (operation == P11_OP_CREATE || operation == P11_OP_COPY || (int)operation == 5)
        CP11Base::SetAttribute(CKA_ALWAYS_SENSITIVE, (unsigned char)0);
    CP11Key::Verify(operation);
}

_asn_t *CP11PrivateKey::Encode()
{
    throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
}
