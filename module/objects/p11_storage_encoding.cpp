// Storage form of objects and templates in the card's attribute files.
//
// An object element is [class] { BOOLEAN visible, SET { SEQUENCE { INTEGER type,
// value } ... } }, the value written by the kind of its type: BOOLEAN, INTEGER,
// a SET of INTEGERs for mechanism lists, an OCTET STRING for everything else.
// Every card ever written must stay readable, so the layout is fixed to the byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "asn1/asn_der.h"
#include "asn1/asn_edit.h"
#include "asn1/asn_item.h"
#include "asn1/asn_nav.h"
#include "asn1/asn_value.h"
#include "base/attribute.h"
#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "objects/p11_frame.h"
#include "objects/p11_object.h"
#include "objects/p11_template.h"

using vok_log::decloglevel;
using vok_log::hl_hd;
using vok_log::hl_log;
using vok_log::incloglevel;

namespace
{

[[noreturn]] void raise(unsigned long rv)
{
    throw CP11Exception(rv);
}

// Frees an item chain unless released.
class ItemHolder
{
  public:
    explicit ItemHolder(_asn_t *item = nullptr) : m_item(item) {}
    ~ItemHolder() { asn_item_free(m_item); }
    ItemHolder(ItemHolder const &) = delete;
    ItemHolder &operator=(ItemHolder const &) = delete;
    _asn_t *get() const { return m_item; }
    _asn_t *release()
    {
        _asn_t *item = m_item;
        m_item = nullptr;
        return item;
    }
    void reset(_asn_t *item)
    {
        asn_item_free(m_item);
        m_item = item;
    }

