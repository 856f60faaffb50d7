// The identity-card token's PIN cache and the guard that presents the cached PIN,
// in process against the simulated card.
#include "token_sim_support.h"

using namespace token_test;

namespace
{

using Auth = CP11Token_eiD::CTokenAuthenticator;
using Worker = CP11Token_eiD::CAuthenticatorWorker;

unsigned char const PIN[] = {'1', '2', '3', '4', '5', '6'};
unsigned char const WRONG[] = {'6', '5', '4', '3', '2', '1'};

unsigned const USER = 2;

} // namespace

TEST(TokenPinCache, InitTakesOnlyAUserOrSecurityOfficerPin)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    Auth &auth = sim.token->GetAuthenticator();
    EXPECT_EQ(auth.GetAuthRole(), 1);
    ASSERT_TRUE(auth.Init(sim.token.get(), 2, PIN, sizeof(PIN)));
    struct Row {
        char const *what;
        CP11Token_eiD *token;
        unsigned char role;
        unsigned char const *pin;
        unsigned long length;
    };
    Row const rows[] = {
        {"role 3", sim.token.get(), 3, PIN, sizeof(PIN)},
        {"no PIN", sim.token.get(), 4, nullptr, 6},
        {"an empty PIN", sim.token.get(), 4, PIN, 0},
        {"no token", nullptr, 4, PIN, sizeof(PIN)},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_FALSE(auth.Init(row.token, row.role, row.pin, row.length));
        EXPECT_EQ(auth.GetAuthRole(), 2) << "the cache stays as it was";
    }
    auth.Final();
    EXPECT_EQ(auth.GetAuthRole(), 1);
    EXPECT_EQ(Rv([&] { auth.Authenticate(); }), CKR_USER_NOT_LOGGED_IN) << "nothing to present";
}

TEST(TokenPinCache, TheGuardAuthenticatesTheCardForItsScopeOnly)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    Auth &auth = sim.token->GetAuthenticator();
    ASSERT_TRUE(auth.Init(sim.token.get(), 2, PIN, sizeof(PIN)));
    {
        Worker worker(auth);
        EXPECT_EQ(sim.card->AuthenticatedRoles(), USER);
        EXPECT_EQ(auth.Check(), 2);
    }
    EXPECT_EQ(sim.card->AuthenticatedRoles(), 0u);
    EXPECT_EQ(auth.GetAuthRole(), 2) << "the PIN stays cached";

    // authenticated by someone else: nothing presented, nothing undone
    Bytes verify = {0xB0, 0x20, 0x00, 0x00, 0x08, '1', '2', '3', '4', '5', '6', 0xFF, 0xFF};
    ASSERT_EQ(sim.card->Apdu(verify), (Bytes{0x90, 0x00}));
    int apdus = sim.channel->apdus;
    {
        Worker worker(auth);
    }
    EXPECT_EQ(sim.card->AuthenticatedRoles(), USER);
    EXPECT_FALSE(auth.Authenticate());
    EXPECT_LT(sim.channel->apdus - apdus, 6) << "no verification was sent";
}

TEST(TokenPinCache, PresentationFailures)
{
    // A PIN the card refuses, or one another application may have changed, is
    // forgotten at once; a card that cannot be reached says nothing about it.
    struct Row {
        char const *what;
        unsigned char const *pin;
        unsigned char triesBefore;
        std::function<void(SimToken &)> before;
        CK_RV rv;
        unsigned char roleAfter;
    };
    Row const rows[] = {
        {"a wrong PIN with tries left", WRONG, 3, nullptr, CKR_PIN_INCORRECT, 1},
        {"a wrong PIN at the last try", WRONG, 1, nullptr, CKR_PIN_LOCKED, 1},
        {"the PIN changed elsewhere", PIN, 3, [](SimToken &s) { s.card->BumpCounters(1); },
         CKR_USER_NOT_LOGGED_IN, 1},
        {"the card pulled out", PIN, 3, [](SimToken &s) { s.channel->present = false; },
         CKR_DEVICE_ERROR, 2},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        SimToken sim;
        ASSERT_TRUE(sim.card->SetPinTries(0, row.triesBefore));
        ASSERT_TRUE(sim.Insert());
        Auth &auth = sim.token->GetAuthenticator();
        ASSERT_TRUE(auth.Init(sim.token.get(), 2, row.pin, 6));
        if (row.before)
            row.before(sim);
        EXPECT_EQ(Rv([&] { Worker worker(auth); }), row.rv);
        EXPECT_EQ(sim.card->AuthenticatedRoles(), 0u);
        EXPECT_EQ(auth.GetAuthRole(), row.roleAfter);
    }

    // the moved PIN counter is never followed by the cached PIN
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    Auth &auth = sim.token->GetAuthenticator();
    ASSERT_TRUE(auth.Init(sim.token.get(), 2, PIN, sizeof(PIN)));
    sim.card->BumpCounters(1);
    int verifies = 0;
    sim.channel->refuse = [&](Bytes const &c) {
        verifies += c.size() > 1 && c[1] == 0x20;
        return false;
    };
    EXPECT_EQ(Rv([&] { auth.Authenticate(); }), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(Rv([&] { auth.Authenticate(); }), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(verifies, 0);
    EXPECT_EQ(sim.card->AuthenticatedRoles(), 0u);
}

TEST(TokenPinCache, AFailingEndOfTheGuardIsReportedByClose)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    Auth &auth = sim.token->GetAuthenticator();
    ASSERT_TRUE(auth.Init(sim.token.get(), 2, PIN, sizeof(PIN)));
    {
        Worker worker(auth);
        sim.channel->present = false;
        EXPECT_EQ(Rv([&] { worker.Close(); }), CKR_DEVICE_ERROR);
    }
    sim.channel->present = true;
    {
        Worker failing(auth);
        sim.channel->present = false;
        // the destructor on an operation's failure path throws nothing
    }
}
