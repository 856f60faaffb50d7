#ifndef VOK_BASE_ATTRIBUTE_H
#define VOK_BASE_ATTRIBUTE_H

// One named, typed attribute value: the unit of every attribute bag.
class CAttribute
{
  public:
    enum Kind {
        KIND_NONE = 0,
        KIND_BYTE = 1,   // CK_BBOOL, CK_BYTE
        KIND_ULONG = 2,  // CK_ULONG, 8 bytes
        KIND_STRING = 3, // text, NUL kept after the value
        KIND_BINARY = 4  // byte array
    };

    CAttribute();
    CAttribute(char const *name, unsigned long type);
    CAttribute(char const *name, unsigned long type, unsigned char v);
    CAttribute(char const *name, unsigned long type, unsigned long v);
    CAttribute(char const *name, unsigned long type, char const *s);
    CAttribute(char const *name, unsigned long type, void const *p, unsigned long len);
    CAttribute(CAttribute const &other);
    virtual ~CAttribute();

    bool Modify(void const *p, unsigned long len);
    bool Modify(unsigned long v);
    bool Modify(unsigned char v);
    bool Modify(char const *s, unsigned long len);
    bool SetName(char const *name);
    void SetId(unsigned long type) { m_type = type; }
    bool Set(char const *name, unsigned long type, void const *p, unsigned long len);
    bool Set(char const *name, unsigned long type, unsigned long v);
    bool Set(char const *name, unsigned long type, unsigned char v);
    bool Set(char const *name, unsigned long type, char const *s);
    bool Set(CAttribute &other);
    CAttribute &operator=(CAttribute const &other);
    void SetModified(bool modified) { m_modified = modified; }
    void release();
    void init();

    unsigned long GetId() const { return m_type; }
    char const *GetName() const { return m_name; }
    void const *GetValue() const { return m_value; }
    unsigned int GetSize() const { return (unsigned int)m_size; }
    unsigned int GetKind() const { return m_kind; }
    bool IsModified() const { return m_modified; }
    unsigned long GetLong(bool *ok = nullptr) const;
    unsigned char GetByte(bool *ok = nullptr) const;
    char const *GetString(bool *ok = nullptr) const;

    int Compare(void const *p, unsigned long len) const;
    int Compare(CAttribute &other) const;
    int Compare(unsigned long v) const;
    int Compare(unsigned char v) const;
    int Compare(char const *s) const;
    int CompareName(char const *name) const;

  private:
    void copyFrom(CAttribute const &other);

    unsigned int m_kind;
    unsigned long m_type;
    void *m_value;
    unsigned long m_size;
    char *m_name;
    bool m_modified;
};

#endif
