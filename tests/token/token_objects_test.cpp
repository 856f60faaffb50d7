// The card's objects on the identity-card token in process: key containers with
// their certificates and keys, data objects from the files of "qv_p11", attribute
// reading with its per-entry failures, object sizes and searches.
#include "token_sim_support.h"

#include <ctime>

#include "objects/p11_container.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_x509_certificate.h"

using namespace token_test;

namespace
{

std::vector<std::string> labels(SimToken &sim, CK_SESSION_HANDLE s)
{
    std::vector<std::string> out;
    for (CK_OBJECT_HANDLE h : sim.Find(s))
        out.push_back(sim.Text(s, h, CKA_LABEL));
    return out;
}

} // namespace

TEST(TokenDataObjects, EveryDataFileIsLoadedAndOnlyTheFirstSixteenTakeASlot)
{
    cardsim::Personalisation p;
    p.files = {
        QvP11File("data00", EncodedDataObject("zero", {0}, false)),
        QvP11File("data01", EncodedDataObject("private", {1}, true), true),
        // not an object: dropped, its slot stays taken
        QvP11File("data05", {'n', 'o', 't', ' ', 'D', 'E', 'R'}),
        QvP11File("data16", EncodedDataObject("sixteen", {16}, false)),
        QvP11File("data99", EncodedDataObject("ninety-nine", {99}, false)),
        // not data file names
        QvP11File("data7x", EncodedDataObject("7x", {7}, false)),
        QvP11File("data123", EncodedDataObject("123", {1}, false)),
        QvP11File("cont00", EncodedDataObject("cont", {2}, false)),
    };
    SimToken sim(p);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE s = sim.Open();
    EXPECT_EQ(labels(sim, s), (std::vector<std::string>{"zero", "sixteen", "ninety-nine"}));
    EXPECT_EQ(sim.token->DataObjects().Count(), 4u) << "the private one waits for a login";
    for (unsigned n = 0; n < CP11Token_eiD::DATA_SLOTS; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(sim.token->DataSlot(n), n == 0 || n == 1 || n == 5 ? n : 0xFF);
    }
}

