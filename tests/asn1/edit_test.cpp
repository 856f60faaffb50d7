// Navigation, search and editing of item trees; edited certificates go back to OpenSSL.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "asn1/asn.h"
#include "test_certs.h"
#include "tree_util.h"

using namespace asn1test;

namespace
{

Tree read(const std::string &text)
{
    return read_tree(hex(text));
}

Bytes write_bytes(const _asn_t *item, int whole_list = 1)
{
    return write_der(item, whole_list);
}

std::string write_hex(const _asn_t *item, int whole_list = 1)
{
    return to_hex(write_bytes(item, whole_list));
}

_asn_t *child(_asn_t *item, int n)
{
    _asn_t *c = asn_get_child(item);
    while (c && n-- > 0)
        c = c->next;
    return c;
}

} // namespace

TEST(AsnNav, NavigationAndTests)
{
    Tree t = read("3007 020105 A002 0500");
    ASSERT_TRUE(t);
    _asn_t *seq = t.get();
    _asn_t *integer = asn_get_child(seq);
    _asn_t *tagged = asn_get_next(integer);
    EXPECT_EQ(asn_get_parent(integer), seq);
    EXPECT_EQ(asn_get_previous(tagged), integer);
    EXPECT_EQ(asn_get_child(integer), nullptr) << "primitive";
    EXPECT_EQ(asn_get_next(tagged), nullptr);
    EXPECT_EQ(asn_get_parent(nullptr), nullptr);
    EXPECT_EQ(asn_get_child(nullptr), nullptr);
    EXPECT_EQ(asn_get_next(nullptr), nullptr);
    EXPECT_EQ(asn_get_previous(nullptr), nullptr);
    Tree empty = read("3000");
    EXPECT_EQ(asn_get_child(empty.get()), nullptr);

    using Test = int (*)(const _asn_t *, uint32_t, uint32_t, uint32_t);
    using TestEx = int (*)(const _asn_t *, const char *);
    struct Row {
        const char *name;
        Test test;
        TestEx test_ex;
        const _asn_t *item;
        uint32_t cls, constructed, tag;
        const char *id;
        int expected;
    } rows[] = {
        {"current", asn_is_current, asn_is_current_ex, seq, 0, 0x20, 16, "30", 1},
        {"current wrong constructed", asn_is_current, asn_is_current_ex, seq, 0, 0, 16, "10", 0},
        {"parent", asn_is_parent, asn_is_parent_ex, tagged, 0, 0x20, 16, "30", 1},
        {"parent of root", asn_is_parent, asn_is_parent_ex, seq, 0, 0x20, 16, "30", 0},
        {"child", asn_is_child, asn_is_child_ex, seq, 0, 0, 2, "02", 1},
        {"child of tagged", asn_is_child, asn_is_child_ex, tagged, 0, 0, 5, "05", 1},
        {"child wrong class", asn_is_child, asn_is_child_ex, seq, 0x80, 0, 2, "82", 0},
        {"next", asn_is_next, asn_is_next_ex, integer, 0x80, 0x20, 0, "A0", 1},
        {"next of last", asn_is_next, asn_is_next_ex, tagged, 0x80, 0x20, 0, "A0", 0},
        {"previous", asn_is_previous, asn_is_previous_ex, tagged, 0, 0, 2, "02", 1},
        {"null item", asn_is_current, asn_is_current_ex, nullptr, 0, 0x20, 16, "30", 0},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(r.test(r.item, r.cls, r.constructed, r.tag), r.expected) << r.name;
        EXPECT_EQ(r.test_ex(r.item, r.id), r.expected) << r.name;
    }
    EXPECT_EQ(asn_is_current_ex(seq, "3"), 0);
    EXPECT_EQ(asn_is_current_ex(seq, nullptr), 0);
}

