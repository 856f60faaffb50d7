// The identity-card token's lifecycle in process, against the simulated card:
// which cards it recognises, the token information and mechanisms it reads at
// initialisation, and the calls that need no card.
#include "token_sim_support.h"

#include <cstring>

using namespace token_test;

namespace
{

std::string field(unsigned char const *p, size_t n)
{
    return std::string(reinterpret_cast<char const *>(p), n);
}

std::string padded(std::string s, size_t n)
{
    return s + std::string(n - s.size(), ' ');
}

} // namespace

TEST(TokenLifecycle, RecognisesTheCardApplicationOnATemporaryConnection)
{
    struct Row {
        char const *what;
        cardsim::Options options;
        bool vok;     // the simulated card, else a card that knows no application
        bool present; // a card in the reader
        bool known;
    };
    cardsim::Options secondAid;
    secondAid.secondAidOnly = true;
    Row const rows[] = {
        {"the vOK card", {}, true, true, true},
        {"a card with the second identifier only", secondAid, true, true, true},
        {"another card", {}, false, true, false},
        {"no card", {}, true, false, false},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        SimToken sim({}, 1, row.options);
        if (!row.vok)
            sim.channel.reset(new SimChannel([](Bytes const &) { return Bytes{0x6A, 0x82}; }));
        sim.slot.reset(new CP11Slot(sim.channel.get()));
        sim.slot->SetAttribute(SLOT_A_NAME, READER, ~0UL);
        sim.token.reset(new TestToken(sim.slot.get()));
        sim.channel->present = row.present;

        EXPECT_EQ(sim.token->IsKnown(), row.known);
        EXPECT_EQ(sim.channel->connects, 1);
        EXPECT_EQ(sim.channel->open, 0) << "the transaction ends";
        EXPECT_EQ(sim.token->GetCard(), nullptr) << "nothing of the card is kept";
    }
}

TEST(TokenLifecycle, InitializeReadsTheTokenInformation)
{
    SimToken sim;
    // two 1024-bit and one 2048-bit key, two keys per container
    sim.card->Modify([](cardsim::CardState &s) { s.keySizes = {{1024, 2}, {2048, 1}}; });
    ASSERT_TRUE(sim.Insert());
    EXPECT_EQ(sim.channel->open, 0);

    CK_TOKEN_INFO info;
    sim.token->GetInfo(&info);
    EXPECT_EQ(field(info.label, 32), padded("vOK RAL", 32));
    EXPECT_EQ(field(info.manufacturerID, 32), padded("vOK", 32));
    EXPECT_EQ(field(info.model, 16), padded("vOK ID card", 16));
    EXPECT_EQ(field(info.serialNumber, 16), "1122334455667788");
    // the card lists the user PIN as initialised (its role-8 record has no try left)
    EXPECT_EQ(info.flags, (CK_FLAGS)(CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED |
                                     CKF_USER_PIN_INITIALIZED));
    EXPECT_EQ(info.ulMaxSessionCount, 16u);
    EXPECT_EQ(info.ulMaxRwSessionCount, 16u);
    EXPECT_EQ(info.ulSessionCount, 0u);
    EXPECT_EQ(info.ulMinPinLen, 1u);
    EXPECT_EQ(info.ulMaxPinLen, 8u);
    EXPECT_EQ(info.hardwareVersion.major, 1);
    EXPECT_EQ(info.hardwareVersion.minor, 0);
    EXPECT_EQ(info.firmwareVersion.major, 1);
    EXPECT_EQ(info.firmwareVersion.minor, 2);
    cardsim::CardState state = sim.card->Snapshot();
    EXPECT_EQ(info.ulTotalPublicMemory, state.TotalMemory());
    EXPECT_EQ(info.ulFreePublicMemory, state.FreeMemory());
    // (2 x 1024 / 8) x 2 + 2 x 86 + (1 x 2048 / 8) x 2 + 86, no container in use
    EXPECT_EQ(info.ulTotalPrivateMemory, 1282u);
    EXPECT_EQ(info.ulFreePrivateMemory, 1282u);
}