  private:
    _asn_t *m_item;
};

bool isUniversal(_asn_t const *item, uint32_t constructed, uint32_t tag)
{
    return asn_is_current(item, ASN_CLASS_UNIVERSAL, constructed, tag) == 1;
}

// Appends a detached item as the last child of parent; the item is freed when it
// cannot be attached.
void attach(_asn_t *parent, _asn_t *child)
{
    if (child == nullptr)
        raise(CKR_HOST_MEMORY);
    if (asn_item_paste(parent, child, 1, 0) != 1) {
        asn_item_free(child);
        raise(CKR_HOST_MEMORY);
    }
}

// Appends every item of a detached sibling chain to parent, in chain order.
void attachChain(_asn_t *parent, _asn_t *first)
{
    while (first != nullptr) {
        _asn_t *next = first->next;
        if (next != nullptr)
            next->previous = nullptr;
        first->next = nullptr;
        if (asn_item_paste(parent, first, 1, 0) != 1) {
            asn_item_free(first);
            asn_item_free(next);
            raise(CKR_HOST_MEMORY);
        }
        first = next;
    }
}

_asn_t *newConstructed(uint32_t cls, uint32_t tag)
{
    return asn_item_new(cls, ASN_CONSTRUCTED, tag, nullptr, 0);
}

_asn_t *newBoolean(bool value)
{
    unsigned char octet = value ? 0xFF : 0x00;
    return asn_item_new(ASN_CLASS_UNIVERSAL, ASN_PRIMITIVE, ASN_TAG_BOOLEAN, &octet, 1);
}

// INTEGER of the low 32 bits, as a signed number in the fewest octets.
_asn_t *newInteger(unsigned long value)
{
    uint32_t low = (uint32_t)value;
    return asn_encode(ASN_CLASS_UNIVERSAL, ASN_TAG_INTEGER, &low, sizeof(low), asn_v_encode_int32);
}

_asn_t *newOctets(void const *data, unsigned long length)
{
    if (data == nullptr || length == 0)
        return asn_item_new(ASN_CLASS_UNIVERSAL, ASN_PRIMITIVE, ASN_TAG_OCTET_STRING, nullptr, 0);
    if (length > 0x7FFFFFFFUL)
        return nullptr;
    return asn_item_new(ASN_CLASS_UNIVERSAL, ASN_PRIMITIVE, ASN_TAG_OCTET_STRING, data,
                        (uint32_t)length);
}

// Content octets of a primitive, non-empty item read as a signed 32-bit INTEGER.
bool readInt32(_asn_t const *item, int32_t *value)
{
    if (item == nullptr || item->constructed != ASN_PRIMITIVE || item->length <= 0 ||
        item->data == nullptr)
        return false;
    uint32_t size = sizeof(*value);
    return asn_v_decode_int32((unsigned char const *)item->data, (uint32_t)item->length, value,
                              &size) > 0;
}

// A type or mechanism: the 32 bits in the low half of a zeroed value.
unsigned long widen(int32_t v)
{
    return (unsigned long)(uint32_t)v;
}

// A CK_ULONG value. The writer keeps only the low 32 bits, so all ones
// (CK_UNAVAILABLE_INFORMATION, "not set") is stored as -1: give it back whole.
unsigned long widenValue(int32_t v)
{
    return v == -1 ? CK_UNAVAILABLE_INFORMATION : widen(v);
}

// Value item of one attribute, by the kind of its type.
_asn_t *encodeValue(CAttribute const *a, unsigned long type)
{
    switch (CP11Convert::CKA2Type(type)) {
    case CKA_KIND_MECHANISMS: {
        ItemHolder set(newConstructed(ASN_CLASS_UNIVERSAL, ASN_TAG_SET));
        if (set.get() == nullptr)
            raise(CKR_HOST_MEMORY);
        unsigned long count = a->GetSize() / sizeof(unsigned long);
        if (count > 0 && a->GetValue() != nullptr) {
            std::vector<unsigned long> list(count);
            std::memcpy(list.data(), a->GetValue(), count * sizeof(unsigned long));
            attachChain(set.get(),
                        CP11Template::EncodeArray(list.data(), count * sizeof(unsigned long)));
        }
        // An empty list is an empty SET (31 00).
        return set.release();
    }
    case CKA_KIND_ULONG:
        return newInteger(a->GetLong());
    case CKA_KIND_BOOL:
        return newBoolean(a->GetByte() != 0);
    default:
        return newOctets(a->GetValue(), a->GetSize());
    }
}

// SEQUENCE { INTEGER type, value } of one attribute.
_asn_t *encodePair(CAttribute const *a, unsigned long type)
{
    ItemHolder pair(newConstructed(ASN_CLASS_UNIVERSAL, ASN_TAG_SEQUENCE));
    if (pair.get() == nullptr)
        raise(CKR_HOST_MEMORY);
    attach(pair.get(), newInteger(type));

    _asn_t *value = nullptr;
    try {
        value = encodeValue(a, type);
    } catch (CP11Exception const &) {
        value = nullptr;
    }
    if (value == nullptr || asn_item_paste(pair.get(), value, 1, 0) != 1) {
        asn_item_free(value);
        incloglevel();
        hl_hd(HL_ERROR, a->GetValue(), (int)a->GetSize());
        decloglevel();
        raise(CKR_HOST_MEMORY);
    }
    return pair.release();
}

// The element of an object: [class] { BOOLEAN visible }.
_asn_t *newElement(CP11Object const *object)
{
    bool found = false;
    unsigned long cls = object->FindLongAttribute(CKA_CLASS, &found);
    if (!found)
        cls = 0;
    bool hidden = object->FindByteAttribute(CKA_HIDDEN) != 0;
    ItemHolder element(newConstructed(ASN_CLASS_CONTEXT, (uint32_t)cls));
    if (element.get() == nullptr)
        raise(CKR_HOST_MEMORY);
    attach(element.get(), newBoolean(!hidden));
    return element.release();
}

// Checks the element's identifier against the object's class and reads its
// visible flag. Returns the hidden byte.
unsigned char readElementHead(CP11Object const *object, _asn_t const *element)
{
    if (element == nullptr)
        raise(CKR_DATA_INVALID);
    bool found = false;
    unsigned long cls = object->FindLongAttribute(CKA_CLASS, &found);
    if (!found)
        cls = 0;
    if (cls > 0xFFFFFFFFUL ||
        asn_is_current(element, ASN_CLASS_CONTEXT, ASN_CONSTRUCTED, (uint32_t)cls) != 1)
        raise(CKR_DATA_INVALID);
    _asn_t const *flag = asn_get_child(element);
    unsigned char visible = 0;
    if (!isUniversal(flag, ASN_PRIMITIVE, ASN_TAG_BOOLEAN) || flag->length <= 0 ||
        asn_decode(flag, nullptr, asn_v_decode_bool) != 1 ||
        asn_decode(flag, &visible, asn_v_decode_bool) != 1)
        raise(CKR_DATA_INVALID);
    return visible ? 0 : 1;
}

// Type of a stored pair: SEQUENCE { INTEGER (non-empty), ... }.
unsigned long readPairType(_asn_t const *pair)
{
    if (!isUniversal(pair, ASN_CONSTRUCTED, ASN_TAG_SEQUENCE))
        raise(CKR_DATA_INVALID);
    _asn_t const *type = asn_get_child(pair);
    int32_t v = 0;
    if (!isUniversal(type, ASN_PRIMITIVE, ASN_TAG_INTEGER) || !readInt32(type, &v))
        raise(CKR_DATA_INVALID);
    return widen(v);
}

// Decoded value of one stored pair, by the kind of its type.
struct DecodedValue {
    unsigned long kind = 0;
    unsigned char byte = 0;
    unsigned long number = 0;
    std::vector<unsigned long> mechanisms;
    void const *data = nullptr;
    unsigned long length = 0;

