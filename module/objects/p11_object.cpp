#include "objects/p11_object.h"

#include <cstring>
#include <new>

#include "base/linux/linux_log.h"
#include "base/p11_exception.h"
#include "objects/p11_frame.h"

namespace
{

[[noreturn]] void raise(unsigned long rv)
{
    throw CP11Exception(rv);
}

} // namespace

// ---------------------------------------------------------------------------
// Construction

CP11Object::CP11Object() : CP11Base(), m_handle(0)
{
    try {
        addLongAttribute("CKA_CLASS", CKA_CLASS, CK_UNAVAILABLE_INFORMATION);
        addByteAttribute("CKA_HIDDEN", CKA_HIDDEN, 0);
        addBinaryAttribute("CKA_USER_ID", CKA_USER_ID);
        addLongAttribute("CKA_USER_FLAGS", CKA_USER_FLAGS, 0);
    } catch (CP11Exception &e) {
        p11_frame::constructionFailed(*this, "CP11Object::CP11Object()", e);
    }
}

CP11Object::CP11Object(CP11Object const &other) : CP11Base(other), m_handle(other.m_handle) {}

CP11Object::~CP11Object() {}

void CP11Object::appendAttribute(CAttribute *attribute, bool ok)
{
    if (!adoptAttribute(attribute, ok))
        raise(CKR_HOST_MEMORY);
}

void CP11Object::addByteAttribute(char const *name, unsigned long type, unsigned char value)
{
    CAttribute *a = new (std::nothrow) CAttribute();
    appendAttribute(a, a != nullptr && a->Set(name, type, value));
}

void CP11Object::addLongAttribute(char const *name, unsigned long type, unsigned long value)
{
    CAttribute *a = new (std::nothrow) CAttribute();
    appendAttribute(a, a != nullptr && a->Set(name, type, value));
}

void CP11Object::addStringAttribute(char const *name, unsigned long type)
{
    CAttribute *a = new (std::nothrow) CAttribute();
    appendAttribute(a, a != nullptr && a->Set(name, type, (char const *)nullptr));
}

void CP11Object::addBinaryAttribute(char const *name, unsigned long type, void const *value,
                                    unsigned long length)
{
    if (value == nullptr || length == 0) {
        value = nullptr;
        length = 0;
    }
    CAttribute *a = new (std::nothrow) CAttribute();
    appendAttribute(a, a != nullptr && a->Set(name, type, value, length));
}

// ---------------------------------------------------------------------------
// Convenience setters

bool CP11Object::SetAttribute(unsigned long type, unsigned char v)
{
    CK_ATTRIBUTE a = {type, &v, sizeof(v)};
    return SetAttribute(&a, P11_OP_CREATE);
}

bool CP11Object::SetAttribute(unsigned long type, unsigned long v)
{
    CK_ATTRIBUTE a = {type, &v, sizeof(v)};
    return SetAttribute(&a, P11_OP_CREATE);
}

bool CP11Object::SetAttribute(unsigned long type, char const *text, unsigned long length)
{
    CK_ATTRIBUTE a = {type, nullptr, 0};
    if (text != nullptr) {
        a.pValue = const_cast<char *>(text);
        a.ulValueLen = length == (unsigned long)-1 ? std::strlen(text) : length;
    }
    return SetAttribute(&a, P11_OP_CREATE);
}

bool CP11Object::SetAttribute(unsigned long type, void const *data, unsigned long length)
{
    CK_ATTRIBUTE a = {type, const_cast<void *>(data), length};
    return SetAttribute(&a, P11_OP_CREATE);
}

// ---------------------------------------------------------------------------
// Rule chain

char const *CP11Object::attributeName(unsigned long type)
{
    return p11_frame::ckaName(type);
}

void CP11Object::checkAttribute(CK_ATTRIBUTE const *attribute)
{
    // An empty value is (NULL, 0) or a pointer with length 0; callers pass empty
    // labels and IDs both ways. Only a length without a value is inconsistent.
    if (attribute == nullptr || (attribute->pValue == nullptr && attribute->ulValueLen != 0)) {
        hl_log(HL_ERROR, "Attribute [ %s ] value inconsistent (%p,%p,0x%.8lx)!\n",
               attribute != nullptr ? attributeName(attribute->type) : "?", (void *)attribute,
               attribute != nullptr ? attribute->pValue : nullptr,
               attribute != nullptr ? attribute->ulValueLen : 0UL);
        raise(CKR_TEMPLATE_INCONSISTENT);
    }
}