TEST(TokenDataObjects, AttributeEntriesFailOneByOne)
{
    cardsim::Personalisation p;
    p.files = {QvP11File("data00", EncodedDataObject("a label", {9, 8, 7}, false))};
    SimToken sim(p);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE s = sim.Open();
    std::vector<CK_OBJECT_HANDLE> found = sim.Find(s);
    ASSERT_EQ(found.size(), 1u);
    CK_OBJECT_HANDLE object = found[0];

    EXPECT_EQ(sim.Ulong(s, object, CKA_CLASS), (CK_ULONG)CKO_DATA);
    EXPECT_EQ(sim.Attribute(s, object, CKA_TOKEN), (Bytes{1}));
    EXPECT_EQ(sim.Attribute(s, object, CKA_VALUE), (Bytes{9, 8, 7}));

    char small[2];
    CK_OBJECT_CLASS cls = 0;
    unsigned char hidden = 0xAA;
    CK_ATTRIBUTE templ[] = {{CKA_LABEL, small, sizeof(small)},
                            {CKA_CLASS, &cls, sizeof(cls)},
                            {CKA_HIDDEN, &hidden, sizeof(hidden)},
                            {CKA_MODULUS, nullptr, 0}};
    EXPECT_EQ(Rv([&] { sim.token->GetAttributeValue(s, object, templ, 4); }), CKR_BUFFER_TOO_SMALL)
        << "the first failure is the result";
    EXPECT_EQ(templ[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(cls, (CK_OBJECT_CLASS)CKO_DATA) << "the entries after a failure are answered";
    EXPECT_EQ(templ[1].ulValueLen, sizeof(cls));
    EXPECT_EQ(templ[2].ulValueLen, CK_UNAVAILABLE_INFORMATION) << "the object's own marks";
    EXPECT_EQ(hidden, 0xAA);
    EXPECT_EQ(templ[3].ulValueLen, CK_UNAVAILABLE_INFORMATION);

    // handle 0 is the token: an object attribute there touches nothing
    CK_ATTRIBUTE label = {CKA_LABEL, small, sizeof(small)};
    EXPECT_EQ(Rv([&] { sim.token->GetAttributeValue(s, 0, &label, 1); }),
              CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(label.ulValueLen, sizeof(small));

    struct Row {
        CK_SESSION_HANDLE session;
        CK_OBJECT_HANDLE object;
        CK_ATTRIBUTE *templ;
        CK_RV rv;
    };
    Row const rows[] = {
        {s, object, nullptr, CKR_ARGUMENTS_BAD},
        {s + 7, object, &label, CKR_SESSION_HANDLE_INVALID},
        {s, object + 100, &label, CKR_OBJECT_HANDLE_INVALID},
        {s, 0x80000001, &label, CKR_OBJECT_HANDLE_INVALID},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.object);
        EXPECT_EQ(Rv([&] { sim.token->GetAttributeValue(row.session, row.object, row.templ, 1); }),
                  row.rv);
    }

    CK_ULONG size = 1;
    sim.token->GetObjectSize(s, object, &size);
    EXPECT_GT(size, 3u);
    EXPECT_EQ(Rv([&] { sim.token->GetObjectSize(s, object, nullptr); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Rv([&] { sim.token->GetObjectSize(s, object + 100, &size); }),
              CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(size, 0u);
}

TEST(TokenDataObjects, SessionObjectsAreSeenByEverySessionOfTheToken)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE a = sim.Open(), b = sim.Open();
    CP11DataObject object;
    object.SetAttribute(CKA_LABEL, "session", ~0UL);
    CK_OBJECT_HANDLE handle = 0;
    sim.token->GetSession(a)->PushObject(&object, &handle);
    EXPECT_EQ(sim.Text(b, handle, CKA_LABEL), "session");
    EXPECT_EQ(sim.Find(b), (std::vector<CK_OBJECT_HANDLE>{handle}));
}

namespace
{

// A card key container of the personalisation.
cardsim::ContainerSpec Container(std::string const &name, int signatureBits, int exchangeBits,
                                 bool exchangePublicOnly = false, bool expired = false)
{
    cardsim::ContainerSpec c;
    c.name = name;
    c.keys[0].bits = signatureBits;
    c.keys[1].bits = exchangeBits;
    c.keys[1].publicOnly = exchangePublicOnly;
    c.keys[0].expired = c.keys[1].expired = expired;
    return c;
}

} // namespace

TEST(TokenContainers, EachKeyOfACardContainerIsAContainerOfObjects)
{
    cardsim::Personalisation p;
    p.containers = {Container("alpha", 1024, 1024), Container("public-only", 0, 1024, true),
                    Container("expired", 1024, 0, false, true)};
    SimToken sim(p);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE s = sim.Open();

    // by container (exchange first), members in the order certificate, private
    // key, public key; private keys stay out while nobody is logged in
    struct Row {
        CK_OBJECT_HANDLE handle;
        CK_OBJECT_CLASS cls;
        char const *label;
        size_t certificate; // the personalisation's certificate of the key
        CK_BBOOL signs;
    };
    Row const rows[] = {
        {1, CKO_CERTIFICATE, "alpha", 1, CK_FALSE},
        {3, CKO_PUBLIC_KEY, "alpha", 1, CK_FALSE},
        {4, CKO_CERTIFICATE, "alpha", 0, CK_TRUE},
        {6, CKO_PUBLIC_KEY, "alpha", 0, CK_TRUE},
        {7, CKO_CERTIFICATE, "public-only", 2, CK_FALSE},
        {9, CKO_PUBLIC_KEY, "public-only", 2, CK_FALSE},
        {10, CKO_CERTIFICATE, "expired", 3, CK_TRUE},
        {12, CKO_PUBLIC_KEY, "expired", 3, CK_TRUE},
    };
    std::vector<CK_OBJECT_HANDLE> found = sim.Find(s);
    ASSERT_EQ(found.size(), sizeof(rows) / sizeof(rows[0]));
    CK_MECHANISM_TYPE const allowed[] = {
        CKM_RSA_PKCS,        CKM_RSA_X_509,       CKM_SHA1_RSA_PKCS,  CKM_SHA224_RSA_PKCS,
        CKM_SHA256_RSA_PKCS, CKM_SHA384_RSA_PKCS, CKM_SHA512_RSA_PKCS};
    for (size_t i = 0; i < found.size(); ++i) {
        Row const &row = rows[i];
        SCOPED_TRACE(row.handle);
        ASSERT_EQ(found[i], row.handle);
        CertificateView view(sim.certificates[row.certificate]);
        EXPECT_EQ(sim.Ulong(s, row.handle, CKA_CLASS), row.cls);
        EXPECT_EQ(sim.Text(s, row.handle, CKA_LABEL), row.label);
        EXPECT_EQ(sim.Attribute(s, row.handle, CKA_TOKEN), Bytes{CK_TRUE});
        EXPECT_EQ(sim.Attribute(s, row.handle, CKA_PRIVATE), Bytes{CK_FALSE});
        // certificate and key share the SHA-1 of the modulus as CKA_ID
        EXPECT_EQ(sim.Attribute(s, row.handle, CKA_ID), Sha1(view.modulus));
        EXPECT_EQ(sim.Attribute(s, row.handle, CKA_SUBJECT), view.subject);
        if (row.cls == CKO_CERTIFICATE) {
            Bytes der = sim.certificates[row.certificate];
            EXPECT_EQ(sim.Attribute(s, row.handle, CKA_VALUE), der);
            Bytes digest = Sha1(der);
            EXPECT_EQ(sim.Attribute(s, row.handle, CKA_CHECK_VALUE),
                      Bytes(digest.begin(), digest.begin() + 3));
        } else {
            EXPECT_EQ(sim.Attribute(s, row.handle, CKA_MODULUS), view.modulus);
            EXPECT_EQ(sim.Ulong(s, row.handle, CKA_MODULUS_BITS), 1024u);
            EXPECT_EQ(sim.Attribute(s, row.handle, CKA_PUBLIC_EXPONENT), (Bytes{1, 0, 1}));
            EXPECT_EQ(sim.Attribute(s, row.handle, CKA_VERIFY), Bytes{row.signs});
            EXPECT_EQ(sim.Attribute(s, row.handle, CKA_ENCRYPT), Bytes{CK_BBOOL(!row.signs)});
            Bytes mechanisms = sim.Attribute(s, row.handle, CKA_ALLOWED_MECHANISMS);
            EXPECT_EQ(mechanisms,
                      Bytes((unsigned char const *)allowed, (unsigned char const *)(allowed + 7)));
        }
    }
    // the certificate that expired a year ago says so
    Bytes end = sim.Attribute(s, 10, CKA_END_DATE);
    ASSERT_EQ(end.size(), 8u);
    time_t now = time(nullptr);
    EXPECT_EQ(std::stoi(std::string(end.begin(), end.begin() + 4)), gmtime(&now)->tm_year + 1899);
}

TEST(TokenContainers, CertificatesAndKeysPairByTheirIdAcrossContainers)
{
    // the certificate files of container NN hold those of container 1 - NN's keys
    cardsim::Personalisation p;
    p.containers = {Container("first", 1024, 0), Container("second", 1024, 0)};
    p.certificatesReversed = true;
    SimToken sim(p);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE s = sim.Open();
    CK_OBJECT_CLASS certificate = CKO_CERTIFICATE, publicKey = CKO_PUBLIC_KEY;
    std::vector<CK_OBJECT_HANDLE> certificates =
        sim.Find(s, {{CKA_CLASS, &certificate, sizeof(certificate)}});
    ASSERT_EQ(certificates.size(), 2u);
    for (CK_OBJECT_HANDLE c : certificates) {
        Bytes id = sim.Attribute(s, c, CKA_ID);
        std::vector<CK_OBJECT_HANDLE> keys = sim.Find(
            s, {{CKA_CLASS, &publicKey, sizeof(publicKey)}, {CKA_ID, id.data(), id.size()}});
        ASSERT_EQ(keys.size(), 1u);
        EXPECT_EQ(sim.Attribute(s, keys[0], CKA_MODULUS),
                  CertificateView(sim.Attribute(s, c, CKA_VALUE)).modulus);
        EXPECT_NE(sim.Text(s, keys[0], CKA_LABEL), sim.Text(s, c, CKA_LABEL));
    }
}

TEST(TokenContainers, TheContainerFileHoldsWhatTheCardCannot)
{
    // the exchange container of number 0 as stored: its certificate relabelled
    // with an identifier of its own, its public key hidden
    CP11X509Certificate certificate;
    certificate.SetAttribute(CKA_TOKEN, (unsigned char)1);
    certificate.SetAttribute(CKA_LABEL, "stored label", ~0UL);
    certificate.SetAttribute(CKA_ID, "stored id", 9);
    CP11RSAPublicKey hiddenKey;
    hiddenKey.SetAttribute(CKA_TOKEN, (unsigned char)1);
    hiddenKey.SetAttribute(CKA_HIDDEN, (unsigned char)1);
    CP11Container stored(&hiddenKey, nullptr, &certificate);
    stored.SetAttribute(CKA_CONTAINER_TYPE, CONTAINER_TYPE_EXCHANGE);
    _asn_t *file = CP11Container::MergeEncodedContainer(stored.Encode(), nullptr);
    Bytes bytes((size_t)CP11Object::Encode(file, nullptr, false));
    CP11Object::Encode(file, bytes.data(), true);

    cardsim::Personalisation p;
    p.containers = {Container("alpha", 1024, 1024)};
    p.files = {QvP11File("cont00", bytes)};
    SimToken sim(p);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE s = sim.Open();
    EXPECT_EQ(sim.Find(s), (std::vector<CK_OBJECT_HANDLE>{1, 4, 6}));
    EXPECT_EQ(sim.Text(s, 1, CKA_LABEL), "stored label");
    EXPECT_EQ(sim.Text(s, 1, CKA_ID), "stored id");
    EXPECT_EQ(sim.Text(s, 4, CKA_LABEL), "alpha") << "the signature container has no element";
    EXPECT_EQ(Rv([&] { sim.Attribute(s, 3, CKA_LABEL); }), CKR_OBJECT_HANDLE_INVALID);
}

TEST(TokenContainers, WhatCannotBeReadCostsOnlyItsContainer)
{
    struct Row {
        char const *what;
        std::function<void(cardsim::Card &)> spoil;
        std::vector<std::string> labels; // of the visible objects
    };
    Row const rows[] = {
        {"a damaged exchange certificate file",
         [](cardsim::Card &c) { c.CorruptFile("mscp", "kxc01"); },
         {"c0", "c0", "c0", "c0", "c1", "c1"}},
        {"an exchange certificate that is not DER",
         [](cardsim::Card &c) {
             c.PutFile("mscp", "kxc01", cardsim::StoredPacked({1, 2, 3}, 0x3D));
         },
         {"c0", "c0", "c0", "c0", "c1", "c1"}},
        {"a container file that is not DER",
         [](cardsim::Card &c) {
             c.PutFile("qv_p11", "cont00", cardsim::StoredPacked({1, 2}, 0x3D));
         },
         {"c1", "c1", "c1", "c1"}},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        cardsim::Personalisation p;
        p.containers = {Container("c0", 1024, 1024), Container("c1", 1024, 1024)};
        SimToken sim(p);
        row.spoil(*sim.card);
        ASSERT_TRUE(sim.Insert());
        CK_SESSION_HANDLE s = sim.Open();
        std::vector<std::string> shown;
        for (CK_OBJECT_HANDLE h : sim.Find(s))
            shown.push_back(sim.Text(s, h, CKA_LABEL));
        EXPECT_EQ(shown, row.labels);
    }
}

TEST(TokenContainers, ASearchGoesOnWithTheObjectsThatRemainVisible)
{
    cardsim::Personalisation p;
    p.containers = {Container("alpha", 1024, 0)};
    SimToken sim(p);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE s = sim.Open();
    sim.token->UpdateObjects(true); // as a login does
    sim.token->FindObjectsInit(s, nullptr, 0);
    CK_OBJECT_HANDLE h[4];
    CK_ULONG n = 0;
    sim.token->FindObjects(s, h, 1, &n);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(h[0], 1u);
    sim.token->UpdateObjects(false); // as a logout does: the private key goes
    sim.token->FindObjects(s, h, 4, &n);
    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>(h, h + n), (std::vector<CK_OBJECT_HANDLE>{3}));
    sim.token->FindObjectsFinal(s);
}