TEST(TokenLifecycle, FreePrivateMemoryIsWhatTheContainersInUseLeave)
{
    struct Row {
        std::vector<cardsim::KeySize> capacity;
        CK_ULONG total, free;
    };
    // one container with two 2048-bit keys takes 256 + 256 + 86 bytes
    Row const rows[] = {
        {{{1024, 2}, {2048, 1}}, 1282, 1282 - 598},
        // a card that holds more than its capacity has nothing free, not a
        // figure wrapped round below zero
        {{{1024, 1}}, 342, 0},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.total);
        cardsim::Personalisation p;
        p.withContainer = true;
        SimToken sim(p);
        sim.card->Modify([&](cardsim::CardState &s) { s.keySizes = row.capacity; });
        ASSERT_TRUE(sim.Insert());
        CK_TOKEN_INFO info;
        sim.token->GetInfo(&info);
        EXPECT_EQ(info.ulTotalPrivateMemory, row.total);
        EXPECT_EQ(info.ulFreePrivateMemory, row.free);
    }
}

TEST(TokenLifecycle, SerialNumberIsTheTailOfTheCardSerialInHex)
{
    struct Row {
        char const *serial;
        char const *shown; // the 16 characters of CK_TOKEN_INFO
    };
    Row const rows[] = {
        {"0000000000000000 1122334455667788", "1122334455667788"},
        // 0xF0 names the start position: from the 21st digit, 12 of them
        {"F014000000000000 1122334455667788", "334455667788    "},
        {"F020000000000000 1122334455667788", "                "},
        // a start past the 32 digits gives an empty serial, never bytes after them
        {"F0FF000000000000 1122334455667788", "                "},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.serial);
        cardsim::Personalisation p;
        p.serial = Hex(row.serial);
        SimToken sim(p);
        ASSERT_TRUE(sim.Insert());
        CK_TOKEN_INFO info;
        sim.token->GetInfo(&info);
        EXPECT_EQ(field(info.serialNumber, 16), row.shown);
    }
}

TEST(TokenLifecycle, PinFlagsFollowTheTriesLeft)
{
    struct Row {
        size_t pin; // 0 the user PIN (3 tries), 1 the PUK (5 tries)
        unsigned char tries;
        CK_FLAGS flags;
    };
    Row const rows[] = {
        {0, 3, 0},
        {0, 2, CKF_USER_PIN_COUNT_LOW},
        {0, 1, CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY},
        {0, 0, CKF_USER_PIN_LOCKED},
        {1, 1, CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY},
        {1, 0, CKF_SO_PIN_LOCKED},
    };
    CK_FLAGS const tryFlags = CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY |
                              CKF_USER_PIN_LOCKED | CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY |
                              CKF_SO_PIN_LOCKED;
    for (Row const &row : rows) {
        SCOPED_TRACE(testing::Message() << "PIN " << row.pin << " tries " << int(row.tries));
        SimToken sim;
        ASSERT_TRUE(sim.card->SetPinTries(row.pin, row.tries));
        ASSERT_TRUE(sim.Insert());
        CK_TOKEN_INFO info;
        sim.token->GetInfo(&info);
        EXPECT_EQ(info.flags & tryFlags, row.flags);
    }
}

TEST(TokenLifecycle, MechanismsAndTheirInformation)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    CK_MECHANISM_TYPE const order[] = {CKM_RSA_PKCS_KEY_PAIR_GEN,
                                       CKM_RSA_PKCS,
                                       CKM_RSA_X_509,
                                       CKM_SHA1_RSA_PKCS,
                                       CKM_SHA224_RSA_PKCS,
                                       CKM_SHA256_RSA_PKCS,
                                       CKM_SHA384_RSA_PKCS,
                                       CKM_SHA512_RSA_PKCS,
                                       CKM_MD5,
                                       CKM_SHA_1,
                                       CKM_SHA224,
                                       CKM_SHA256,
                                       CKM_SHA384,
                                       CKM_SHA512};
    unsigned long list[20], count = 20;
    sim.token->GetMechanismList(list, &count);
    ASSERT_EQ(count, 14u);
    EXPECT_TRUE(std::equal(order, order + 14, list));

    struct Row {
        CK_MECHANISM_TYPE type;
        CK_ULONG min, max;
        CK_FLAGS flags;
    };
    CK_FLAGS const rsa = CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_VERIFY;
    Row const rows[] = {
        {CKM_RSA_PKCS_KEY_PAIR_GEN, 1024, 2048, CKF_HW | CKF_GENERATE_KEY_PAIR},
        // no wrapping: C_WrapKey and C_UnwrapKey are refused
        {CKM_RSA_PKCS, 512, 4096, rsa},
        {CKM_RSA_X_509, 512, 4096, rsa},
        {CKM_SHA256_RSA_PKCS, 512, 4096, CKF_HW | CKF_SIGN | CKF_VERIFY},
        {CKM_SHA512, 0, 0, CKF_DIGEST},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.type);
        CK_MECHANISM_INFO info;
        sim.token->GetMechanismInfo(row.type, &info);
        EXPECT_EQ(info.ulMinKeySize, row.min);
        EXPECT_EQ(info.ulMaxKeySize, row.max);
        EXPECT_EQ(info.flags, row.flags);
    }
    CK_MECHANISM_INFO info;
    EXPECT_EQ(Rv([&] { sim.token->GetMechanismInfo(CKM_SHA256_HMAC, &info); }),
              CKR_MECHANISM_INVALID);
}