TEST(AsnFind, PreOrderWithIndexAndDescendantsOnly)
{
    // 30 { 02 01, 30 { 02 02, 02 03 }, 02 04 } 02 05
    Tree t = read("300E 020101 3006 020102 020103 020104 020105");
    ASSERT_TRUE(t);
    auto value_of = [](const _asn_t *item) {
        return item ? static_cast<const unsigned char *>(item->data)[0] : 0;
    };
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(value_of(asn_find(t.get(), 0, i, 0, 0, 2)), i + 1) << i;
    EXPECT_EQ(asn_find(t.get(), 0, 5, 0, 0, 2), nullptr);
    // Descendants only: the top-level INTEGER 5 is skipped.
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(value_of(asn_find(t.get(), 1, i, 0, 0, 2)), i + 1) << i;
    EXPECT_EQ(asn_find(t.get(), 1, 4, 0, 0, 2), nullptr);
    EXPECT_EQ(asn_find(t.get(), 0, 0, 0, 0x20, 16), t.get());
    EXPECT_EQ(asn_find(t.get(), 1, 0, 0, 0x20, 16), child(t.get(), 1));
    EXPECT_EQ(asn_find_ex(t.get(), 1, 0, "30"), child(t.get(), 1));
    EXPECT_EQ(asn_find_ex(t.get(), 1, 0, "3x"), nullptr);
    EXPECT_EQ(asn_find(nullptr, 0, 0, 0, 0, 2), nullptr);

    uint32_t countdown = 2;
    EXPECT_EQ(value_of(asn_find_next(t.get(), 0, &countdown, 0, 0, 2)), 3);
}

TEST(AsnFind, OnACertificate)
{
    Bytes der = make_der(full_v3_spec());
    Tree t(asn_read(der.data(), static_cast<uint32_t>(der.size()), nullptr));
    ASSERT_TRUE(t);
    EXPECT_EQ(asn_find(t.get(), 1, 0, 0, 0x20, 16), asn_get_child(t.get())) << "TBSCertificate";
    EXPECT_EQ(asn_find(t.get(), 0, 0, 0, 0x20, 16), t.get());
    _asn_t *version = asn_find_path(t.get(), "30/30/A0");
    ASSERT_NE(version, nullptr);
    EXPECT_TRUE(asn_is_child_ex(version, "02"));
    EXPECT_EQ(asn_find_path(t.get(), "30/30/A0/02"), asn_get_child(version));
    // The second SEQUENCE of the TBS holding a SET is the issuer: found by backtracking
    // past the signature AlgorithmIdentifier.
    _asn_t *issuer = asn_find_path(t.get(), "30/30/30/31");
    ASSERT_NE(issuer, nullptr);
    EXPECT_EQ(issuer->parent, child(asn_get_child(t.get()), 3));
    EXPECT_EQ(asn_find_path(t.get(), "30"), t.get());
    EXPECT_EQ(asn_find_path(t.get(), "31"), nullptr);
    EXPECT_EQ(asn_find_path(t.get(), "30/30/A5"), nullptr);
    EXPECT_EQ(asn_find_path(t.get(), "30//30"), nullptr);
    EXPECT_EQ(asn_find_path(t.get(), "30/3"), nullptr);
    EXPECT_EQ(asn_find_path(t.get(), ""), nullptr);
    EXPECT_EQ(asn_find_path(nullptr, "30"), nullptr);
}

TEST(AsnPaste, KeepsEveryAncestorLength)
{
    // outer SEQUENCE { NULL, inner SEQUENCE {} }
    Tree t = read("3004 0500 3000");
    ASSERT_TRUE(t);
    _asn_t *outer = t.get();
    _asn_t *inner = child(outer, 1);
    int32_t value = 0x1234;
    _asn_t *integer = asn_encode(0, 2, &value, 4, nullptr);
    ASSERT_EQ(integer->length, 2);
    value = 0x123456;
    asn_item_free(integer);
    integer = asn_encode(0, 2, &value, 4, nullptr);
    ASSERT_EQ(integer->length, 3);
    ASSERT_EQ(asn_item_paste(inner, integer, 1, 0), 1);
    EXPECT_EQ(inner->length, 5);
    EXPECT_EQ(outer->length, 4 + 5);
    EXPECT_EQ(integer->parent, inner);
    EXPECT_EQ(write_hex(outer), "3009050030050203123456");

    // A primitive target takes the item as its next sibling even with as_child set.
    _asn_t *null_item = child(outer, 0);
    ASSERT_EQ(asn_item_paste(null_item, asn_item_new(0, 0, 1, "\xFF", 1), 1, 0), 1);
    EXPECT_EQ(write_hex(outer), "300C05000101FF30050203123456");
    EXPECT_EQ(null_item->next->parent, outer);
    EXPECT_EQ(null_item->next->next, inner);
    EXPECT_EQ(inner->previous, null_item->next);
}

