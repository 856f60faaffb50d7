// Key containers: container attributes, visible members, container elements and
// the container file, reading back into members or templates, and refusals.
#include <gtest/gtest.h>

#include "asn1/asn_item.h"
#include "asn1/asn_nav.h"
#include "objects/p11_container.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_template.h"
#include "objects/p11_x509_certificate.h"
#include "objects_test_util.h"

using namespace objtest;

namespace
{

unsigned long const EXCHANGE = 21;
unsigned long const SIGNATURE = 22;

void write(CP11Object &o, unsigned long type, Bytes const &v, P11Operation op)
{
    CK_ATTRIBUTE a = {type, const_cast<unsigned char *>(v.data()), v.size()};
    o.SetAttribute(&a, op);
}

// The three members of one card key container, as the token fills them.
struct Members {
    CP11X509Certificate cert;
    CP11RSAPublicKey pub;
    CP11RSAPrivateKey priv;

    explicit Members(char const *label)
    {
        for (CP11Object *o : {(CP11Object *)&cert, (CP11Object *)&pub, (CP11Object *)&priv}) {
            write(*o, CKA_TOKEN, Bytes{1}, P11_OP_INTERNAL);
            o->SetAttribute(CKA_LABEL, label, (unsigned long)-1);
            write(*o, CKA_ID, Bytes{0x0A, 0x0B}, P11_OP_INTERNAL);
        }
        write(cert, CKA_VALUE, hex("30 03 02 01 01"), P11_OP_INTERNAL);
        write(pub, CKA_MODULUS, Bytes(128, 0xA5), P11_OP_INTERNAL);
        write(priv, CKA_ALLOWED_MECHANISMS, ulongBytes(CKM_RSA_PKCS), P11_OP_INTERNAL);
        pub.SetAttribute(CKA_HIDDEN, (unsigned char)1);
    }
};

Bytes fileOf(std::initializer_list<_asn_t *> elements)
{
    _asn_t *first = elements.size() > 0 ? *elements.begin() : nullptr;
    _asn_t *second = elements.size() > 1 ? *(elements.begin() + 1) : nullptr;
    return serialise(CP11Container::MergeEncodedContainer(first, second));
}

} // namespace

TEST(Container, Attributes)
{
    CP11Container c(nullptr, nullptr, nullptr);
    EXPECT_EQ(c.FindByteAttribute(CKA_CONTAINER_ID), 0xFF);
    bool found = false;
    EXPECT_EQ(c.FindLongAttribute(CKA_CONTAINER_TYPE, &found), 0u);
    EXPECT_TRUE(found);
    EXPECT_EQ(c.FindStringAttribute(CKA_CONTAINER_LABEL, &found), nullptr);
    EXPECT_TRUE(found);
    EXPECT_EQ(c.FindByteAttribute(CKA_CONTAINER_KEY_NUMBER), 0xFF);
    EXPECT_EQ(c.GetObjectCount(), 0u);
}

TEST(Container, CountsVisibleMembers)
{
    Members m("k");
    m.pub.SetAttribute(CKA_HIDDEN, (unsigned char)0);
    m.cert.SetAttribute(CKA_HIDDEN, (unsigned char)1);
    CP11Container c(&m.pub, &m.priv, &m.cert);
    EXPECT_EQ(c.GetObjectCount(), 2u);
    c.SetCertificate(nullptr);
    c.SetKeyPublic(nullptr);
    EXPECT_EQ(c.GetObjectCount(), 1u);
    EXPECT_EQ(c.GetKeyPrivate(), &m.priv);
}

TEST(Container, MinimalContainerFile)
{
    CP11X509Certificate cert;
    CP11Container c(nullptr, nullptr, &cert);
    c.SetAttribute(CKA_CONTAINER_TYPE, EXCHANGE);
    Bytes file = fileOf({c.Encode(nullptr, nullptr, nullptr)});
    ASSERT_EQ(toHex(file), "30 07 B5 05 A1 03 01 01 FF");

    _asn_t *items = CP11Object::Decode(file.data(), file.size());
    EXPECT_EQ(CP11Container::FindEncodedContainer(items, SIGNATURE), nullptr);
    _asn_t *element = CP11Container::FindEncodedContainer(items, EXCHANGE);
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(element->tag, EXCHANGE);

    CP11X509Certificate loaded;
    loaded.SetAttribute(CKA_HIDDEN, (unsigned char)1);
    CP11Container target(nullptr, nullptr, &loaded);
    target.SetAttribute(CKA_CONTAINER_TYPE, EXCHANGE);
    target.Decode(element, nullptr, nullptr, nullptr, false);
    EXPECT_EQ(loaded.FindByteAttribute(CKA_HIDDEN), 0);
    asn_item_free(items);
}

