// Creating, copying and changing objects on the identity-card token, in process
// against the simulated card: who may do what with which template, defaults the
// token gives keys, and changes that are made all or nothing and never differ
// from what the card holds.
#include "token_writing.h"

using namespace token_test;

namespace
{

CK_OBJECT_CLASS const DATA = CKO_DATA, CERTIFICATE = CKO_CERTIFICATE, PUBLIC_KEY = CKO_PUBLIC_KEY,
                      PRIVATE_KEY = CKO_PRIVATE_KEY, SECRET_KEY = CKO_SECRET_KEY;
CK_BBOOL const YES = CK_TRUE, NO = CK_FALSE;
CK_KEY_TYPE const RSA_KEY = CKK_RSA, EC_KEY_TYPE = CKK_EC;
CK_CERTIFICATE_TYPE const X509_CERTIFICATE = CKC_X_509, WTLS_CERTIFICATE = CKC_WTLS;

CK_ATTRIBUTE Entry(CK_ATTRIBUTE_TYPE type, void const *value, CK_ULONG length)
{
    return {type, const_cast<void *>(value), length};
}
CK_ATTRIBUTE Text(CK_ATTRIBUTE_TYPE type, char const *text)
{
    return Entry(type, text, std::strlen(text));
}

std::vector<CK_ATTRIBUTE> DataObject(CK_BBOOL const &token, CK_BBOOL const &priv,
                                     char const *label = "data", char const *value = "value")
{
    return {Entry(CKA_CLASS, &DATA, sizeof(DATA)), Entry(CKA_TOKEN, &token, 1),
            Entry(CKA_PRIVATE, &priv, 1), Text(CKA_LABEL, label), Text(CKA_VALUE, value)};
}

// The allowed mechanisms of a key as a list.
std::vector<CK_MECHANISM_TYPE> Mechanisms(Bytes const &value)
{
    std::vector<CK_MECHANISM_TYPE> list(value.size() / sizeof(CK_MECHANISM_TYPE));
    std::memcpy(list.data(), value.data(), list.size() * sizeof(CK_MECHANISM_TYPE));
    return list;
}

} // namespace

