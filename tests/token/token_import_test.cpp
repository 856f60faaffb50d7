// Keys and certificates put onto the identity-card token, in process against the
// simulated card: a private key imported into a new container and kept by the
// token without its private parts, its certificate and public key joining it, and
// a push that fails at any step leaving the card as it was.
#include "token_writing.h"

#include "objects/p11_container.h"

using namespace token_test;

namespace
{

CK_OBJECT_CLASS const CERTIFICATE = CKO_CERTIFICATE;
CK_OBJECT_CLASS const PUBLIC_KEY = CKO_PUBLIC_KEY;
CK_CERTIFICATE_TYPE const X509_CERTIFICATE = CKC_X_509;
CK_KEY_TYPE const RSA_KEY = CKK_RSA;
CK_BBOOL const YES = CK_TRUE, NO = CK_FALSE;

// The templates of a token certificate and of a token public key.
std::vector<CK_ATTRIBUTE> CertificateTemplate(Bytes const &der)
{
    return {{CKA_CLASS, (void *)&CERTIFICATE, sizeof(CERTIFICATE)},
            {CKA_CERTIFICATE_TYPE, (void *)&X509_CERTIFICATE, sizeof(X509_CERTIFICATE)},
            {CKA_TOKEN, (void *)&YES, 1},
            {CKA_VALUE, (void *)der.data(), der.size()}};
}
std::vector<CK_ATTRIBUTE> PublicKeyTemplate(OpenSslKey const &key)
{
    Bytes const &n = key.parts.at(CKA_MODULUS), &e = key.parts.at(CKA_PUBLIC_EXPONENT);
    return {{CKA_CLASS, (void *)&PUBLIC_KEY, sizeof(PUBLIC_KEY)},
            {CKA_KEY_TYPE, (void *)&RSA_KEY, sizeof(RSA_KEY)},
            {CKA_TOKEN, (void *)&YES, 1},
            {CKA_MODULUS, (void *)n.data(), n.size()},
            {CKA_PUBLIC_EXPONENT, (void *)e.data(), e.size()}};
}

} // namespace

TEST(TokenImport, TheCardKeepsAnImportedKeyAndTheTokenOnlyItsPublicPart)
{
    Writing w;
    OpenSslKey key(1024);
    PrivateKeyTemplate priv(key);
    CK_OBJECT_HANDLE h = 0;
    ASSERT_EQ(w.Create(priv.entries, &h), CKR_OK);

    // a key that decrypts goes into an exchange container: key number 1
    cardsim::CardState card = w.sim.card->Snapshot();
    ASSERT_EQ(card.keys.count({0, 1}), 1u);
    Bytes n, e;
    ASSERT_TRUE(cardsim::RsaPublicParts(card.keys.at({0, 1}).der, false, n, e));
    EXPECT_EQ(n, key.parts.at(CKA_MODULUS));
    std::vector<unsigned char> record = MapRecord(card, 0);
    EXPECT_TRUE(MapValid(record));
    EXPECT_EQ(record[84] | record[85] << 8, 1024) << "the exchange key's size";
    EXPECT_EQ(MapName(record), w.sim.Text(w.s, h, CKA_OBJECT_CONTAINER_NAME));
    EXPECT_EQ(w.sim.Text(w.s, h, CKA_LABEL), MapName(record)) << "no label: the container's";

    // the token keeps the public part only; its public key stays hidden
    CP11Object *stored = (*w.sim.token->Containers().begin())->GetKeyPrivate();
    for (CK_ATTRIBUTE_TYPE type : {CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1,
                                   CKA_EXPONENT_2, CKA_COEFFICIENT}) {
        unsigned long length = 1;
        stored->FindBinaryAttribute(type, &length);
        EXPECT_EQ(length, 0u) << type;
    }
    EXPECT_EQ(w.Objects(CKO_PUBLIC_KEY).size(), 0u);
    Bytes data = {'s', 'i', 'g', 'n', 'e', 'd'};
    EXPECT_TRUE(VerifiedBy(key.der, data, Signed(*w.sim.token, w.s, h, data)));

    // its certificate; one for no key of the card, and a second one, are refused
    Bytes der = key.Certificate();
    CK_OBJECT_HANDLE cert = 0;
    ASSERT_EQ(w.Create(CertificateTemplate(der), &cert), CKR_OK);
    EXPECT_TRUE(HasFile(w.sim.card->Snapshot(), "mscp", "kxc00"));
    EXPECT_EQ(w.sim.Attribute(w.s, cert, CKA_ID), w.sim.Attribute(w.s, h, CKA_ID));
    std::string before = CardContents(w.sim.card->Snapshot());
    Bytes stranger = OpenSslKey(1024).Certificate("stranger");
    EXPECT_EQ(w.Create(CertificateTemplate(stranger)), CKR_DEVICE_ERROR);
    EXPECT_EQ(w.Create(CertificateTemplate(der)), CKR_DEVICE_ERROR);
    EXPECT_EQ(CardContents(w.sim.card->Snapshot()), before);

    // the same public key shows the hidden one; a second time there is none hidden
    CK_OBJECT_HANDLE pub = 0;
    ASSERT_EQ(w.Create(PublicKeyTemplate(key), &pub), CKR_OK);
    EXPECT_EQ(w.Objects(CKO_PUBLIC_KEY), std::vector<CK_OBJECT_HANDLE>{pub});
    EXPECT_EQ(pub, h + 1) << "the hidden key's handle";
    EXPECT_EQ(w.Create(PublicKeyTemplate(key)), CKR_FUNCTION_NOT_SUPPORTED);

    w.Reload();
    EXPECT_EQ(w.Objects(CKO_PRIVATE_KEY).size(), 1u);
    EXPECT_EQ(w.Objects(CKO_PUBLIC_KEY).size(), 1u);
    EXPECT_EQ(w.Objects(CKO_CERTIFICATE).size(), 1u);
}

