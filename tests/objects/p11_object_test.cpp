// Object base classes: default attributes, the rule chain per operation, typed
// stores, attribute reading with sensitivity and the size query, Verify, sizes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/linux/linux_log.h"
#include "base/p11_exception.h"
#include "objects/p11_object.h"
#include "objects/p11_storage_object.h"
#include "objects_test_util.h"

namespace
{

constexpr unsigned long NO_ERROR = 0;

// A key-like class on top of the storage object, enough to exercise the chain
// (a most-derived rule deciding), sensitivity and class-specific copies.
class CTestKey : public CP11StorageObject
{
  public:
    CTestKey()
    {
        addBinaryAttribute("CKA_ID", CKA_ID);
        addBinaryAttribute("CKA_VALUE", CKA_VALUE);
        addByteAttribute("CKA_SENSITIVE", CKA_SENSITIVE, 0);
        addByteAttribute("CKA_EXTRACTABLE", CKA_EXTRACTABLE, 1);
        addBinaryAttribute("CKA_MODULUS", CKA_MODULUS);
        addBinaryAttribute("CKA_PRIVATE_EXPONENT", CKA_PRIVATE_EXPONENT);
        addBinaryAttribute("CKA_START_DATE", CKA_START_DATE);
    }
    CTestKey(CTestKey const &other) : CP11StorageObject(other) {}