TEST(TokenCreate, WhoMayCreateWhatWithWhichTemplate)
{
    cardsim::Personalisation p;
    p.containers = {KeyContainer("pair", 1024, 0)};
    SimToken open(p); // nobody logged in
    ASSERT_TRUE(open.Insert());
    CK_SESSION_HANDLE ro = open.Open(CKF_SERIAL_SESSION);
    CK_SESSION_HANDLE rw = open.Open(CKF_SERIAL_SESSION | CKF_RW_SESSION);
    Writing user(p);
    Bytes certificate = user.sim.certificates.at(0);
    char container[] = "pair";

    struct Row {
        char const *what;
        SimToken &sim;
        CK_SESSION_HANDLE session;
        std::vector<CK_ATTRIBUTE> templ;
        CK_RV rv;
    };
    Row const rows[] = {
        {"a session object in a read-only session", open, ro, DataObject(NO, NO),
         CKR_SESSION_READ_ONLY},
        {"a public token object while nobody is logged in", open, rw, DataObject(YES, NO),
         CKR_USER_NOT_LOGGED_IN},
        {"a private session object while nobody is logged in", open, rw, DataObject(NO, YES),
         CKR_USER_NOT_LOGGED_IN},
        {"no class", user.sim, user.s, {Text(CKA_LABEL, "x")}, CKR_TEMPLATE_INCONSISTENT},
        {"a key without a key type",
         user.sim,
         user.s,
         {Entry(CKA_CLASS, &PUBLIC_KEY, sizeof(PUBLIC_KEY))},
         CKR_TEMPLATE_INCOMPLETE},
        {"an EC_KEY_TYPE key",
         user.sim,
         user.s,
         {Entry(CKA_CLASS, &PRIVATE_KEY, sizeof(PRIVATE_KEY)),
          Entry(CKA_KEY_TYPE, &EC_KEY_TYPE, sizeof(EC_KEY_TYPE))},
         CKR_KEY_TYPE_INCONSISTENT},
        {"a certificate without a type",
         user.sim,
         user.s,
         {Entry(CKA_CLASS, &CERTIFICATE, sizeof(CERTIFICATE))},
         CKR_TEMPLATE_INCOMPLETE},
        {"a WTLS_CERTIFICATE certificate",
         user.sim,
         user.s,
         {Entry(CKA_CLASS, &CERTIFICATE, sizeof(CERTIFICATE)),
          Entry(CKA_CERTIFICATE_TYPE, &WTLS_CERTIFICATE, sizeof(WTLS_CERTIFICATE))},
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"a trusted certificate for the user",
         user.sim,
         user.s,
         {Entry(CKA_CLASS, &CERTIFICATE, sizeof(CERTIFICATE)),
          Entry(CKA_CERTIFICATE_TYPE, &X509_CERTIFICATE, sizeof(X509_CERTIFICATE)),
          Entry(CKA_TRUSTED, &YES, 1), Entry(CKA_VALUE, certificate.data(), certificate.size())},
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"a secret key",
         user.sim,
         user.s,
         {Entry(CKA_CLASS, &SECRET_KEY, sizeof(SECRET_KEY)), Entry(CKA_KEY_TYPE, &RSA_KEY, 8)},
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"the token's own hidden flag",
         user.sim,
         user.s,
         {Entry(CKA_CLASS, &DATA, sizeof(DATA)), Entry(CKA_HIDDEN, &YES, 1)},
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"an attribute of another class",
         user.sim,
         user.s,
         {Entry(CKA_CLASS, &DATA, sizeof(DATA)), Entry(CKA_SIGN, &YES, 1)},
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"a public session object in a public session, with a container name",
         open,
         rw,
         {Entry(CKA_CLASS, &DATA, sizeof(DATA)),
          Entry(CKA_OBJECT_CONTAINER_NAME, container, sizeof(container) - 1)},
         CKR_OK},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        std::string before = CardContents(row.sim.card->Snapshot());
        CK_OBJECT_HANDLE h = 0;
        EXPECT_EQ(Rv([&] {
                      row.sim.token->CreateObject(row.session, (CK_ATTRIBUTE *)row.templ.data(),
                                                  row.templ.size(), &h);
                  }),
                  row.rv);
        EXPECT_EQ(CardContents(row.sim.card->Snapshot()), before);
        if (row.rv != CKR_OK)
            continue;
        // the container name is no attribute of the object
        CK_ATTRIBUTE name = {CKA_OBJECT_CONTAINER_NAME, nullptr, 0};
        EXPECT_EQ(Rv([&] { row.sim.token->GetAttributeValue(row.session, h, &name, 1); }),
                  CKR_OBJECT_HANDLE_INVALID);
    }
    EXPECT_EQ(Rv([&] { user.sim.token->CreateObject(user.s, nullptr, 0, nullptr); }),
              CKR_ARGUMENTS_BAD);
}

TEST(TokenCreate, KeysWithoutAllowedMechanismsGetThoseOfTheirClass)
{
    Writing w;
    OpenSslKey key(1024);
    struct Row {
        char const *what;
        std::vector<CK_ATTRIBUTE> more;
        std::vector<CK_MECHANISM_TYPE> mechanisms;
    };
    std::vector<CK_MECHANISM_TYPE> const byClass = {
        CKM_RSA_PKCS,        CKM_RSA_X_509,       CKM_SHA1_RSA_PKCS,  CKM_SHA224_RSA_PKCS,
        CKM_SHA256_RSA_PKCS, CKM_SHA384_RSA_PKCS, CKM_SHA512_RSA_PKCS};
    CK_MECHANISM_TYPE one = CKM_SHA256_RSA_PKCS;
    Row const rows[] = {
        {"none named", {}, byClass},
        {"an empty list", {Entry(CKA_ALLOWED_MECHANISMS, nullptr, 0)}, {}},
        {"one", {Entry(CKA_ALLOWED_MECHANISMS, &one, sizeof(one))}, {one}},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<CK_ATTRIBUTE> more = row.more;
        more.push_back(Entry(CKA_TOKEN, &NO, 1));
        PrivateKeyTemplate priv(key, more);
        CK_OBJECT_HANDLE h = 0;
        ASSERT_EQ(w.Create(priv.entries, &h), CKR_OK);
        EXPECT_EQ(Mechanisms(w.sim.Attribute(w.s, h, CKA_ALLOWED_MECHANISMS)), row.mechanisms);
    }
}

