// Object matching: a template matches an object when every attribute of the
// template is present in the object with a byte-for-byte equal value.
#include <cstring>

#include "base/linux/linux_log.h"
#include "base/p11_exception.h"
#include "objects/p11_object.h"
#include "objects/p11_template.h"

namespace
{

// Same length and same bytes; two empty values are equal however they are held.
bool sameValue(CAttribute const *own, void const *value, unsigned long length)
{
    unsigned long size = own->GetSize();
    if (size != length)
        return false;
    if (size == 0)
        return true;
    if (value == nullptr || own->GetValue() == nullptr)
        return false;
    return std::memcmp(own->GetValue(), value, size) == 0;
}

} // namespace

void CP11Object::logDifference(CAttribute const *own, void const *value, unsigned long length) const
{
    hl_log(HL_WARNING, "Attribute [ %s ] has different value!\n", attributeName(own->GetId()));
    hl_log(HL_DEBUG, "Attribute( %u ) :\n", own->GetSize());
    incloglevel();
    hl_hd(HL_DEBUG, own->GetValue(), (int)own->GetSize());
    decloglevel();
    hl_log(HL_DEBUG, "Value    ( %lu ) :\n", length);
    incloglevel();
    hl_hd(HL_DEBUG, value, (int)length);
    decloglevel();
}

bool CP11Object::Compare(CP11Template const *t)
{
    if (t == nullptr)
        return true;
    for (CList<CAttribute *>::Iterator it = t->m_attributes.begin(); it != t->m_attributes.end();
         ++it) {
        CAttribute const *wanted = *it;
        if (wanted == nullptr)
            continue;
        CAttribute const *own = findAttribute(wanted->GetId());
        if (own == nullptr) {
            hl_log(HL_WARNING, "Attribute [ %s ] not exists!\n", attributeName(wanted->GetId()));
            return false;
        }
        if (!sameValue(own, wanted->GetValue(), wanted->GetSize())) {
            logDifference(own, wanted->GetValue(), wanted->GetSize());
            return false;
        }
    }
    return true;
}

bool CP11Object::Compare(CK_ATTRIBUTE *t, unsigned long n)
{
    if ((t == nullptr) != (n == 0)) {
        hl_log(HL_WARNING, "Template inconsistent (%p,0x%.8lx)!\n", (void *)t, n);
        return false;
    }
    if (t == nullptr) {
        hl_log(HL_WARNING, "Template is empty!\n");
        return true;
    }
    for (unsigned long i = 0; i < n; ++i) {
        CAttribute const *own = findAttribute(t[i].type);
        if (own == nullptr) {
            hl_log(HL_WARNING, "Attribute [ %s ] not exists!\n", attributeName(t[i].type));
            return false;
        }
        if (!sameValue(own, t[i].pValue, t[i].ulValueLen)) {
            logDifference(own, t[i].pValue, t[i].ulValueLen);
            return false;
        }
    }
    return true;
}

bool CP11Object::CompareAttribute(CK_ATTRIBUTE *a)
{
    CAttribute const *own = ownAttribute(a);
    if (sameValue(own, a->pValue, a->ulValueLen))
        return true;
    logDifference(own, a->pValue, a->ulValueLen);
    return false;
}
