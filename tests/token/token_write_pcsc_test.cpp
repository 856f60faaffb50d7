// Key pairs generated on the card, keys and certificates imported, data objects
// made and changed through the shipped module over the real pcscd, with what the
// simulated card holds looked at after each step: its keys, container map and
// files, and what the token finds once it has read the card again.
#include "token_pcsc_support.h"
#include "token_writing.h"

#include <atomic>

using namespace token_test;

namespace
{

class WritingOverPcscd : public TokenOverPcscd
{
  protected:
    void Start(cardsim::Personalisation const &p = {})
    {
        slot = Slot();
        Insert(p);
        ASSERT_TRUE(WaitToken(slot, true));
        s = Open(true);
    }
    CK_SESSION_HANDLE Open(bool readWrite)
    {
        CK_SESSION_HANDLE h = 0;
        CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
        EXPECT_EQ(f->C_OpenSession(slot, flags, nullptr, nullptr, &h), CKR_OK);
        CK_RV rv = f->C_Login(h, CKU_USER, USER_PIN, sizeof(USER_PIN));
        EXPECT_TRUE(rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) << rv;
        return h;
    }
    // The token reads the card again.
    void Reload()
    {
        ASSERT_EQ(f->C_CloseAllSessions(slot), CKR_OK);
        s = Open(true);
    }
    CK_RV Generate(KeyPairTemplates &t, CK_OBJECT_HANDLE *pub, CK_OBJECT_HANDLE *priv,
                   CK_MECHANISM_TYPE mechanism = CKM_RSA_PKCS_KEY_PAIR_GEN)
    {
        CK_MECHANISM m = {mechanism, nullptr, 0};
        return f->C_GenerateKeyPair(s, &m, t.publicKey.data(), t.publicKey.size(),
                                    t.privateKey.data(), t.privateKey.size(), pub, priv);
    }
    CK_RV Create(std::vector<CK_ATTRIBUTE> templ, CK_OBJECT_HANDLE *h)
    {
        return f->C_CreateObject(s, templ.data(), templ.size(), h);
    }
    Bytes Sign(CK_OBJECT_HANDLE key, Bytes data)
    {
        CK_MECHANISM m = {CKM_SHA256_RSA_PKCS, nullptr, 0};
        Bytes signature(512);
        CK_ULONG length = signature.size();
        EXPECT_EQ(f->C_SignInit(s, &m, key), CKR_OK);
        EXPECT_EQ(f->C_Sign(s, data.data(), data.size(), signature.data(), &length), CKR_OK);
        signature.resize(length);
        return signature;
    }
    // The card's contents and change counters.
    std::pair<std::string, Bytes> Card() const
    {
        cardsim::CardState state = card->Snapshot();
        return {CardContents(state), PlainFile(state, "", "cardcf")};
    }

    CK_SLOT_ID slot = 0;
    CK_SESSION_HANDLE s = 0;
};

CK_OBJECT_CLASS const CERTIFICATE = CKO_CERTIFICATE, DATA = CKO_DATA;
CK_CERTIFICATE_TYPE const X509_CERTIFICATE = CKC_X_509;
CK_BBOOL const YES = CK_TRUE;

std::vector<CK_ATTRIBUTE> CertificateTemplate(Bytes const &der)
{
    return {{CKA_CLASS, (void *)&CERTIFICATE, sizeof(CERTIFICATE)},
            {CKA_CERTIFICATE_TYPE, (void *)&X509_CERTIFICATE, sizeof(X509_CERTIFICATE)},
            {CKA_TOKEN, (void *)&YES, 1},
            {CKA_VALUE, (void *)der.data(), der.size()}};
}

} // namespace