TEST(TokenImport, AKeyThatOnlySignsGoesIntoASignatureContainer)
{
    Writing w;
    OpenSslKey key(1024);
    CK_BBOOL no = CK_FALSE;
    PrivateKeyTemplate priv(key, {{CKA_DECRYPT, &no, 1}});
    ASSERT_EQ(w.Create(priv.entries), CKR_OK);
    ASSERT_EQ(w.Create(CertificateTemplate(key.Certificate())), CKR_OK);
    cardsim::CardState card = w.sim.card->Snapshot();
    EXPECT_EQ(card.keys.count({0, 0}), 1u);
    EXPECT_TRUE(HasFile(card, "mscp", "ksc00"));
    std::vector<unsigned char> record = MapRecord(card, 0);
    EXPECT_EQ(record[82] | record[83] << 8, 1024) << "the signature key's size";
}

TEST(TokenImport, APushThatFailsLeavesTheCardAsItWas)
{
    // the private key goes into container 0; the certificate joins a key imported
    // before
    enum Push { PRIVATE_KEY, CERTIFICATE };
    struct Row {
        char const *what;
        Push push;
        std::function<void(SimToken &)> fault;
        CK_RV rv;
        int bits = 1024;
    };
    Row const rows[] = {
        {"counters before the container", PRIVATE_KEY, [](SimToken &s) { RefuseWrite(s, 1); },
         CKR_DEVICE_MEMORY},
        {"the container map of the new container", PRIVATE_KEY,
         [](SimToken &s) { RefuseWrite(s, 2); }, CKR_DEVICE_MEMORY},
        {"the key refused by the card", PRIVATE_KEY,
         [](SimToken &s) { FailCommand(s, 0xB4, 0x76); }, CKR_DEVICE_ERROR},
        {"the container map with the key's size", PRIVATE_KEY,
         [](SimToken &s) { RefuseWrite(s, 3); }, CKR_DEVICE_ERROR},
        {"counters after the key", PRIVATE_KEY, [](SimToken &s) { RefuseWrite(s, 4); },
         CKR_DEVICE_ERROR},
        {"counters before the attribute file", PRIVATE_KEY, [](SimToken &s) { RefuseWrite(s, 5); },
         CKR_DEVICE_ERROR},
        {"the attribute file", PRIVATE_KEY, [](SimToken &s) { RefuseWrite(s, 6); },
         CKR_DEVICE_ERROR},
        {"a key of more than 2048 bits", PRIVATE_KEY, nullptr, CKR_DEVICE_ERROR, 2560},
        {"counters before the certificate", CERTIFICATE, [](SimToken &s) { RefuseWrite(s, 1); },
         CKR_DEVICE_ERROR},
        {"the certificate file", CERTIFICATE, [](SimToken &s) { RefuseWrite(s, 2); },
         CKR_DEVICE_ERROR},
        {"the attribute file with the certificate", CERTIFICATE,
         [](SimToken &s) { RefuseWrite(s, 3); }, CKR_DEVICE_ERROR},
    };
    cardsim::Personalisation larger;
    larger.largerKeys = true;
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        Writing w(larger);
        OpenSslKey key(row.bits);
        PrivateKeyTemplate priv(key);
        if (row.push == CERTIFICATE) {
            ASSERT_EQ(w.Create(priv.entries), CKR_OK);
        }
        std::string before = CardContents(w.sim.card->Snapshot());
        size_t objects = w.sim.Find(w.s).size();
        if (row.fault)
            row.fault(w.sim);
        CK_OBJECT_HANDLE h = 7;
        Bytes der = key.Certificate();
        EXPECT_EQ(w.Create(row.push == CERTIFICATE ? CertificateTemplate(der) : priv.entries, &h),
                  row.rv);
        EXPECT_EQ(h, 0u);
        w.sim.channel->refuse = nullptr;
        w.sim.card->SetFault(cardsim::Fault::None);
        EXPECT_EQ(CardContents(w.sim.card->Snapshot()), before);
        EXPECT_EQ(w.sim.Find(w.s).size(), objects);
        EXPECT_EQ(w.sim.card->AuthenticatedRoles(), 0u);
        EXPECT_FALSE(w.sim.card->SessionOpen()) << "no secure messaging left open";
        w.Reload();
        EXPECT_EQ(w.sim.Find(w.s).size(), objects) << "the card read again";
    }
}

