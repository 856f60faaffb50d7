#include "objects/p11_data_object.h"

#include "objects/p11_frame.h"

CP11DataObject::CP11DataObject() : CP11StorageObject()
{
    try {
        CP11Base::SetAttribute(CKA_CLASS, (unsigned long)CKO_DATA);
        addStringAttribute("CKA_APPLICATION", CKA_APPLICATION);
        addBinaryAttribute("CKA_OBJECT_ID", CKA_OBJECT_ID);
        addBinaryAttribute("CKA_VALUE", CKA_VALUE);
    } catch (CP11Exception const &e) {
        p11_frame::constructionFailed(*this, "CP11DataObject::CP11DataObject ", e);
    }
}

CP11DataObject::CP11DataObject(CP11DataObject const &other) : CP11StorageObject(other) {}

CP11DataObject::~CP11DataObject() {}

bool CP11DataObject::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    switch (attribute->type) {
    case CKA_APPLICATION:
        return setAttributeString(attribute);
    case CKA_OBJECT_ID:
        if (!p11_frame::isDer(attribute, false))
            throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        return setAttributeBinary(attribute);
    case CKA_VALUE:
        return setAttributeBinary(attribute);
    default:
        return CP11StorageObject::SetAttribute(attribute, operation);
    }
}

unsigned long CP11DataObject::GetSize()
{
    unsigned long counted[] = {CKA_APPLICATION, CKA_OBJECT_ID, CKA_VALUE};
    return getSize(counted, sizeof(counted) / sizeof(counted[0])) + CP11StorageObject::GetSize();
}

void CP11DataObject::Verify(P11Operation operation)
{
    unsigned long cls = FindLongAttribute(CKA_CLASS);
    if (cls != CKO_DATA)
        p11_frame::valueInvalid(CKA_CLASS, &cls, sizeof(cls), CKR_ATTRIBUTE_VALUE_INVALID);
    CP11StorageObject::Verify(operation);
}

_asn_t *CP11DataObject::Encode()
{
    return EncodeEx(nullptr, 0);
}