void CP11Object::checkOperation(CK_ATTRIBUTE const *attribute, P11Operation operation,
                                unsigned long allowed)
{
    unsigned op = (unsigned)operation;
    if (allowed == P11_OPS_ALL)
        return;
    if (op >= sizeof(unsigned long) * 8 || (allowed & (1UL << op)) == 0) {
        hl_log(HL_ERROR, "Attribute [ %s ] can not be modified!\n", attributeName(attribute->type));
        raise(CKR_ATTRIBUTE_READ_ONLY);
    }
}

bool CP11Object::SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation)
{
    checkAttribute(attribute);
    switch (attribute->type) {
    case CKA_CLASS:
        checkOperation(attribute, operation, P11_OPS_CREATE_COPY_GENERATE);
        return setAttributeLong(attribute);
    case CKA_HIDDEN:
        return setAttributeBool(attribute);
    case CKA_USER_ID:
        return setAttributeBinary(attribute);
    case CKA_USER_FLAGS:
        return setAttributeLong(attribute);
    default:
        hl_log(HL_ERROR, "Unknown or unsupported attribute [ %s ( 0x%.8lx ) ]!\n",
               attributeName(attribute->type), attribute->type);
        raise(CKR_ATTRIBUTE_TYPE_INVALID);
    }
}

// ---------------------------------------------------------------------------
// Typed stores

CAttribute *CP11Object::storeTarget(CK_ATTRIBUTE const *attribute)
{
    CAttribute *own = attribute != nullptr ? findAttribute(attribute->type) : nullptr;
    if (own == nullptr) {
        hl_log(HL_ERROR, "Attribute is NULL!\n");
        raise(CKR_ATTRIBUTE_TYPE_INVALID);
    }
    return own;
}

namespace
{

[[noreturn]] void valueInvalid(CAttribute const *own, CK_ATTRIBUTE const *attribute)
{
    char const *name = p11_log::text(own->GetName());
    hl_log(HL_ERROR, "Attribute [ %s ] value inconsistent (%p,%p,0x%.8lx)!\n", name,
           (void *)attribute, attribute->pValue, attribute->ulValueLen);
    raise(CKR_ATTRIBUTE_VALUE_INVALID);
}

[[noreturn]] void noMemory(CAttribute const *own)
{
    char const *name = p11_log::text(own->GetName());
    hl_log(HL_ERROR, "Attribute [ %s ] not enough memory !\n", name);
    raise(CKR_HOST_MEMORY);
}

bool stored(CAttribute *own, bool ok)
{
    if (!ok)
        noMemory(own);
    own->SetModified(true);
    return true;
}

} // namespace

bool CP11Object::setAttributeBool(CK_ATTRIBUTE *attribute)
{
    CAttribute *own = storeTarget(attribute);
    if (attribute->pValue == nullptr || attribute->ulValueLen != 1)
        valueInvalid(own, attribute);
    return stored(own, own->Modify(*(unsigned char const *)attribute->pValue));
}

bool CP11Object::setAttributeLong(CK_ATTRIBUTE *attribute)
{
    CAttribute *own = storeTarget(attribute);
    if (attribute->pValue == nullptr || attribute->ulValueLen != sizeof(unsigned long))
        valueInvalid(own, attribute);
    unsigned long v;
    std::memcpy(&v, attribute->pValue, sizeof(v));
    return stored(own, own->Modify(v));
}

bool CP11Object::setAttributeDate(CK_ATTRIBUTE *attribute)
{
    CAttribute *own = storeTarget(attribute);
    if (attribute->pValue == nullptr || attribute->ulValueLen == 0)
        return stored(own, own->Modify((void const *)nullptr, 0));
    if (attribute->ulValueLen != sizeof(CK_DATE))
        valueInvalid(own, attribute);
    return stored(own, own->Modify((void const *)attribute->pValue, attribute->ulValueLen));
}

bool CP11Object::setAttributeBinary(CK_ATTRIBUTE *attribute)
{
    CAttribute *own = storeTarget(attribute);
    if (attribute->ulValueLen == 0)
        return stored(own, own->Modify((void const *)nullptr, 0));
    if (attribute->pValue == nullptr)
        valueInvalid(own, attribute);
    return stored(own, own->Modify((void const *)attribute->pValue, attribute->ulValueLen));
}

