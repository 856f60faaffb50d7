#ifndef VOK_BASE_P11_BASE_H
#define VOK_BASE_P11_BASE_H

#include "base/attribute.h"
#include "base/list.h"

// Attribute bag of slots, tokens, sessions, objects, templates and containers.
// It owns its attributes. Subclass constructors add their attributes; the
// setters afterwards change only attributes that exist.
class CP11Base
{
  public:
    CP11Base();
    // Deep copy; throws CP11Exception(CKR_HOST_MEMORY) when out of memory.
    CP11Base(CP11Base const &other);
    CP11Base &operator=(CP11Base const &) = delete;
    virtual ~CP11Base();

    virtual bool SetAttribute(unsigned long type, unsigned char v);
    virtual bool SetAttribute(unsigned long type, unsigned long v);
    virtual bool SetAttribute(unsigned long type, char const *s, unsigned long len);
    virtual bool SetAttribute(unsigned long type, void const *p, unsigned long len);

    CAttribute *findAttribute(unsigned long type) const;
    unsigned long FindLongAttribute(unsigned long type, bool *found = nullptr) const;
    unsigned char FindByteAttribute(unsigned long type, bool *found = nullptr) const;
    char const *FindStringAttribute(unsigned long type, bool *found = nullptr) const;
    void const *FindBinaryAttribute(unsigned long type, unsigned long *size,
                                    bool *found = nullptr) const;

    bool GetAttributes(unsigned long *types, unsigned long *count) const;
    bool GetAttributes(char *names, unsigned long *size) const;

    CAttribute *removeAttribute(unsigned long type);
    void releaseAttributes();
    void resetModification();

  protected:
    // Appends an attribute that was made completely (ok, not NULL). When it was
    // not, or the list cannot grow, the attribute is deleted and false returned.
    bool adoptAttribute(CAttribute *attribute, bool ok);

    CList<CAttribute *> m_attributes;
};

#endif
