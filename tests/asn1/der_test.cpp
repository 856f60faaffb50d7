// Identifier and length octets, whole-tree reading and writing, files and item allocation.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "asn1/asn.h"
#include "test_certs.h"
#include "tree_util.h"

using asn1test::Bytes;
using asn1test::hex;
using asn1test::to_hex;
using asn1test::Tree;

namespace
{

Tree read(const Bytes &b)
{
    return asn1test::read_tree(b);
}

Bytes write(const _asn_t *item, int whole_list)
{
    return asn1test::write_der(item, whole_list);
}

} // namespace

TEST(AsnTag, WriteAndReadBack)
{
    struct Row {
        uint32_t cls, constructed, tag;
        const char *octets;
    } rows[] = {
        {0x00, 0x00, 2, "02"},
        {0x00, 0x20, 16, "30"},
        {0x80, 0x20, 0, "A0"},
        {0xC0, 0x00, 30, "DE"},
        {0x80, 0x00, 31, "9F1F"},
        {0x40, 0x20, 31, "7F1F"},
        {0x80, 0x00, 128, "9F8100"},
        {0x00, 0x00, 0x4000, "1F818000"},
        {0xC0, 0x20, 0xFFFFFFFF, "FF8FFFFFFF7F"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.octets);
        Bytes expected = hex(r.octets);
        unsigned char buf[8] = {};
        ASSERT_EQ(asn_tag_write(r.cls, r.constructed, r.tag, nullptr),
                  static_cast<int32_t>(expected.size()));
        ASSERT_EQ(asn_tag_write(r.cls, r.constructed, r.tag, buf),
                  static_cast<int32_t>(expected.size()));
        EXPECT_EQ(to_hex(buf, expected.size()), to_hex(expected));
        uint32_t cls = 9, constructed = 9, tag = 9;
        EXPECT_EQ(asn_tag_read(expected.data(), static_cast<uint32_t>(expected.size()), &cls,
                               &constructed, &tag),
                  static_cast<int32_t>(expected.size()));
        EXPECT_EQ(cls, r.cls);
        EXPECT_EQ(constructed, r.constructed);
        EXPECT_EQ(tag, r.tag);
    }
    EXPECT_EQ(asn_tag_write(0x10, 0, 1, nullptr), 0) << "class bits outside 7-6";
    EXPECT_EQ(asn_tag_write(0, 1, 1, nullptr), 0) << "constructed value other than 0 or 0x20";
}

