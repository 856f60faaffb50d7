#include "objects/p11_key.h"

#include <cstring>

#include "objects/p11_frame.h"
#include "objects/p11_template.h"

CP11Key::CP11Key() : CP11StorageObject()
{
    try {
        addLongAttribute("CKA_KEY_TYPE", CKA_KEY_TYPE, CK_UNAVAILABLE_INFORMATION);
        addBinaryAttribute("CKA_ID", CKA_ID);
        addBinaryAttribute("CKA_START_DATE", CKA_START_DATE);
        addBinaryAttribute("CKA_END_DATE", CKA_END_DATE);
        addByteAttribute("CKA_DERIVE", CKA_DERIVE, 0);
        addByteAttribute("CKA_LOCAL", CKA_LOCAL, 0);
        addLongAttribute("CKA_KEY_GEN_MECHANISM", CKA_KEY_GEN_MECHANISM,
                         CK_UNAVAILABLE_INFORMATION);
        addBinaryAttribute("CKA_ALLOWED_MECHANISMS", CKA_ALLOWED_MECHANISMS);
    } catch (CP11Exception const &e) {
        p11_frame::constructionFailed(*this, "CP11Key::CP11Key ", e);
    }
}

CP11Key::CP11Key(CP11Key const &other) : CP11StorageObject(other) {}

CP11Key::~CP11Key() {}

bool CP11Key::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    switch (attribute->type) {
    case CKA_KEY_TYPE:
        checkOperation(attribute, operation, P11_OPS_CREATE_GENERATE_INTERNAL);
        return setAttributeLong(attribute);
    case CKA_ID:
        return setAttributeBinary(attribute);
    case CKA_START_DATE:
    case CKA_END_DATE:
        // An application may fill in a missing date, never change one.
        if (operation == P11_OP_SET) {
            unsigned long size = 0;
            FindBinaryAttribute(attribute->type, &size);
            if (size != 0)
                checkOperation(attribute, operation, 0);
        }
        return setAttributeDate(attribute);
    case CKA_DERIVE:
        checkOperation(attribute, operation, P11_OPS_CREATE_GENERATE_INTERNAL);
        return setAttributeBool(attribute);
    case CKA_LOCAL:
        checkOperation(attribute, operation, P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_INTERNAL));
        return setAttributeBool(attribute);
    case CKA_KEY_GEN_MECHANISM:
        checkOperation(attribute, operation, P11_OPS(P11_OP_INTERNAL));
        return setAttributeLong(attribute);
    case CKA_ALLOWED_MECHANISMS:
        if (attribute->ulValueLen % sizeof(CK_MECHANISM_TYPE) != 0) {
            vok_log::hl_log(vok_log::HL_ERROR, "Attribute [ %s ] value invalid (%p,0x%.8lx)!\n",
                            p11_frame::ckaName(attribute->type), attribute->pValue,
                            attribute->ulValueLen);
            throw CP11Exception(CKR_ATTRIBUTE_VALUE_INVALID);
        }
        return setAttributeBinary(attribute);
    default:
        return CP11StorageObject::SetAttribute(attribute, operation);
    }
}

bool CP11Key::setExposureFlag(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkOperation(attribute, operation,
                   P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_GENERATE) | P11_OPS(P11_OP_INTERNAL));
    bool result = setAttributeBool(attribute);
    // A key that was ever readable can never be "always sensitive" again, nor
    // one that was ever extractable "never extractable".
    bool sensitiveFlag = attribute->type == CKA_SENSITIVE;
    bool exposed = sensitiveFlag ? CP11Template::ToBool(attribute, nullptr) == 0
                                 : CP11Template::ToBool(attribute, nullptr) != 0;
    if (exposed) {
        unsigned char no = 0;
        CK_ATTRIBUTE companion = {sensitiveFlag ? CKA_ALWAYS_SENSITIVE : CKA_NEVER_EXTRACTABLE, &no,
                                  1};
        SetAttribute(&companion, P11_OP_INTERNAL);
    }
    return result;
}

unsigned long CP11Key::GetSize()
{
    unsigned long counted[] = {CKA_KEY_TYPE, CKA_ID,     CKA_START_DATE,
                               CKA_END_DATE, CKA_DERIVE, CKA_LOCAL};
    return getSize(counted, sizeof(counted) / sizeof(counted[0])) + CP11StorageObject::GetSize();
}

void CP11Key::Verify(P11Operation operation)
{
    if (operation == P11_OP_CREATE) {
        unsigned char local = FindByteAttribute(CKA_LOCAL);
        if (local == 1)
            p11_frame::valueInvalid(CKA_LOCAL, &local, 1, CKR_ATTRIBUTE_VALUE_INVALID);
    }
    // No template can set the generation mechanism; a copy keeps its source's,
    // which a generated key has.
    bool found = false;
    unsigned long mechanism = FindLongAttribute(CKA_KEY_GEN_MECHANISM, &found);
    if (operation != P11_OP_COPY && found && mechanism != CK_UNAVAILABLE_INFORMATION)
        p11_frame::valueInvalid(CKA_KEY_GEN_MECHANISM, &mechanism, sizeof(mechanism),
                                CKR_ATTRIBUTE_VALUE_INVALID);
    unsigned long keyType = FindLongAttribute(CKA_KEY_TYPE, &found);
    if (!found || keyType == CK_UNAVAILABLE_INFORMATION)
        p11_frame::valueInvalid(CKA_KEY_TYPE, &keyType, sizeof(keyType), CKR_KEY_TYPE_INCONSISTENT);
    CP11StorageObject::Verify(operation);
}

_asn_t *CP11Key::Encode()
{
    throw CP11Exception(CKR_FUNCTION_NOT_SUPPORTED);
}

bool CP11Key::IsMechanismAllowed(unsigned long mechanism)
{
    unsigned long size = 0;
    unsigned char const *list =
        (unsigned char const *)FindBinaryAttribute(CKA_ALLOWED_MECHANISMS, &size);
    if (list == nullptr)
        return false;
    for (unsigned long offset = 0; offset + sizeof(mechanism) <= size;
         offset += sizeof(mechanism)) {
        unsigned long entry;
        std::memcpy(&entry, list + offset, sizeof(entry));
        if (entry == mechanism)
            return true;
    }
    return false;
}

void CP11Key::revert(void *data, unsigned long length)
{
    if (data == nullptr || length == 0)
        return;
    unsigned char *bytes = (unsigned char *)data;
    for (unsigned long i = 0, j = length - 1; i < j; ++i, --j) {
        unsigned char t = bytes[i];
        bytes[i] = bytes[j];
        bytes[j] = t;
    }
}
