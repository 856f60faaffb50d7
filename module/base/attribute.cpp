#include "base/attribute.h"

#include <cstdlib>
#include <cstring>

namespace
{

// A malloc'ed copy of n bytes, followed by a NUL when withNul is set.
void *dupBytes(void const *p, unsigned long n, bool withNul)
{
    void *copy = std::malloc(n + (withNul ? 1 : 0) + (n == 0 && !withNul ? 1 : 0));
    if (copy == nullptr)
        return nullptr;
    if (n != 0)
        std::memcpy(copy, p, n);
    if (withNul)
        static_cast<char *>(copy)[n] = 0;
    return copy;
}

int compareBytes(void const *a, unsigned long alen, void const *b, unsigned long blen)
{
    if (a == nullptr && alen == 0 && b == nullptr && blen == 0)
        return 0;
    if (a == nullptr)
        return -1;
    if (b == nullptr)
        return 1;
    if (alen != blen)
        return alen < blen ? -1 : 1;
    if (alen == 0)
        return 0;
    int r = std::memcmp(a, b, alen);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// Sets value, name and type of an attribute through the matching Modify; the
// type only when value and name were taken.
template <typename... Value>
bool setNamed(CAttribute &attribute, char const *name, unsigned long type, Value... value)
{
    if (!attribute.Modify(value...) || !attribute.SetName(name))
        return false;
    attribute.SetId(type);
    return true;
}

} // namespace

CAttribute::CAttribute()
{
    init();
}

CAttribute::CAttribute(char const *name, unsigned long type)
{
    init();
    if (SetName(name))
        SetId(type);
}

CAttribute::CAttribute(char const *name, unsigned long type, unsigned char v)
{
    init();
    Set(name, type, v);
}

CAttribute::CAttribute(char const *name, unsigned long type, unsigned long v)
{
    init();
    Set(name, type, v);
}

CAttribute::CAttribute(char const *name, unsigned long type, char const *s)
{
    init();
    Set(name, type, s);
}

CAttribute::CAttribute(char const *name, unsigned long type, void const *p, unsigned long len)
{
    init();
    Set(name, type, p, len);
}

CAttribute::CAttribute(CAttribute const &other)
{
    init();
    copyFrom(other);
}

CAttribute::~CAttribute()
{
    release();
}

void CAttribute::init()
{
    m_kind = KIND_NONE;
    m_type = 0;
    m_value = nullptr;
    m_size = 0;
    m_name = nullptr;
    m_modified = false;
}

void CAttribute::release()
{
    std::free(m_value);
    m_value = nullptr;
    m_size = 0;
    std::free(m_name);
    m_name = nullptr;
}

bool CAttribute::Modify(void const *p, unsigned long len)
{
    if ((p == nullptr) != (len == 0))
        return false;
    // Copy before freeing: p may point into the current value.
    void *copy = nullptr;
    if (p != nullptr) {
        copy = dupBytes(p, len, false);
        if (copy == nullptr) {
            std::free(m_value);
            m_value = nullptr;
            m_size = 0;
            return false;
        }
    }
    std::free(m_value);
    m_value = copy;
    m_size = len;
    m_kind = KIND_BINARY;
    return true;
}

bool CAttribute::Modify(unsigned long v)
{
    void *copy = dupBytes(&v, sizeof(v), false);
    if (copy == nullptr)
        return false;
    std::free(m_value);
    m_value = copy;
    m_size = sizeof(v);
    m_kind = KIND_ULONG;
    return true;
}

bool CAttribute::Modify(unsigned char v)
{
    void *copy = dupBytes(&v, 1, false);
    if (copy == nullptr)
        return false;
    std::free(m_value);
    m_value = copy;
    m_size = 1;
    m_kind = KIND_BYTE;
    return true;
}

bool CAttribute::Modify(char const *s, unsigned long len)
{
    void *copy = nullptr;
    if (s == nullptr) {
        len = 0;
    } else {
        if (len == (unsigned long)-1)
            len = std::strlen(s);
        copy = dupBytes(s, len, true);
        if (copy == nullptr)
            return false;
    }
    std::free(m_value);
    m_value = copy;
    m_size = len;
    m_kind = KIND_STRING;
    return true;
}

bool CAttribute::SetName(char const *name)
{
    char *copy = nullptr;
    if (name != nullptr) {
        copy = static_cast<char *>(dupBytes(name, std::strlen(name), true));
        if (copy == nullptr) {
            std::free(m_name);
            m_name = nullptr;
            return false;
        }
    }
    std::free(m_name);
    m_name = copy;
    return true;
}

bool CAttribute::Set(char const *name, unsigned long type, void const *p, unsigned long len)
{
    return setNamed(*this, name, type, p, len);
}

bool CAttribute::Set(char const *name, unsigned long type, unsigned long v)
{
    return setNamed(*this, name, type, v);
}

bool CAttribute::Set(char const *name, unsigned long type, unsigned char v)
{
    return setNamed(*this, name, type, v);
}

bool CAttribute::Set(char const *name, unsigned long type, char const *s)
{
    return setNamed(*this, name, type, s, (unsigned long)-1);
}

// A value is a byte string whatever its kind: a text is copied byte for byte with
// its length (a label may hold a zero byte), then gets its NUL after the value.
void CAttribute::copyFrom(CAttribute const &other)
{
    bool ok;
    if (other.m_kind == KIND_STRING)
        ok = setNamed(*this, other.m_name, other.m_type, static_cast<char const *>(other.m_value),
                      other.m_value != nullptr ? other.m_size : 0UL);
    else
        ok = Set(other.m_name, other.m_type, other.m_value, other.m_value ? other.m_size : 0);
    if (ok) {
        m_kind = other.m_kind;
        m_modified = other.m_modified;
    }
}

bool CAttribute::Set(CAttribute &other)
{
    if (&other == this)
        return true;
    copyFrom(other);
    // A copy that lost its value or name (no memory) is a failure.
    return (other.m_value == nullptr || m_value != nullptr) &&
           (other.m_name == nullptr || m_name != nullptr);
}

CAttribute &CAttribute::operator=(CAttribute const &other)
{
    if (&other != this)
        copyFrom(other);
    return *this;
}

unsigned long CAttribute::GetLong(bool *ok) const
{
    bool good = m_kind == KIND_ULONG && m_value != nullptr && m_size == sizeof(unsigned long);
    if (ok != nullptr)
        *ok = good;
    if (!good)
        return 0;
    unsigned long v;
    std::memcpy(&v, m_value, sizeof(v));
    return v;
}

unsigned char CAttribute::GetByte(bool *ok) const
{
    bool good = m_kind == KIND_BYTE && m_value != nullptr && m_size == 1;
    if (ok != nullptr)
        *ok = good;
    return good ? *static_cast<unsigned char *>(m_value) : 0;
}

char const *CAttribute::GetString(bool *ok) const
{
    bool good = m_kind == KIND_STRING;
    if (ok != nullptr)
        *ok = good;
    return good ? static_cast<char const *>(m_value) : nullptr;
}

int CAttribute::Compare(void const *p, unsigned long len) const
{
    return compareBytes(m_value, m_size, p, len);
}

int CAttribute::Compare(CAttribute &other) const
{
    return compareBytes(m_value, m_size, other.m_value, other.m_size);
}

int CAttribute::Compare(unsigned long v) const
{
    return compareBytes(m_value, m_size, &v, sizeof(v));
}

int CAttribute::Compare(unsigned char v) const
{
    return compareBytes(m_value, m_size, &v, 1);
}

int CAttribute::Compare(char const *s) const
{
    return compareBytes(m_value, m_size, s, s ? std::strlen(s) : 0);
}

int CAttribute::CompareName(char const *name) const
{
    if (m_name == nullptr && name == nullptr)
        return 0;
    if (name == nullptr)
        return 1;
    if (m_name == nullptr)
        return -1;
    int r = std::strcmp(m_name, name);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}