TEST(TokenImport, KeysThatCannotBeImportedAreRefusedBeforeTheCardChanges)
{
    OpenSslKey key(1024);
    Bytes badCoefficient = key.parts.at(CKA_COEFFICIENT);
    badCoefficient.back() ^= 1;
    Bytes longModulus = key.parts.at(CKA_MODULUS);
    longModulus.insert(longModulus.begin(), 0); // 1032 bits, no size of the card
    CK_BBOOL no = CK_FALSE;
    struct Row {
        char const *what;
        std::vector<CK_ATTRIBUTE> more;
        CK_RV rv;
    };
    Row const rows[] = {
        {"a coefficient that does not fit",
         {{CKA_COEFFICIENT, badCoefficient.data(), badCoefficient.size()}},
         CKR_TEMPLATE_INCONSISTENT},
        {"a modulus with a leading zero byte",
         {{CKA_MODULUS, longModulus.data(), longModulus.size()}},
         CKR_KEY_SIZE_RANGE},
        {"a key for nothing",
         {{CKA_SIGN, &no, 1}, {CKA_DECRYPT, &no, 1}, {CKA_SIGN_RECOVER, &no, 1}},
         CKR_TEMPLATE_INCONSISTENT},
    };
    Writing w;
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        PrivateKeyTemplate priv(key, row.more);
        cardsim::CardState before = w.sim.card->Snapshot();
        EXPECT_EQ(w.Create(priv.entries), row.rv);
        cardsim::CardState after = w.sim.card->Snapshot();
        EXPECT_EQ(CardContents(after), CardContents(before));
        EXPECT_EQ(PlainFile(after, "", "cardcf"), PlainFile(before, "", "cardcf"))
            << "not even the counters raised";
    }
}
