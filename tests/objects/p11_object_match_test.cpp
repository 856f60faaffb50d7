// Object matching: every template attribute present with a byte-equal value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/p11_exception.h"
#include "objects/p11_storage_object.h"
#include "objects/p11_template.h"
#include "objects_test_util.h"

namespace
{

// A certificate-like object: class CKO_CERTIFICATE, token, label "abcd", and a
// second object with an empty label and class CKO_PUBLIC_KEY.
struct Objects {
    CP11StorageObject cert;
    CP11StorageObject key;
    Objects()
    {
        cert.SetAttribute(CKA_CLASS, (unsigned long)CKO_CERTIFICATE);
        cert.SetAttribute(CKA_TOKEN, (unsigned char)1);
        cert.SetAttribute(CKA_LABEL, "abcd", (unsigned long)-1);
        key.SetAttribute(CKA_CLASS, (unsigned long)CKO_PUBLIC_KEY);
    }
};

using objtest::codeOf;

} // namespace

// Each row is a search template with its answer for both objects, checked
// through the template form and the raw array form.
TEST(ObjectMatch, TemplateTable)
{
    unsigned long certClass = CKO_CERTIFICATE;
    unsigned long keyClass = CKO_PUBLIC_KEY;
    unsigned char ff = 0xFF, one = 1, zero = 0;
    char abc[] = "abc", abcd[] = "abcd", empty[] = "";
    unsigned char modulus[] = {0xC0, 0x01};

    struct Row {
        char const *what;
        std::vector<CK_ATTRIBUTE> t;
        bool cert;
        bool key;
    } rows[] = {
        {"class certificate", {{CKA_CLASS, &certClass, 8}}, true, false},
        {"class public key", {{CKA_CLASS, &keyClass, 8}}, false, true},
        {"token 0xFF is not 0x01", {{CKA_TOKEN, &ff, 1}}, false, false},
        {"token 0x01", {{CKA_TOKEN, &one, 1}}, true, false},
        {"token 0x00", {{CKA_TOKEN, &zero, 1}}, false, true},
        {"absent modulus", {{CKA_MODULUS, modulus, 2}}, false, false},
        {"shorter label", {{CKA_LABEL, abc, 3}}, false, false},
        {"equal label", {{CKA_LABEL, abcd, 4}}, true, false},
        {"empty label (NULL)", {{CKA_LABEL, nullptr, 0}}, false, true},
        {"empty label (pointer, 0)", {{CKA_LABEL, empty, 0}}, false, true},
        {"class wrong width", {{CKA_CLASS, &certClass, 4}}, false, false},
        {"all must match", {{CKA_CLASS, &certClass, 8}, {CKA_LABEL, abc, 3}}, false, false},
        {"repeated type, both equal", {{CKA_LABEL, abcd, 4}, {CKA_LABEL, abcd, 4}}, true, false},
        {"repeated type, one differs", {{CKA_LABEL, abcd, 4}, {CKA_LABEL, abc, 3}}, false, false},
        {"length without value", {{CKA_LABEL, nullptr, 4}}, false, false},
    };
    Objects o;
    for (Row &r : rows) {
        CK_ATTRIBUTE *t = r.t.data();
        EXPECT_EQ(o.cert.Compare(t, r.t.size()), r.cert) << r.what;
        EXPECT_EQ(o.key.Compare(t, r.t.size()), r.key) << r.what;
        // raw-array rows only: a template takes a NULL text as empty, and
        // refuses a CK_ULONG of the wrong width
        if (std::string(r.what) == "length without value")
            continue;
        if (std::string(r.what) == "class wrong width") {
            EXPECT_EQ(codeOf([&] { CP11Template tmpl(t, r.t.size()); }), CKR_TEMPLATE_INCONSISTENT);
            continue;
        }
        CP11Template tmpl(t, r.t.size());
        EXPECT_EQ(o.cert.Compare(&tmpl), r.cert) << r.what;
        EXPECT_EQ(o.key.Compare(&tmpl), r.key) << r.what;
    }
}

TEST(ObjectMatch, EmptyTemplates)
{
    Objects o;
    CP11Template empty(nullptr, 0);
    for (CP11StorageObject *obj : {&o.cert, &o.key}) {
        EXPECT_TRUE(obj->Compare(&empty));
        EXPECT_TRUE(obj->Compare((CP11Template const *)nullptr));
        EXPECT_TRUE(obj->Compare((CK_ATTRIBUTE *)nullptr, 0));
    }
    CK_ATTRIBUTE a = {CKA_LABEL, nullptr, 0};
    EXPECT_FALSE(o.cert.Compare(&a, 0));
    EXPECT_FALSE(o.cert.Compare((CK_ATTRIBUTE *)nullptr, 2));
}

TEST(ObjectMatch, CompareAttribute)
{
    Objects o;
    char abcd[] = "abcd", abc[] = "abc";
    CK_ATTRIBUTE equal = {CKA_LABEL, abcd, 4};
    CK_ATTRIBUTE different = {CKA_LABEL, abc, 3};
    CK_ATTRIBUTE absent = {CKA_MODULUS, abc, 3};
    EXPECT_TRUE(o.cert.CompareAttribute(&equal));
    EXPECT_FALSE(o.cert.CompareAttribute(&different));
    EXPECT_EQ(codeOf([&] { o.cert.CompareAttribute(&absent); }), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(codeOf([&] { o.cert.CompareAttribute(nullptr); }), CKR_TEMPLATE_INCONSISTENT);
}