TEST(AsnTag, RejectsTruncatedAndOverflowingNumbers)
{
    const char *bad[] = {
        "1F",           // high tag number with no octet after
        "9F81",         // runs past the input
        "1F8080808080", // never ends
        "1F9080808000", // 2^32: does not fit
        "1FFFFFFFFF7F", // far beyond 32 bits
    };
    for (const char *text : bad) {
        Bytes b = hex(text);
        EXPECT_EQ(
            asn_tag_read(b.data(), static_cast<uint32_t>(b.size()), nullptr, nullptr, nullptr), 0)
            << text;
    }
    unsigned char one = 0x02;
    EXPECT_EQ(asn_tag_read(nullptr, 1, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(asn_tag_read(&one, 0, nullptr, nullptr, nullptr), 0);
}

TEST(AsnLength, WriteAndReadBack)
{
    struct Row {
        int32_t length;
        const char *octets;
    } rows[] = {
        {0, "00"},
        {127, "7F"},
        {128, "8180"},
        {255, "81FF"},
        {256, "820100"},
        {65536, "83010000"},
        {0x7FFFFFFF, "847FFFFFFF"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.octets);
        Bytes expected = hex(r.octets);
        unsigned char buf[8] = {};
        ASSERT_EQ(asn_len_write(r.length, nullptr), static_cast<int32_t>(expected.size()));
        ASSERT_EQ(asn_len_write(r.length, buf), static_cast<int32_t>(expected.size()));
        EXPECT_EQ(to_hex(buf, expected.size()), to_hex(expected));
        int32_t length = -5;
        EXPECT_EQ(asn_len_read(expected.data(), static_cast<uint32_t>(expected.size()), &length),
                  static_cast<int32_t>(expected.size()));
        EXPECT_EQ(length, r.length);
    }
    EXPECT_EQ(asn_len_write(-1, nullptr), 0);
}

TEST(AsnLength, ReadsLongFormsAndRefusesHostileOnes)
{
    struct Row {
        const char *octets;
        int32_t used;
        int32_t length;
    } rows[] = {
        {"80", 1, -1},          // indefinite
        {"8105", 2, 5},         // long form of a short length
        {"8400000005", 5, 5},   // four octets with leading zeros
        {"81", 0, 0},           // octets past the input
        {"83FFFF", 0, 0},       // ditto
        {"850000000005", 0, 0}, // more than four octets
        {"8480000000", 0, 0},   // 2^31
        {"84FFFFFFFF", 0, 0},   // 2^32 - 1
        {"", 0, 0},             // nothing
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.octets);
        Bytes b = hex(r.octets);
        int32_t length = 0;
        EXPECT_EQ(
            asn_len_read(b.empty() ? nullptr : b.data(), static_cast<uint32_t>(b.size()), &length),
            r.used);
        if (r.used) {
            EXPECT_EQ(length, r.length);
        }
    }
}

TEST(AsnRead, AcceptedInputsWriteBackUnchanged)
{
    const char *rows[] = {
        "3000",             // empty SEQUENCE
        "0500",             // NULL
        "05000500",         // two top-level items
        "020100",           // INTEGER 0
        "300602010102017F", // SEQUENCE of two INTEGERs
        "A0053003020105",   // nested constructed context item
        "9F81000101",       // high tag number
        "04820100"
        "00000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
        "0000000000000000000000000000000000000000000000000000000000000000000000000000",
    };
    for (const char *text : rows) {
        Bytes in = hex(text);
        SCOPED_TRACE(text);
        Tree t = read(in);
        ASSERT_TRUE(t);
        EXPECT_EQ(to_hex(write(t.get(), 1)), to_hex(in));
    }
}

TEST(AsnRead, LongerFormsThanNeededAreWrittenInShortestForm)
{
    struct Row {
        const char *in, *out;
    } rows[] = {
        {"308104 028101 07", "3003020107"},               // long-form lengths
        {"3004 1F02 0107", "3003020107"},                 // high-tag form of a low number
        {"A0820009 3083000004 9F800100", "A00430028100"}, // both, nested
        {"1F8080800201 07", "020107"},                    // leading zero groups
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.in);
        Tree t = read(hex(r.in));
        ASSERT_TRUE(t);
        Bytes out = write(t.get(), 1);
        EXPECT_EQ(to_hex(out), r.out);
        Tree again = read(out);
        ASSERT_TRUE(again);
        EXPECT_EQ(to_hex(write(again.get(), 1)), r.out);
    }
}

TEST(AsnRead, BuildsLinkedTree)
{
    Tree t = read(hex("3008 0201 01 A003 0401 AA 0500"));
    ASSERT_TRUE(t);
    _asn_t *seq = t.get();
    EXPECT_EQ(seq->tag, 16u);
    EXPECT_EQ(seq->constructed, 0x20u);
    EXPECT_EQ(seq->length, 8);
    _asn_t *integer = static_cast<_asn_t *>(seq->data);
    ASSERT_NE(integer, nullptr);
    EXPECT_EQ(integer->parent, seq);
    EXPECT_EQ(integer->previous, nullptr);
    EXPECT_EQ(integer->flags & ASN_FLAG_OWNS_DATA, ASN_FLAG_OWNS_DATA);
    _asn_t *ctx0 = integer->next;
    ASSERT_NE(ctx0, nullptr);
    EXPECT_EQ(ctx0->previous, integer);
    EXPECT_EQ(ctx0->cls, 0x80u);
    _asn_t *octets = static_cast<_asn_t *>(ctx0->data);
    ASSERT_NE(octets, nullptr);
    EXPECT_EQ(octets->parent, ctx0);
    EXPECT_EQ(static_cast<unsigned char *>(octets->data)[0], 0xAA);
    EXPECT_EQ(seq->next->tag, 5u);
    EXPECT_EQ(seq->next->data, nullptr);

    // Single item and whole list, with and without a buffer.
    EXPECT_EQ(asn_write(seq, 0, nullptr), 10);
    EXPECT_EQ(asn_write(seq, 1, nullptr), 12);
    EXPECT_EQ(write(seq->next, 0).size(), 2u);
    EXPECT_EQ(asn_write(nullptr, 1, nullptr), 0);
}

TEST(AsnRead, ReadsUnderGivenParent)
{
    _asn_t *parent = asn_item_new(0, 0x20, 16, nullptr, 0);
    Bytes b = hex("05000500");
    _asn_t *list = asn_read(b.data(), 4, parent);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->parent, parent);
    EXPECT_EQ(list->next->parent, parent);
    asn_item_free(list);
    asn_item_free(parent);
}

