// Login and PIN management of the identity-card token in process, where the
// faults show: a login that ends ends for every session, a PIN that may be stale
// is never presented (also when another application changed it), refusals that
// come before the card leave the login alone, and the card checks every PIN typed.
#include "token_sim_support.h"

#include <sstream>

#include "card/qvmd.h"
#include "control.h"
#include "objects/p11_container.h"
#include "objects/p11_private_key.h"

using namespace token_test;

namespace
{

CK_FLAGS const RW = CKF_SERIAL_SESSION | CKF_RW_SESSION;
CK_FLAGS const RO = CKF_SERIAL_SESSION;
std::string const PIN = "123456", PUK = "12345678";

CK_RV login(CP11Token_eiD &token, CK_SESSION_HANDLE h, CK_USER_TYPE user, std::string pin)
{
    return Rv([&] { token.Login(h, user, (unsigned char *)&pin[0], pin.size()); });
}
CK_RV setPin(CP11Token_eiD &token, CK_SESSION_HANDLE h, std::string o, std::string n)
{
    return Rv([&] {
        token.SetPIN(h, (unsigned char *)&o[0], o.size(), (unsigned char *)&n[0], n.size());
    });
}
CK_RV initPin(CP11Token_eiD &token, CK_SESSION_HANDLE h, std::string pin)
{
    return Rv([&] { token.InitPIN(h, (unsigned char *)&pin[0], pin.size()); });
}
CK_STATE state(CP11Token_eiD &token, CK_SESSION_HANDLE h)
{
    CK_SESSION_INFO info{};
    token.GetSessionInfo(h, &info);
    return info.state;
}
CK_RV sign(CP11Token_eiD &token, CK_SESSION_HANDLE h, CK_OBJECT_HANDLE key)
{
    return Rv([&] {
        CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
        token.SignInit(h, &mechanism, key);
        unsigned char data[] = "data", signature[256];
        unsigned long length = sizeof(signature);
        token.Sign(h, data, sizeof(data), signature, &length);
    });
}

// A card with one container of two 1024-bit keys.
cardsim::Personalisation withContainer()
{
    cardsim::Personalisation p;
    p.withContainer = true;
    p.keyBits = 1024;
    return p;
}

// The signature key of the card's container.
CP11Object *signatureKey(TestToken &token)
{
    for (auto it = token.Containers().begin(); it != token.Containers().end(); ++it)
        if ((*it)->FindLongAttribute(CKA_CONTAINER_TYPE) == CONTAINER_TYPE_SIGNATURE)
            return (*it)->GetKeyPrivate();
    return nullptr;
}

// A private data object kept by the session.
CK_OBJECT_HANDLE privateSessionObject(CP11Token_eiD &token, CK_SESSION_HANDLE h)
{
    CP11DataObject object;
    object.SetAttribute(CKA_TOKEN, (unsigned char)0);
    object.SetAttribute(CKA_PRIVATE, (unsigned char)1);
    unsigned long handle = 0;
    token.GetSession(h)->PushObject(&object, &handle);
    return handle;
}

// Counts the PIN verifications the card gets from now on into n.
void countVerifies(SimToken &sim, int &n)
{
    n = 0;
    sim.channel->refuse = [&n](Bytes const &c) {
        n += c.size() > 1 && c[0] == 0xB0 && c[1] == 0x20;
        return false;
    };
}

} // namespace

TEST(TokenLogin, ALoginEndsForEverySessionWhicheverWayItEnds)
{
    struct Row {
        char const *what;
        // ends the login of the token under test (sim), possibly from another
        // application's token on the same card (other)
        std::function<CK_RV(SimToken &, TestToken &other, CK_SESSION_HANDLE)> end;
        CK_RV rv; // of the next signature
    };
    auto otherSession = [](TestToken &other) {
        CK_SESSION_HANDLE h = 0;
        other.OpenSession(RW, nullptr, nullptr, &h);
        return h;
    };
    Row const rows[] = {
        {"C_Logout",
         [](SimToken &s, TestToken &, CK_SESSION_HANDLE h) {
             return Rv([&] { s.token->Logout(h); });
         },
         CKR_OBJECT_HANDLE_INVALID},
        {"C_SetPIN here",
         [](SimToken &s, TestToken &, CK_SESSION_HANDLE h) {
             return setPin(*s.token, h, PIN, "654321");
         },
         CKR_OBJECT_HANDLE_INVALID},
        {"the PIN changed by another application",
         [&](SimToken &, TestToken &other, CK_SESSION_HANDLE) {
             return setPin(other, otherSession(other), PIN, "654321");
         },
         CKR_USER_NOT_LOGGED_IN},
        {"the PIN unblocked by another application",
         [&](SimToken &, TestToken &other, CK_SESSION_HANDLE) {
             CK_SESSION_HANDLE h = otherSession(other);
             CK_RV rv = login(other, h, CKU_SO, PUK);
             return rv != CKR_OK ? rv : initPin(other, h, "654321");
         },
         CKR_USER_NOT_LOGGED_IN},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        SimToken sim(withContainer());
        ASSERT_TRUE(sim.Insert());
        TestToken other(sim.slot.get()); // another application on the same card
        other.Initialize();
        CK_SESSION_HANDLE h = sim.Open(RW), ro = sim.Open(RO);
        ASSERT_EQ(login(*sim.token, h, CKU_USER, PIN), CKR_OK);
        CK_OBJECT_HANDLE key = signatureKey(*sim.token)->GetHandle();
        CK_OBJECT_HANDLE mine = privateSessionObject(*sim.token, h);
        ASSERT_EQ(sign(*sim.token, h, key), CKR_OK);

        ASSERT_EQ(row.end(sim, other, h), CKR_OK);
        int sent = 0;
        countVerifies(sim, sent);
        EXPECT_EQ(sign(*sim.token, h, key), row.rv);
        EXPECT_EQ(sent, 0) << "no PIN went to the card";
        EXPECT_EQ(state(*sim.token, h), (CK_STATE)CKS_RW_PUBLIC_SESSION);
        EXPECT_EQ(state(*sim.token, ro), (CK_STATE)CKS_RO_PUBLIC_SESSION);
        EXPECT_EQ(sim.token->findObject(mine), nullptr) << "private session objects go";
        EXPECT_EQ(Rv([&] { sim.token->GetObject(key); }), CKR_OBJECT_HANDLE_INVALID);
        EXPECT_EQ(sim.card->Snapshot().pins.at(0).tries, 3u);
        EXPECT_EQ(sim.card->AuthenticatedRoles(), 0u);
        CK_TOKEN_INFO info;
        sim.token->GetInfo(&info);
        EXPECT_NE(info.flags & CKF_LOGIN_REQUIRED, 0u);
    }
}

