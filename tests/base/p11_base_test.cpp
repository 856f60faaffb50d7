#include "base/p11_base.h"

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <p11-kit/pkcs11.h>

namespace
{

// A bag that adds its attributes the way slot, token and object classes do.
class Bag : public CP11Base
{
  public:
    Bag() {}
    Bag(Bag const &other) : CP11Base(other) {}
    void add(CAttribute *attr) { m_attributes.PushBack(attr); }
    unsigned int count() const { return m_attributes.Count(); }
};

// The five attributes of a small data object.
void fillDataObject(Bag &bag)
{
    unsigned char value[] = {0xDE, 0xAD};
    bag.add(new CAttribute("CKA_CLASS", CKA_CLASS, (unsigned long)CKO_DATA));
    bag.add(new CAttribute("CKA_TOKEN", CKA_TOKEN, (unsigned char)CK_TRUE));
    bag.add(new CAttribute("CKA_LABEL", CKA_LABEL, "label"));
    bag.add(new CAttribute("CKA_VALUE", CKA_VALUE, value, sizeof value));
    bag.add(new CAttribute("CKA_APPLICATION", CKA_APPLICATION));
}

} // namespace

static_assert(!std::is_copy_assignable<CP11Base>::value, "an assignment would share attributes");

TEST(P11Base, SettersChangeOnlyExistingAttributes)
{
    Bag bag;
    EXPECT_FALSE(bag.SetAttribute(CKA_LABEL, "x", (unsigned long)-1));
    EXPECT_EQ(bag.count(), 0u);

    fillDataObject(bag);
    struct Case {
        char const *what;
        bool result;
        CK_ATTRIBUTE_TYPE type;
        bool (*set)(Bag &, CK_ATTRIBUTE_TYPE);
    } cases[] = {
        {"text", true, CKA_LABEL,
         [](Bag &b, CK_ATTRIBUTE_TYPE t) { return b.SetAttribute(t, "new", (unsigned long)-1); }},
        {"byte", true, CKA_TOKEN,
         [](Bag &b, CK_ATTRIBUTE_TYPE t) { return b.SetAttribute(t, (unsigned char)0); }},
        {"ulong", true, CKA_CLASS,
         [](Bag &b, CK_ATTRIBUTE_TYPE t) {
             return b.SetAttribute(t, (unsigned long)CKO_CERTIFICATE);
         }},
        {"bytes", true, CKA_VALUE,
         [](Bag &b, CK_ATTRIBUTE_TYPE t) {
             static unsigned char v[] = {7};
             return b.SetAttribute(t, static_cast<void const *>(v), 1);
         }},
        {"absent type", false, CKA_ID,
         [](Bag &b, CK_ATTRIBUTE_TYPE t) { return b.SetAttribute(t, (unsigned long)1); }},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.set(bag, c.type), c.result);
        CAttribute *attr = bag.findAttribute(c.type);
        EXPECT_EQ(attr != nullptr && attr->IsModified(), c.result);
    }
    EXPECT_EQ(bag.count(), 5u);
    EXPECT_STREQ(bag.FindStringAttribute(CKA_LABEL), "new");
    EXPECT_EQ(bag.FindByteAttribute(CKA_TOKEN), 0);
    EXPECT_EQ(bag.FindLongAttribute(CKA_CLASS), (unsigned long)CKO_CERTIFICATE);

    // a failed change clears the modified flag
    unsigned char id[] = {1, 2, 3};
    EXPECT_FALSE(bag.SetAttribute(CKA_VALUE, static_cast<void const *>(id), 0));
    EXPECT_FALSE(bag.findAttribute(CKA_VALUE)->IsModified());

    bag.resetModification();
    for (CK_ATTRIBUTE_TYPE t : {CKA_LABEL, CKA_TOKEN, CKA_CLASS})
        EXPECT_FALSE(bag.findAttribute(t)->IsModified());
}

TEST(P11Base, FindersCheckPresenceAndKind)
{
    Bag bag;
    fillDataObject(bag);
    bool found = true;

    EXPECT_EQ(bag.FindLongAttribute(CKA_CLASS, &found), (unsigned long)CKO_DATA);
    EXPECT_TRUE(found);
    EXPECT_EQ(bag.FindLongAttribute(CKA_TOKEN, &found), 0u); // a byte, not a CK_ULONG
    EXPECT_FALSE(found);
    EXPECT_EQ(bag.FindByteAttribute(CKA_TOKEN, &found), CK_TRUE);
    EXPECT_TRUE(found);
    EXPECT_EQ(bag.FindByteAttribute(CKA_ID, &found), 0);
    EXPECT_FALSE(found);
    EXPECT_STREQ(bag.FindStringAttribute(CKA_LABEL, &found), "label");
    EXPECT_TRUE(found);
    EXPECT_EQ(bag.FindStringAttribute(CKA_VALUE, &found), nullptr);
    EXPECT_FALSE(found);

    unsigned long size = 99;
    void const *p = bag.FindBinaryAttribute(CKA_VALUE, &size, &found);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(size, 2u);
    EXPECT_TRUE(found);
    EXPECT_EQ(static_cast<unsigned char const *>(p)[0], 0xDE);
    p = bag.FindBinaryAttribute(CKA_LABEL, &size, &found); // any kind
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::memcmp(p, "label", 5), 0);
    size = 99;
    EXPECT_EQ(bag.FindBinaryAttribute(CKA_APPLICATION, &size, &found), nullptr);
    EXPECT_TRUE(found) << "present without value";
    EXPECT_EQ(size, 0u);
    size = 99;
    EXPECT_EQ(bag.FindBinaryAttribute(CKA_ID, &size, &found), nullptr);
    EXPECT_FALSE(found);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(bag.FindBinaryAttribute(CKA_VALUE, nullptr, nullptr),
              bag.findAttribute(CKA_VALUE)->GetValue()); // out pointers may be NULL
}

