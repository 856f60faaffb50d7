// Root of the PKCS#11 object classes: an attribute bag filled with the complete
// default attribute set of its class at construction, plus an object handle.
// Every write goes through the class's rule function SetAttribute(CK_ATTRIBUTE*,
// P11Operation), which decides by type and operation whether the write is allowed.
#pragma once

#include <p11-kit/pkcs11.h>

#include "base/p11_base.h"

struct _asn_t;
class CP11Template;

// The context in which an attribute is written. 4 and 5 are passed by no caller.
enum P11Operation {
    P11_OP_CREATE = 1,   // creation from a template, and every convenience setter
    P11_OP_COPY = 2,     // C_CopyObject
    P11_OP_GENERATE = 3, // key-pair generation templates
    P11_OP_SET = 6,      // C_SetAttributeValue
    P11_OP_INTERNAL = 7, // the module's own writes (card fill, decoding, companion updates)
};

// The module's own object attributes.
constexpr CK_ATTRIBUTE_TYPE CKA_HIDDEN = 0x80000001UL;     // TRUE keeps a card object unlisted
constexpr CK_ATTRIBUTE_TYPE CKA_USER_ID = 0x80000002UL;    // carried for the token
constexpr CK_ATTRIBUTE_TYPE CKA_USER_FLAGS = 0x80000003UL; // carried for the token

// Operation masks for the rule tables: P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_COPY)...
constexpr unsigned long P11_OPS(P11Operation op)
{
    return 1UL << (unsigned)op;
}
constexpr unsigned long P11_OPS_CREATE_COPY_GENERATE =
    P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_COPY) | P11_OPS(P11_OP_GENERATE);
constexpr unsigned long P11_OPS_CREATE_GENERATE_INTERNAL =
    P11_OPS(P11_OP_CREATE) | P11_OPS(P11_OP_GENERATE) | P11_OPS(P11_OP_INTERNAL);
constexpr unsigned long P11_OPS_ALL = ~0UL; // no operation is refused

// Subclasses that override one SetAttribute or Encode overload bring the others
// back with `using CP11Object::SetAttribute;` / `using CP11Object::Encode;`.
class CP11Object : public CP11Base
{
    friend class CP11Template;

  public:
    // A copy behaves as a plain CP11Object, whatever the source's class.
    CP11Object(CP11Object const &other);
    CP11Object &operator=(CP11Object const &) = delete;
    ~CP11Object() override;

    // Convenience setters: each builds one CK_ATTRIBUTE and applies it with
    // P11_OP_CREATE through the rule function; refusals are thrown.
    bool SetAttribute(unsigned long type, unsigned char v) override;
    bool SetAttribute(unsigned long type, unsigned long v) override;
    // text NULL sets an empty value; length all ones means strlen(text)
    bool SetAttribute(unsigned long type, char const *text, unsigned long length) override;
    bool SetAttribute(unsigned long type, void const *data, unsigned long length) override;

    // The class's attribute rules. Returns true; every refusal is a CP11Exception.
    virtual bool SetAttribute(CK_ATTRIBUTE *attribute, P11Operation operation);
    // Object size for C_GetObjectSize.
    virtual unsigned long GetSize();
    // Consistency check of the assembled object; throws on failure.
    virtual void Verify(P11Operation operation);
    // Storage form of the object, owned by the caller. Classes without one throw
    // CKR_FUNCTION_NOT_SUPPORTED.
    virtual _asn_t *Encode();

    void SetHandle(unsigned long handle) { m_handle = handle; }
    unsigned long GetHandle() const { return m_handle; }

    // One entry of C_GetAttributeValue: pValue NULL asks for the size; sensitive
    // values are refused.
    bool GetAttribute(CK_ATTRIBUTE *attribute);
    // Sum of the value sizes of the listed types the object has.
    unsigned long getSize(unsigned long *types, unsigned long count);

    // Matching: every attribute of the template must be present with a
    // byte-for-byte equal value. An empty or NULL template matches everything.
    bool Compare(CP11Template const *t);
    bool Compare(CK_ATTRIBUTE *t, unsigned long n);
    // True when the object holds a->type with an equal value; throws when the
    // attribute is NULL or the object lacks the type.
    bool CompareAttribute(CK_ATTRIBUTE *a);

    // Storage encoding (bodies live with the storage encoding of objects).
    _asn_t *Encode(unsigned long *types, unsigned long n, unsigned long *excluded, unsigned long m);
    _asn_t *EncodeEx(unsigned long *excluded, unsigned long m);
    _asn_t *Encode(CP11Template *t);
    static long Encode(_asn_t *item, unsigned char *buf, bool release);
    static _asn_t *Decode(unsigned char *data, unsigned long len);
    void Decode(_asn_t *element, bool release);
    void Decode(_asn_t *element, CP11Template &t, bool release);

  protected:
    // Only subclass constructors build objects from scratch.
    CP11Object();

    // Rule-chain helpers for the object classes.
    // Step 1 of every rule function: NULL attribute, or NULL pValue with a length.
    static void checkAttribute(CK_ATTRIBUTE const *attribute);
    // Refuses with CKR_ATTRIBUTE_READ_ONLY when operation is not in the mask.
    static void checkOperation(CK_ATTRIBUTE const *attribute, P11Operation operation,
                               unsigned long allowed);
    // Log name of an attribute type.
    static char const *attributeName(unsigned long type);

    // Typed stores: store the value into the object's existing attribute.
    bool setAttributeBool(CK_ATTRIBUTE *attribute);
    bool setAttributeLong(CK_ATTRIBUTE *attribute);
    bool setAttributeDate(CK_ATTRIBUTE *attribute);
    bool setAttributeBinary(CK_ATTRIBUTE *attribute);
    bool setAttributeString(CK_ATTRIBUTE *attribute);

    // Default attributes for constructors: each appends one new attribute or
    // throws CP11Exception(CKR_HOST_MEMORY).
    void addByteAttribute(char const *name, unsigned long type, unsigned char value);
    void addLongAttribute(char const *name, unsigned long type, unsigned long value);
    void addStringAttribute(char const *name, unsigned long type); // empty text
    void addBinaryAttribute(char const *name, unsigned long type, void const *value = nullptr,
                            unsigned long length = 0);

  private:
    void appendAttribute(CAttribute *attribute, bool ok);
    CAttribute *storeTarget(CK_ATTRIBUTE const *attribute);
    // The held attribute a caller's entry names, for reading and comparing.
    CAttribute *ownAttribute(CK_ATTRIBUTE const *attribute) const;
    void logDifference(CAttribute const *own, void const *value, unsigned long length) const;

    unsigned long m_handle;
};