TEST(Container, SignatureContainerWithOnlyAPrivateKey)
{
    CP11RSAPrivateKey priv;
    CP11Container c(nullptr, &priv, nullptr);
    c.SetAttribute(CKA_CONTAINER_TYPE, SIGNATURE);
    _asn_t *element = c.Encode();
    ASSERT_NE(element, nullptr);
    EXPECT_TRUE(asn_is_current(element, 0x80, 0x20, 22));
    _asn_t *child = asn_get_child(element);
    EXPECT_TRUE(asn_is_current(child, 0x80, 0x20, 3));
    EXPECT_EQ(asn_get_next(child), nullptr);
    asn_item_free(element);
}

// A file with both container types, as the token writes it, reads back into new
// members of each type.
TEST(Container, FileRoundTripIntoMembers)
{
    Members exchange("exchange"), signature("signature");
    CP11Container first(&exchange.pub, &exchange.priv, &exchange.cert);
    CP11Container second(&signature.pub, &signature.priv, &signature.cert);
    first.SetAttribute(CKA_CONTAINER_TYPE, EXCHANGE);
    second.SetAttribute(CKA_CONTAINER_TYPE, SIGNATURE);
    Bytes file = fileOf({first.Encode(), second.Encode()});

    _asn_t *items = CP11Object::Decode(file.data(), file.size());
    for (Members *source : {&exchange, &signature}) {
        SCOPED_TRACE(source == &exchange ? "exchange" : "signature");
        unsigned long type = source == &exchange ? EXCHANGE : SIGNATURE;
        CP11X509Certificate cert;
        CP11RSAPublicKey pub;
        CP11RSAPrivateKey priv;
        CP11Container loaded(&pub, &priv, &cert);
        loaded.SetAttribute(CKA_CONTAINER_TYPE, type);
        loaded.Decode(CP11Container::FindEncodedContainer(items, type), nullptr, nullptr, nullptr,
                      false);
        CP11Object *got[] = {&cert, &pub, &priv};
        CP11Object *want[] = {&source->cert, &source->pub, &source->priv};
        for (int i = 0; i < 3; ++i) {
            EXPECT_STREQ(got[i]->FindStringAttribute(CKA_LABEL),
                         want[i]->FindStringAttribute(CKA_LABEL));
            EXPECT_EQ(valueOf(*got[i], CKA_ID), valueOf(*want[i], CKA_ID));
            EXPECT_EQ(got[i]->FindByteAttribute(CKA_HIDDEN),
                      want[i]->FindByteAttribute(CKA_HIDDEN));
            EXPECT_EQ(got[i]->FindByteAttribute(CKA_TOKEN), 1);
        }
        EXPECT_EQ(valueOf(priv, CKA_ALLOWED_MECHANISMS), ulongBytes(CKM_RSA_PKCS));
        // the card keeps certificate and modulus in files of their own
        EXPECT_TRUE(valueOf(cert, CKA_VALUE).empty());
        EXPECT_TRUE(valueOf(pub, CKA_MODULUS).empty());
    }
    asn_item_free(items);
}

