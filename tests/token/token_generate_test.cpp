// Key pairs made by the identity-card token in process against the simulated
// card: names that never repeat, a failure at any step that leaves the card as it
// was, generated keys that can be copied, and the exponents the card makes.
#include "token_writing.h"

#include <cctype>

#include "objects/p11_container.h"

using namespace token_test;

namespace
{

cardsim::Personalisation OneContainer()
{
    cardsim::Personalisation p;
    p.containers = {KeyContainer("existing", 1024, 0)};
    return p;
}

} // namespace

TEST(TokenGenerate, KeyPairsOfOneSecondGetNamesOfTheirOwnAndDestroyingOneKeepsTheOther)
{
    Writing w;
    KeyPairTemplates t(1024);
    CK_OBJECT_HANDLE pub[2] = {}, priv[2] = {};
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(t.Generate(*w.sim.token, w.s, &pub[i], &priv[i]), CKR_OK);
    EXPECT_EQ(pub[0] + 1, priv[0]);
    std::string names[2];
    for (int i = 0; i < 2; ++i) {
        names[i] = w.sim.Text(w.s, priv[i], CKA_OBJECT_CONTAINER_NAME);
        EXPECT_EQ(w.sim.Text(w.s, pub[i], CKA_OBJECT_CONTAINER_NAME), names[i]);
        EXPECT_EQ(MapName(MapRecord(w.sim.card->Snapshot(), (size_t)i)), names[i]);
        // "VOK-RAL-", the serial number, and dashes at 25 and 30 in the digest
        ASSERT_EQ(names[i].size(), 39u) << names[i];
        EXPECT_EQ(names[i].substr(0, 26), "VOK-RAL-1122334455667788--") << names[i];
        EXPECT_EQ(names[i][30], '-');
        for (size_t c : {26, 27, 28, 29, 31, 38})
            EXPECT_TRUE(std::isxdigit((unsigned char)names[i][c]) &&
                        !std::isupper((unsigned char)names[i][c]))
                << names[i];
    }
    EXPECT_NE(names[0], names[1]);

    for (CK_OBJECT_HANDLE h : {priv[0], pub[0]})
        ASSERT_EQ(Rv([&] { w.sim.token->DestroyObject(w.s, h); }), CKR_OK);
    cardsim::CardState after = w.sim.card->Snapshot();
    EXPECT_FALSE(MapValid(MapRecord(after, 0)));
    EXPECT_EQ(after.keys.count({0, 1}), 0u);
    EXPECT_TRUE(MapValid(MapRecord(after, 1)));
    EXPECT_EQ(MapName(MapRecord(after, 1)), names[1]);
    EXPECT_EQ(after.keys.count({1, 1}), 1u);
    EXPECT_TRUE(HasFile(after, "qv_p11", "cont01"));
    w.Reload();
    EXPECT_EQ(w.Objects(CKO_PRIVATE_KEY).size(), 1u);
    EXPECT_EQ(w.Objects(CKO_PUBLIC_KEY).size(), 1u);
}

TEST(TokenGenerate, AFailureAtAnyStepLeavesTheCardAsItWas)
{
    struct Row {
        char const *what;
        std::function<void(SimToken &)> fault;
        CK_RV rv;
    };
    Row const rows[] = {
        {"the counters not written", [](SimToken &s) { RefuseWrite(s, 1); }, CKR_DEVICE_MEMORY},
        {"the card refusing the container", [](SimToken &s) { FailCommand(s, 0xB0, 0x70); },
         CKR_DEVICE_MEMORY},
        {"the container map not written", [](SimToken &s) { RefuseWrite(s, 2); },
         CKR_DEVICE_MEMORY},
        {"the new key unreadable", [](SimToken &s) { FailCommand(s, 0xB0, 0x74, 0x70); },
         CKR_DEVICE_ERROR},
        {"the key capacity unreadable once the key is made",
         [](SimToken &s) { FailCommand(s, 0xB0, 0x10, 0x70); }, CKR_DEVICE_ERROR},
        {"the counters before the attribute file not written",
         [](SimToken &s) { RefuseWrite(s, 3); }, CKR_DEVICE_ERROR},
        {"the attribute file not written", [](SimToken &s) { RefuseWrite(s, 4); },
         CKR_DEVICE_ERROR},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        Writing w(OneContainer());
        std::string before = CardContents(w.sim.card->Snapshot());
        size_t objects = w.sim.Find(w.s).size();
        row.fault(w.sim);
        KeyPairTemplates t(1024);
        CK_OBJECT_HANDLE pub = 7, priv = 7;
        EXPECT_EQ(t.Generate(*w.sim.token, w.s, &pub, &priv), row.rv);
        EXPECT_EQ(pub, 0u);
        EXPECT_EQ(priv, 0u);
        w.sim.channel->refuse = nullptr;
        w.sim.card->SetFault(cardsim::Fault::None);
        EXPECT_EQ(CardContents(w.sim.card->Snapshot()), before);
        EXPECT_EQ(w.sim.token->Containers().Count(), 1u);
        EXPECT_EQ(w.sim.Find(w.s).size(), objects);
        EXPECT_EQ(w.sim.card->AuthenticatedRoles(), 0u);
        EXPECT_EQ(w.sim.channel->open, 0);

        // the container number is free again
        ASSERT_EQ(t.Generate(*w.sim.token, w.s, &pub, &priv), CKR_OK);
        EXPECT_TRUE(MapValid(MapRecord(w.sim.card->Snapshot(), 1)));
    }
}

