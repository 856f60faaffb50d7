// Login, logout and PIN management of the identity-card token through the shipped
// module over the real reader service, with the simulated card in the virtual
// reader: the codes and PIN flags after each try, the session states, what a
// login shows and what its end hides, and PINs changed elsewhere.
#include "token_module_support.h"

#include "token/p11_token_eid.h"

using namespace token_test;

namespace
{

CK_FLAGS const USER_FLAGS = CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED;
CK_FLAGS const SO_FLAGS = CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_LOCKED;

// A card with one container of two 1024-bit keys.
cardsim::Personalisation withContainer()
{
    cardsim::Personalisation p;
    p.containers = {Container(1024)};
    return p;
}

unsigned triesLeft(cardsim::Card &card, size_t pin)
{
    return card.Snapshot().pins.at(pin).tries;
}

} // namespace

using TokenPinOverReader = ModuleOverReader;

TEST_F(TokenPinOverReader, LoginTriesAndFlags)
{
    ASSERT_TRUE(Insert());
    struct Row {
        char const *what;
        size_t pin; // the card's PIN 0 (user) or 1 (PUK)
        unsigned char triesBefore;
        CK_USER_TYPE user;
        std::string given;
        CK_RV rv;
        CK_FLAGS flags; // of USER_FLAGS and SO_FLAGS
        CK_STATE state;
        unsigned triesAfter;
    };
    Row const rows[] = {
        {"the user PIN", 0, 3, CKU_USER, UserPin(), CKR_OK, 0, CKS_RW_USER_FUNCTIONS, 3},
        {"the user PIN after a wrong one", 0, 2, CKU_USER, UserPin(), CKR_OK, 0,
         CKS_RW_USER_FUNCTIONS, 3},
        {"the PUK", 1, 5, CKU_SO, Puk(), CKR_OK, 0, CKS_RW_SO_FUNCTIONS, 5},
        {"a wrong PIN, two tries left", 0, 3, CKU_USER, "000000", CKR_PIN_INCORRECT,
         CKF_USER_PIN_COUNT_LOW, CKS_RW_PUBLIC_SESSION, 2},
        {"a wrong PIN, one try left", 0, 2, CKU_USER, "000000", CKR_PIN_INCORRECT,
         CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY, CKS_RW_PUBLIC_SESSION, 1},
        {"a wrong PIN at the last try", 0, 1, CKU_USER, "000000", CKR_PIN_LOCKED,
         CKF_USER_PIN_LOCKED, CKS_RW_PUBLIC_SESSION, 0},
        {"the right PIN of a blocked PIN", 0, 0, CKU_USER, UserPin(), CKR_PIN_LOCKED,
         CKF_USER_PIN_LOCKED, CKS_RW_PUBLIC_SESSION, 0},
        {"a wrong PUK", 1, 5, CKU_SO, "00000000", CKR_PIN_INCORRECT, CKF_SO_PIN_COUNT_LOW,
         CKS_RW_PUBLIC_SESSION, 4},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(card->SetPinTries(0, 3) && card->SetPinTries(1, 5));
        ASSERT_TRUE(card->SetPinTries(row.pin, row.triesBefore));
        CK_SESSION_HANDLE h = Open();
        EXPECT_EQ(Login(h, row.user, row.given), row.rv);
        EXPECT_EQ(TokenFlags() & (USER_FLAGS | SO_FLAGS), row.flags);
        EXPECT_EQ((TokenFlags() & CKF_LOGIN_REQUIRED) == 0, row.state == CKS_RW_USER_FUNCTIONS);
        EXPECT_EQ(State(h), row.state);
        EXPECT_EQ(triesLeft(*card, row.pin), row.triesAfter);
        EXPECT_EQ(card->AuthenticatedRoles(), 0u) << "the card is never left open";
        EXPECT_EQ(f->C_CloseSession(h), CKR_OK);
    }
}