TEST_F(WritingOverPcscd, KeyPairsGeneratedOnTheCardSignThere)
{
    Start();
    for (CK_ULONG bits : {1024UL, 2048UL}) {
        SCOPED_TRACE(bits);
        KeyPairTemplates t(bits);
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        ASSERT_EQ(Generate(t, &pub, &priv), CKR_OK);
        std::string name = Text(s, priv, CKA_OBJECT_CONTAINER_NAME);
        CK_ULONG number = bits == 1024 ? 0 : 1;

        cardsim::CardState state = card->Snapshot();
        ASSERT_EQ(state.keys.count({(int)number, 1}), 1u) << "an exchange key";
        Bytes const &der = state.keys.at({(int)number, 1}).der;
        Bytes n, e;
        ASSERT_TRUE(cardsim::RsaPublicParts(der, false, n, e));
        EXPECT_EQ(Attribute(s, pub, CKA_MODULUS), n);
        EXPECT_EQ(Attribute(s, priv, CKA_MODULUS), n);
        std::vector<unsigned char> record = MapRecord(state, number);
        EXPECT_TRUE(MapValid(record));
        EXPECT_EQ(MapName(record), name);
        EXPECT_EQ((CK_ULONG)(record[84] | record[85] << 8), bits);
        EXPECT_TRUE(HasFile(state, "qv_p11", "cont0" + std::to_string(number)));

        Bytes data(100, 'x');
        EXPECT_TRUE(VerifiedBy(der, data, Sign(priv, data)));
        Bytes id = Attribute(s, priv, CKA_ID);
        Reload();
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        std::vector<CK_OBJECT_HANDLE> found =
            Find(s, {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_ID, id.data(), id.size()}});
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(Text(s, found[0], CKA_OBJECT_CONTAINER_NAME), name);
        EXPECT_TRUE(VerifiedBy(der, data, Sign(found[0], data)));
    }
}

TEST_F(WritingOverPcscd, RefusedKeyPairsChangeNothing)
{
    Start();
    CK_SESSION_HANDLE ro = Open(false);
    CK_OBJECT_CLASS wrongClass = CKO_PRIVATE_KEY;
    struct Row {
        char const *what;
        CK_ULONG bits;
        std::function<void(KeyPairTemplates &)> change;
        CK_SESSION_HANDLE session;
        CK_RV rv;
        CK_MECHANISM_TYPE mechanism = CKM_RSA_PKCS_KEY_PAIR_GEN;
    };
    Row const rows[] = {
        {"a public key of the private class", 1024,
         [&](KeyPairTemplates &t) { t.publicKey[0].pValue = &wrongClass; }, s,
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"no modulus size", 1024, [](KeyPairTemplates &t) { t.publicKey.pop_back(); }, s,
         CKR_TEMPLATE_INCONSISTENT},
        {"a size the card does not list", 1536, nullptr, s, CKR_KEY_SIZE_RANGE},
        {"a size beyond the card's largest", 4096, nullptr, s, CKR_KEY_SIZE_RANGE},
        {"a token key pair in a read-only session", 1024, nullptr, ro, CKR_SESSION_READ_ONLY},
        {"a token public key with a session private key", 1024,
         [](KeyPairTemplates &t) { t.privateKey[1].pValue = &t.no; }, s, CKR_TEMPLATE_INCONSISTENT},
        {"a mechanism that generates nothing", 1024, nullptr, s, CKR_MECHANISM_INVALID,
         CKM_RSA_PKCS},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        auto before = Card();
        KeyPairTemplates t(row.bits);
        if (row.change)
            row.change(t);
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        CK_SESSION_HANDLE session = s;
        s = row.session;
        EXPECT_EQ(Generate(t, &pub, &priv, row.mechanism), row.rv);
        s = session;
        EXPECT_EQ(Card(), before);
    }
}

TEST_F(WritingOverPcscd, AFullCardRefusesAKeyPair)
{
    cardsim::Personalisation p;
    p.containers.assign(8, KeyContainer("", 1024, 0));
    Start(p);
    auto before = Card();
    KeyPairTemplates t(1024);
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    EXPECT_EQ(Generate(t, &pub, &priv), CKR_DEVICE_MEMORY);
    EXPECT_EQ(Card(), before);
    EXPECT_EQ(Find(s).size(), 24u);
}