TEST(AsnPaste, LengthsGrowTheirLengthOctets)
{
    // 127 content octets in the inner SEQUENCE; one more item crosses to the long form in
    // both levels.
    Bytes filler(123, 0xAB);
    _asn_t *outer = asn_item_new(0, 0x20, 16, nullptr, 0);
    _asn_t *inner = asn_item_new(0, 0x20, 16, nullptr, 0);
    ASSERT_EQ(asn_item_paste(outer, inner, 1, 0), 1);
    ASSERT_EQ(asn_item_paste(inner, asn_item_new(0, 0, 4, filler.data(), 123), 1, 0), 1);
    ASSERT_EQ(asn_item_paste(inner, asn_item_new(0, 0, 5, nullptr, 0), 1, 0), 1);
    EXPECT_EQ(inner->length, 127);
    EXPECT_EQ(outer->length, 129);
    ASSERT_EQ(asn_item_paste(inner, asn_item_new(0, 0, 5, nullptr, 0), 1, 0), 1);
    EXPECT_EQ(inner->length, 129);
    EXPECT_EQ(outer->length, 132);
    Bytes der = write_bytes(outer);
    ASSERT_EQ(der.size(), 135u);
    EXPECT_EQ(to_hex(Bytes(der.begin(), der.begin() + 8)), "308184308181047B");
    Tree back(asn_read(der.data(), static_cast<uint32_t>(der.size()), nullptr));
    ASSERT_TRUE(back);
    EXPECT_EQ(to_hex(write_bytes(back.get())), to_hex(der));
    asn_item_free(outer);
}

TEST(AsnPaste, CopyAndRefusals)
{
    Tree t = read("3000");
    Tree keep = read("3003 020101");
    ASSERT_EQ(asn_item_paste(t.get(), keep.get(), 1, 1), 1);
    EXPECT_EQ(write_hex(t.get()), "30053003020101");
    EXPECT_EQ(keep->parent, nullptr) << "the caller keeps its item";
    EXPECT_NE(asn_get_child(t.get()), keep.get());
    // Changing the copy leaves the original alone.
    static_cast<unsigned char *>(asn_get_child(asn_get_child(t.get()))->data)[0] = 9;
    EXPECT_EQ(write_hex(keep.get()), "3003020101");

    EXPECT_EQ(asn_item_paste(nullptr, keep.get(), 1, 0), -1);
    EXPECT_EQ(asn_item_paste(t.get(), nullptr, 1, 0), -1);
    // Without copy the item must be detached: a linked one would be torn out of its tree.
    _asn_t *linked = asn_get_child(keep.get());
    EXPECT_EQ(asn_item_paste(t.get(), linked, 1, 0), -1);
    EXPECT_EQ(write_hex(keep.get()), "3003020101");
    // An item cannot go inside itself.
    _asn_t *detached = asn_item_new(0, 0x20, 16, nullptr, 0);
    _asn_t *grandchild = asn_item_new(0, 0x20, 17, nullptr, 0);
    ASSERT_EQ(asn_item_paste(detached, grandchild, 1, 0), 1);
    EXPECT_EQ(asn_item_paste(grandchild, detached, 1, 0), -1);
    EXPECT_EQ(asn_item_paste(detached, detached, 1, 0), -1);
    // With copy the same paste is fine: the copy is a new item.
    EXPECT_EQ(asn_item_paste(grandchild, detached, 1, 1), 1);
    EXPECT_EQ(write_hex(detached), "3006310430023100");
    asn_item_free(detached);
}