    using CP11StorageObject::SetAttribute;
    bool SetAttribute(CK_ATTRIBUTE *a, P11Operation op) override
    {
        checkAttribute(a);
        switch (a->type) {
        case CKA_ID:
        case CKA_VALUE:
        case CKA_MODULUS:
        case CKA_PRIVATE_EXPONENT:
            return setAttributeBinary(a);
        case CKA_SENSITIVE:
        case CKA_EXTRACTABLE:
            return setAttributeBool(a);
        case CKA_START_DATE:
            return setAttributeDate(a);
        case CKA_LABEL: // narrower than the storage object: creation only
            checkOperation(a, op, P11_OPS(P11_OP_CREATE));
            return setAttributeString(a);
        default:
            return CP11StorageObject::SetAttribute(a, op);
        }
    }
};

using objtest::codeOf;

std::string bytesOf(CP11Base &o, unsigned long type)
{
    unsigned long size = 0;
    bool found = false;
    void const *v = o.FindBinaryAttribute(type, &size, &found);
    EXPECT_TRUE(found) << std::hex << type;
    return v != nullptr ? std::string((char const *)v, size) : std::string();
}

// Captures the module log into a file for the duration of a test.
class LogCapture
{
  public:
    LogCapture()
    {
        m_path = std::string(VOK_BINARY_DIR) + "/objects_test_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        std::remove(m_path.c_str());
        hl_openlog(("file:" + m_path).c_str());
    }
    ~LogCapture() { closelog(); }
    std::string Text()
    {
        std::ifstream in(m_path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    std::string m_path;
};

} // namespace

TEST(ObjectDefaults, StorageObjectHasEightAttributesInOrder)
{
    CP11StorageObject o;
    unsigned long count = 0;
    ASSERT_TRUE(o.GetAttributes((unsigned long *)nullptr, &count));
    ASSERT_EQ(count, 8u);
    std::vector<unsigned long> types(count);
    ASSERT_TRUE(o.GetAttributes(types.data(), &count));
    std::vector<unsigned long> expected = {CKA_CLASS, CKA_HIDDEN,  CKA_USER_ID,    CKA_USER_FLAGS,
                                           CKA_TOKEN, CKA_PRIVATE, CKA_MODIFIABLE, CKA_LABEL};
    EXPECT_EQ(types, expected);

    struct Row {
        unsigned long type;
        char const *name;
        unsigned kind;
    } rows[] = {
        {CKA_CLASS, "CKA_CLASS", 2},           {CKA_HIDDEN, "CKA_HIDDEN", 1},
        {CKA_USER_ID, "CKA_USER_ID", 4},       {CKA_USER_FLAGS, "CKA_USER_FLAGS", 2},
        {CKA_TOKEN, "CKA_TOKEN", 1},           {CKA_PRIVATE, "CKA_PRIVATE", 1},
        {CKA_MODIFIABLE, "CKA_MODIFIABLE", 1}, {CKA_LABEL, "CKA_LABEL", 3},
    };
    for (Row const &r : rows) {
        CAttribute *a = o.findAttribute(r.type);
        ASSERT_NE(a, nullptr) << r.name;
        EXPECT_STREQ(a->GetName(), r.name);
        EXPECT_EQ(a->GetKind(), r.kind) << r.name;
    }
    EXPECT_EQ(o.FindLongAttribute(CKA_CLASS), CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(o.FindByteAttribute(CKA_MODIFIABLE), 1);
    EXPECT_EQ(o.FindByteAttribute(CKA_TOKEN), 0);
    EXPECT_EQ(o.FindLongAttribute(CKA_USER_FLAGS), 0u);
    EXPECT_EQ(o.findAttribute(CKA_LABEL)->GetSize(), 0u);
    EXPECT_EQ(o.GetHandle(), 0u);
}

// The rule table of CP11StorageObject and CP11Object, row by row: which
// operation may write which type.
TEST(ObjectRules, StorageObjectOperationTable)
{
    unsigned char yes = 1;
    unsigned long cls = CKO_DATA;
    char label[] = "x";
    unsigned char id[] = {1, 2};
    struct Row {
        unsigned long type;
        void *value;
        unsigned long len;
        int op;
        unsigned long expected;
    } rows[] = {
        {CKA_CLASS, &cls, 8, P11_OP_CREATE, NO_ERROR},
        {CKA_CLASS, &cls, 8, P11_OP_COPY, NO_ERROR},
        {CKA_CLASS, &cls, 8, P11_OP_GENERATE, NO_ERROR},
        {CKA_CLASS, &cls, 8, 4, CKR_ATTRIBUTE_READ_ONLY},
        {CKA_CLASS, &cls, 8, P11_OP_SET, CKR_ATTRIBUTE_READ_ONLY},
        {CKA_CLASS, &cls, 8, P11_OP_INTERNAL, CKR_ATTRIBUTE_READ_ONLY},
        {CKA_HIDDEN, &yes, 1, P11_OP_SET, NO_ERROR},
        {CKA_HIDDEN, &yes, 1, P11_OP_INTERNAL, NO_ERROR},
        {CKA_HIDDEN, &yes, 1, 4, NO_ERROR},
        {CKA_USER_ID, id, 2, P11_OP_SET, NO_ERROR},
        {CKA_USER_FLAGS, &cls, 8, P11_OP_INTERNAL, NO_ERROR},
        {CKA_TOKEN, &yes, 1, P11_OP_CREATE, NO_ERROR},
        {CKA_TOKEN, &yes, 1, P11_OP_COPY, NO_ERROR},
        {CKA_TOKEN, &yes, 1, P11_OP_GENERATE, NO_ERROR},
        {CKA_TOKEN, &yes, 1, P11_OP_INTERNAL, NO_ERROR},
        {CKA_TOKEN, &yes, 1, P11_OP_SET, CKR_ATTRIBUTE_READ_ONLY},
        {CKA_TOKEN, &yes, 1, 4, CKR_ATTRIBUTE_READ_ONLY},
        {CKA_PRIVATE, &yes, 1, P11_OP_SET, CKR_ATTRIBUTE_READ_ONLY},
        {CKA_PRIVATE, &yes, 1, P11_OP_INTERNAL, NO_ERROR},
        {CKA_MODIFIABLE, &yes, 1, P11_OP_SET, CKR_ATTRIBUTE_READ_ONLY},
        {CKA_MODIFIABLE, &yes, 1, P11_OP_COPY, NO_ERROR},
        {CKA_LABEL, label, 1, P11_OP_SET, NO_ERROR},
        {CKA_LABEL, label, 1, P11_OP_INTERNAL, NO_ERROR},
        {CKA_LABEL, label, 1, 5, NO_ERROR},
        // types no class on the chain lists
        {CKA_VALUE, id, 2, P11_OP_CREATE, CKR_ATTRIBUTE_TYPE_INVALID},
        {CKA_ID, id, 2, P11_OP_INTERNAL, CKR_ATTRIBUTE_TYPE_INVALID},
        {0x80000000UL, id, 2, P11_OP_CREATE, CKR_ATTRIBUTE_TYPE_INVALID},
        {0x80000004UL, id, 2, P11_OP_CREATE, CKR_ATTRIBUTE_TYPE_INVALID},
    };
    for (Row const &r : rows) {
        CP11StorageObject o;
        CK_ATTRIBUTE a = {r.type, r.value, r.len};
        EXPECT_EQ(codeOf([&] { o.SetAttribute(&a, (P11Operation)r.op); }), r.expected)
            << std::hex << "type 0x" << r.type << " op " << r.op;

        // the same rows on a plain CP11Object: the storage types are unknown there
        CP11Object root(o);
        bool storageType = r.type == CKA_TOKEN || r.type == CKA_PRIVATE ||
                           r.type == CKA_MODIFIABLE || r.type == CKA_LABEL;
        EXPECT_EQ(codeOf([&] { root.SetAttribute(&a, (P11Operation)r.op); }),
                  storageType ? CKR_ATTRIBUTE_TYPE_INVALID : r.expected)
            << std::hex << "CP11Object type 0x" << r.type << " op " << r.op;
    }
}

TEST(ObjectRules, MostDerivedRuleDecidesAndCopiesKeepTheirClass)
{
    char label[] = "key";
    unsigned char id[] = {0xAA};
    CTestKey key;
    CK_ATTRIBUTE setLabel = {CKA_LABEL, label, 3};
    CK_ATTRIBUTE setId = {CKA_ID, id, 1};

    // the test class narrows CKA_LABEL to creation
    EXPECT_EQ(codeOf([&] { key.SetAttribute(&setLabel, P11_OP_SET); }), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(codeOf([&] { key.SetAttribute(&setLabel, P11_OP_CREATE); }), NO_ERROR);
    EXPECT_EQ(codeOf([&] { key.SetAttribute(&setId, P11_OP_SET); }), NO_ERROR);
    key.SetHandle(0x42);

    // the concrete copy keeps the class's rules
    CTestKey same(key);
    EXPECT_EQ(codeOf([&] { same.SetAttribute(&setLabel, P11_OP_SET); }), CKR_ATTRIBUTE_READ_ONLY);

    // a storage-object copy keeps every attribute and the handle, but only the
    // storage-object rules
    CP11StorageObject plain(key);
    EXPECT_EQ(plain.GetHandle(), 0x42u);
    EXPECT_EQ(bytesOf(plain, CKA_ID), std::string("\xAA", 1));
    EXPECT_EQ(bytesOf(plain, CKA_LABEL), "key");
    EXPECT_EQ(codeOf([&] { plain.SetAttribute(&setId, P11_OP_SET); }), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(codeOf([&] { plain.SetAttribute(&setLabel, P11_OP_SET); }), NO_ERROR);

    // a plain object copy refuses even the storage types
    CP11Object root(key);
    unsigned char yes = 1;
    CK_ATTRIBUTE setToken = {CKA_TOKEN, &yes, 1};
    EXPECT_EQ(codeOf([&] { root.SetAttribute(&setToken, P11_OP_CREATE); }),
              CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(root.GetHandle(), 0x42u);
}

// Value checks at the rule chain and in the typed stores. A refused write
// leaves the old value.
TEST(ObjectRules, ValueChecks)
{
    unsigned char two = 0x02;
    unsigned char pair[2] = {1, 1};
    unsigned long cls = CKO_DATA;
    char abc[] = "abc";
    unsigned char date[8] = {'2', '0', '2', '6', '1', '2', '1', '0'};
    struct Row {
        char const *what;
        unsigned long type;
        void *value;
        unsigned long len;
        unsigned long expected;
        std::string stored; // bytes afterwards
    } rows[] = {
        {"label emptied by (NULL, 0)", CKA_LABEL, nullptr, 0, NO_ERROR, ""},
        {"label emptied by (pointer, 0)", CKA_LABEL, abc, 0, NO_ERROR, ""},
        {"label with NULL and a length", CKA_LABEL, nullptr, 5, CKR_TEMPLATE_INCONSISTENT, "old"},
        {"label text", CKA_LABEL, abc, 3, NO_ERROR, "abc"},
        {"bool of two bytes", CKA_TOKEN, pair, 2, CKR_ATTRIBUTE_VALUE_INVALID, "\x01"},
        {"bool of no bytes", CKA_TOKEN, pair, 0, CKR_ATTRIBUTE_VALUE_INVALID, "\x01"},
        {"bool empty", CKA_TOKEN, nullptr, 0, CKR_ATTRIBUTE_VALUE_INVALID, "\x01"},
        {"bool kept as given", CKA_TOKEN, &two, 1, NO_ERROR, "\x02"},
        {"ulong of four bytes", CKA_CLASS, &cls, 4, CKR_ATTRIBUTE_VALUE_INVALID,
         std::string(8, '\0')},
        {"ulong of no bytes", CKA_CLASS, &cls, 0, CKR_ATTRIBUTE_VALUE_INVALID,
         std::string(8, '\0')},
        {"bytes emptied by (pointer, 0)", CKA_ID, pair, 0, NO_ERROR, ""},
        {"bytes", CKA_ID, pair, 2, NO_ERROR, std::string("\x01\x01", 2)},
        {"bytes with NULL and a length", CKA_ID, nullptr, 2, CKR_TEMPLATE_INCONSISTENT, "old"},
        {"date of eight bytes", CKA_START_DATE, date, 8, NO_ERROR, "20261210"},
        {"date emptied", CKA_START_DATE, nullptr, 0, NO_ERROR, ""},
        {"date of seven bytes", CKA_START_DATE, date, 7, CKR_ATTRIBUTE_VALUE_INVALID, "20261210"},
    };
    for (Row const &r : rows) {
        CTestKey o;
        unsigned long zero = 0;
        char old[] = "old";
        unsigned char one = 1;
        o.SetAttribute(CKA_LABEL, old, 3UL);
        o.SetAttribute(CKA_TOKEN, one);
        o.SetAttribute(CKA_CLASS, zero);
        o.SetAttribute(CKA_ID, (void const *)old, 3);
        o.SetAttribute(CKA_START_DATE, (void const *)date, 8);

        CK_ATTRIBUTE a = {r.type, r.value, r.len};
        EXPECT_EQ(codeOf([&] { o.SetAttribute(&a, P11_OP_CREATE); }), r.expected) << r.what;
        EXPECT_EQ(bytesOf(o, r.type), r.stored) << r.what;
    }

    CP11StorageObject o;
    EXPECT_EQ(codeOf([&] { o.SetAttribute((CK_ATTRIBUTE *)nullptr, P11_OP_CREATE); }),
              CKR_TEMPLATE_INCONSISTENT);
}

TEST(ObjectRules, EmptyValuesAreHeldAlike)
{
    // (pointer, 0) and (NULL, 0) give the same empty attribute: kind kept, no value
    CTestKey a, b;
    char label[] = "";
    a.SetAttribute(CKA_LABEL, label, 0UL);
    b.SetAttribute(CKA_LABEL, (char const *)nullptr, 0UL);
    for (CTestKey *o : {&a, &b}) {
        CAttribute *attr = o->findAttribute(CKA_LABEL);
        EXPECT_EQ(attr->GetKind(), 3u);
        EXPECT_EQ(attr->GetSize(), 0u);
        EXPECT_EQ(attr->GetValue(), nullptr);
    }
}

TEST(ObjectSetters, ConvenienceSettersUseTheCreateRules)
{
    CP11StorageObject o;
    EXPECT_TRUE(o.SetAttribute(CKA_LABEL, "abc", (unsigned long)-1));
    unsigned long len = 0;
    CK_ATTRIBUTE q = {CKA_LABEL, nullptr, 0};
    o.GetAttribute(&q);
    EXPECT_EQ(q.ulValueLen, 3u);
    EXPECT_EQ(o.findAttribute(CKA_LABEL)->GetKind(), 3u);
    EXPECT_EQ(std::memcmp(o.findAttribute(CKA_LABEL)->GetValue(), "abc", 4), 0); // NUL kept

    EXPECT_TRUE(o.SetAttribute(CKA_CLASS, (unsigned long)CKO_DATA));
    EXPECT_EQ(o.FindLongAttribute(CKA_CLASS), CKO_DATA);
    EXPECT_TRUE(o.SetAttribute(CKA_TOKEN, (unsigned char)1));
    EXPECT_TRUE(o.SetAttribute(CKA_USER_ID, (void const *)"\x01\x02", 2));
    EXPECT_EQ(bytesOf(o, CKA_USER_ID), "\x01\x02");
    EXPECT_TRUE(o.SetAttribute(CKA_LABEL, (char const *)nullptr, 7UL));
    EXPECT_EQ(o.findAttribute(CKA_LABEL)->GetSize(), 0u);

    // refusals of the rule function reach the caller
    EXPECT_EQ(codeOf([&] { o.SetAttribute(CKA_VALUE, (void const *)"x", 1); }),
              CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(codeOf([&] { o.SetAttribute(CKA_TOKEN, len); }), CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST(ObjectRules, UnknownTypeIsNamedInTheLog)
{
    LogCapture capture;
    CP11StorageObject o;
    unsigned char v = 1;
    CK_ATTRIBUTE a = {0x80000004UL, &v, 1};
    EXPECT_EQ(codeOf([&] { o.SetAttribute(&a, P11_OP_CREATE); }), CKR_ATTRIBUTE_TYPE_INVALID);
    CK_ATTRIBUTE b = {CKA_CLASS, &v, 1};
    EXPECT_EQ(codeOf([&] { o.SetAttribute(&b, P11_OP_SET); }), CKR_ATTRIBUTE_READ_ONLY);
    std::string text = capture.Text();
    EXPECT_NE(text.find("Unknown or unsupported attribute [ CKA_VENDOR_DEFINED ( 0x80000004 ) ]!"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Attribute [ CKA_CLASS ] can not be modified!"), std::string::npos) << text;
}

TEST(ObjectGetAttribute, SizeQueryShortAndExactBuffers)
{
    CP11StorageObject o;
    o.SetAttribute(CKA_LABEL, "abcd", (unsigned long)-1);
    o.SetAttribute(CKA_CLASS, (unsigned long)CKO_DATA);

    CK_ATTRIBUTE q = {CKA_LABEL, nullptr, 99};
    EXPECT_TRUE(o.GetAttribute(&q));
    EXPECT_EQ(q.ulValueLen, 4u);

    char buf[8] = "zzzzzzz";
    CK_ATTRIBUTE shortBuf = {CKA_LABEL, buf, 3};
    EXPECT_EQ(codeOf([&] { o.GetAttribute(&shortBuf); }), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortBuf.ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_STREQ(buf, "zzzzzzz");

    CK_ATTRIBUTE exact = {CKA_LABEL, buf, 4};
    EXPECT_TRUE(o.GetAttribute(&exact));
    EXPECT_EQ(exact.ulValueLen, 4u);
    EXPECT_EQ(std::string(buf, 5), std::string("abcdz")); // no NUL written

    CK_ATTRIBUTE larger = {CKA_LABEL, buf, sizeof(buf)};
    EXPECT_TRUE(o.GetAttribute(&larger));
    EXPECT_EQ(larger.ulValueLen, 4u);

    unsigned long cls = 99;
    CK_ATTRIBUTE c = {CKA_CLASS, &cls, sizeof(cls)};
    EXPECT_TRUE(o.GetAttribute(&c));
    EXPECT_EQ(cls, CKO_DATA);

    CK_ATTRIBUTE emptyId = {CKA_USER_ID, buf, sizeof(buf)};
    EXPECT_TRUE(o.GetAttribute(&emptyId));
    EXPECT_EQ(emptyId.ulValueLen, 0u);

    CK_ATTRIBUTE missing = {CKA_VALUE, buf, sizeof(buf)};
    EXPECT_EQ(codeOf([&] { o.GetAttribute(&missing); }), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(codeOf([&] { o.GetAttribute(nullptr); }), CKR_TEMPLATE_INCONSISTENT);
}

TEST(ObjectGetAttribute, Sensitivity)
{
    struct Row {
        unsigned long cls;
        unsigned char sensitive;
        unsigned char extractable;
        unsigned long type;
        bool refused;
    } rows[] = {
        {CKO_SECRET_KEY, 0, 1, CKA_VALUE, true}, // always, whatever else it says
        {CKO_DATA, 1, 0, CKA_VALUE, false},
        {CKO_PRIVATE_KEY, 0, 1, CKA_PRIVATE_EXPONENT, false},
        {CKO_PRIVATE_KEY, 1, 1, CKA_PRIVATE_EXPONENT, true},
        {CKO_PRIVATE_KEY, 0, 0, CKA_PRIVATE_EXPONENT, true},
        {CKO_PRIVATE_KEY, 1, 0, CKA_MODULUS, false},
        {CKO_PRIVATE_KEY, 1, 0, CKA_ID, false},
    };
    unsigned char secret[] = {9, 9, 9};
    for (Row const &r : rows) {
        CTestKey k;
        k.SetAttribute(CKA_CLASS, r.cls);
        k.SetAttribute(CKA_SENSITIVE, r.sensitive);
        k.SetAttribute(CKA_EXTRACTABLE, r.extractable);
        k.SetAttribute(r.type, (void const *)secret, sizeof(secret));
        for (bool sizeOnly : {true, false}) {
            unsigned char buf[8] = {0};
            CK_ATTRIBUTE a = {r.type, sizeOnly ? nullptr : buf, sizeof(buf)};
            unsigned long rv = codeOf([&] { k.GetAttribute(&a); });
            EXPECT_EQ(rv, r.refused ? CKR_ATTRIBUTE_SENSITIVE : NO_ERROR)
                << std::hex << r.cls << " " << r.type << " sizeOnly " << sizeOnly;
            if (r.refused) {
                EXPECT_EQ(buf[0], 0);
            }
        }
    }

    // an object without the key attributes keeps private components hidden
    struct Bare : CP11StorageObject {
        Bare() { addBinaryAttribute("CKA_COEFFICIENT", CKA_COEFFICIENT, "\x01", 1); }
    } bare;
    CK_ATTRIBUTE coef = {CKA_COEFFICIENT, nullptr, 0};
    EXPECT_EQ(codeOf([&] { bare.GetAttribute(&coef); }), CKR_ATTRIBUTE_SENSITIVE);
}

TEST(ObjectVerify, ClassMustBeSet)
{
    CP11StorageObject o;
    for (P11Operation op : {P11_OP_CREATE, P11_OP_COPY, P11_OP_GENERATE})
        EXPECT_EQ(codeOf([&] { o.Verify(op); }), CKR_TEMPLATE_INCONSISTENT);
    o.SetAttribute(CKA_CLASS, (unsigned long)CKO_DATA);
    EXPECT_EQ(codeOf([&] { o.Verify(P11_OP_CREATE); }), NO_ERROR);
}

TEST(ObjectSize, CountedAttributesAndArguments)
{
    CP11StorageObject o;
    // CKA_CLASS (8) + TOKEN, PRIVATE, MODIFIABLE (1 each) + empty label
    EXPECT_EQ(o.GetSize(), 11u);
    o.SetAttribute(CKA_LABEL, "abc", (unsigned long)-1);
    o.SetAttribute(CKA_USER_ID, (void const *)"12345", 5); // vendor types never count
    EXPECT_EQ(o.GetSize(), 14u);

    unsigned long types[] = {CKA_LABEL, CKA_VALUE, CKA_TOKEN};
    EXPECT_EQ(o.getSize(types, 3), 4u); // a type the object lacks adds 0
    EXPECT_EQ(o.getSize(nullptr, 0), 0u);
    EXPECT_EQ(codeOf([&] { o.getSize(nullptr, 1); }), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(codeOf([&] { o.getSize(types, 0); }), CKR_ATTRIBUTE_TYPE_INVALID);
}

TEST(ObjectEncode, BaseClassesHaveNoStorageForm)
{
    CP11StorageObject o;
    CP11Object root(o);
    EXPECT_EQ(codeOf([&] { o.Encode(); }), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(codeOf([&] { root.Encode(); }), CKR_FUNCTION_NOT_SUPPORTED);
}
