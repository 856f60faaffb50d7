#include "objects/p11_certificate.h"

#include "objects/p11_frame.h"

CP11Certificate::CP11Certificate() : CP11StorageObject()
{
    try {
        CP11Base::SetAttribute(CKA_CLASS, (unsigned long)CKO_CERTIFICATE);
        addLongAttribute("CKA_CERTIFICATE_TYPE", CKA_CERTIFICATE_TYPE, CK_UNAVAILABLE_INFORMATION);
        addByteAttribute("CKA_TRUSTED", CKA_TRUSTED, 0);
        addLongAttribute("CKA_CERTIFICATE_CATEGORY", CKA_CERTIFICATE_CATEGORY, 0);
        addBinaryAttribute("CKA_CHECK_VALUE", CKA_CHECK_VALUE);
        addBinaryAttribute("CKA_START_DATE", CKA_START_DATE);
        addBinaryAttribute("CKA_END_DATE", CKA_END_DATE);
    } catch (CP11Exception const &e) {
        p11_frame::constructionFailed(*this, "CP11Certificate::CP11Certificate ", e);
    }
}

CP11Certificate::CP11Certificate(CP11Certificate const &other) : CP11StorageObject(other) {}

CP11Certificate::~CP11Certificate() {}

bool CP11Certificate::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    switch (attribute->type) {
    case CKA_CERTIFICATE_TYPE:
    case CKA_CERTIFICATE_CATEGORY:
        checkOperation(attribute, operation, P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_INTERNAL));
        return setAttributeLong(attribute);
    case CKA_TRUSTED:
        return setAttributeBool(attribute);
    case CKA_CHECK_VALUE:
        return setAttributeBinary(attribute);
    case CKA_START_DATE:
    case CKA_END_DATE:
        return setAttributeDate(attribute);
    default:
        return CP11StorageObject::SetAttribute(attribute, operation);
    }
}

unsigned long CP11Certificate::GetSize()
{
    unsigned long counted[] = {CKA_TRUSTED,    CKA_CERTIFICATE_TYPE, CKA_CERTIFICATE_CATEGORY,
                               CKA_START_DATE, CKA_END_DATE,         CKA_CHECK_VALUE};
    return getSize(counted, sizeof(counted) / sizeof(counted[0])) + CP11StorageObject::GetSize();
}

void CP11Certificate::Verify(P11Operation operation)
{
    unsigned long cls = FindLongAttribute(CKA_CLASS);
    if (cls != CKO_CERTIFICATE)
        p11_frame::valueInvalid(CKA_CLASS, &cls, sizeof(cls), CKR_ATTRIBUTE_VALUE_INVALID);
    bool found = false;
    unsigned long type = FindLongAttribute(CKA_CERTIFICATE_TYPE, &found);
    if (!found || type == CK_UNAVAILABLE_INFORMATION)
        p11_frame::valueInvalid(CKA_CERTIFICATE_TYPE, &type, sizeof(type),
                                CKR_TEMPLATE_INCONSISTENT);
    unsigned long category = FindLongAttribute(CKA_CERTIFICATE_CATEGORY);
    if (category >= 4)
        p11_frame::valueInvalid(CKA_CERTIFICATE_CATEGORY, &category, sizeof(category),
                                CKR_TEMPLATE_INCONSISTENT);
    CP11StorageObject::Verify(operation);
}

_asn_t *CP11Certificate::Encode()
{
    throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
}