TEST_F(WritingOverPcscd, AKeyFromOpenSslThenItsCertificate)
{
    Start();
    OpenSslKey key(2048);
    PrivateKeyTemplate priv(key);
    CK_OBJECT_HANDLE h = 0;
    ASSERT_EQ(Create(priv.entries, &h), CKR_OK);
    cardsim::CardState state = card->Snapshot();
    ASSERT_EQ(state.keys.count({0, 1}), 1u);
    Bytes n, e;
    ASSERT_TRUE(cardsim::RsaPublicParts(state.keys.at({0, 1}).der, false, n, e));
    EXPECT_EQ(n, key.parts.at(CKA_MODULUS));
    Bytes data(64, 'd');
    EXPECT_TRUE(VerifiedBy(key.der, data, Sign(h, data)));

    CK_OBJECT_HANDLE certificate = 0;
    ASSERT_EQ(Create(CertificateTemplate(key.Certificate()), &certificate), CKR_OK);
    EXPECT_TRUE(HasFile(card->Snapshot(), "mscp", "kxc00"));
    EXPECT_EQ(Attribute(s, certificate, CKA_ID), Attribute(s, h, CKA_ID));
    auto before = Card();
    CK_OBJECT_HANDLE none = 0;
    EXPECT_EQ(Create(CertificateTemplate(OpenSslKey(1024).Certificate()), &none), CKR_DEVICE_ERROR);
    EXPECT_EQ(Card(), before);

    std::string name = Text(s, h, CKA_OBJECT_CONTAINER_NAME);
    Reload();
    std::multiset<std::pair<CK_ULONG, std::string>> shown;
    for (CK_OBJECT_HANDLE o : Find(s))
        shown.emplace(Class(s, o), Text(s, o, CKA_OBJECT_CONTAINER_NAME));
    std::multiset<std::pair<CK_ULONG, std::string>> expected = {{CKO_PRIVATE_KEY, name},
                                                                {CKO_CERTIFICATE, name}};
    EXPECT_EQ(shown, expected) << "the public key stays hidden";
}

TEST_F(WritingOverPcscd, ADataObjectMadeChangedReadBackAndDestroyed)
{
    Start();
    char label[] = "notes", value[] = "first";
    CK_BBOOL yes = CK_TRUE;
    CK_OBJECT_HANDLE h = 0;
    ASSERT_EQ(Create({{CKA_CLASS, (void *)&DATA, sizeof(DATA)},
                      {CKA_TOKEN, &yes, 1},
                      {CKA_LABEL, label, sizeof(label) - 1},
                      {CKA_VALUE, value, sizeof(value) - 1}},
                     &h),
              CKR_OK);
    EXPECT_TRUE(HasFile(card->Snapshot(), "qv_p11", "data00"));
    char newLabel[] = "changed", newValue[] = "second";
    CK_ATTRIBUTE change[] = {{CKA_VALUE, newValue, sizeof(newValue) - 1},
                             {CKA_LABEL, newLabel, sizeof(newLabel) - 1}};
    ASSERT_EQ(f->C_SetAttributeValue(s, h, change, 2), CKR_OK);

    Reload();
    CK_OBJECT_CLASS cls = CKO_DATA;
    std::vector<CK_OBJECT_HANDLE> found = Find(s, {{CKA_CLASS, &cls, sizeof(cls)}});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Text(s, found[0], CKA_LABEL), "changed");
    EXPECT_EQ(Text(s, found[0], CKA_VALUE), "second");
    ASSERT_EQ(f->C_DestroyObject(s, found[0]), CKR_OK);
    EXPECT_FALSE(HasFile(card->Snapshot(), "qv_p11", "data00"));
    Reload();
    EXPECT_TRUE(Find(s, {{CKA_CLASS, &cls, sizeof(cls)}}).empty());
}

TEST_F(WritingOverPcscd, TwoKeyPairsOfOneSecondAreTwoAndDestroyingOneKeepsTheOther)
{
    Start();
    CK_OBJECT_HANDLE pub[2] = {}, priv[2] = {};
    std::string names[2];
    for (int i = 0; i < 2; ++i) {
        KeyPairTemplates t(1024);
        ASSERT_EQ(Generate(t, &pub[i], &priv[i]), CKR_OK);
        names[i] = Text(s, priv[i], CKA_OBJECT_CONTAINER_NAME);
    }
    EXPECT_NE(names[0], names[1]);
    Bytes kept = Attribute(s, priv[1], CKA_ID);

    for (CK_OBJECT_HANDLE h : {priv[0], pub[0]})
        ASSERT_EQ(f->C_DestroyObject(s, h), CKR_OK);
    cardsim::CardState state = card->Snapshot();
    EXPECT_FALSE(MapValid(MapRecord(state, 0)));
    EXPECT_EQ(state.keys.count({0, 1}), 0u);
    EXPECT_EQ(MapName(MapRecord(state, 1)), names[1]);
    ASSERT_EQ(state.keys.count({1, 1}), 1u);
    EXPECT_TRUE(HasFile(state, "qv_p11", "cont01"));

    Reload();
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    std::vector<CK_OBJECT_HANDLE> found = Find(s, {{CKA_CLASS, &cls, sizeof(cls)}});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Attribute(s, found[0], CKA_ID), kept);
    EXPECT_EQ(Text(s, found[0], CKA_OBJECT_CONTAINER_NAME), names[1]);
    Bytes data(32, 'k');
    EXPECT_TRUE(VerifiedBy(state.keys.at({1, 1}).der, data, Sign(found[0], data)));
}