TEST_F(TokenPinOverReader, SessionsFollowTheLogin)
{
    ASSERT_TRUE(Insert());
    CK_SESSION_HANDLE rw = Open(RW), ro = Open(RO);
    EXPECT_EQ(f->C_Logout(rw), CKR_USER_NOT_LOGGED_IN) << "nobody to log out";
    EXPECT_EQ(Login(rw, CKU_SO, Puk()), CKR_SESSION_READ_ONLY_EXISTS);
    ASSERT_EQ(Login(ro, CKU_USER, UserPin()), CKR_OK);
    EXPECT_EQ(State(ro), (CK_STATE)CKS_RO_USER_FUNCTIONS);
    EXPECT_EQ(State(rw), (CK_STATE)CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(Login(rw, CKU_USER, UserPin()), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(State(rw), (CK_STATE)CKS_RW_USER_FUNCTIONS) << "the first login stays";

    // the security officer replaces the user once no read-only session is left
    EXPECT_EQ(f->C_CloseSession(ro), CKR_OK);
    ASSERT_EQ(Login(rw, CKU_SO, Puk()), CKR_OK);
    EXPECT_EQ(State(rw), (CK_STATE)CKS_RW_SO_FUNCTIONS);
    EXPECT_NE(TokenFlags() & CKF_LOGIN_REQUIRED, 0u) << "the user is no longer logged in";
    CK_SESSION_HANDLE more = 0;
    EXPECT_EQ(f->C_OpenSession(slot, RO, nullptr, nullptr, &more),
              CKR_SESSION_READ_WRITE_SO_EXISTS);
    CK_SESSION_HANDLE second = Open(RW);
    EXPECT_EQ(State(second), (CK_STATE)CKS_RW_SO_FUNCTIONS);

    EXPECT_EQ(f->C_Logout(second), CKR_OK);
    EXPECT_EQ(State(rw), (CK_STATE)CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(f->C_Logout(rw), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(card->AuthenticatedRoles(), 0u);
}

TEST_F(TokenPinOverReader, ChangingAndUnblockingPins)
{
    ASSERT_TRUE(Insert());
    struct Row {
        char const *what;
        CK_FLAGS flags;
        CK_USER_TYPE login; // ~0: nobody
        std::function<CK_RV(TokenPinOverReader &, CK_SESSION_HANDLE)> call;
        CK_RV rv;
        CK_STATE state; // afterwards: a changed PIN ends the login it was cached for
        std::string userPinAfter, pukAfter;
    };
    CK_USER_TYPE const NOBODY = ~0UL;
    auto setPin = [](std::string o, std::string n) {
        return [=](TokenPinOverReader &t, CK_SESSION_HANDLE h) { return t.SetPin(h, o, n); };
    };
    auto initPin = [](std::string n) {
        return [=](TokenPinOverReader &t, CK_SESSION_HANDLE h) { return t.InitPin(h, n); };
    };
    CK_STATE const PUBLIC = CKS_RW_PUBLIC_SESSION;
    Row const rows[] = {
        {"the user PIN in a public session", RW, NOBODY, setPin(UserPin(), "654321"), CKR_OK,
         PUBLIC, "654321", Puk()},
        {"the user PIN while logged in", RW, CKU_USER, setPin(UserPin(), "6543210"), CKR_OK, PUBLIC,
         "6543210", Puk()},
        {"the PUK as security officer", RW, CKU_SO, setPin(Puk(), "87654321"), CKR_OK, PUBLIC,
         UserPin(), "87654321"},
        {"a wrong old PIN", RW, NOBODY, setPin("000000", "654321"), CKR_PIN_INCORRECT, PUBLIC,
         UserPin(), Puk()},
        {"in a read-only session", RO, NOBODY, setPin(UserPin(), "654321"), CKR_SESSION_READ_ONLY,
         CKS_RO_PUBLIC_SESSION, UserPin(), Puk()},
        {"a user PIN of four digits", RW, NOBODY, setPin(UserPin(), "6543"), CKR_PIN_LEN_RANGE,
         PUBLIC, UserPin(), Puk()},
        {"a user PIN longer than the card takes", RW, NOBODY, setPin(UserPin(), "123456789"),
         CKR_PIN_LEN_RANGE, PUBLIC, UserPin(), Puk()},
        {"a PUK of seven digits", RW, CKU_SO, setPin(Puk(), "7654321"), CKR_PIN_LEN_RANGE,
         CKS_RW_SO_FUNCTIONS, UserPin(), Puk()},
        {"a new user PIN from the security officer", RW, CKU_SO, initPin("111111"), CKR_OK,
         CKS_RW_SO_FUNCTIONS, "111111", Puk()},
        {"a new user PIN from the user", RW, CKU_USER, initPin("111111"), CKR_USER_NOT_LOGGED_IN,
         CKS_RW_USER_FUNCTIONS, UserPin(), Puk()},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        CK_SESSION_HANDLE h = Open(row.flags);
        if (row.login != NOBODY) {
            ASSERT_EQ(Login(h, row.login, row.login == CKU_SO ? Puk() : UserPin()), CKR_OK);
        }
        EXPECT_EQ(row.call(*this, h), row.rv);
        EXPECT_EQ(State(h), row.state);
        EXPECT_EQ(f->C_CloseSession(h), CKR_OK);

        // the card's PINs are what the row says; both are set back
        CK_SESSION_HANDLE check = Open();
        EXPECT_EQ(Login(check, CKU_USER, row.userPinAfter), CKR_OK);
        if (row.userPinAfter != UserPin()) {
            EXPECT_EQ(SetPin(check, row.userPinAfter, UserPin()), CKR_OK);
        }
        EXPECT_EQ(f->C_CloseSession(check), CKR_OK);
        check = Open();
        EXPECT_EQ(Login(check, CKU_SO, row.pukAfter), CKR_OK);
        if (row.pukAfter != Puk()) {
            EXPECT_EQ(SetPin(check, row.pukAfter, Puk()), CKR_OK);
        }
        EXPECT_EQ(f->C_CloseSession(check), CKR_OK);
        ASSERT_TRUE(card->SetPinTries(0, 3) && card->SetPinTries(1, 5));
    }
}

TEST_F(TokenPinOverReader, TheSecurityOfficerUnblocksABlockedPin)
{
    ASSERT_TRUE(Insert());
    ASSERT_TRUE(card->SetPinTries(0, 0));
    CK_SESSION_HANDLE h = Open();
    EXPECT_EQ(Login(h, CKU_USER, UserPin()), CKR_PIN_LOCKED);
    ASSERT_EQ(Login(h, CKU_SO, Puk()), CKR_OK);
    EXPECT_EQ(InitPin(h, "222222"), CKR_OK);
    EXPECT_EQ(State(h), (CK_STATE)CKS_RW_SO_FUNCTIONS) << "the officer stays logged in";
    EXPECT_EQ(TokenFlags() & USER_FLAGS, 0u);
    EXPECT_EQ(triesLeft(*card, 0), 3u);
    EXPECT_EQ(f->C_Logout(h), CKR_OK);
    EXPECT_EQ(Login(h, CKU_USER, "222222"), CKR_OK);
}

TEST_F(TokenPinOverReader, TheEndOfALoginHidesPrivateObjects)
{
    ASSERT_TRUE(Insert(withContainer()));
    struct Row {
        char const *what;
        std::function<CK_RV(TokenPinOverReader &, CK_SESSION_HANDLE)> end;
    };
    Row const rows[] = {
        {"C_Logout", [](TokenPinOverReader &t, CK_SESSION_HANDLE h) { return t.f->C_Logout(h); }},
        {"C_SetPIN", [](TokenPinOverReader &t,
                        CK_SESSION_HANDLE h) { return t.SetPin(h, UserPin(), UserPin()); }},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        CK_SESSION_HANDLE h = Open(), other = Open(RO);
        size_t publicObjects = Find(h).size();
        ASSERT_EQ(Login(h, CKU_USER, UserPin()), CKR_OK);
        CK_OBJECT_HANDLE key = PrivateKey(h, 0);
        ASSERT_NE(key, CK_INVALID_HANDLE);
        EXPECT_EQ(Find(other).size(), publicObjects + 2) << "two private keys";

        EXPECT_EQ(row.end(*this, h), CKR_OK);
        for (CK_SESSION_HANDLE s : {h, other}) {
            EXPECT_EQ(Find(s).size(), publicObjects);
            CK_BYTE label[64];
            CK_ATTRIBUTE a = {CKA_LABEL, label, sizeof(label)};
            EXPECT_EQ(f->C_GetAttributeValue(s, key, &a, 1), CKR_OBJECT_HANDLE_INVALID);
            CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
            EXPECT_EQ(f->C_SignInit(s, &mechanism, key), CKR_OBJECT_HANDLE_INVALID);
        }
        EXPECT_EQ(f->C_CloseAllSessions(slot), CKR_OK);
    }
}

TEST_F(TokenPinOverReader, APinChangedElsewhereIsNeverPresentedAgain)
{
    ASSERT_TRUE(Insert(withContainer()));
    CK_SESSION_HANDLE h = Open();
    ASSERT_EQ(Login(h, CKU_USER, UserPin()), CKR_OK);
    CK_OBJECT_HANDLE key = PrivateKey(h, 0);
    Bytes signature;
    ASSERT_EQ(Sign(h, CKM_SHA256_RSA_PKCS, key, Text("before"), signature), CKR_OK);

    // another application changes the PIN and raises the card's PIN counter
    ASSERT_TRUE(card->BumpCounters(1));
    size_t verifies = reader->Count(INS_VERIFY);
    EXPECT_EQ(Sign(h, CKM_SHA256_RSA_PKCS, key, Text("after"), signature), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(State(h), (CK_STATE)CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(PrivateKey(h, 0), CK_INVALID_HANDLE);
    EXPECT_EQ(Sign(h, CKM_SHA256_RSA_PKCS, key, Text("again"), signature),
              CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(reader->Count(INS_VERIFY), verifies) << "no PIN went to the card";
    EXPECT_EQ(triesLeft(*card, 0), 3u);

    // the user logs in again with the PIN typed now
    ASSERT_EQ(Login(h, CKU_USER, UserPin()), CKR_OK);
    EXPECT_EQ(Sign(h, CKM_SHA256_RSA_PKCS, PrivateKey(h, 0), Text("again"), signature), CKR_OK);
}
