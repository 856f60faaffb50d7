#include "base/p11_base.h"

#include <cstring>
#include <new>

#include <p11-kit/pkcs11.h>

#include "base/p11_exception.h"

namespace
{

// Gives a held attribute a new value through the matching Modify and records
// whether that changed it; false for an attribute the object does not hold.
template <typename... Value> bool modify(CAttribute *attr, Value... value)
{
    if (attr == nullptr)
        return false;
    bool changed = attr->Modify(value...);
    attr->SetModified(changed);
    return changed;
}

} // namespace

CP11Base::CP11Base() {}

CP11Base::CP11Base(CP11Base const &other)
{
    for (CList<CAttribute *>::Iterator it = other.m_attributes.begin();
         it != other.m_attributes.end(); ++it) {
        CAttribute *src = *it;
        CAttribute *copy = new (std::nothrow) CAttribute(*src);
        bool complete = copy != nullptr &&
                        (src->GetValue() == nullptr || copy->GetValue() != nullptr) &&
                        (src->GetName() == nullptr || copy->GetName() != nullptr);
        if (!adoptAttribute(copy, complete)) {
            releaseAttributes();
            throw CP11Exception(CKR_HOST_MEMORY);
        }
    }
}

bool CP11Base::adoptAttribute(CAttribute *attribute, bool ok)
{
    ok = ok && attribute != nullptr;
    unsigned int before = m_attributes.Count();
    if (ok)
        m_attributes.PushBack(attribute);
    if (!ok || m_attributes.Count() == before) {
        delete attribute;
        return false;
    }
    return true;
}

CP11Base::~CP11Base()
{
    releaseAttributes();
}

bool CP11Base::SetAttribute(unsigned long type, unsigned char v)
{
    return modify(findAttribute(type), v);
}

bool CP11Base::SetAttribute(unsigned long type, unsigned long v)
{
    return modify(findAttribute(type), v);
}

bool CP11Base::SetAttribute(unsigned long type, char const *s, unsigned long len)
{
    return modify(findAttribute(type), s, len);
}

bool CP11Base::SetAttribute(unsigned long type, void const *p, unsigned long len)
{
    return modify(findAttribute(type), p, len);
}

CAttribute *CP11Base::findAttribute(unsigned long type) const
{
    for (CList<CAttribute *>::Iterator it = m_attributes.begin(); it != m_attributes.end(); ++it) {
        if ((*it)->GetId() == type)
            return *it;
    }
    return nullptr;
}

unsigned long CP11Base::FindLongAttribute(unsigned long type, bool *found) const
{
    if (found != nullptr)
        *found = false;
    CAttribute *attr = findAttribute(type);
    return attr != nullptr ? attr->GetLong(found) : 0;
}

unsigned char CP11Base::FindByteAttribute(unsigned long type, bool *found) const
{
    if (found != nullptr)
        *found = false;
    CAttribute *attr = findAttribute(type);
    return attr != nullptr ? attr->GetByte(found) : 0;
}

char const *CP11Base::FindStringAttribute(unsigned long type, bool *found) const
{
    if (found != nullptr)
        *found = false;
    CAttribute *attr = findAttribute(type);
    return attr != nullptr ? attr->GetString(found) : nullptr;
}

void const *CP11Base::FindBinaryAttribute(unsigned long type, unsigned long *size,
                                          bool *found) const
{
    if (found != nullptr)
        *found = false;
    if (size != nullptr)
        *size = 0;
    CAttribute *attr = findAttribute(type);
    if (attr == nullptr)
        return nullptr;
    if (found != nullptr)
        *found = true;
    if (attr->GetValue() == nullptr)
        return nullptr;
    if (size != nullptr)
        *size = attr->GetSize();
    return attr->GetValue();
}

bool CP11Base::GetAttributes(unsigned long *types, unsigned long *count) const
{
    if (count == nullptr)
        return false;
    unsigned long n = m_attributes.Count();
    if (types == nullptr || *count < n) {
        *count = n;
        return types == nullptr;
    }
    *count = 0;
    for (CList<CAttribute *>::Iterator it = m_attributes.begin(); it != m_attributes.end(); ++it)
        types[(*count)++] = (*it)->GetId();
    return true;
}

bool CP11Base::GetAttributes(char *names, unsigned long *size) const
{
    if (size == nullptr)
        return false;
    unsigned long needed = 1;
    bool anyName = false;
    for (CList<CAttribute *>::Iterator it = m_attributes.begin(); it != m_attributes.end(); ++it) {
        char const *name = (*it)->GetName();
        if (name != nullptr && *name != 0) {
            needed += std::strlen(name) + 1;
            anyName = true;
        }
    }
    if (!anyName)
        needed = 2; // an empty multi-string is two NULs
    if (names == nullptr || *size < needed) {
        *size = needed;
        return names == nullptr;
    }
    char *out = names;
    for (CList<CAttribute *>::Iterator it = m_attributes.begin(); it != m_attributes.end(); ++it) {
        char const *name = (*it)->GetName();
        if (name != nullptr && *name != 0) {
            size_t len = std::strlen(name) + 1;
            std::memcpy(out, name, len);
            out += len;
        }
    }
    *out++ = 0;
    if (!anyName)
        *out = 0;
    *size = needed;
    return true;
}

CAttribute *CP11Base::removeAttribute(unsigned long type)
{
    for (CList<CAttribute *>::Iterator it = m_attributes.begin(); it != m_attributes.end(); ++it) {
        if ((*it)->GetId() == type) {
            CAttribute *attr = *it;
            m_attributes.Erase(it);
            return attr;
        }
    }
    return nullptr;
}

void CP11Base::releaseAttributes()
{
    for (CList<CAttribute *>::Iterator it = m_attributes.begin(); it != m_attributes.end(); ++it)
        delete *it;
    m_attributes.Clear();
}

void CP11Base::resetModification()
{
    for (CList<CAttribute *>::Iterator it = m_attributes.begin(); it != m_attributes.end(); ++it)
        (*it)->SetModified(false);
}