TEST(TokenCreate, CopiesFollowTheSourceAndNeverTakeAPrivateKeyOffTheCard)
{
    cardsim::Personalisation p;
    p.containers = {KeyContainer("pair", 1024, 0)};
    Writing w(p);
    CK_OBJECT_HANDLE cardKey = w.Objects(CKO_PRIVATE_KEY).at(0);
    CK_OBJECT_HANDLE cardPublic = w.Objects(CKO_PUBLIC_KEY).at(0);
    CK_OBJECT_HANDLE cardCertificate = w.Objects(CKO_CERTIFICATE).at(0);
    OpenSslKey key(1024);
    PrivateKeyTemplate priv(key, {Entry(CKA_TOKEN, &NO, 1)});
    CK_OBJECT_HANDLE sessionKey = 0;
    ASSERT_EQ(w.Create(priv.entries, &sessionKey), CKR_OK);
    CK_SESSION_HANDLE ro = w.sim.Open(CKF_SERIAL_SESSION);

    CK_ATTRIBUTE label = Text(CKA_LABEL, "copy");
    CK_ATTRIBUTE toSession[] = {Entry(CKA_TOKEN, &NO, 1), label};
    CK_ATTRIBUTE toCard[] = {Entry(CKA_TOKEN, &YES, 1), label};
    struct Row {
        char const *what;
        CK_SESSION_HANDLE session;
        CK_OBJECT_HANDLE source;
        CK_ATTRIBUTE *templ;
        CK_ULONG count;
        CK_RV rv;
    };
    Row const rows[] = {
        {"in a read-only session", ro, cardPublic, toSession, 2, CKR_SESSION_READ_ONLY},
        {"an empty template", w.s, cardPublic, toSession, 0, CKR_ARGUMENTS_BAD},
        {"no such object", w.s, 0x80000100, toSession, 2, CKR_OBJECT_HANDLE_INVALID},
        {"the card's private key", w.s, cardKey, toSession, 2, CKR_FUNCTION_NOT_SUPPORTED},
        {"a public key onto the card", w.s, cardPublic, toCard, 2, CKR_FUNCTION_NOT_SUPPORTED},
        {"a certificate onto the card again", w.s, cardCertificate, &label, 1, CKR_DEVICE_ERROR},
        {"the card's public key into the session", w.s, cardPublic, toSession, 2, CKR_OK},
        {"the card's certificate into the session", w.s, cardCertificate, toSession, 2, CKR_OK},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        std::string before = CardContents(w.sim.card->Snapshot());
        CK_OBJECT_HANDLE copy = 7;
        EXPECT_EQ(Rv([&] {
                      w.sim.token->CopyObject(row.session, row.source, row.templ, row.count, &copy);
                  }),
                  row.rv);
        EXPECT_EQ(CardContents(w.sim.card->Snapshot()), before);
        if (row.rv == CKR_OK)
            EXPECT_EQ(w.sim.Text(w.s, copy, CKA_LABEL), "copy");
        else
            EXPECT_EQ(copy, 0u);
    }

    // a session's private key copied onto the card is imported
    CK_OBJECT_HANDLE imported = 0;
    ASSERT_EQ(Rv([&] { w.sim.token->CopyObject(w.s, sessionKey, toCard, 2, &imported); }), CKR_OK);
    EXPECT_EQ(imported & 0x80000000UL, 0u);
    EXPECT_EQ(w.sim.card->Snapshot().keys.count({1, 1}), 1u);
    EXPECT_EQ(w.sim.Text(w.s, imported, CKA_LABEL), "copy");
    Bytes data = {'c', 'o', 'p', 'y'};
    EXPECT_TRUE(VerifiedBy(key.der, data, Signed(*w.sim.token, w.s, imported, data)));
}