TEST(AsnCut, ModesAndLinks)
{
    Tree t = read("3009 020101 020102 020103");
    ASSERT_TRUE(t);
    _asn_t *first = child(t.get(), 0);
    _asn_t *middle = child(t.get(), 1);
    _asn_t *last = child(t.get(), 2);

    _asn_t *cut = asn_item_cut(middle, 0);
    ASSERT_EQ(cut, middle);
    EXPECT_EQ(cut->parent, nullptr);
    EXPECT_EQ(cut->next, nullptr);
    EXPECT_EQ(cut->previous, nullptr);
    EXPECT_EQ(first->next, last);
    EXPECT_EQ(last->previous, first);
    EXPECT_EQ(write_hex(t.get()), "3006020101020103");
    asn_item_free(cut);

    _asn_t *copy = asn_item_cut(first, 1); // first is freed
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(write_hex(copy), "020101");
    EXPECT_EQ(copy->parent, nullptr);
    EXPECT_EQ(asn_get_child(t.get()), last);
    EXPECT_EQ(last->previous, nullptr);
    EXPECT_EQ(write_hex(t.get()), "3003020103");
    asn_item_free(copy);

    EXPECT_EQ(asn_item_cut(last, 2), nullptr) << "unknown mode";
    EXPECT_EQ(write_hex(t.get()), "3003020103");
    _asn_t *only = asn_item_cut(last, 0);
    EXPECT_EQ(asn_get_child(t.get()), nullptr);
    EXPECT_EQ(t->length, 0);
    EXPECT_EQ(write_hex(t.get()), "3000");
    asn_item_free(only);
    EXPECT_EQ(asn_item_cut(nullptr, 0), nullptr);

    // Cutting a top-level item from its list.
    Tree list = read("0500 0101FF 0500");
    _asn_t *second = asn_item_cut(list->next, 0);
    EXPECT_EQ(write_hex(list.get()), "05000500");
    EXPECT_EQ(write_hex(second), "0101FF");
    asn_item_free(second);
}

TEST(AsnDelete, UnlinksAndFreesOneItem)
{
    Tree t = read("300A A003 020101 3003 020102");
    ASSERT_TRUE(t);
    EXPECT_EQ(asn_item_delete(child(t.get(), 0)), 1);
    EXPECT_EQ(write_hex(t.get()), "30053003020102");
    EXPECT_EQ(asn_item_delete(asn_get_child(child(t.get(), 0))), 1);
    EXPECT_EQ(write_hex(t.get()), "30023000");
    EXPECT_EQ(asn_item_delete(nullptr), -1);
}

TEST(AsnCopy, DeepCopyOfOneItem)
{
    Tree t = read("3007 A003020101 3000 0500");
    ASSERT_TRUE(t);
    Tree copy(asn_item_copy(t.get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->next, nullptr) << "siblings are not copied";
    EXPECT_EQ(write_hex(copy.get()), "3007A0030201013000");
    _asn_t *tagged = asn_get_child(copy.get());
    EXPECT_EQ(tagged->parent, copy.get());
    EXPECT_EQ(asn_get_child(tagged)->parent, tagged);
    EXPECT_EQ(tagged->next->previous, tagged);
    EXPECT_NE(asn_get_child(tagged)->data, asn_get_child(asn_get_child(t.get()))->data);
    EXPECT_EQ(asn_item_copy(nullptr), nullptr);
}

TEST(AsnCopyData, RequiresTwoMatchingPrimitives)
{
    Tree t = read("300B 0101FF 020101 A003 020102");
    ASSERT_TRUE(t);
    _asn_t *boolean = child(t.get(), 0);
    _asn_t *integer = child(t.get(), 1);
    _asn_t *tagged = child(t.get(), 2);
    const std::string before = write_hex(t.get());

    Tree other_tagged = read("A003020109");
    Tree ctx_int = read("820107");
    struct Row {
        const char *why;
        _asn_t *item;
        const _asn_t *source;
    } refused[] = {
        {"BOOLEAN from INTEGER", boolean, integer},
        {"constructed items of the same tag", tagged, other_tagged.get()},
        {"primitive from constructed", integer, other_tagged.get()},
        {"same tag number, other class", integer, ctx_int.get()},
        {"no source", integer, nullptr},
        {"no item", nullptr, integer},
    };
    for (const Row &r : refused) {
        EXPECT_EQ(asn_item_copy_data(r.item, r.source), -1) << r.why;
        EXPECT_EQ(write_hex(t.get()), before) << r.why;
    }

    Tree longer = read("0203010203");
    EXPECT_EQ(asn_item_copy_data(integer, longer.get()), 3);
    EXPECT_EQ(write_hex(t.get()), "300D0101FF0203010203A003020102");
    // The source may be the item itself.
    EXPECT_EQ(asn_item_copy_data(integer, integer), 3);
    EXPECT_EQ(write_hex(integer, 0), "0203010203");
    // The ancestors of a nested item follow its new length.
    Tree empty = read("0200");
    EXPECT_EQ(asn_item_copy_data(asn_get_child(tagged), empty.get()), 0);
    EXPECT_EQ(write_hex(t.get()), "300C0101FF0203010203A0020200");
}

TEST(AsnEditCertificate, CutExtensionsOpenSslStillParses)
{
    Bytes der = make_der(full_v3_spec());
    X509Ptr original = parse(der);
    ASSERT_TRUE(original);
    int count = X509_get_ext_count(original.get());
    ASSERT_EQ(count, 6);

    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        Tree t(asn_read(der.data(), static_cast<uint32_t>(der.size()), nullptr));
        ASSERT_TRUE(t);
        _asn_t *extensions = asn_get_child(asn_find_path(t.get(), "30/30/A3"));
        ASSERT_TRUE(asn_is_current_ex(extensions, "30"));
        Tree cut(asn_item_cut(child(extensions, 2), mode));
        ASSERT_TRUE(cut);
        Bytes edited = write_bytes(t.get());
        X509Ptr x = parse(edited);
        ASSERT_TRUE(x) << "OpenSSL refuses the edited certificate";
        EXPECT_EQ(X509_get_ext_count(x.get()), count - 1);
        X509_EXTENSION *removed = X509_get_ext(original.get(), 2);
        int n = i2d_X509_EXTENSION(removed, nullptr);
        Bytes removed_der(static_cast<size_t>(n));
        unsigned char *p = removed_der.data();
        i2d_X509_EXTENSION(removed, &p);
        EXPECT_EQ(write_hex(cut.get()), to_hex(removed_der));
        EXPECT_LT(X509_get_ext_by_NID(x.get(), NID_subject_alt_name, -1), 0);
    }
}