// Keeping the other container of a file: read into templates, write back from
// them, and the element is unchanged while the members keep their own values.
TEST(Container, TemplatesCarryAnElementThroughUnchanged)
{
    Members stored("stored");
    CP11Container original(&stored.pub, &stored.priv, &stored.cert);
    original.SetAttribute(CKA_CONTAINER_TYPE, SIGNATURE);
    Bytes element = serialise(original.Encode());

    Members held("held");
    held.pub.SetAttribute(CKA_HIDDEN, (unsigned char)0);
    held.cert.SetAttribute(CKA_HIDDEN, (unsigned char)1);
    CP11Container c(&held.pub, &held.priv, &held.cert);
    c.SetAttribute(CKA_CONTAINER_TYPE, SIGNATURE);
    CP11Template cert(nullptr, 0), pub(nullptr, 0), priv(nullptr, 0);
    c.Decode(CP11Object::Decode(element.data(), element.size()), &cert, &pub, &priv, true);

    EXPECT_STREQ(held.cert.FindStringAttribute(CKA_LABEL), "held");
    EXPECT_EQ(held.cert.FindByteAttribute(CKA_HIDDEN), 1);
    EXPECT_EQ(held.pub.FindByteAttribute(CKA_HIDDEN), 0);
    EXPECT_EQ(valueOf(cert, CKA_LABEL), (Bytes{'s', 't', 'o', 'r', 'e', 'd'}));
    EXPECT_EQ(valueOf(priv, CKA_ALLOWED_MECHANISMS), ulongBytes(CKM_RSA_PKCS));

    // The members' visibility goes into the re-encoded element: give them the
    // stored flags first, as the token's members of that container carry them.
    held.pub.SetAttribute(CKA_HIDDEN, (unsigned char)1);
    held.cert.SetAttribute(CKA_HIDDEN, (unsigned char)0);
    EXPECT_EQ(toHex(serialise(c.Encode(&cert, &pub, &priv))), toHex(element));
}

TEST(Container, MergeAndFind)
{
    EXPECT_EQ(CP11Container::MergeEncodedContainer(nullptr, nullptr), nullptr);
    _asn_t *e = asn_item_new(0x80, 0x20, 21, nullptr, 0);
    Bytes one = serialise(CP11Container::MergeEncodedContainer(e, nullptr));
    EXPECT_EQ(toHex(one), "30 02 B5 00");

    EXPECT_EQ(CP11Container::FindEncodedContainer(nullptr, EXCHANGE), nullptr);
    Bytes third = hex("30 06 B6 00 B6 00 B5 00");
    _asn_t *items = CP11Object::Decode(third.data(), third.size());
    EXPECT_EQ(CP11Container::FindEncodedContainer(items, EXCHANGE), nullptr);
    EXPECT_NE(CP11Container::FindEncodedContainer(items, SIGNATURE), nullptr);
    asn_item_free(items);
    Bytes notFile = hex("31 02 B5 00");
    items = CP11Object::Decode(notFile.data(), notFile.size());
    EXPECT_EQ(codeOf([&] { CP11Container::FindEncodedContainer(items, EXCHANGE); }),
              CKR_DATA_INVALID);
    asn_item_free(items);
}

TEST(Container, DecodeRefusals)
{
    struct Case {
        char const *name;
        char const *element;
        unsigned long code;
    } const cases[] = {
        {"exchange element for a signature container", "B5 05 A1 03 01 01 FF", CKR_DATA_INVALID},
        {"member tag 4", "B6 05 A4 03 01 01 FF", CKR_DATA_INVALID},
        {"primitive member", "B6 03 81 01 FF", CKR_DATA_INVALID},
        {"member refused by the object", "B6 04 A1 02 05 00", CKR_DATA_INVALID},
        {"empty element", "B6 00", 0},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.name);
        CP11X509Certificate cert;
        CP11Container container(nullptr, nullptr, &cert);
        container.SetAttribute(CKA_CONTAINER_TYPE, SIGNATURE);
        Bytes bytes = hex(c.element);
        // with release the element is freed on failure too
        EXPECT_EQ(codeOf([&] {
                      container.Decode(CP11Object::Decode(bytes.data(), bytes.size()), nullptr,
                                       nullptr, nullptr, true);
                  }),
                  c.code);
    }
    CP11Container none(nullptr, nullptr, nullptr);
    none.Decode(nullptr, nullptr, nullptr, nullptr, true);
}

TEST(Container, HiddenFlagOfAStoredMemberReachesTheMember)
{
    CP11X509Certificate cert;
    CP11Container c(nullptr, nullptr, &cert);
    c.SetAttribute(CKA_CONTAINER_TYPE, EXCHANGE);
    Bytes bytes = hex("B5 05 A1 03 01 01 00");
    c.Decode(CP11Object::Decode(bytes.data(), bytes.size()), nullptr, nullptr, nullptr, true);
    EXPECT_EQ(cert.FindByteAttribute(CKA_HIDDEN), 1);
}