    void read(unsigned long type, _asn_t const *value)
    {
        kind = CP11Convert::CKA2Type(type);
        switch (kind) {
        case CKA_KIND_MECHANISMS: {
            if (!isUniversal(value, ASN_CONSTRUCTED, ASN_TAG_SET))
                raise(CKR_DATA_INVALID);
            _asn_t *first = asn_get_child(value);
            unsigned long size = CP11Template::DecodeArray(first, nullptr);
            mechanisms.assign(size / sizeof(unsigned long), 0);
            if (size != 0)
                CP11Template::DecodeArray(first, mechanisms.data());
            data = mechanisms.empty() ? nullptr : mechanisms.data();
            length = size;
            break;
        }
        case CKA_KIND_ULONG: {
            int32_t v = 0;
            if (!readInt32(value, &v))
                raise(CKR_DATA_INVALID);
            number = widenValue(v);
            data = &number;
            length = sizeof(number);
            break;
        }
        case CKA_KIND_BOOL:
            if (value->constructed != ASN_PRIMITIVE || value->length <= 0 || value->data == nullptr)
                raise(CKR_DATA_INVALID);
            byte = *(unsigned char const *)value->data != 0 ? 1 : 0;
            data = &byte;
            length = 1;
            break;
        default:
            if (value->constructed != ASN_PRIMITIVE)
                raise(CKR_DATA_INVALID);
            if (value->length > 0) {
                data = value->data;
                length = (unsigned long)value->length;
            }
            break;
        }
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Writers

_asn_t *CP11Object::Encode(unsigned long *types, unsigned long n, unsigned long *excluded,
                           unsigned long m)
{
    hl_log(HL_ENTER, "CP11Object::Encode(%p,0x%.8lx,%p,0x%.8lx)\n", (void *)types, n,
           (void *)excluded, m);
    ItemHolder element;
    try {
        if ((types == nullptr) != (n == 0))
            raise(CKR_ATTRIBUTE_TYPE_INVALID);
        element.reset(newElement(this));
        ItemHolder set(newConstructed(ASN_CLASS_UNIVERSAL, ASN_TAG_SET));
        if (set.get() == nullptr)
            raise(CKR_HOST_MEMORY);
        for (unsigned long i = 0; i < n; ++i) {
            unsigned long type = types[i];
            if (type == CKA_CLASS || (type & 0x80000000UL) != 0)
                continue;
            bool skip = false;
            if (excluded != nullptr && m > 0)
                for (unsigned long j = 0; j < m && !skip; ++j)
                    skip = excluded[j] == type;
            if (skip)
                continue;
            CAttribute const *a = findAttribute(type);
            if (a == nullptr) {
                hl_log(HL_ERROR, "Attribute [ %s ] not exists!\n", p11_frame::ckaName(type));
                raise(CKR_ATTRIBUTE_TYPE_INVALID);
            }
            attach(set.get(), encodePair(a, type));
        }
        attach(element.get(), set.release());
    } catch (CP11Exception const &e) {
        p11_frame::rethrow("CP11Object::Encode ", e);
    }
    hl_log(HL_LEAVE, "CP11Object::Encode( %p )\n", (void *)element.get());
    return element.release();
}

_asn_t *CP11Object::EncodeEx(unsigned long *excluded, unsigned long m)
{
    hl_log(HL_ENTER, "CP11Object::EncodeEx(%p,0x%.8lx)\n", (void *)excluded, m);
    _asn_t *element = nullptr;
    try {
        unsigned long count = 0;
        std::vector<unsigned long> types;
        if (!GetAttributes((unsigned long *)nullptr, &count))
            raise(CKR_HOST_MEMORY);
        try {
            types.resize(count);
        } catch (std::bad_alloc const &) {
            raise(CKR_HOST_MEMORY);
        }
        if (count != 0 && !GetAttributes(types.data(), &count))
            raise(CKR_HOST_MEMORY);
        element = Encode(count != 0 ? types.data() : nullptr, count, excluded, m);
    } catch (CP11Exception const &e) {
        p11_frame::rethrow("CP11Object::EncodeEx ", e);
    }
    hl_log(HL_LEAVE, "CP11Object::EncodeEx( %p )\n", (void *)element);
    return element;
}

_asn_t *CP11Object::Encode(CP11Template *t)
{
    hl_log(HL_ENTER, "CP11Object::Encode(%p)\n", (void *)t);
    ItemHolder element;
    try {
        element.reset(newElement(this));
        if (t != nullptr)
            attach(element.get(), t->Encode());
    } catch (CP11Exception const &e) {
        p11_frame::rethrow("CP11Object::Encode ", e);
    }
    hl_log(HL_LEAVE, "CP11Object::Encode( %p )\n", (void *)element.get());
    return element.release();
}

long CP11Object::Encode(_asn_t *item, unsigned char *buf, bool release)
{
    if (item == nullptr) {
        hl_log(HL_ERROR, "Bad ASN.1 encoded data (%p,0x%.8lx)\n", (void *)item, 0UL);
        raise(CKR_DATA_INVALID);
    }
    int32_t size = asn_write(item, 1, buf);
    if (buf != nullptr && release)
        asn_item_free(item);
    return size < 0 ? -1L : (long)size;
}

_asn_t *CP11Template::Encode()
{
    hl_log(HL_ENTER, "CP11Template::Encode()\n");
    ItemHolder set(newConstructed(ASN_CLASS_UNIVERSAL, ASN_TAG_SET));
    try {
        if (set.get() == nullptr)
            raise(CKR_HOST_MEMORY);
        for (CAttribute *a : m_attributes) {
            if (a == nullptr)
                continue;
            attach(set.get(), encodePair(a, a->GetId()));
        }
    } catch (CP11Exception const &e) {
        p11_frame::rethrow("CP11Template::Encode", e);
    }
    hl_log(HL_LEAVE, "CP11Template::Encode( %p )\n", (void *)set.get());
    return set.release();
}

_asn_t *CP11Template::EncodeArray(unsigned long *list, unsigned long size)
{
    if (list == nullptr && size == 0)
        return nullptr;
    if (list == nullptr || size == 0)
        raise(CKR_DATA_INVALID);
    unsigned long count = size / sizeof(unsigned long);
    if (count == 0)
        return nullptr;
    ItemHolder first(newInteger(list[0]));
    if (first.get() == nullptr)
        raise(CKR_HOST_MEMORY);
    // Each further entry goes right after the first: A, B, C, D is stored A, D, C, B.
    for (unsigned long i = 1; i < count; ++i) {
        _asn_t *item = newInteger(list[i]);
        if (item == nullptr || asn_item_paste(first.get(), item, 0, 0) != 1) {
            asn_item_free(item);
            raise(CKR_HOST_MEMORY);
        }
    }
    return first.release();
}

// ---------------------------------------------------------------------------
// Readers

_asn_t *CP11Object::Decode(unsigned char *data, unsigned long len)
{
    _asn_t *items = nullptr;
    if (data != nullptr && len != 0 && len <= 0xFFFFFFFFUL)
        items = asn_read(data, (uint32_t)len, nullptr);
    if (items == nullptr) {
        hl_log(HL_ERROR, "Bad ASN.1 encoded data (%p,0x%.8lx)\n", (void *)data, len);
        if (data != nullptr && len != 0) {
            incloglevel();
            hl_hd(HL_ERROR, data, (int)(len > 0x7FFFFFFFUL ? 0x7FFFFFFFUL : len));
            decloglevel();
        }
        raise(CKR_DATA_INVALID);
    }
    return items;
}

void CP11Object::Decode(_asn_t *element, bool release)
{
    hl_log(HL_ENTER, "CP11Object::Decode(%p,%d)\n", (void *)element, release ? 1 : 0);
    // The caller hands the chain over with release: it is freed whatever happens.
    ItemHolder owned(release ? element : nullptr);
    unsigned char hidden = 0;
    try {
        hidden = readElementHead(this, element);
    } catch (CP11Exception const &e) {
        decloglevel();
        throw CP11Exception(e.GetErrorCode());
    }
    try {
        SetAttribute(CKA_HIDDEN, hidden);
        _asn_t const *set = asn_get_next(asn_get_child(element));
        if (set != nullptr) {
            if (!isUniversal(set, ASN_CONSTRUCTED, ASN_TAG_SET))
                raise(CKR_DATA_INVALID);
            // Check every pair before anything changes.
            for (_asn_t const *pair = asn_get_child(set); pair != nullptr; pair = pair->next) {
                unsigned long type = readPairType(pair);
                if (findAttribute(type) == nullptr) {
                    hl_log(HL_ERROR, "Attribute [ %s ] not exists!\n", p11_frame::ckaName(type));
                    raise(CKR_ATTRIBUTE_TYPE_INVALID);
                }
                if (asn_get_next(asn_get_child(pair)) == nullptr)
                    raise(CKR_DATA_INVALID);
            }
            for (_asn_t const *pair = asn_get_child(set); pair != nullptr; pair = pair->next) {
                unsigned long type = readPairType(pair);
                DecodedValue value;
                value.read(type, asn_get_next(asn_get_child(pair)));
                CK_ATTRIBUTE a = {type, const_cast<void *>(value.data), value.length};
                SetAttribute(&a, P11_OP_INTERNAL);
            }
        }
    } catch (CP11Exception const &e) {
        p11_frame::rethrow("CP11Object::Decode ", e);
    } catch (std::bad_alloc const &) {
        p11_frame::rethrow("CP11Object::Decode ", CP11Exception(CKR_HOST_MEMORY));
    }
    hl_log(HL_LEAVE, "CP11Object::Decode( )\n");
}

void CP11Object::Decode(_asn_t *element, CP11Template &t, bool release)
{
    ItemHolder owned(release ? element : nullptr);
    unsigned char hidden = readElementHead(this, element);
    SetAttribute(CKA_HIDDEN, hidden);
    _asn_t *set = asn_get_next(asn_get_child(element));
    if (set != nullptr)
        t.Decode(set);
}

void CP11Template::Decode(_asn_t *set)
{
    hl_log(HL_ENTER, "CP11Template::Decode(%p)\n", (void *)set);
    try {
        Clear();
        if (set != nullptr) {
            if (!isUniversal(set, ASN_CONSTRUCTED, ASN_TAG_SET))
                raise(CKR_DATA_INVALID);
            for (_asn_t const *pair = asn_get_child(set); pair != nullptr; pair = pair->next) {
                unsigned long type = readPairType(pair);
                _asn_t const *item = asn_get_next(asn_get_child(pair));
                if (item == nullptr)
                    continue;
                DecodedValue value;
                value.read(type, item);
                char const *name = CP11Convert::CKA2String(type);
                CAttribute *a = new (std::nothrow) CAttribute();
                bool ok = a != nullptr;
                if (ok) {
                    switch (value.kind) {
                    case CKA_KIND_BOOL:
                        ok = a->Set(name, type, value.byte);
                        break;
                    case CKA_KIND_ULONG:
                        ok = a->Set(name, type, value.number);
                        break;
                    default:
                        ok = a->Set(name, type, value.data, value.length);
                        break;
                    }
                }
                if (!adoptAttribute(a, ok))
                    raise(CKR_HOST_MEMORY);
            }
        }
    } catch (CP11Exception const &e) {
        p11_frame::rethrow("CP11Template::Decode", e);
    } catch (std::bad_alloc const &) {
        p11_frame::rethrow("CP11Template::Decode", CP11Exception(CKR_HOST_MEMORY));
    }
    hl_log(HL_LEAVE, "CP11Template::Decode( )\n");
}

unsigned long CP11Template::DecodeArray(_asn_t *first, unsigned long *out)
{
    unsigned long count = 0;
    for (_asn_t const *item = first; item != nullptr; item = item->next, ++count) {
        if (!isUniversal(item, ASN_PRIMITIVE, ASN_TAG_INTEGER))
            raise(CKR_DATA_INVALID);
        int32_t v = 0;
        if (!readInt32(item, &v)) {
            if (out != nullptr)
                raise(CKR_DATA_INVALID);
            continue;
        }
        if (out != nullptr)
            out[count] = widen(v);
    }
    return count * sizeof(unsigned long);
}