TEST(TokenSetAttributes, AllOrNothingAndNeverOtherThanTheCard)
{
    cardsim::Personalisation p;
    p.containers = {KeyContainer("pair", 1024, 0)};
    Writing w(p);
    CK_OBJECT_HANDLE certificate = w.Objects(CKO_CERTIFICATE).at(0);
    CK_OBJECT_HANDLE cardKey = w.Objects(CKO_PRIVATE_KEY).at(0);
    CK_OBJECT_HANDLE data = 0;
    ASSERT_EQ(w.Create(DataObject(YES, NO, "data", "old value"), &data), CKR_OK);
    CK_OBJECT_HANDLE sessionData = 0;
    ASSERT_EQ(w.Create(DataObject(NO, NO, "session data"), &sessionData), CKR_OK);
    CK_SESSION_HANDLE ro = w.sim.Open(CKF_SERIAL_SESSION);

    CK_ATTRIBUTE relabel[] = {Text(CKA_LABEL, "relabelled")};
    CK_ATTRIBUTE relabelAndMore[] = {Text(CKA_LABEL, "relabelled"), Entry(CKA_PRIVATE, &YES, 1)};
    CK_ATTRIBUTE hide[] = {Entry(CKA_HIDDEN, &YES, 1)};
    CK_ATTRIBUTE newValue[] = {Text(CKA_VALUE, "new value"), Text(CKA_LABEL, "changed")};
    struct Row {
        char const *what;
        CK_SESSION_HANDLE session;
        CK_OBJECT_HANDLE object;
        CK_ATTRIBUTE *templ;
        CK_ULONG count;
        std::function<void()> fault;
        CK_RV rv;
    };
    Row const rows[] = {
        {"in a read-only session", ro, certificate, relabel, 1, nullptr, CKR_SESSION_READ_ONLY},
        {"an empty template", w.s, certificate, relabel, 0, nullptr, CKR_ARGUMENTS_BAD},
        {"a card key, which is not modifiable", w.s, cardKey, relabel, 1, nullptr,
         CKR_ATTRIBUTE_READ_ONLY},
        {"a second entry refused", w.s, certificate, relabelAndMore, 2, nullptr,
         CKR_ATTRIBUTE_READ_ONLY},
        {"the token's own hidden flag", w.s, certificate, hide, 1, nullptr,
         CKR_ATTRIBUTE_TYPE_INVALID},
        {"the card refusing the attribute file", w.s, certificate, relabel, 1,
         [&] { RefuseWrite(w.sim, 1); }, CKR_DEVICE_ERROR},
        {"the card refusing the data file", w.s, data, newValue, 2, [&] { RefuseWrite(w.sim, 2); },
         CKR_DEVICE_ERROR},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        std::string before = CardContents(w.sim.card->Snapshot());
        std::string label = w.sim.Text(w.s, row.object, CKA_LABEL);
        if (row.fault)
            row.fault();
        EXPECT_EQ(Rv([&] {
                      w.sim.token->SetAttributeValue(row.session, row.object, row.templ, row.count);
                  }),
                  row.rv);
        w.sim.channel->refuse = nullptr;
        w.sim.card->SetFault(cardsim::Fault::None);
        EXPECT_EQ(w.sim.Text(w.s, row.object, CKA_LABEL), label);
        EXPECT_EQ(CardContents(w.sim.card->Snapshot()), before);
    }

    // changes that are made stay made
    ASSERT_EQ(Rv([&] { w.sim.token->SetAttributeValue(w.s, certificate, relabel, 1); }), CKR_OK);
    ASSERT_EQ(Rv([&] { w.sim.token->SetAttributeValue(w.s, data, newValue, 2); }), CKR_OK);
    ASSERT_EQ(Rv([&] { w.sim.token->SetAttributeValue(w.s, sessionData, relabel, 1); }), CKR_OK);
    EXPECT_EQ(w.sim.Text(w.s, sessionData, CKA_LABEL), "relabelled");
    EXPECT_EQ(w.sim.Text(w.s, certificate, CKA_LABEL), "relabelled");
    w.Reload();
    EXPECT_EQ(w.Objects(CKO_CERTIFICATE, "relabelled").size(), 1u);
    std::vector<CK_OBJECT_HANDLE> changed = w.Objects(CKO_DATA, "changed");
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(w.sim.Text(w.s, changed[0], CKA_VALUE), "new value");
}