// Each write refused in turn: the card refuses its nth file write midway for
// n = 1, 2, ... until the operation gets through without reaching it.
TEST_F(WritingOverPcscd, EachWriteTheCardRefusesMidwayLeavesItAsItWas)
{
    Start();
    OpenSslKey key(2048);
    PrivateKeyTemplate priv(key);
    Bytes certificate = key.Certificate();
    CK_BBOOL yes = CK_TRUE;
    char label[] = "notes", value[] = "first", newLabel[] = "renamed";
    struct Row {
        char const *what;
        std::function<CK_RV()> call;
    };
    Row const rows[] = {
        {"a key pair",
         [&] {
             KeyPairTemplates t(1024);
             CK_OBJECT_HANDLE pub = 0, priv = 0;
             return Generate(t, &pub, &priv);
         }},
        {"a private key",
         [&] {
             CK_OBJECT_HANDLE h = 0;
             return Create(priv.entries, &h);
         }},
        {"its certificate",
         [&] {
             CK_OBJECT_HANDLE h = 0;
             return Create(CertificateTemplate(certificate), &h);
         }},
        {"a data object",
         [&] {
             CK_OBJECT_HANDLE h = 0;
             return Create({{CKA_CLASS, (void *)&DATA, sizeof(DATA)},
                            {CKA_TOKEN, &yes, 1},
                            {CKA_LABEL, label, sizeof(label) - 1},
                            {CKA_VALUE, value, sizeof(value) - 1}},
                           &h);
         }},
        {"its new label",
         [&] {
             // the card read again gives the object a new handle
             CK_OBJECT_HANDLE h = Find(s, {{CKA_CLASS, (void *)&DATA, sizeof(DATA)}}).at(0);
             CK_ATTRIBUTE change[] = {{CKA_LABEL, newLabel, sizeof(newLabel) - 1}};
             return f->C_SetAttributeValue(s, h, change, 1);
         }},
    };
    for (Row const &row : rows) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(std::string(row.what) + ", write " + std::to_string(n));
            std::string before = Card().first;
            auto shown = Contents(s);
            auto writes = std::make_shared<std::atomic<int>>(0);
            cardsim::Card *target = card.get();
            Watch([=](Bytes const &c) {
                if (IsFileWrite(c) && ++*writes == n)
                    target->SetFault(cardsim::Fault::RefuseWrite);
            });
            CK_RV rv = row.call();
            Watch(nullptr);
            if (*writes < n) {
                EXPECT_EQ(rv, CKR_OK) << "every write passed";
                EXPECT_GT(n, 1) << "the operation writes";
                break;
            }
            EXPECT_TRUE(rv == CKR_DEVICE_ERROR || rv == CKR_DEVICE_MEMORY) << rv;
            EXPECT_EQ(Card().first, before);
            EXPECT_EQ(Contents(s), shown);
            Reload();
            EXPECT_EQ(Contents(s), shown) << "the card read again";
            if (rv == CKR_OK)
                break;
        }
    }
    // what got through, read again
    Reload();
    std::multiset<CK_ULONG> classes;
    for (CK_OBJECT_HANDLE o : Find(s))
        classes.insert(Class(s, o));
    EXPECT_EQ(classes, (std::multiset<CK_ULONG>{CKO_PUBLIC_KEY, CKO_PRIVATE_KEY, CKO_PRIVATE_KEY,
                                                CKO_CERTIFICATE, CKO_DATA}));
    CK_OBJECT_CLASS cls = CKO_DATA;
    std::vector<CK_OBJECT_HANDLE> found = Find(s, {{CKA_CLASS, &cls, sizeof(cls)}});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Text(s, found[0], CKA_LABEL), "renamed");
}