TEST(TokenLogin, RefusalsBeforeThePinLeaveTheLoginAsItWas)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE rw = sim.Open(RW);
    ASSERT_EQ(login(*sim.token, rw, CKU_SO, PUK), CKR_OK);
    struct Row {
        char const *what;
        std::function<CK_RV()> call;
        CK_RV rv;
    };
    Row const rows[] = {
        {"a second officer login", [&] { return login(*sim.token, rw, CKU_SO, PUK); },
         CKR_USER_ALREADY_LOGGED_IN},
        {"an unknown user type", [&] { return login(*sim.token, rw, 7, PUK); },
         CKR_USER_TYPE_INVALID},
        {"no PIN", [&] { return Rv([&] { sim.token->Login(rw, CKU_USER, nullptr, 6); }); },
         CKR_ARGUMENTS_BAD},
        {"an unknown session", [&] { return login(*sim.token, 0x10099, CKU_USER, PIN); },
         CKR_SESSION_HANDLE_INVALID},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.call(), row.rv);
        EXPECT_EQ(state(*sim.token, rw), (CK_STATE)CKS_RW_SO_FUNCTIONS);
    }
    // the officer's PUK is still there to unblock with
    EXPECT_EQ(initPin(*sim.token, rw, "222222"), CKR_OK);
    CK_SESSION_HANDLE other = sim.Open(RW);
    EXPECT_EQ(Rv([&] { sim.token->Logout(other); }), CKR_OK);
    EXPECT_EQ(login(*sim.token, other, CKU_USER, "222222"), CKR_OK);
}