TEST(TokenGenerate, GeneratedKeysAreLocalAndCanBeCopied)
{
    Writing w;
    CK_BBOOL no = CK_FALSE;
    char label[] = "copied";
    CK_ATTRIBUTE copyTemplate[] = {{CKA_TOKEN, &no, 1}, {CKA_LABEL, label, sizeof(label) - 1}};
    for (bool token : {false, true}) {
        SCOPED_TRACE(token ? "on the card" : "in the session");
        KeyPairTemplates t(1024, token);
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        ASSERT_EQ(t.Generate(*w.sim.token, w.s, &pub, &priv), CKR_OK);
        EXPECT_EQ((pub & 0x80000000UL) == 0, token);
        for (CK_OBJECT_HANDLE key : {pub, priv}) {
            EXPECT_EQ(w.sim.Attribute(w.s, key, CKA_LOCAL), Bytes{CK_TRUE});
            EXPECT_EQ(w.sim.Ulong(w.s, key, CKA_KEY_GEN_MECHANISM), CKM_RSA_PKCS_KEY_PAIR_GEN);
        }
        // a token's private key never leaves the card
        std::vector<CK_OBJECT_HANDLE> copies =
            token ? std::vector<CK_OBJECT_HANDLE>{pub} : std::vector<CK_OBJECT_HANDLE>{pub, priv};
        for (CK_OBJECT_HANDLE key : copies) {
            CK_OBJECT_HANDLE copy = 0;
            ASSERT_EQ(Rv([&] { w.sim.token->CopyObject(w.s, key, copyTemplate, 2, &copy); }),
                      CKR_OK);
            EXPECT_NE(copy & 0x80000000UL, 0u);
            EXPECT_EQ(w.sim.Text(w.s, copy, CKA_LABEL), "copied");
            EXPECT_EQ(w.sim.Attribute(w.s, copy, CKA_MODULUS),
                      w.sim.Attribute(w.s, key, CKA_MODULUS));
        }
    }
}

TEST(TokenGenerate, TheCardMakesKeysOfExponent65537Or3Only)
{
    struct Row {
        char const *what;
        Bytes exponent; // empty: none given
        CK_RV rv;
        Bytes made = {}, shown = {}; // on the card; the keys' attribute, as the card reports it
    };
    Row const rows[] = {
        {"none given", {}, CKR_OK, {1, 0, 1}, {1, 0, 1}},
        {"65537", {1, 0, 1}, CKR_OK, {1, 0, 1}, {1, 0, 1}},
        {"65537 with a leading zero", {0, 1, 0, 1}, CKR_OK, {1, 0, 1}, {1, 0, 1}},
        {"3", {3}, CKR_OK, {3}, {0, 0, 0, 3}},
        {"17", {17}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"2^24 + 1", {1, 0, 0, 1}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"65537 in more than 8 bytes", {0, 0, 0, 0, 0, 0, 1, 0, 1}, CKR_ATTRIBUTE_VALUE_INVALID},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        Writing w;
        std::string before = CardContents(w.sim.card->Snapshot());
        KeyPairTemplates t(1024);
        if (!row.exponent.empty())
            t.publicKey.push_back(
                {CKA_PUBLIC_EXPONENT, (void *)row.exponent.data(), row.exponent.size()});
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        ASSERT_EQ(t.Generate(*w.sim.token, w.s, &pub, &priv), row.rv);
        if (row.rv != CKR_OK) {
            EXPECT_EQ(CardContents(w.sim.card->Snapshot()), before);
            continue;
        }
        cardsim::CardState state = w.sim.card->Snapshot();
        ASSERT_EQ(state.keys.count({0, 1}), 1u);
        Bytes n, e;
        ASSERT_TRUE(cardsim::RsaPublicParts(state.keys.at({0, 1}).der, false, n, e));
        EXPECT_EQ(e, row.made);
        EXPECT_EQ(w.sim.Attribute(w.s, pub, CKA_PUBLIC_EXPONENT), row.shown);
        EXPECT_EQ(w.sim.Attribute(w.s, priv, CKA_PUBLIC_EXPONENT), row.shown);
    }
}

