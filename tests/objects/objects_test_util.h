// Helpers of the object-model tests: hex text, serialised items, attribute values.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "asn1/asn_item.h"
#include "base/p11_exception.h"
#include "objects/p11_object.h"

namespace objtest
{

using Bytes = std::vector<unsigned char>;

// "A0 17 01" -> bytes; blanks are ignored.
inline Bytes hex(std::string const &text)
{
    Bytes out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit((unsigned char)c))
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back((unsigned char)std::stoul(digits.substr(i, 2), nullptr, 16));
    return out;
}

// One DER item with a short-form length around the concatenated parts.
inline Bytes tlv(unsigned char tag, std::initializer_list<Bytes> parts)
{
    Bytes content;
    for (Bytes const &p : parts)
        content.insert(content.end(), p.begin(), p.end());
    Bytes out{tag, (unsigned char)content.size()};
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline std::string toHex(Bytes const &bytes)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof(buf), i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

// DER of an item chain through the module's serialiser; the chain is freed.
inline Bytes serialise(_asn_t *item)
{
    long size = CP11Object::Encode(item, nullptr, false);
    EXPECT_GT(size, 0);
    Bytes out((size_t)(size > 0 ? size : 0));
    EXPECT_EQ(size, CP11Object::Encode(item, out.data(), true));
    return out;
}

// The stored value of an attribute as bytes (empty when absent or empty).
inline Bytes valueOf(CP11Base const &bag, unsigned long type)
{
    unsigned long size = 0;
    auto p = (unsigned char const *)bag.FindBinaryAttribute(type, &size);
    return p != nullptr ? Bytes(p, p + size) : Bytes();
}

inline Bytes ulongBytes(unsigned long v)
{
    auto p = (unsigned char const *)&v;
    return Bytes(p, p + sizeof(v));
}

// The code a call throws, or 0 when it returns.
template <typename F> unsigned long codeOf(F &&f)
{
    try {
        f();
    } catch (CP11Exception const &e) {
        return e.GetErrorCode();
    }
    return 0;
}

// Sets one attribute from bytes (an empty value is passed as NULL); a refusal
// throws.
inline void set(CP11Object &o, unsigned long type, Bytes const &v, P11Operation op = P11_OP_CREATE)
{
    CK_ATTRIBUTE a = {type, v.empty() ? nullptr : const_cast<unsigned char *>(v.data()), v.size()};
    o.SetAttribute(&a, op);
}

// The same, giving the code thrown or 0.
inline unsigned long write(CP11Object &o, unsigned long type, Bytes const &v, P11Operation op)
{
    return codeOf([&] { set(o, type, v, op); });
}

// The types an attribute set holds, in its order.
inline std::vector<unsigned long> typesOf(CP11Base const &b)
{
    unsigned long count = 0;
    b.GetAttributes((unsigned long *)nullptr, &count);
    std::vector<unsigned long> types(count);
    if (count != 0)
        b.GetAttributes(types.data(), &count);
    return types;
}

// One attribute write by a rule table: the object it goes to, what is written
// under which operation, and the code it must give.
struct RuleCase {
    char const *name;
    std::function<std::unique_ptr<CP11Object>()> make;
    unsigned long type;
    Bytes value;
    P11Operation op;
    unsigned long code;
};

// Runs a rule table: each write gives its code, and afterwards the object holds
// the new value on success or still the old one on refusal.
template <size_t N> void checkRules(RuleCase const (&cases)[N])
{
    for (RuleCase const &c : cases) {
        SCOPED_TRACE(c.name);
        auto object = c.make();
        Bytes before = valueOf(*object, c.type);
        unsigned long code = write(*object, c.type, c.value, c.op);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(valueOf(*object, c.type), code == 0 ? c.value : before);
    }
}

// How many attributes an object holds.
inline unsigned long countOf(CP11Object const &o)
{
    unsigned long count = 0;
    o.GetAttributes((unsigned long *)nullptr, &count);
    return count;
}

} // namespace objtest