bool CP11Object::setAttributeString(CK_ATTRIBUTE *attribute)
{
    CAttribute *own = storeTarget(attribute);
    // All ones would make the text copy measure a caller buffer that need not be
    // NUL-terminated.
    if ((attribute->pValue == nullptr && attribute->ulValueLen != 0) ||
        attribute->ulValueLen == (unsigned long)-1)
        valueInvalid(own, attribute);
    // Release first: a failed copy leaves the attribute empty.
    own->Modify((char const *)nullptr, 0);
    if (attribute->ulValueLen == 0)
        return stored(own, true);
    return stored(own, own->Modify((char const *)attribute->pValue, attribute->ulValueLen));
}

// ---------------------------------------------------------------------------
// Reading, size, verification

CAttribute *CP11Object::ownAttribute(CK_ATTRIBUTE const *attribute) const
{
    if (attribute == nullptr) {
        hl_log(HL_ERROR, "Attribute is NULL!\n");
        raise(CKR_TEMPLATE_INCONSISTENT);
    }
    CAttribute *own = findAttribute(attribute->type);
    if (own == nullptr) {
        hl_log(HL_ERROR, "Attribute [ %s ] not exists!\n", attributeName(attribute->type));
        raise(CKR_ATTRIBUTE_TYPE_INVALID);
    }
    return own;
}

bool CP11Object::GetAttribute(CK_ATTRIBUTE *attribute)
{
    CAttribute *own = ownAttribute(attribute);

    bool sensitive = false;
    if (attribute->type == CKA_VALUE) {
        sensitive = FindLongAttribute(CKA_CLASS) == CKO_SECRET_KEY;
    } else if (attribute->type >= CKA_PRIVATE_EXPONENT && attribute->type <= CKA_COEFFICIENT) {
        sensitive =
            FindByteAttribute(CKA_SENSITIVE) != 0 || FindByteAttribute(CKA_EXTRACTABLE) == 0;
    }
    if (sensitive) {
        hl_log(HL_ERROR, "Attribute [ %s ] sensitive!\n", attributeName(attribute->type));
        raise(CKR_ATTRIBUTE_SENSITIVE);
    }

    unsigned long size = own->GetSize();
    if (attribute->pValue == nullptr) {
        attribute->ulValueLen = size;
        return true;
    }
    if (attribute->ulValueLen < size) {
        attribute->ulValueLen = CK_UNAVAILABLE_INFORMATION;
        hl_log(HL_ERROR, "Attribute [ %s ] small buffer ( 0x%.8lx / 0x%.8lx )!\n",
               attributeName(attribute->type), attribute->ulValueLen, size);
        raise(CKR_BUFFER_TOO_SMALL);
    }
    attribute->ulValueLen = size;
    if (size != 0 && own->GetValue() != nullptr)
        std::memcpy(attribute->pValue, own->GetValue(), size);
    return true;
}

unsigned long CP11Object::getSize(unsigned long *types, unsigned long count)
{
    if ((types == nullptr) != (count == 0))
        raise(CKR_ATTRIBUTE_TYPE_INVALID);
    unsigned long total = 0;
    for (unsigned long i = 0; i < count; ++i) {
        CAttribute const *a = findAttribute(types[i]);
        if (a != nullptr)
            total += a->GetSize();
    }
    return total;
}

unsigned long CP11Object::GetSize()
{
    unsigned long counted[] = {CKA_CLASS};
    return getSize(counted, sizeof(counted) / sizeof(counted[0]));
}

void CP11Object::Verify(P11Operation)
{
    bool found = false;
    unsigned long cls = FindLongAttribute(CKA_CLASS, &found);
    if (!found || cls == CK_UNAVAILABLE_INFORMATION) {
        hl_log(HL_ERROR, "Attribute [ %s ] value invalid !\n", attributeName(CKA_CLASS));
        incloglevel();
        hl_hd(HL_ERROR, &cls, sizeof(cls));
        decloglevel();
        raise(CKR_TEMPLATE_INCONSISTENT);
    }
}

_asn_t *CP11Object::Encode()
{
    raise(CKR_FUNCTION_NOT_SUPPORTED);
}