TEST(TokenLifecycle, AFailedInitializeLeavesTheTokenFinalised)
{
    struct Row {
        char const *what;
        std::function<void(SimToken &)> spoil;
        CK_RV rv;
    };
    Row const rows[] = {
        {"no application",
         [](SimToken &s) {
             s.channel.reset(new SimChannel([](Bytes const &) { return Bytes{0x6A, 0x82}; }));
         },
         CKR_TOKEN_NOT_PRESENT},
        {"the card pulled out", [](SimToken &s) { s.channel->present = false; }, CKR_DEVICE_ERROR},
        {"information refused",
         [](SimToken &s) {
             cardsim::Card *card = s.card.get();
             s.channel.reset(new SimChannel([card](Bytes const &c) {
                 // the card answers the selection and refuses kind 4
                 if (c.size() > 2 && c[0] == 0xB0 && c[1] == 0x10 && c[2] == 4)
                     return Bytes{0x6A, 0x86};
                 return card->Apdu(c);
             }));
         },
         CKR_DEVICE_ERROR},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        SimToken sim;
        row.spoil(sim);
        sim.slot.reset(new CP11Slot(sim.channel.get()));
        sim.slot->SetAttribute(SLOT_A_NAME, READER, ~0UL);
        sim.token.reset(new TestToken(sim.slot.get()));
        EXPECT_EQ(Rv([&] { sim.token->Initialize(); }), row.rv);
        EXPECT_EQ(sim.token->GetCard(), nullptr);
        EXPECT_FALSE(sim.token->Connected());
        EXPECT_EQ(sim.channel->open, 0);
    }
}

TEST(TokenLifecycle, CallsThatNeedNoCard)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    unsigned char pin[] = "123456", label[32] = {};
    EXPECT_EQ(Rv([&] { sim.token->InitToken(pin, 6, label); }), CKR_FUNCTION_FAILED);
    EXPECT_EQ(Rv([&] { sim.token->InitToken(pin, 0, label); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Rv([&] { sim.token->SeedRandom(0x12345, pin, 6); }), CKR_RANDOM_SEED_NOT_SUPPORTED);

    CK_SESSION_HANDLE s = sim.Open();
    int apdus = sim.channel->apdus;
    unsigned char a[64] = {}, b[64] = {};
    sim.token->GenerateRandom(s, a, sizeof(a));
    sim.token->GenerateRandom(s, b, sizeof(b));
    EXPECT_NE(std::memcmp(a, b, sizeof(a)), 0);
    EXPECT_EQ(sim.channel->apdus, apdus) << "random numbers come from software";
    EXPECT_EQ(Rv([&] { sim.token->GenerateRandom(s, a, 0); }), CKR_OK);
    EXPECT_EQ(Rv([&] { sim.token->GenerateRandom(s, nullptr, 8); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Rv([&] { sim.token->GenerateRandom(s + 1, a, 8); }), CKR_SESSION_HANDLE_INVALID);
}

TEST(TokenLifecycle, FinalizeReleasesEverythingAndTheTokenComesBack)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    sim.Open();
    sim.token->Finalize();
    EXPECT_EQ(sim.token->GetCard(), nullptr);
    EXPECT_FALSE(sim.token->Connected());
    EXPECT_EQ(sim.token->GetSessions().Count(), 0u);
    EXPECT_EQ(sim.token->GetObjects().Count(), 0u);
    sim.token->Initialize();
    EXPECT_EQ(Rv([&] { sim.Open(); }), CKR_OK);
    // deleting a token with a session and a card that has gone throws nothing
    sim.channel->present = false;
    sim.token.reset();
}
