#include "objects/p11_secret_key.h"

#include "objects/p11_frame.h"

CP11SecretKey::CP11SecretKey() : CP11Key()
{
    try {
        CP11Base::SetAttribute(CKA_CLASS, (unsigned long)CKO_SECRET_KEY);
        addByteAttribute("CKA_SENSITIVE", CKA_SENSITIVE, 1);
        addByteAttribute("CKA_ENCRYPT", CKA_ENCRYPT, 1);
        addByteAttribute("CKA_DECRYPT", CKA_DECRYPT, 1);
        addByteAttribute("CKA_SIGN", CKA_SIGN, 0);
        addByteAttribute("CKA_VERIFY", CKA_VERIFY, 0);
        addByteAttribute("CKA_WRAP", CKA_WRAP, 0);
        addByteAttribute("CKA_UNWRAP", CKA_UNWRAP, 0);
        addByteAttribute("CKA_EXTRACTABLE", CKA_EXTRACTABLE, 0);
        addByteAttribute("CKA_ALWAYS_SENSITIVE", CKA_ALWAYS_SENSITIVE, 1);
        addByteAttribute("CKA_NEVER_EXTRACTABLE", CKA_NEVER_EXTRACTABLE, 0);
        addBinaryAttribute("CKA_CHECK_VALUE", CKA_CHECK_VALUE);
        addByteAttribute("CKA_WRAP_WITH_TRUSTED", CKA_WRAP_WITH_TRUSTED, 0);
        addByteAttribute("CKA_TRUSTED", CKA_TRUSTED, 0);
        addBinaryAttribute("CKA_VALUE", CKA_VALUE);
        addLongAttribute("CKA_VALUE_LEN", CKA_VALUE_LEN, 0);
    } catch (CP11Exception const &e) {
        p11_frame::constructionFailed(*this, "CP11SecretKey::CP11SecretKey ", e);
    }
}

CP11SecretKey::CP11SecretKey(CP11SecretKey const &other) : CP11Key(other) {}

CP11SecretKey::~CP11SecretKey() {}

bool CP11SecretKey::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    switch (attribute->type) {
    case CKA_TRUSTED:
        return setAttributeBool(attribute);
    case CKA_CHECK_VALUE:
        checkOperation(attribute, operation, P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_INTERNAL));
        return setAttributeBinary(attribute);
    case CKA_SENSITIVE:
    case CKA_EXTRACTABLE:
        return setExposureFlag(attribute, operation);
    case CKA_ENCRYPT:
    case CKA_DECRYPT:
    case CKA_WRAP:
    case CKA_UNWRAP:
    case CKA_SIGN:
    case CKA_VERIFY:
    case CKA_WRAP_WITH_TRUSTED:
        checkOperation(attribute, operation, P11_OPS_CREATE_GENERATE_INTERNAL);
        return setAttributeBool(attribute);
    case CKA_NEVER_EXTRACTABLE:
    case CKA_ALWAYS_SENSITIVE:
        checkOperation(attribute, operation, P11_OPS(P11_OP_INTERNAL));
        return setAttributeBool(attribute);
    default:
        return CP11Key::SetAttribute(attribute, operation);
    }
}

unsigned long CP11SecretKey::GetSize()
{
    unsigned long counted[] = {CKA_SENSITIVE, CKA_ENCRYPT, CKA_DECRYPT, CKA_SIGN,
                               CKA_VERIFY,    CKA_WRAP,    CKA_UNWRAP,  CKA_EXTRACTABLE};
    return getSize(counted, sizeof(counted) / sizeof(counted[0])) + CP11Key::GetSize();
}

void CP11SecretKey::Verify(P11Operation operation)
{
    unsigned long cls = FindLongAttribute(CKA_CLASS);
    if (cls != CKO_SECRET_KEY)
        p11_frame::valueInvalid(CKA_CLASS, &cls, sizeof(cls), CKR_ATTRIBUTE_VALUE_INVALID);
    unsigned char sensitive = FindByteAttribute(CKA_SENSITIVE);
    if (sensitive == 0)
        p11_frame::valueInvalid(CKA_SENSITIVE, &sensitive, 1, CKR_ATTRIBUTE_VALUE_INVALID);
    unsigned long length = FindLongAttribute(CKA_VALUE_LEN);
    if (length == 0)
        p11_frame::valueInvalid(CKA_VALUE_LEN, &length, sizeof(length), CKR_TEMPLATE_INCONSISTENT);
    if (operation == P11_OP_CREATE) {
        unsigned long size = 0;
        FindBinaryAttribute(CKA_VALUE, &size);
        if (size == 0)
            p11_frame::presenceInvalid(CKA_VALUE, false);
    }
    CP11Key::Verify(operation);
}

_asn_t *CP11SecretKey::Encode()
{
    throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
}