TEST(AsnEditCertificate, PastedItemsOpenSslParses)
{
    Bytes der = make_der(full_v3_spec());
    Tree t(asn_read(der.data(), static_cast<uint32_t>(der.size()), nullptr));
    ASSERT_TRUE(t);
    _asn_t *tbs = asn_get_child(t.get());

    // A new extension { 1.2.3.4, OCTET STRING { NULL } } at the end of the list.
    _asn_t *ext = asn_item_new_ex("30", nullptr, 0);
    ASSERT_EQ(asn_item_paste(ext, asn_encode_ex("06", "1.2.3.4", 7, nullptr), 1, 0), 1);
    Bytes null_der = hex("0500");
    ASSERT_EQ(asn_item_paste(ext, asn_item_new_ex("04", null_der.data(), 2), 1, 0), 1);
    ASSERT_EQ(asn_item_paste(asn_get_child(asn_find_path(t.get(), "30/30/A3")), ext, 1, 0), 1);

    // The issuer replaced by a copy of the subject: copy pasted after the issuer, the issuer
    // then deleted.
    _asn_t *issuer = child(tbs, 3);
    _asn_t *subject = child(tbs, 5);
    ASSERT_EQ(asn_item_paste(issuer, subject, 0, 1), 1);
    ASSERT_EQ(asn_item_delete(issuer), 1);

    Bytes edited = write_bytes(t.get());
    X509Ptr x = parse(edited);
    ASSERT_TRUE(x) << "OpenSSL refuses the edited certificate";
    EXPECT_EQ(X509_get_ext_count(x.get()), 7);
    ASN1_OBJECT *oid = OBJ_txt2obj("1.2.3.4", 1);
    int index = X509_get_ext_by_OBJ(x.get(), oid, -1);
    ASN1_OBJECT_free(oid);
    ASSERT_GE(index, 0);
    ASN1_OCTET_STRING *value = X509_EXTENSION_get_data(X509_get_ext(x.get(), index));
    EXPECT_EQ(to_hex(value->data, value->length), "0500");
    EXPECT_EQ(X509_NAME_cmp(X509_get_issuer_name(x.get()), X509_get_subject_name(x.get())), 0);

    // The certificate context reads the edited tree as well.
    _asn_cert_ctx_t *ctx = nullptr;
    ASSERT_EQ(asn_cert_ctx_init(edited.data(), static_cast<uint32_t>(edited.size()), &ctx), 0);
    EXPECT_EQ(asn_cert_ctx_get_attribute(ctx, ASN_CERT_ISSUER, nullptr),
              asn_cert_ctx_get_attribute(ctx, ASN_CERT_SUBJECT, nullptr));
    asn_cert_ctx_final(ctx);
}
