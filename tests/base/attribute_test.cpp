#include "base/attribute.h"

#include <cstring>
#include <type_traits>

#include <gtest/gtest.h>

TEST(Attribute, ConstructorsGiveKindSizeAndName)
{
    unsigned char bytes[] = {1, 2, 3};
    struct Case {
        char const *what;
        CAttribute attr;
        unsigned int kind;
        unsigned int size;
    } cases[] = {
        {"empty", CAttribute(), 0, 0},
        {"name only", CAttribute("CKA_LABEL", 0x3), 0, 0},
        {"byte", CAttribute("CKA_TOKEN", 0x1, (unsigned char)1), 1, 1},
        {"ulong", CAttribute("CKA_CLASS", 0x0, 3UL), 2, 8},
        {"text", CAttribute("CKA_LABEL", 0x3, "abc"), 3, 3},
        {"null text", CAttribute("CKA_LABEL", 0x3, (char const *)nullptr), 3, 0},
        {"bytes", CAttribute("CKA_ID", 0x102, bytes, 3), 4, 3},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.attr.GetKind(), c.kind);
        EXPECT_EQ(c.attr.GetSize(), c.size);
        EXPECT_FALSE(c.attr.IsModified());
    }
    EXPECT_STREQ(cases[4].attr.GetName(), "CKA_LABEL");
    EXPECT_EQ(cases[4].attr.GetId(), 0x3u);
    EXPECT_EQ(cases[0].attr.GetName(), nullptr);
}

TEST(Attribute, ModifyText)
{
    CAttribute a;
    ASSERT_TRUE(a.Modify("abc", (unsigned long)-1));
    EXPECT_EQ(a.GetKind(), 3u);
    EXPECT_EQ(a.GetSize(), 3u);
    EXPECT_EQ(static_cast<char const *>(a.GetValue())[3], 0);
    EXPECT_STREQ(a.GetString(), "abc");

    ASSERT_TRUE(a.Modify("abcdef", 2)); // a prefix, still NUL-terminated
    EXPECT_STREQ(a.GetString(), "ab");

    ASSERT_TRUE(a.Modify((char const *)nullptr, 5));
    EXPECT_EQ(a.GetKind(), 3u);
    EXPECT_EQ(a.GetSize(), 0u);
    EXPECT_EQ(a.GetValue(), nullptr);
}

TEST(Attribute, ModifyBytesRejectsInconsistentArguments)
{
    unsigned char v[] = {9, 8};
    CAttribute a("CKA_ID", 0x102, v, 2);
    unsigned char other[] = {1};
    struct Case {
        void const *p;
        unsigned long len;
    } bad[] = {{other, 0}, {nullptr, 5}};
    for (auto const &c : bad) {
        EXPECT_FALSE(a.Modify(c.p, c.len));
        EXPECT_EQ(a.Compare(v, 2), 0) << "old value kept";
        EXPECT_EQ(a.GetKind(), 4u);
    }
    EXPECT_TRUE(a.Modify(static_cast<void const *>(nullptr), 0));
    EXPECT_EQ(a.GetValue(), nullptr);
    EXPECT_EQ(a.GetSize(), 0u);
    EXPECT_EQ(a.GetKind(), 4u);
}

TEST(Attribute, ModifyFromItsOwnValue)
{
    CAttribute a("CKA_LABEL", 0x3, "hello");
    ASSERT_TRUE(a.Modify(static_cast<char const *>(a.GetValue()) + 1, 3));
    EXPECT_STREQ(a.GetString(), "ell");
    ASSERT_TRUE(a.Modify(a.GetValue(), a.GetSize()));
    EXPECT_EQ(a.Compare("ell"), 0);
    EXPECT_EQ(a.GetKind(), 4u);
}

TEST(Attribute, TypedGettersCheckKindAndSize)
{
    unsigned long eight = 0x1122334455667788UL;
    CAttribute byteAttr("b", 1, (unsigned char)0x5A);
    CAttribute longAttr("l", 2, eight);
    CAttribute textAttr("t", 3, "x");
    CAttribute binAttr("v", 4, &eight, sizeof eight); // 8 bytes, but kind 4
    CAttribute noValue("n", 5);

    struct Case {
        char const *what;
        CAttribute const *attr;
        bool isByte, isLong, isText;
    } cases[] = {
        {"byte", &byteAttr, true, false, false},     {"long", &longAttr, false, true, false},
        {"text", &textAttr, false, false, true},     {"binary", &binAttr, false, false, false},
        {"no value", &noValue, false, false, false},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.what);
        bool ok = !c.isByte;
        unsigned char b = c.attr->GetByte(&ok);
        EXPECT_EQ(ok, c.isByte);
        EXPECT_EQ(b, c.isByte ? 0x5A : 0);
        ok = !c.isLong;
        unsigned long l = c.attr->GetLong(&ok);
        EXPECT_EQ(ok, c.isLong);
        EXPECT_EQ(l, c.isLong ? eight : 0);
        ok = !c.isText;
        char const *s = c.attr->GetString(&ok);
        EXPECT_EQ(ok, c.isText);
        EXPECT_EQ(s != nullptr, c.isText);
    }
    EXPECT_EQ(binAttr.GetLong(nullptr), 0u); // ok pointers may be NULL
}