TEST(TokenKeyUsage, GenerationAndImportPutAKeyIntoTheSameContainer)
{
    struct Row {
        CK_BBOOL sign, decrypt, unwrap;
        CK_RV rv;
        unsigned long type = 0; // the token's container type
        int spec = 0;           // the key's place in the card container
        unsigned char usage = 0;
    };
    // a key that decrypts is an exchange key, even when it signs too; one that
    // signs and does not decrypt a signature key, whatever it may unwrap
    Row const rows[] = {
        {1, 0, 0, CKR_OK, CONTAINER_TYPE_SIGNATURE, 0, 1},
        {1, 0, 1, CKR_OK, CONTAINER_TYPE_SIGNATURE, 0, 7},
        {1, 1, 0, CKR_OK, CONTAINER_TYPE_EXCHANGE, 1, 7},
        {1, 1, 1, CKR_OK, CONTAINER_TYPE_EXCHANGE, 1, 7},
        {0, 1, 0, CKR_OK, CONTAINER_TYPE_EXCHANGE, 1, 6},
        {0, 0, 1, CKR_OK, CONTAINER_TYPE_EXCHANGE, 1, 6},
        {0, 1, 1, CKR_OK, CONTAINER_TYPE_EXCHANGE, 1, 6},
        {0, 0, 0, CKR_TEMPLATE_INCONSISTENT},
    };
    OpenSslKey imported(1024);
    for (bool generated : {true, false}) {
        for (Row const &row : rows) {
            SCOPED_TRACE(testing::Message()
                         << (generated ? "generated" : "imported") << ": sign " << (int)row.sign
                         << " decrypt " << (int)row.decrypt << " unwrap " << (int)row.unwrap);
            Writing w;
            std::string before = CardContents(w.sim.card->Snapshot());
            std::vector<CK_ATTRIBUTE> usage = {{CKA_SIGN, (void *)&row.sign, 1},
                                               {CKA_DECRYPT, (void *)&row.decrypt, 1},
                                               {CKA_UNWRAP, (void *)&row.unwrap, 1}};
            CK_OBJECT_HANDLE priv = 0;
            if (generated) {
                KeyPairTemplates t(1024);
                t.privateKey.insert(t.privateKey.end(), usage.begin(), usage.end());
                CK_OBJECT_HANDLE pub = 0;
                ASSERT_EQ(t.Generate(*w.sim.token, w.s, &pub, &priv), row.rv);
            } else {
                PrivateKeyTemplate t(imported, usage);
                ASSERT_EQ(w.Create(t.entries, &priv), row.rv);
            }
            cardsim::CardState card = w.sim.card->Snapshot();
            if (row.rv != CKR_OK) {
                EXPECT_EQ(CardContents(card), before);
                continue;
            }
            ASSERT_EQ(w.sim.token->Containers().Count(), 1u);
            CP11Container *container = *w.sim.token->Containers().begin();
            EXPECT_EQ(container->GetKeyPrivate()->GetHandle(), priv);
            EXPECT_EQ(container->FindLongAttribute(CKA_CONTAINER_TYPE), row.type);
            EXPECT_EQ(container->FindByteAttribute(CKA_CONTAINER_KEY_NUMBER), row.spec);
            EXPECT_EQ(card.keys.size(), 1u);
            EXPECT_EQ(card.keys.count({0, row.spec}), 1u);
            if (card.keys.count({0, row.spec}) == 1) {
                EXPECT_EQ(card.keys.at({0, row.spec}).usage, row.usage);
            }
            // the key's size on its side of the container map record
            std::vector<unsigned char> record = MapRecord(card, 0);
            size_t side = row.spec == 0 ? 82 : 84;
            EXPECT_EQ(record[side] | record[side + 1] << 8, 1024);
            EXPECT_EQ(record[166 - side] | record[167 - side] << 8, 0);
            EXPECT_EQ(MapName(record), container->FindStringAttribute(CKA_CONTAINER_LABEL));

            // read back, the key does what it did, whatever the card's flags say
            w.Reload();
            std::vector<CK_OBJECT_HANDLE> keys = w.Objects(CKO_PRIVATE_KEY);
            ASSERT_EQ(keys.size(), 1u);
            EXPECT_EQ(w.sim.Attribute(w.s, keys[0], CKA_SIGN), Bytes{row.sign});
            EXPECT_EQ(w.sim.Attribute(w.s, keys[0], CKA_DECRYPT), Bytes{row.decrypt});
            EXPECT_EQ(w.sim.Attribute(w.s, keys[0], CKA_UNWRAP), Bytes{row.unwrap});
        }
    }
}
