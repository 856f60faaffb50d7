#include "objects/p11_template.h"

#include <cstring>
#include <new>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "base/p11_log.h"
#include "objects/p11_object.h"

namespace
{

using p11_log::text;

// where: "CP11Template::Copy " and the like
[[noreturn]] void memoryFailure(char const *where)
{
    p11_log::raiseLogged(where, CKR_HOST_MEMORY);
}

[[noreturn]] void valueInconsistent(CK_ATTRIBUTE const *a)
{
    hl_log(HL_ERROR, "Attribute [ %s ] value inconsistent (%p,0x%.8lx)!\n",
           p11_log::ckaName(a->type), a->pValue, a->ulValueLen);
    throw CP11Exception(CKR_TEMPLATE_INCONSISTENT);
}

void checkArray(CK_ATTRIBUTE const *t, unsigned long n)
{
    if ((t == nullptr) != (n == 0)) {
        hl_log(HL_ERROR, "Template invalid (%p,0x%.8lx) !\n", (void const *)t, n);
        throw CP11Exception(CKR_ARGUMENTS_BAD);
    }
}

// Appends a, taking ownership; false when the node could not be made.
bool append(CList<CAttribute *> &list, CAttribute *a)
{
    unsigned int before = list.Count();
    list.PushBack(a);
    if (list.Count() != before)
        return true;
    delete a;
    return false;
}

} // namespace

CP11Template::CP11Template(CK_ATTRIBUTE *t, unsigned long n) : CP11Base()
{
    Copy(t, n);
}

CP11Template::CP11Template(CP11Object *o) : CP11Base()
{
    Copy(o);
}

CP11Template::CP11Template(unsigned long *types, unsigned long n) : CP11Base()
{
    Copy(types, n);
}

CP11Template::~CP11Template() {}

CAttribute *CP11Template::makeAttribute(CK_ATTRIBUTE const *a, char const *where)
{
    char const *name = CP11Convert::CKA2String(a->type);
    unsigned long kind = CP11Convert::CKA2Type(a->type);
    bool ok = false;
    CAttribute *made = nullptr;

    switch (kind) {
    case CKA_KIND_BOOL:
        if (a->pValue == nullptr || a->ulValueLen != 1)
            valueInconsistent(a);
        made = new (std::nothrow) CAttribute();
        ok = made != nullptr && made->Set(name, a->type, *(unsigned char const *)a->pValue);
        break;
    case CKA_KIND_ULONG: {
        if (a->pValue == nullptr || a->ulValueLen != sizeof(unsigned long))
            valueInconsistent(a);
        unsigned long v;
        std::memcpy(&v, a->pValue, sizeof(v));
        made = new (std::nothrow) CAttribute();
        ok = made != nullptr && made->Set(name, a->type, v);
        break;
    }
    case CKA_KIND_STRING:
        // A NULL value gives an empty text; a length of all ones would make the
        // copy measure a buffer that need not be NUL-terminated.
        if (a->pValue != nullptr && a->ulValueLen == (unsigned long)-1)
            valueInconsistent(a);
        made = new (std::nothrow) CAttribute();
        ok = made != nullptr && made->SetName(name);
        if (ok && a->pValue != nullptr && a->ulValueLen != 0)
            ok = made->Modify((char const *)a->pValue, a->ulValueLen);
        else if (ok)
            ok = made->Modify((char const *)nullptr, 0);
        if (ok)
            made->SetId(a->type);
        break;
    default:
        // Vendor types, byte arrays, dates and mechanism lists: raw bytes. A
        // length without a value cannot be copied.
        if (a->pValue == nullptr && a->ulValueLen != 0)
            valueInconsistent(a);
        made = new (std::nothrow) CAttribute();
        if (a->ulValueLen == 0)
            ok = made != nullptr && made->Set(name, a->type, (void const *)nullptr, 0);
        else
            ok =
                made != nullptr && made->Set(name, a->type, (void const *)a->pValue, a->ulValueLen);
        break;
    }
    if (!ok) {
        delete made;
        memoryFailure(where);
    }
    return made;
}

void CP11Template::Copy(CK_ATTRIBUTE *t, unsigned long n)
{
    checkArray(t, n);
    releaseAttributes();
    for (unsigned long i = 0; i < n; ++i) {
        CAttribute *a = makeAttribute(&t[i], "CP11Template::Copy ");
        if (!append(m_attributes, a))
            memoryFailure("CP11Template::Copy ");
    }
}

void CP11Template::Copy(CP11Object *o)
{
    if (o == nullptr)
        throw CP11Exception(CKR_ARGUMENTS_BAD);
    releaseAttributes();
    for (CList<CAttribute *>::Iterator it = o->m_attributes.begin(); it != o->m_attributes.end();
         ++it) {
        CAttribute const *source = *it;
        if (source == nullptr)
            continue;
        CAttribute *a = new (std::nothrow) CAttribute(*source);
        bool ok = a != nullptr && (source->GetValue() == nullptr || a->GetValue() != nullptr) &&
                  (source->GetName() == nullptr || a->GetName() != nullptr);
        if (!ok) {
            delete a;
            memoryFailure("CP11Template::Copy ");
        }
        if (!append(m_attributes, a))
            memoryFailure("CP11Template::Copy ");
    }
}

void CP11Template::Copy(unsigned long *types, unsigned long n)
{
    if ((types == nullptr) != (n == 0))
        throw CP11Exception(CKR_ARGUMENTS_BAD);
    releaseAttributes();
    for (unsigned long i = 0; i < n; ++i) {
        char const *name = CP11Convert::CKA2String(types[i]);
        CAttribute *a = new (std::nothrow) CAttribute(name, types[i]);
        if (a == nullptr || (name != nullptr && a->GetName() == nullptr)) {
            delete a;
            memoryFailure("CP11Template::Copy ");
        }
        if (!append(m_attributes, a))
            memoryFailure("CP11Template::Copy ");
    }
}

bool CP11Template::Merge(CK_ATTRIBUTE *t, unsigned long n)
{
    checkArray(t, n);
    bool changed = false;
    for (unsigned long i = 0; i < n; ++i) {
        CAttribute *a = makeAttribute(&t[i], "CP11Template::Merge ");
        CAttribute *existing = findAttribute(a->GetId());
        if (existing == nullptr) {
            if (!append(m_attributes, a))
                memoryFailure("CP11Template::Merge ");
            changed = true;
            continue;
        }
        if (existing->Compare(*a) != 0) {
            if (!existing->Set(*a)) {
                delete a;
                memoryFailure("CP11Template::Merge ");
            }
            changed = true;
        }
        delete a;
    }
    return changed;
}

void CP11Template::Clear()
{
    releaseAttributes();
}

unsigned long CP11Template::ToLong(CK_ATTRIBUTE *a, bool *ok)
{
    if (ok != nullptr)
        *ok = false;
    if (a == nullptr || a->pValue == nullptr || a->ulValueLen != sizeof(unsigned long))
        return 0;
    unsigned long v;
    std::memcpy(&v, a->pValue, sizeof(v));
    if (ok != nullptr)
        *ok = true;
    return v;
}

unsigned char CP11Template::ToBool(CK_ATTRIBUTE *a, bool *ok)
{
    if (ok != nullptr)
        *ok = false;
    if (a == nullptr || a->pValue == nullptr || a->ulValueLen != 1)
        return 0;
    if (ok != nullptr)
        *ok = true;
    return *(unsigned char const *)a->pValue;
}
