// Attribute templates: the three sources, the kind of each attribute made,
// argument and size checks, repeated types, Merge, ToLong / ToBool.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/p11_exception.h"
#include "objects/p11_storage_object.h"
#include "objects/p11_template.h"
#include "objects_test_util.h"

namespace
{

constexpr unsigned long NO_ERROR = 0;

using objtest::codeOf;
using objtest::typesOf;

} // namespace

TEST(TemplateCopy, ArgumentChecks)
{
    CP11Template empty(nullptr, 0);
    EXPECT_TRUE(typesOf(empty).empty());

    CK_ATTRIBUTE one = {CKA_LABEL, (void *)"a", 1};
    EXPECT_EQ(codeOf([&] { CP11Template t(&one, 0); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(codeOf([&] { CP11Template t((CK_ATTRIBUTE *)nullptr, 2); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(codeOf([&] { empty.Copy(&one, 0); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(codeOf([&] { empty.Merge(&one, 0); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(codeOf([&] { empty.Merge(nullptr, 1); }), CKR_ARGUMENTS_BAD);

    unsigned long types[] = {CKA_LABEL};
    EXPECT_EQ(codeOf([&] { CP11Template t(types, 0); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(codeOf([&] { CP11Template t((unsigned long *)nullptr, 1); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(codeOf([&] { CP11Template t((CP11Object *)nullptr); }), CKR_ARGUMENTS_BAD);
}

// One entry per row: the attribute a template makes of it, or the refusal.
TEST(TemplateCopy, KindOfEachEntry)
{
    unsigned char ff = 0xFF;
    unsigned long cls = CKO_CERTIFICATE;
    unsigned char bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    char abc[] = "abc";
    struct Row {
        char const *what;
        unsigned long type;
        void *value;
        unsigned long len;
        unsigned long expected;
        unsigned kind;
        char const *name;
        std::string stored;
    } rows[] = {
        {"bool of 4 bytes", CKA_TOKEN, bytes, 4, CKR_TEMPLATE_INCONSISTENT, 0, nullptr, ""},
        {"bool without value", CKA_TOKEN, nullptr, 0, CKR_TEMPLATE_INCONSISTENT, 0, nullptr, ""},
        {"bool byte kept", CKA_TOKEN, &ff, 1, NO_ERROR, 1, "CKA_TOKEN", "\xFF"},
        {"ulong of 4 bytes", CKA_CLASS, &cls, 4, CKR_TEMPLATE_INCONSISTENT, 0, nullptr, ""},
        {"ulong", CKA_CLASS, &cls, 8, NO_ERROR, 2, "CKA_CLASS", std::string((char *)&cls, 8)},
        {"text", CKA_LABEL, abc, 3, NO_ERROR, 3, "CKA_LABEL", "abc"},
        {"text NULL", CKA_LABEL, nullptr, 0, NO_ERROR, 3, "CKA_LABEL", ""},
        {"text (pointer, 0)", CKA_LABEL, abc, 0, NO_ERROR, 3, "CKA_LABEL", ""},
        {"date", CKA_START_DATE, bytes, 8, NO_ERROR, 4, "CKA_START_DATE",
         std::string((char *)bytes, 8)},
        {"mechanisms", CKA_ALLOWED_MECHANISMS, bytes, 16, NO_ERROR, 4, "CKA_ALLOWED_MECHANISMS",
         std::string((char *)bytes, 16)},
        {"vendor", 0x80000001UL, bytes, 3, NO_ERROR, 4, "CKA_VENDOR_DEFINED", "\x01\x02\x03"},
        {"bytes (pointer, 0)", CKA_ID, bytes, 0, NO_ERROR, 4, "CKA_ID", ""},
        {"bytes (NULL, 0)", CKA_ID, nullptr, 0, NO_ERROR, 4, "CKA_ID", ""},
        {"bytes with NULL and a length", CKA_ID, nullptr, 3, CKR_TEMPLATE_INCONSISTENT, 0, nullptr,
         ""},
    };
    for (Row const &r : rows) {
        CK_ATTRIBUTE a = {r.type, r.value, r.len};
        CP11Template t(nullptr, 0);
        ASSERT_EQ(codeOf([&] { t.Copy(&a, 1); }), r.expected) << r.what;
        if (r.expected != NO_ERROR) {
            EXPECT_TRUE(typesOf(t).empty()) << r.what;
            continue;
        }
        CAttribute *made = t.findAttribute(r.type);
        ASSERT_NE(made, nullptr) << r.what;
        EXPECT_EQ(made->GetKind(), r.kind) << r.what;
        EXPECT_STREQ(made->GetName(), r.name) << r.what;
        ASSERT_EQ(made->GetSize(), r.stored.size()) << r.what;
        if (!r.stored.empty()) {
            EXPECT_EQ(std::memcmp(made->GetValue(), r.stored.data(), r.stored.size()), 0) << r.what;
        } else {
            EXPECT_EQ(made->GetValue(), nullptr) << r.what;
        }
        if (r.kind == 3 && made->GetValue() != nullptr) {
            EXPECT_EQ(((char const *)made->GetValue())[made->GetSize()], 0) << r.what;
        }
    }
}

TEST(TemplateCopy, RepeatedTypesRefillAndPartialFailure)
{
    unsigned char t1 = 1, t0 = 0;
    unsigned char bad[4] = {0};
    CK_ATTRIBUTE twice[] = {{CKA_TOKEN, &t1, 1}, {CKA_TOKEN, &t0, 1}};
    CP11Template t(twice, 2);
    EXPECT_EQ(typesOf(t), (std::vector<unsigned long>{CKA_TOKEN, CKA_TOKEN}));
    EXPECT_EQ(t.FindByteAttribute(CKA_TOKEN), 1); // the first one is found

    CK_ATTRIBUTE failing[] = {{CKA_LABEL, (void *)"a", 1},
                              {CKA_ID, (void *)"b", 1},
                              {CKA_PRIVATE, bad, 4},
                              {CKA_SUBJECT, (void *)"c", 1}};
    EXPECT_EQ(codeOf([&] { t.Copy(failing, 4); }), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_EQ(typesOf(t), (std::vector<unsigned long>{CKA_LABEL, CKA_ID}));

    t.Clear();
    EXPECT_TRUE(typesOf(t).empty());
}

TEST(TemplateCopy, FromTypesAndFromObject)
{
    unsigned long types[] = {CKA_LABEL, CKA_MODULUS, 0x80001005UL};
    CP11Template names(types, 3);
    EXPECT_EQ(typesOf(names), (std::vector<unsigned long>(types, types + 3)));
    for (unsigned long type : types) {
        CAttribute *a = names.findAttribute(type);
        EXPECT_EQ(a->GetKind(), 0u);
        EXPECT_EQ(a->GetValue(), nullptr);
    }
    EXPECT_STREQ(names.findAttribute(CKA_MODULUS)->GetName(), "CKA_MODULUS");

    CP11StorageObject o;
    o.SetAttribute(CKA_LABEL, "lbl", (unsigned long)-1);
    o.SetAttribute(CKA_CLASS, (unsigned long)CKO_DATA);
    CP11Template copy(&o);
    EXPECT_EQ(typesOf(copy), typesOf(o));
    EXPECT_STREQ(copy.FindStringAttribute(CKA_LABEL), "lbl");
    EXPECT_EQ(copy.FindLongAttribute(CKA_CLASS), CKO_DATA);
    // deep: changing the object leaves the copy alone
    o.SetAttribute(CKA_LABEL, "new", (unsigned long)-1);
    EXPECT_STREQ(copy.FindStringAttribute(CKA_LABEL), "lbl");

    // Copy replaces any earlier content
    copy.Copy(types, 1);
    EXPECT_EQ(typesOf(copy), (std::vector<unsigned long>{CKA_LABEL}));
}

TEST(TemplateMerge, AddsChangesOrKeeps)
{
    CK_ATTRIBUTE start[] = {{CKA_LABEL, (void *)"abc", 3}};
    CP11Template t(start, 1);

    CK_ATTRIBUTE same[] = {{CKA_LABEL, (void *)"abc", 3}};
    EXPECT_FALSE(t.Merge(same, 1));
    EXPECT_EQ(typesOf(t).size(), 1u);

    CK_ATTRIBUTE other[] = {{CKA_LABEL, (void *)"xy", 2}};
    EXPECT_TRUE(t.Merge(other, 1));
    EXPECT_STREQ(t.FindStringAttribute(CKA_LABEL), "xy");

    unsigned char yes = 1;
    CK_ATTRIBUTE added[] = {{CKA_LABEL, (void *)"xy", 2}, {CKA_TOKEN, &yes, 1}};
    EXPECT_TRUE(t.Merge(added, 2));
    EXPECT_EQ(typesOf(t), (std::vector<unsigned long>{CKA_LABEL, CKA_TOKEN}));

    unsigned char bad[2] = {0};
    CK_ATTRIBUTE broken[] = {{CKA_TOKEN, bad, 2}};
    EXPECT_EQ(codeOf([&] { t.Merge(broken, 1); }), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_EQ(t.FindByteAttribute(CKA_TOKEN), 1);
}

TEST(TemplateValues, ToLongAndToBool)
{
    unsigned long v = 0x1122334455667788UL;
    unsigned char b = 0x7F;
    struct Row {
        CK_ATTRIBUTE *a;
        bool isLong;
        unsigned long value;
        bool ok;
    };
    CK_ATTRIBUTE eight = {CKA_CLASS, &v, 8};
    CK_ATTRIBUTE four = {CKA_CLASS, &v, 4};
    CK_ATTRIBUTE noValue = {CKA_CLASS, nullptr, 8};
    CK_ATTRIBUTE one = {CKA_TOKEN, &b, 1};
    CK_ATTRIBUTE two = {CKA_TOKEN, &b, 2};
    Row rows[] = {
        {&eight, true, v, true},    {&four, true, 0, false},   {&noValue, true, 0, false},
        {nullptr, true, 0, false},  {&one, false, 0x7F, true}, {&two, false, 0, false},
        {nullptr, false, 0, false}, {&eight, false, 0, false},
    };
    for (Row const &r : rows) {
        bool ok = !r.ok;
        unsigned long got = r.isLong ? CP11Template::ToLong(r.a, &ok)
                                     : (unsigned long)CP11Template::ToBool(r.a, &ok);
        EXPECT_EQ(got, r.value);
        EXPECT_EQ(ok, r.ok);
    }
    EXPECT_EQ(CP11Template::ToLong(&eight, nullptr), v);
}