TEST(TokenSetAttributes, ATrustedCertificateChangesOnlyForTheSecurityOfficer)
{
    Writing w;
    w.sim.token->Logout(w.s);
    w.sim.token->Login(w.s, CKU_SO, SO_PIN, sizeof(SO_PIN));
    OpenSslKey key(1024);
    PrivateKeyTemplate priv(key);
    ASSERT_EQ(w.Create(priv.entries), CKR_OK);
    Bytes der = key.Certificate();
    CK_OBJECT_HANDLE certificate = 0;
    ASSERT_EQ(w.Create({Entry(CKA_CLASS, &CERTIFICATE, sizeof(CERTIFICATE)),
                        Entry(CKA_CERTIFICATE_TYPE, &X509_CERTIFICATE, sizeof(X509_CERTIFICATE)),
                        Entry(CKA_TOKEN, &YES, 1), Entry(CKA_TRUSTED, &YES, 1),
                        Entry(CKA_VALUE, der.data(), der.size())},
                       &certificate),
              CKR_OK);
    CK_ATTRIBUTE relabel[] = {Text(CKA_LABEL, "trusted")};
    w.sim.token->Logout(w.s);
    w.sim.token->Login(w.s, CKU_USER, USER_PIN, sizeof(USER_PIN));
    EXPECT_EQ(Rv([&] { w.sim.token->SetAttributeValue(w.s, certificate, relabel, 1); }),
              CKR_ATTRIBUTE_READ_ONLY);
    w.sim.token->Logout(w.s);
    w.sim.token->Login(w.s, CKU_SO, SO_PIN, sizeof(SO_PIN));
    EXPECT_EQ(Rv([&] { w.sim.token->SetAttributeValue(w.s, certificate, relabel, 1); }), CKR_OK);
    EXPECT_EQ(w.sim.Text(w.s, certificate, CKA_LABEL), "trusted");
}

TEST(TokenCreate, DataFilesByPrivacyAndNoneLeftByARefusedWrite)
{
    Writing w;
    RefuseWrite(w.sim, 2); // the counters go, the file's contents do not
    EXPECT_EQ(w.Create(DataObject(YES, NO, "refused")), CKR_DEVICE_ERROR);
    w.sim.channel->refuse = nullptr;
    EXPECT_FALSE(HasFile(w.sim.card->Snapshot(), "qv_p11", "data00"));
    EXPECT_TRUE(w.Objects(CKO_DATA).empty());

    ASSERT_EQ(w.Create(DataObject(YES, NO, "public")), CKR_OK);
    ASSERT_EQ(w.Create(DataObject(YES, YES, "private")), CKR_OK);
    cardsim::CardState card = w.sim.card->Snapshot();
    ASSERT_TRUE(HasFile(card, "qv_p11", "data00"));
    ASSERT_TRUE(HasFile(card, "qv_p11", "data01"));
    EXPECT_EQ(card.FindFile("qv_p11", "data00")->access, 0x3D);
    EXPECT_EQ(card.FindFile("qv_p11", "data01")->access, 0x3C);
    w.Reload();
    EXPECT_EQ(w.Objects(CKO_DATA, "public").size(), 1u);
    EXPECT_EQ(w.Objects(CKO_DATA, "private").size(), 1u);
}
