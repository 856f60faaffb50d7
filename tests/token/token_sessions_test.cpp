// Sessions of the identity-card token in process: handles, states, counts and
// limits, and the objects that exist only while a session is open, also when a
// card step on the way fails.
#include "token_sim_support.h"

using namespace token_test;

namespace
{

CK_FLAGS const RO = CKF_SERIAL_SESSION;
CK_FLAGS const RW = CKF_SERIAL_SESSION | CKF_RW_SESSION;

// A card with one public and one private data object.
cardsim::Personalisation withData()
{
    cardsim::Personalisation p;
    p.files = {QvP11File("data00", EncodedDataObject("public", {1, 2, 3}, false)),
               QvP11File("data01", EncodedDataObject("private", {4, 5}, true), true)};
    return p;
}

} // namespace

TEST(TokenSessions, HandlesStatesAndCounts)
{
    SimToken sim({}, 1);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE ro = sim.Open(RO), rw = sim.Open(RW);
    EXPECT_EQ(ro, 0x10001u);
    EXPECT_EQ(rw, 0x10002u);

    CK_SESSION_INFO info;
    sim.token->GetSessionInfo(ro, &info);
    EXPECT_EQ(info.slotID, 1u);
    EXPECT_EQ(info.state, (CK_STATE)CKS_RO_PUBLIC_SESSION);
    EXPECT_EQ(info.flags, RO);
    sim.token->GetSessionInfo(rw, &info);
    EXPECT_EQ(info.state, (CK_STATE)CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(Rv([&] { sim.token->GetSessionInfo(rw, nullptr); }), CKR_ARGUMENTS_BAD);

    CK_TOKEN_INFO token;
    sim.token->GetInfo(&token);
    EXPECT_EQ(token.ulSessionCount, 2u);
    EXPECT_EQ(token.ulRwSessionCount, 1u);

    sim.token->CloseSession(ro);
    sim.token->CloseSession(rw);
    sim.token->GetInfo(&token);
    EXPECT_EQ(token.ulSessionCount, 0u);
    EXPECT_EQ(sim.Open(RW), 0x10001u) << "numbering starts again without a session";
    EXPECT_EQ(sim.channel->open, 0);
}

TEST(TokenSessions, RefusedOpensAndCloses)
{
    SimToken sim;
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE h = 0;
    EXPECT_EQ(Rv([&] { sim.token->OpenSession(CKF_RW_SESSION, nullptr, nullptr, &h); }),
              CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    EXPECT_EQ(Rv([&] { sim.token->OpenSession(RO, nullptr, nullptr, nullptr); }),
              CKR_ARGUMENTS_BAD);
    for (int i = 0; i < 16; ++i)
        sim.Open(RW);
    EXPECT_EQ(Rv([&] { sim.Open(RW); }), CKR_SESSION_COUNT);
    EXPECT_EQ(Rv([&] { sim.Open(RO); }), CKR_SESSION_COUNT) << "16 sessions in all";
    EXPECT_EQ(Rv([&] { sim.token->CloseSession(0x10099); }), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(sim.token->GetSessions().Count(), 16u);
    sim.token->CloseAllSessions();
    EXPECT_EQ(sim.token->GetSessions().Count(), 0u);
    CK_TOKEN_INFO token;
    sim.token->GetInfo(&token);
    EXPECT_EQ(token.ulSessionCount, 0u);
    EXPECT_EQ(token.ulRwSessionCount, 0u);
}

TEST(TokenSessions, ObjectsLiveFromTheFirstOpenToTheLastClose)
{
    SimToken sim(withData());
    ASSERT_TRUE(sim.Insert());
    EXPECT_EQ(sim.token->DataObjects().Count(), 0u) << "nothing is loaded at insertion";
    CK_SESSION_HANDLE a = sim.Open(), b = sim.Open();
    std::vector<CK_OBJECT_HANDLE> first = sim.Find(a);
    ASSERT_EQ(first.size(), 1u) << "the private object stays out while nobody is logged in";
    EXPECT_EQ(sim.Text(b, first[0], CKA_LABEL), "public");
    EXPECT_EQ(sim.token->DataObjects().Count(), 2u);

    sim.token->CloseSession(a);
    EXPECT_EQ(sim.token->DataObjects().Count(), 2u);
    sim.token->CloseSession(b);
    EXPECT_EQ(sim.token->DataObjects().Count(), 0u);
    EXPECT_EQ(sim.token->GetObjects().Count(), 0u);

    // loaded again: the same object under a new handle
    CK_SESSION_HANDLE c = sim.Open();
    std::vector<CK_OBJECT_HANDLE> again = sim.Find(c);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_NE(again[0], first[0]);
    EXPECT_EQ(sim.Attribute(c, again[0], CKA_VALUE), (Bytes{1, 2, 3}));
    EXPECT_EQ(sim.token->DataObjects().Count(), 2u);
}

TEST(TokenSessions, CardFailuresLeaveNoObjectsWithoutASession)
{
    struct Row {
        char const *what;
        bool failOpen; // else the last close fails
        std::function<bool(Bytes const &)> refuse;
    };
    Row const rows[] = {
        {"listing the data files at the first open", true, IsListing},
        {"reading the change counters at the first open", true,
         [](Bytes const &c) { return IsRead(c, "cardcf"); }},
        {"reading the change counters at the last close", false,
         [](Bytes const &c) { return IsRead(c, "cardcf"); }},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        SimToken sim(withData());
        ASSERT_TRUE(sim.Insert());
        CK_SESSION_HANDLE h = 0;
        if (!row.failOpen)
            h = sim.Open();
        sim.channel->refuse = row.refuse;
        CK_RV rv = row.failOpen ? Rv([&] { sim.Open(); }) : Rv([&] { sim.token->CloseSession(h); });
        EXPECT_EQ(rv, CKR_DEVICE_ERROR);
        EXPECT_EQ(sim.token->GetSessions().Count(), 0u);
        EXPECT_EQ(sim.token->DataObjects().Count(), 0u);
        EXPECT_EQ(sim.token->GetObjects().Count(), 0u);
        EXPECT_EQ(sim.channel->open, 0);

        // the next first session loads each object once
        sim.channel->refuse = nullptr;
        CK_SESSION_HANDLE next = sim.Open();
        EXPECT_EQ(next, 0x10001u);
        EXPECT_EQ(sim.token->DataObjects().Count(), 2u);
        EXPECT_EQ(sim.Find(next).size(), 1u);
    }
}

TEST(TokenSessions, ACardPulledOutIsReportedAsRemoved)
{
    SimToken sim(withData());
    ASSERT_TRUE(sim.Insert());
    sim.channel->present = false;
    EXPECT_EQ(Rv([&] { sim.Open(); }), CKR_DEVICE_REMOVED);
    EXPECT_EQ(sim.token->DataObjects().Count(), 0u);
}

TEST(TokenSessions, StatesFollowTheCachedRole)
{
    unsigned char const pin[] = "12345678";
    struct Row {
        unsigned char role;
        CK_FLAGS flags;
        CK_RV rv;
        CK_STATE state;
    };
    Row const rows[] = {
        {2, RO, CKR_OK, CKS_RO_USER_FUNCTIONS},
        {2, RW, CKR_OK, CKS_RW_USER_FUNCTIONS},
        {4, RW, CKR_OK, CKS_RW_SO_FUNCTIONS},
        {4, RO, CKR_SESSION_READ_WRITE_SO_EXISTS, 0},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(testing::Message() << "role " << int(row.role) << " flags " << row.flags);
        SimToken sim;
        ASSERT_TRUE(sim.Insert());
        ASSERT_TRUE(sim.token->GetAuthenticator().Init(sim.token.get(), row.role, pin, 8));
        CK_SESSION_HANDLE h = 0;
        ASSERT_EQ(Rv([&] { h = sim.Open(row.flags); }), row.rv);
        if (row.rv != CKR_OK)
            continue;
        CK_SESSION_INFO info;
        sim.token->GetSessionInfo(h, &info);
        EXPECT_EQ(info.state, row.state);
    }
}

TEST(TokenSessions, APinChangedElsewhereLogsEverySessionOutAtAClose)
{
    cardsim::Personalisation p;
    cardsim::ContainerSpec c;
    c.keys[0].bits = 1024;
    p.containers = {c};
    SimToken sim(p);
    ASSERT_TRUE(sim.Insert());
    CK_SESSION_HANDLE a = sim.Open(RW), b = sim.Open(RO);
    // as a user login leaves the token: the PIN cached, the sessions and the
    // visible objects the user's
    unsigned char const pin[] = "123456";
    ASSERT_TRUE(sim.token->GetAuthenticator().Init(sim.token.get(), 2, pin, 6));
    sim.token->updateSessionsState(CKU_USER);
    sim.token->UpdateObjects(true);
    EXPECT_EQ(sim.Find(b).size(), 3u) << "certificate, private and public key";

    sim.token->CloseSession(a); // nothing changed on the card: the login stays
    CK_SESSION_INFO info;
    sim.token->GetSessionInfo(b, &info);
    EXPECT_EQ(info.state, (CK_STATE)CKS_RO_USER_FUNCTIONS);

    a = sim.Open(RW);
    sim.card->BumpCounters(1);
    sim.token->CloseSession(a);
    sim.token->GetSessionInfo(b, &info);
    EXPECT_EQ(info.state, (CK_STATE)CKS_RO_PUBLIC_SESSION);
    EXPECT_EQ(sim.token->GetAuthenticator().GetAuthRole(), 1);
    EXPECT_EQ(sim.Find(b).size(), 2u) << "the private key is no longer listed";
    CK_TOKEN_INFO token;
    sim.token->GetInfo(&token);
    EXPECT_NE(token.flags & CKF_LOGIN_REQUIRED, 0u);
}