TEST(TokenLogin, TheCardChecksThePinWhateverItWasLeftWith)
{
    // another application left the card authenticated as the user
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    Bytes verify = {0xB0, 0x20, 0x00, 0x00, 0x08, '1', '2', '3', '4', '5', '6', 0xFF, 0xFF};
    ASSERT_EQ(sim.card->Apdu(verify), (Bytes{0x90, 0x00}));
    CK_SESSION_HANDLE h = sim.Open(RW);
    EXPECT_EQ(login(*sim.token, h, CKU_USER, "654321"), CKR_PIN_INCORRECT);
    EXPECT_EQ(state(*sim.token, h), (CK_STATE)CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(sim.card->Snapshot().pins.at(0).tries, 2u);
    EXPECT_EQ(login(*sim.token, h, CKU_USER, PIN), CKR_OK);
    EXPECT_EQ(sim.card->AuthenticatedRoles(), 0u);
}

TEST(TokenLogin, ACardKeyNeedsALoginEvenWhenItIsPublic)
{
    SimToken sim(withContainer());
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE h = sim.Open();
    CP11Object *key = signatureKey(*sim.token);
    ASSERT_NE(key, nullptr);
    key->SetAttribute(CKA_PRIVATE, (unsigned char)0);
    sim.token->UpdateObjects(false);
    int sent = 0;
    countVerifies(sim, sent);
    EXPECT_EQ(sign(*sim.token, h, key->GetHandle()), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(sim.token->CryptoClear());
}

TEST(TokenLogin, APukRefusedByTheCardIsNotPresentedAgain)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE h = sim.Open(RW);
    ASSERT_EQ(login(*sim.token, h, CKU_SO, PUK), CKR_OK);

    // another application changes the PUK without raising the card's PIN counter
    TestToken other(sim.slot.get());
    other.Initialize();
    _qv_md_card_struct *card = other.GetCard();
    ASSERT_EQ(QVMD_GetInfo(card, card->info, QVMD_INFO_PIN_PROPERTIES), 0u);
    long tries = 0;
    ASSERT_EQ(QVMD_ChangeAuthenticator(card, 4, 1, (unsigned char const *)PUK.data(), PUK.size(),
                                       (unsigned char const *)"87654321", 8, 5, &tries, 0),
              0u);

    EXPECT_EQ(initPin(*sim.token, h, "222222"), CKR_PIN_INCORRECT);
    EXPECT_EQ(state(*sim.token, h), (CK_STATE)CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(initPin(*sim.token, h, "222222"), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(sim.card->Snapshot().pins.at(1).tries, 4u) << "one try, not one per call";
    CK_TOKEN_INFO info;
    sim.token->GetInfo(&info);
    EXPECT_NE(info.flags & CKF_SO_PIN_COUNT_LOW, 0u);
}

TEST(TokenLogin, PinLengthsAndStatesOfTheChanges)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE ro = sim.Open(RO), rw = sim.Open(RW);
    unsigned char one[] = {'1'};
    struct Row {
        char const *what;
        std::function<CK_RV()> call;
        CK_RV rv;
    };
    Row const rows[] = {
        {"SetPIN read-only", [&] { return setPin(*sim.token, ro, PIN, "654321"); },
         CKR_SESSION_READ_ONLY},
        {"SetPIN no old PIN",
         [&] { return Rv([&] { sim.token->SetPIN(rw, nullptr, 6, one, 1); }); }, CKR_ARGUMENTS_BAD},
        {"SetPIN four digits", [&] { return setPin(*sim.token, rw, PIN, "6543"); },
         CKR_PIN_LEN_RANGE},
        {"SetPIN nine digits", [&] { return setPin(*sim.token, rw, PIN, "123456789"); },
         CKR_PIN_LEN_RANGE},
        {"InitPIN public", [&] { return initPin(*sim.token, rw, "654321"); },
         CKR_USER_NOT_LOGGED_IN},
        {"InitPIN four digits", [&] { return initPin(*sim.token, rw, "6543"); }, CKR_PIN_LEN_RANGE},
        {"Logout public", [&] { return Rv([&] { sim.token->Logout(rw); }); },
         CKR_USER_NOT_LOGGED_IN},
    };
    int apdus = sim.channel->apdus;
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.call(), row.rv);
    }
    EXPECT_EQ(sim.channel->apdus, apdus) << "refused before the card";
}

TEST(TokenLogin, APinChangeTakesOnlyThePinCounterForTheTokensOwn)
{
    SimToken sim(withContainer());
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE h = sim.Open(RW);

    // the APDUs of a load once every session has closed
    auto reload = [&] {
        sim.token->CloseAllSessions();
        int before = sim.channel->apdus;
        h = sim.Open(RW);
        return sim.channel->apdus - before;
    };
    int quiet = reload();

    // a PIN change alone: the token's own change, after which what was read of
    // the card's containers and files still holds
    ASSERT_EQ(setPin(*sim.token, h, PIN, "654321"), CKR_OK);
    EXPECT_EQ(sim.token->tokenCacheSynchronize(0), 0u);
    EXPECT_EQ(reload(), quiet) << "the load answered from the reads kept";
    size_t objects = sim.Find(h).size();
    CK_TOKEN_INFO info;
    sim.token->GetInfo(&info);
    CK_ULONG freeBefore = info.ulFreePrivateMemory;

    // another application adds a key container, raising the containers and
    // files counters, and then the token changes the PIN: only the PIN counter
    // moved by the token's hand, the rest stays news
    std::ostringstream out;
    ASSERT_TRUE(cardsim::RunControl(*sim.card, "key 1 1 1024", out));
    ASSERT_EQ(out.str().rfind("ok", 0), 0u) << out.str();
    ASSERT_TRUE(sim.card->BumpCounters(QVMD_CACHE_CONTAINERS | QVMD_CACHE_FILES));
    ASSERT_EQ(setPin(*sim.token, h, "654321", PIN), CKR_OK);
    EXPECT_EQ(sim.token->tokenCacheSynchronize(0), QVMD_CACHE_CONTAINERS | QVMD_CACHE_FILES)
        << "the other application's changes are not taken for the token's";

    // the private memory is counted again at the token's next change (a public
    // data object), and the next load reads the card, not what was read before
    ASSERT_EQ(login(*sim.token, h, CKU_USER, PIN), CKR_OK);
    CK_OBJECT_CLASS data = CKO_DATA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ATTRIBUTE templ[] = {
        {CKA_CLASS, &data, sizeof(data)}, {CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &no, 1}};
    CK_OBJECT_HANDLE object = 0;
    ASSERT_EQ(Rv([&] { sim.token->CreateObject(h, templ, 3, &object); }), CKR_OK);
    sim.token->GetInfo(&info);
    EXPECT_EQ(info.ulFreePrivateMemory, freeBefore - (1024 / 8 + 86)) << "the new container's";
    EXPECT_GT(reload(), quiet);
    EXPECT_EQ(sim.Find(h).size(), objects + 3) << "its certificate, its public key, the data";
}
