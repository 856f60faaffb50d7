// A free-standing set of typed attributes with no handle and no rules: the
// module's form of a PKCS#11 template (search templates, creation and read
// templates, the attribute set of a stored object).
#pragma once

#include <cstddef>

#include <p11-kit/pkcs11.h>

#include "base/p11_base.h"

struct _asn_t;
class CP11Object;

class CP11Template : public CP11Base
{
    friend class CP11Object;

  public:
    // (NULL, 0) gives an empty template.
    CP11Template(CK_ATTRIBUTE *t, unsigned long n);
    CP11Template(std::nullptr_t, unsigned long n) : CP11Template((CK_ATTRIBUTE *)nullptr, n) {}
    explicit CP11Template(CP11Object *o);
    CP11Template(unsigned long *types, unsigned long n);
    ~CP11Template() override;

    // Each Copy replaces the content. On a failure part way the attributes
    // appended before the failing entry stay.
    void Copy(CK_ATTRIBUTE *t, unsigned long n);
    void Copy(CP11Object *o);
    // Value-less attributes, one per type: names the attributes to read or write.
    void Copy(unsigned long *types, unsigned long n);
    // Adds or updates attributes; true when at least one was added or changed.
    bool Merge(CK_ATTRIBUTE *t, unsigned long n);
    void Clear();

    // Value of a CK_ULONG / CK_BBOOL entry; 0 with *ok false when the entry is
    // NULL, has no value or has the wrong length.
    static unsigned long ToLong(CK_ATTRIBUTE *a, bool *ok);
    static unsigned char ToBool(CK_ATTRIBUTE *a, bool *ok);

    // Storage encoding (bodies live with the storage encoding of objects).
    _asn_t *Encode();
    void Decode(_asn_t *set);
    static _asn_t *EncodeArray(unsigned long *list, unsigned long size);
    static unsigned long DecodeArray(_asn_t *first, unsigned long *out);

  private:
    // New attribute for one CK_ATTRIBUTE entry; `where` names the operation in
    // the memory-failure line.
    static CAttribute *makeAttribute(CK_ATTRIBUTE const *a, char const *where);
};