TEST(Attribute, CopyAndAssignKeepTextNulAndFlags)
{
    CAttribute text("CKA_LABEL", 0x3, "label");
    text.SetModified(true);
    char embedded[] = {'a', 'b', 0, 'c'};
    CAttribute withNul;
    withNul.Set("CKA_LABEL", 0x3, "x");
    ASSERT_TRUE(withNul.Modify(static_cast<void const *>(embedded), 4)); // kind 4
    CAttribute embeddedText("CKA_APPLICATION", 0x10, "x");
    ASSERT_TRUE(embeddedText.Modify("ab\0c", 4));

    CAttribute copy(text);
    EXPECT_STREQ(copy.GetName(), "CKA_LABEL");
    EXPECT_EQ(copy.GetId(), 0x3u);
    EXPECT_EQ(copy.GetKind(), 3u);
    EXPECT_EQ(copy.GetSize(), 5u);
    EXPECT_EQ(static_cast<char const *>(copy.GetValue())[5], 0);
    EXPECT_TRUE(copy.IsModified());
    EXPECT_NE(copy.GetValue(), text.GetValue());

    CAttribute assigned;
    assigned = embeddedText; // a text is copied byte for byte, zero bytes and all
    EXPECT_EQ(assigned.GetKind(), 3u);
    EXPECT_EQ(assigned.GetSize(), 4u);
    EXPECT_EQ(assigned.Compare("ab\0c", 4), 0);
    EXPECT_EQ(static_cast<char const *>(assigned.GetValue())[4], 0);
    CAttribute copied(embeddedText);
    EXPECT_EQ(copied.GetSize(), 4u);
    EXPECT_EQ(copied.Compare(embeddedText), 0);

    CAttribute bytes(withNul); // bytes are copied whole
    EXPECT_EQ(bytes.Compare(embedded, 4), 0);

    EXPECT_TRUE(assigned.Set(bytes));
    EXPECT_EQ(assigned.Compare(embedded, 4), 0);
    EXPECT_EQ(assigned.GetKind(), 4u);

    assigned = assigned; // self-assignment keeps everything
    EXPECT_TRUE(assigned.Set(assigned));
    EXPECT_EQ(assigned.Compare(embedded, 4), 0);
}

TEST(Attribute, SetAppliesValueNameAndType)
{
    CAttribute a("old", 1, (unsigned char)1);
    EXPECT_TRUE(a.Set("CKA_CLASS", 0x0, 3UL));
    EXPECT_STREQ(a.GetName(), "CKA_CLASS");
    EXPECT_EQ(a.GetId(), 0u);
    EXPECT_EQ(a.GetLong(), 3u);
    // a failing value leaves name and type alone
    EXPECT_FALSE(a.Set("CKA_ID", 0x102, nullptr, 4));
    EXPECT_STREQ(a.GetName(), "CKA_CLASS");
    EXPECT_EQ(a.GetId(), 0u);
    EXPECT_TRUE(a.SetName(nullptr));
    EXPECT_EQ(a.GetName(), nullptr);
    a.release();
    EXPECT_EQ(a.GetValue(), nullptr);
    EXPECT_EQ(a.GetSize(), 0u);
    EXPECT_EQ(a.GetKind(), 2u); // kind and type stay
}

TEST(Attribute, CompareOrdersAbsentShorterThenBytes)
{
    unsigned char v12[] = {1, 2}, v120[] = {1, 2, 0}, v13[] = {1, 3}, v11[] = {1, 1};
    CAttribute a("v", 4, v12, 2);
    CAttribute empty("e", 4);
    struct Case {
        CAttribute const *attr;
        void const *p;
        unsigned long len;
        int expected;
    } cases[] = {
        {&a, v120, 3, -1}, {&a, v12, 2, 0},     {&a, v13, 2, -1},        {&a, v11, 2, 1},
        {&a, v12, 1, 1},   {&a, nullptr, 0, 1}, {&empty, nullptr, 0, 0}, {&empty, v12, 2, -1},
    };
    for (auto const &c : cases)
        EXPECT_EQ(c.attr->Compare(c.p, c.len), c.expected) << c.len;

    CAttribute one("b", 1, (unsigned char)1);
    EXPECT_EQ(one.Compare((unsigned char)1), 0);
    EXPECT_EQ(one.Compare((unsigned char)2), -1);
    CAttribute num("l", 2, 0x42UL);
    EXPECT_EQ(num.Compare(0x42UL), 0);
    EXPECT_NE(num.Compare(0x43UL), 0);
    CAttribute text("t", 3, "abc");
    EXPECT_EQ(text.Compare("abc"), 0);
    EXPECT_EQ(text.Compare("abcd"), -1);
    EXPECT_EQ(text.Compare((char const *)nullptr), 1);
    CAttribute other("u", 4, "abc", 3);
    EXPECT_EQ(text.Compare(other), 0);
}

TEST(Attribute, CompareName)
{
    CAttribute named("CKA_B", 1), unnamed;
    EXPECT_EQ(unnamed.CompareName(nullptr), 0);
    EXPECT_EQ(named.CompareName(nullptr), 1);
    EXPECT_EQ(unnamed.CompareName("CKA_B"), -1);
    EXPECT_EQ(named.CompareName("CKA_B"), 0);
    EXPECT_LT(named.CompareName("CKA_C"), 0);
    EXPECT_GT(named.CompareName("CKA_A"), 0);
}