TEST(AsnRead, RefusesMalformedInput)
{
    struct Row {
        const char *why;
        std::string octets;
    } rows[] = {
        {"content missing", "0201"},
        {"content short", "020301"},
        {"child overruns its parent", "300202020000"},
        {"child incomplete inside parent", "30030201"},
        {"indefinite length", "308005000000"},
        {"indefinite primitive", "048001020000"},
        {"length too large", "04847FFFFFFF00"},
        {"length of 2^31", "048480000000"},
        {"five length octets", "04850000000001AA"},
        {"long form past the data", "0482"},
        {"tag number past the data", "1F"},
        {"tag number overflow", "1F90808080000100"},
        {"garbage after an item", "0500FF"},
        {"lone identifier", "30"},
        {"bad child in second sibling", "050030020201"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        Bytes b = hex(r.octets);
        EXPECT_FALSE(read(b));
    }
    unsigned char one = 0;
    EXPECT_EQ(asn_read(nullptr, 2, nullptr), nullptr);
    EXPECT_EQ(asn_read(&one, 0, nullptr), nullptr);
}

TEST(AsnRead, NestingDepthIsCapped)
{
    auto nested = [](int depth) {
        Bytes b;
        // depth constructed items around one NULL, built inside out
        Bytes inner = hex("0500");
        for (int i = 0; i < depth; i++) {
            Bytes outer = {0x30};
            unsigned char len[8];
            int n = asn_len_write(static_cast<int32_t>(inner.size()), len);
            outer.insert(outer.end(), len, len + n);
            outer.insert(outer.end(), inner.begin(), inner.end());
            inner.swap(outer);
        }
        return inner;
    };
    // The NULL sits at level depth + 1.
    Bytes ok = nested(ASN_MAX_DEPTH - 1);
    Tree t = read(ok);
    ASSERT_TRUE(t);
    EXPECT_EQ(to_hex(write(t.get(), 1)), to_hex(ok));
    EXPECT_FALSE(read(nested(ASN_MAX_DEPTH)));
    EXPECT_FALSE(read(nested(5000))) << "deep input must fail, not exhaust the stack";
}

TEST(AsnWrite, RefusesItemsThatWouldGiveCorruptDer)
{
    Tree t = read(hex("30030201050500"));
    ASSERT_TRUE(t);
    _asn_t *seq = t.get();
    seq->length = 4; // no longer the size of the child list
    EXPECT_EQ(asn_write(seq, 0, nullptr), -1);
    seq->length = 3;
    EXPECT_EQ(asn_write(seq, 1, nullptr), 7);

    _asn_t *prim = asn_item_new(0, 0, 4, nullptr, 0);
    prim->length = 3; // claims a value it does not have
    EXPECT_EQ(asn_write(prim, 0, nullptr), -1);
    EXPECT_EQ(asn_write_value(prim, nullptr), -1);
    prim->length = -2;
    EXPECT_EQ(asn_write(prim, 0, nullptr), -1);
    prim->length = 0;
    EXPECT_EQ(asn_write(prim, 0, nullptr), 2);
    asn_item_free(prim);
}

TEST(AsnWrite, WriteValue)
{
    Tree t = read(hex("3004 0402 CAFE"));
    ASSERT_TRUE(t);
    _asn_t *octets = static_cast<_asn_t *>(t->data);
    unsigned char buf[2];
    EXPECT_EQ(asn_write_value(octets, nullptr), 2);
    EXPECT_EQ(asn_write_value(octets, buf), 2);
    EXPECT_EQ(to_hex(buf, 2), "CAFE");
    EXPECT_EQ(asn_write_value(t.get(), buf), -1) << "constructed";
    EXPECT_EQ(asn_write_value(nullptr, buf), -1);
}

TEST(AsnItem, NewAndFreeForms)
{
    const unsigned char value[] = {1, 2, 3, 4, 5};
    _asn_t *p = asn_item_new(0x80, 0, 1, value, 5);
    ASSERT_NE(p, nullptr);
    EXPECT_NE(p->data, static_cast<const void *>(value)) << "a copy is kept";
    EXPECT_EQ(p->flags & ASN_FLAG_OWNS_DATA, ASN_FLAG_OWNS_DATA);
    EXPECT_EQ(to_hex(write(p, 0)), "81050102030405");
    asn_item_free(p);

    EXPECT_EQ(asn_item_new(0x80, 0x20, 1, value, 5), nullptr) << "constructed with data";
    EXPECT_EQ(asn_item_new(0x80, 0, 1, nullptr, 5), nullptr) << "length without data";
    EXPECT_EQ(asn_item_new(0x11, 0, 1, nullptr, 0), nullptr) << "bad class";
    _asn_t *c = asn_item_new(0x80, 0x20, 1, nullptr, 0);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->data, nullptr);
    EXPECT_EQ(to_hex(write(c, 0)), "A100");
    asn_item_free(c);

    _asn_t *e = asn_item_new(0, 0, 4, value, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->data, nullptr);
    EXPECT_EQ(e->length, 0);
    asn_item_free(e);

    _asn_t *x = asn_item_new_ex("9F8100", value, 2);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->cls, 0x80u);
    EXPECT_EQ(x->tag, 128u);
    EXPECT_EQ(to_hex(write(x, 0)), "9F8100020102");
    asn_item_free(x);
    EXPECT_EQ(asn_item_new_ex("3G", nullptr, 0), nullptr);
    asn_item_free(nullptr);
}