TEST(P11Base, DuplicateTypesActOnTheFirst)
{
    Bag bag;
    bag.add(new CAttribute("first", CKA_LABEL, "one"));
    bag.add(new CAttribute("second", CKA_LABEL, "two"));
    EXPECT_TRUE(bag.SetAttribute(CKA_LABEL, "changed", (unsigned long)-1));
    EXPECT_STREQ(bag.FindStringAttribute(CKA_LABEL), "changed");
    CAttribute *removed = bag.removeAttribute(CKA_LABEL);
    ASSERT_NE(removed, nullptr);
    EXPECT_STREQ(removed->GetName(), "first");
    delete removed;
    EXPECT_STREQ(bag.FindStringAttribute(CKA_LABEL), "two");
}

TEST(P11Base, RemoveHandsTheAttributeOver)
{
    Bag bag;
    fillDataObject(bag);
    EXPECT_EQ(bag.removeAttribute(CKA_ID), nullptr);
    EXPECT_EQ(bag.count(), 5u);
    CAttribute *label = bag.removeAttribute(CKA_LABEL);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(bag.count(), 4u);
    EXPECT_EQ(bag.findAttribute(CKA_LABEL), nullptr);
    EXPECT_STREQ(label->GetString(), "label"); // still alive, now ours
    delete label;
    bag.releaseAttributes();
    EXPECT_EQ(bag.count(), 0u);
}

TEST(P11Base, TypeListFollowsTheSizeQueryConvention)
{
    Bag bag;
    fillDataObject(bag);
    unsigned long types[8];
    struct Case {
        char const *what;
        bool withTypes;
        unsigned long count;
        bool result;
        unsigned long countAfter;
    } cases[] = {
        {"size query", false, 0, true, 5},
        {"too small", true, 2, false, 5},
        {"exact", true, 5, true, 5},
        {"larger", true, 8, true, 5},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.what);
        unsigned long count = c.count;
        EXPECT_EQ(bag.GetAttributes(c.withTypes ? types : nullptr, &count), c.result);
        EXPECT_EQ(count, c.countAfter);
    }
    unsigned long count = 5;
    ASSERT_TRUE(bag.GetAttributes(types, &count));
    std::vector<unsigned long> got(types, types + count);
    EXPECT_EQ(got, (std::vector<unsigned long>{CKA_CLASS, CKA_TOKEN, CKA_LABEL, CKA_VALUE,
                                               CKA_APPLICATION}));
    EXPECT_FALSE(bag.GetAttributes(types, (unsigned long *)nullptr));
}

TEST(P11Base, NameListIsAMultiString)
{
    Bag bag;
    bag.add(new CAttribute("CKA_CLASS", CKA_CLASS, 0UL));
    bag.add(new CAttribute(nullptr, CKA_TOKEN, (unsigned char)1)); // unnamed: skipped
    bag.add(new CAttribute("", CKA_ID));                           // empty: skipped
    bag.add(new CAttribute("CKA_LABEL", CKA_LABEL, "x"));
    std::string expected("CKA_CLASS\0CKA_LABEL\0\0", 21);

    unsigned long size = 0;
    EXPECT_TRUE(bag.GetAttributes((char *)nullptr, &size));
    EXPECT_EQ(size, expected.size());
    char names[64];
    std::memset(names, 'x', sizeof names);
    size = expected.size() - 1;
    EXPECT_FALSE(bag.GetAttributes(names, &size));
    EXPECT_EQ(size, expected.size());
    EXPECT_EQ(names[0], 'x') << "nothing written into a short buffer";
    size = sizeof names;
    EXPECT_TRUE(bag.GetAttributes(names, &size));
    EXPECT_EQ(size, expected.size());
    EXPECT_EQ(std::string(names, size), expected);
    EXPECT_EQ(names[size], 'x');
    EXPECT_FALSE(bag.GetAttributes(names, (unsigned long *)nullptr));

    Bag unnamed;
    unnamed.add(new CAttribute(nullptr, CKA_TOKEN));
    size = sizeof names;
    EXPECT_TRUE(unnamed.GetAttributes(names, &size));
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(std::string(names, 2), std::string("\0\0", 2));
    Bag empty;
    size = 0;
    EXPECT_TRUE(empty.GetAttributes((char *)nullptr, &size));
    EXPECT_EQ(size, 2u);
}

TEST(P11Base, CopyIsDeepAndIndependent)
{
    Bag source;
    fillDataObject(source);
    source.SetAttribute(CKA_LABEL, "mine", (unsigned long)-1);
    Bag copy(source);
    ASSERT_EQ(copy.count(), 5u);
    unsigned long types[5], count = 5;
    ASSERT_TRUE(copy.GetAttributes(types, &count));
    EXPECT_EQ(types[2], (unsigned long)CKA_LABEL);
    EXPECT_TRUE(copy.findAttribute(CKA_LABEL)->IsModified());
    EXPECT_NE(copy.findAttribute(CKA_LABEL), source.findAttribute(CKA_LABEL));

    EXPECT_TRUE(copy.SetAttribute(CKA_LABEL, "theirs", (unsigned long)-1));
    delete copy.removeAttribute(CKA_VALUE);
    EXPECT_STREQ(source.FindStringAttribute(CKA_LABEL), "mine");
    EXPECT_NE(source.findAttribute(CKA_VALUE), nullptr);
    EXPECT_STREQ(copy.FindStringAttribute(CKA_LABEL), "theirs");
}
