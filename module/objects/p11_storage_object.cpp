#include "objects/p11_storage_object.h"

#include "base/p11_exception.h"
#include "objects/p11_frame.h"

CP11StorageObject::CP11StorageObject() : CP11Object()
{
    try {
        addByteAttribute("CKA_TOKEN", CKA_TOKEN, 0);
        addByteAttribute("CKA_PRIVATE", CKA_PRIVATE, 0);
        addByteAttribute("CKA_MODIFIABLE", CKA_MODIFIABLE, 1);
        addStringAttribute("CKA_LABEL", CKA_LABEL);
    } catch (CP11Exception &e) {
        p11_frame::constructionFailed(*this, "CP11StorageObject::CP11StorageObject ", e);
    }
}

CP11StorageObject::CP11StorageObject(CP11StorageObject const &other) : CP11Object(other) {}

CP11StorageObject::~CP11StorageObject() {}

bool CP11StorageObject::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    switch (attribute->type) {
    case CKA_TOKEN:
    case CKA_PRIVATE:
    case CKA_MODIFIABLE:
        checkOperation(attribute, operation,
                       P11_OPS_CREATE_COPY_GENERATE | P11_OPS(P11_OP_INTERNAL));
        return setAttributeBool(attribute);
    case CKA_LABEL:
        return setAttributeString(attribute);
    default:
        return CP11Object::SetAttribute(attribute, operation);
    }
}

unsigned long CP11StorageObject::GetSize()
{
    unsigned long counted[] = {CKA_LABEL, CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE};
    return getSize(counted, sizeof(counted) / sizeof(counted[0])) + CP11Object::GetSize();
}

void CP11StorageObject::Verify(P11Operation operation)
{
    CP11Object::Verify(operation);
}

_asn_t *CP11StorageObject::Encode()
{
    throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
}