TEST(AsnItem, AllocAndFreeData)
{
    _asn_t *p = asn_item_new(0, 0, 4, "ab", 2);
    unsigned char *buf = asn_item_alloc_data(p, 3);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(p->length, 3);
    memcpy(buf, "xyz", 3);
    EXPECT_EQ(to_hex(write(p, 0)), "040378797A");
    EXPECT_EQ(asn_item_alloc_data(p, 0), nullptr);
    EXPECT_EQ(p->length, 0);
    EXPECT_EQ(p->data, nullptr);
    asn_item_free_data(p);
    EXPECT_EQ(p->length, 0);
    asn_item_free(p);

    _asn_t *seq = read(hex("30020500")).release();
    EXPECT_EQ(asn_item_alloc_data(seq, 4), nullptr) << "a constructed item keeps its children";
    asn_item_free_data(seq);
    EXPECT_NE(seq->data, nullptr);
    asn_item_free(seq);
    EXPECT_EQ(asn_item_alloc_data(nullptr, 4), nullptr);
}

TEST(AsnItem, FreeingTheTailOfAListLeavesTheHeadUsable)
{
    Tree t = read(hex("050002010103020000"));
    ASSERT_TRUE(t);
    asn_item_free(t->next);
    EXPECT_EQ(t->next, nullptr);
    EXPECT_EQ(to_hex(write(t.get(), 1)), "0500");
}

TEST(AsnHexToTag, Table)
{
    struct Row {
        const char *text;
        int32_t used;
        uint32_t cls, constructed, tag;
    } rows[] = {
        {"30", 1, 0, 0x20, 16},  {"a0", 1, 0x80, 0x20, 0},
        {" \r\n02", 1, 0, 0, 2}, {"9F 81 00", 3, 0x80, 0, 128},
        {"", 0, 0, 0, 0},        {"3", 0, 0, 0, 0},
        {"3G", 0, 0, 0, 0},      {"30 00", 0, 0, 0, 0}, // two identifiers' worth of octets
        {"1F", 0, 0, 0, 0},      {"\t30", 0, 0, 0, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        uint32_t cls = 7, constructed = 7, tag = 7;
        EXPECT_EQ(asn_hex_to_tag(r.text, &cls, &constructed, &tag), r.used);
        if (r.used) {
            EXPECT_EQ(cls, r.cls);
            EXPECT_EQ(constructed, r.constructed);
            EXPECT_EQ(tag, r.tag);
        }
    }
    EXPECT_EQ(asn_hex_to_tag(nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(AsnFile, WriteThenReadBack)
{
    char dir[] = "/tmp/asn1-file-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/list.der";
    Tree t = read(hex("3003020101 0500"));
    ASSERT_TRUE(t);
    EXPECT_EQ(asn_write_file(t.get(), path.c_str()), 7);
    Tree back(asn_read_file(path.c_str()));
    ASSERT_TRUE(back);
    EXPECT_EQ(to_hex(write(back.get(), 1)), "30030201010500");

    EXPECT_EQ(asn_write_file(nullptr, path.c_str()), 0);
    EXPECT_EQ(asn_write_file(t.get(), nullptr), 0);
    EXPECT_EQ(asn_write_file(t.get(), (std::string(dir) + "/no/such/dir").c_str()), 0);
    EXPECT_EQ(asn_read_file((std::string(dir) + "/missing").c_str()), nullptr);
    EXPECT_EQ(asn_read_file(nullptr), nullptr);

    std::string empty = std::string(dir) + "/empty";
    fclose(fopen(empty.c_str(), "wb"));
    EXPECT_EQ(asn_read_file(empty.c_str()), nullptr);
    std::string bad = std::string(dir) + "/bad";
    FILE *f = fopen(bad.c_str(), "wb");
    fwrite("\x02\x05\x01", 1, 3, f);
    fclose(f);
    EXPECT_EQ(asn_read_file(bad.c_str()), nullptr);
    EXPECT_EQ(asn_read_file(dir), nullptr) << "a directory is not a file";

    unlink(path.c_str());
    unlink(empty.c_str());
    unlink(bad.c_str());
    rmdir(dir);
}
