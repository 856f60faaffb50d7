// Sessions and the token's bookkeeping, end to end through the fake token:
// session handles, states after login and logout, searches over token and
// session objects, session objects seen by every session, logout and release.
#include <gtest/gtest.h>

#include "core/p11_token.h"
#include "fake_token_fixture.h"
#include "objects/p11_data_object.h"

using namespace core_test;

namespace
{

using Sessions = FakeTokenFixture;

constexpr unsigned long S1 = 0x80000001UL;
constexpr unsigned long S2 = 0x80000002UL;
constexpr unsigned long S3 = 0x80000003UL;

} // namespace

TEST_F(Sessions, HandleIsSlotAndCounter)
{
    unsigned long a = open(RO);
    unsigned long b = open(RW);
    EXPECT_EQ(a, (SLOT_ID << 16) | 1);
    EXPECT_EQ(b, (SLOT_ID << 16) | 2);

    CK_SESSION_INFO info;
    std::memset(&info, 0xAB, sizeof(info));
    ASSERT_EQ(codeOf([&] { token->GetSessionInfo(b, &info); }), NO_ERROR);
    EXPECT_EQ(info.slotID, SLOT_ID);
    EXPECT_EQ(info.flags, RW);
    EXPECT_EQ(info.state, (unsigned long)CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(info.ulDeviceError, 0u);
    EXPECT_EQ(codeOf([&] { token->GetSessionInfo(b, nullptr); }), CKR_ARGUMENTS_BAD);

    CK_TOKEN_INFO ti;
    token->GetInfo(&ti);
    EXPECT_EQ(ti.ulSessionCount, 2u);
    EXPECT_EQ(ti.ulRwSessionCount, 1u);
}

TEST_F(Sessions, CounterWrapsWithinSixteenBitsSkippingOpenHandles)
{
    unsigned long first = open(); // counter 1, stays open
    token->sessionCounter() = 0xFFFE;
    unsigned long last = open();
    EXPECT_EQ(last, (SLOT_ID << 16) | 0xFFFF);
    unsigned long wrapped = open();
    EXPECT_EQ(wrapped, (SLOT_ID << 16) | 2) << "1 is still open and must be skipped";
    EXPECT_EQ(first, (SLOT_ID << 16) | 1);

    // Many sessions in a row never leave the slot's bits nor give handle 0.
    token->CloseAllSessions();
    for (unsigned long i = 0; i < 0x10010; ++i) {
        unsigned long h = open();
        ASSERT_EQ(h >> 16, SLOT_ID) << i;
        ASSERT_NE(h & 0xFFFF, 0u) << i;
        token->CloseSession(h);
    }
}

TEST_F(Sessions, GetSessionRefusesForeignAndClosedHandles)
{
    unsigned long h = open();
    EXPECT_EQ(token->GetSession(h)->FindLongAttribute(SESSION_A_ID), h);
    EXPECT_EQ(codeOf([&] { token->GetSession(((SLOT_ID + 1) << 16) | 1); }),
              CKR_SESSION_HANDLE_INVALID);
    token->CloseSession(h);
    EXPECT_EQ(codeOf([&] { token->GetSession(h); }), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(codeOf([&] { token->CloseSession(h); }), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(Sessions, StateTable)
{
    struct Row {
        unsigned long flags;
        unsigned long user;
        unsigned long state; // expected, when rv is 0
        unsigned long rv;
    } const rows[] = {
        {RW, CKU_USER, CKS_RW_USER_FUNCTIONS, NO_ERROR},
        {RW, CKU_SO, CKS_RW_SO_FUNCTIONS, NO_ERROR},
        {RW, NOBODY, CKS_RW_PUBLIC_SESSION, NO_ERROR},
        {RW, 7, CKS_RW_PUBLIC_SESSION, NO_ERROR},
        {RO, CKU_USER, CKS_RO_USER_FUNCTIONS, NO_ERROR},
        {RO, CKU_SO, 0, CKR_SESSION_READ_ONLY},
        {RO, NOBODY, CKS_RO_PUBLIC_SESSION, NO_ERROR},
    };
    for (Row const &row : rows) {
        unsigned long h = open(row.flags);
        // Start from a state no row expects.
        token->GetSession(h)->SetAttribute(SESSION_A_STATE, 99UL);
        EXPECT_EQ(codeOf([&] { token->updateSessionsState(row.user); }), row.rv)
            << row.flags << "/" << row.user;
        EXPECT_EQ(state(h), row.rv == NO_ERROR ? row.state : 99UL) << row.flags << "/" << row.user;
        token->CloseSession(h);
    }
}

TEST_F(Sessions, ReadOnlySessionStopsSecurityOfficerUpdate)
{
    unsigned long rw1 = open(RW);
    unsigned long ro = open(RO);
    unsigned long rw2 = open(RW);
    EXPECT_EQ(codeOf([&] { token->updateSessionsState(CKU_SO); }), CKR_SESSION_READ_ONLY);
    EXPECT_EQ(state(rw1), (unsigned long)CKS_RW_SO_FUNCTIONS); // before the read-only one
    EXPECT_EQ(state(ro), (unsigned long)CKS_RO_PUBLIC_SESSION);
    EXPECT_EQ(state(rw2), (unsigned long)CKS_RW_PUBLIC_SESSION); // after it: untouched
}

TEST_F(Sessions, LoginAndLogoutMoveEverySession)
{
    unsigned long ro = open(RO);
    unsigned long rw = open(RW);
    EXPECT_EQ(login(rw, CKU_SO), CKR_SESSION_READ_ONLY_EXISTS);
    unsigned char wrong[] = "000000";
    EXPECT_EQ(codeOf([&] { token->Login(rw, CKU_USER, wrong, 6); }), CKR_PIN_INCORRECT);
    EXPECT_EQ(state(ro), (unsigned long)CKS_RO_PUBLIC_SESSION);

    ASSERT_EQ(login(ro), NO_ERROR);
    EXPECT_EQ(state(ro), (unsigned long)CKS_RO_USER_FUNCTIONS);
    EXPECT_EQ(state(rw), (unsigned long)CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(state(open(RO)), (unsigned long)CKS_RO_USER_FUNCTIONS); // opened while logged in
    EXPECT_EQ(login(rw), CKR_USER_ALREADY_LOGGED_IN);

    ASSERT_EQ(codeOf([&] { token->Logout(rw); }), NO_ERROR);
    EXPECT_EQ(state(ro), (unsigned long)CKS_RO_PUBLIC_SESSION);
    EXPECT_EQ(state(rw), (unsigned long)CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(codeOf([&] { token->Logout(rw); }), CKR_USER_NOT_LOGGED_IN);

    // The security officer only with read-write sessions; it keeps the PUK.
    token->CloseAllSessions();
    rw = open(RW);
    ASSERT_EQ(login(rw, CKU_SO), NO_ERROR);
    EXPECT_EQ(state(rw), (unsigned long)CKS_RW_SO_FUNCTIONS);
    EXPECT_EQ(token->GetSession(rw)->PukGet()->GetSize(), std::strlen(vok_test::FAKE_SO_PIN));
    unsigned long h = 0;
    EXPECT_EQ(codeOf([&] { token->OpenSession(RO, nullptr, nullptr, &h); }),
              CKR_SESSION_READ_WRITE_SO_EXISTS);
    token->Logout(rw);
    EXPECT_EQ(token->GetSession(rw)->PukGet()->GetSize(), 0u);
}

TEST_F(Sessions, CountsByFlagsAndClosesAll)
{
    open(RO);
    open(RW);
    EXPECT_EQ(token->getSessionCount(CKF_RW_SESSION, false), 1u);
    EXPECT_EQ(token->getSessionCount(CKF_SERIAL_SESSION, true), 1u);
    EXPECT_EQ(token->getSessionCount(CKF_SERIAL_SESSION, false), 2u);

    token->CloseAllSessions();
    EXPECT_EQ(token->GetSessions().Count(), 0u);
    EXPECT_EQ(token->FindLongAttribute(TOKEN_A_OPEN_SESSIONS), 0u);
    EXPECT_EQ(token->FindLongAttribute(TOKEN_A_OPEN_RW_SESSIONS), 0u);

    // With no session the counts are still written.
    token->SetAttribute(TOKEN_A_OPEN_SESSIONS, 5UL);
    token->CloseAllSessions();
    EXPECT_EQ(token->FindLongAttribute(TOKEN_A_OPEN_SESSIONS), 0u);
}

TEST_F(Sessions, SearchReturnsTokenThenSessionObjectsInPages)
{
    unsigned long h = open();
    unsigned long t1 = createData(h, "t1", true);
    unsigned long t2 = createData(h, "t2", true);
    unsigned long t3 = createData(h, "t3", true);
    unsigned long s1 = createData(h, "s1");
    unsigned long s2 = createData(h, "s2");
    EXPECT_EQ(std::vector<unsigned long>({t1, t2, t3}), std::vector<unsigned long>({1, 2, 3}));
    EXPECT_EQ(std::vector<unsigned long>({s1, s2}), std::vector<unsigned long>({S1, S2}));

    using Pages = std::vector<std::vector<unsigned long>>;
    EXPECT_EQ(pages(h, 2), Pages({{t1, t2}, {t3, s1}, {s2}, {}}));
    EXPECT_EQ(pages(h, 10), Pages({{t1, t2, t3, s1, s2}, {}}));

    char const wanted[] = "t2";
    CK_ATTRIBUTE byLabel = {CKA_LABEL, (void *)wanted, 2};
    EXPECT_EQ(pages(h, 10, &byLabel, 1), Pages({{t2}, {}}));
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE sessionOnly = {CKA_TOKEN, &no, 1};
    EXPECT_EQ(pages(h, 1, &sessionOnly, 1), Pages({{s1}, {s2}, {}}));
}

TEST_F(Sessions, SearchSurvivesObjectsDestroyedBetweenPages)
{
    unsigned long h = open();
    unsigned long t1 = createData(h, "t1", true);
    unsigned long t2 = createData(h, "t2", true);
    unsigned long t3 = createData(h, "t3", true);
    unsigned long s1 = createData(h, "s1");
    unsigned long s2 = createData(h, "s2");

    unsigned long got[5];
    unsigned long count = 0;
    ASSERT_EQ(codeOf([&] { token->FindObjectsInit(h, nullptr, 0); }), NO_ERROR);
    ASSERT_EQ(codeOf([&] { token->FindObjects(h, got, 2, &count); }), NO_ERROR);
    EXPECT_EQ(std::vector<unsigned long>(got, got + count), std::vector<unsigned long>({t1, t2}));

    // The object under the cursor and one further on go; new ones come.
    token->DestroyObject(h, t3);
    token->DestroyObject(h, s1);
    createData(h, "late", true);
    ASSERT_EQ(codeOf([&] { token->FindObjects(h, got, 5, &count); }), NO_ERROR);
    EXPECT_EQ(std::vector<unsigned long>(got, got + count), std::vector<unsigned long>({s2}));

    // Everything goes: the search ends empty, not in freed memory.
    token->DestroyObject(h, s2);
    token->DestroyObject(h, t1);
    ASSERT_EQ(codeOf([&] { token->FindObjects(h, got, 5, &count); }), NO_ERROR);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(codeOf([&] { token->FindObjectsFinal(h); }), NO_ERROR);
}

TEST_F(Sessions, SearchStateErrors)
{
    unsigned long h = open();
    unsigned long t1 = createData(h, "t1", true);
    createData(h, "t2", true);
    unsigned long got[4];
    unsigned long count = 7;

    EXPECT_EQ(codeOf([&] { token->FindObjects(h, got, 4, nullptr); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(codeOf([&] { token->FindObjects(h, got, 4, &count); }),
              CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(codeOf([&] { token->FindObjectsFinal(h); }), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(codeOf([&] { token->FindObjectsInit(h, nullptr, 1); }), CKR_ARGUMENTS_BAD);
    EXPECT_FALSE(token->GetSession(h)->IsSearchActive());

    ASSERT_EQ(codeOf([&] { token->FindObjectsInit(h, nullptr, 0); }), NO_ERROR);
    ASSERT_EQ(codeOf([&] { token->FindObjects(h, got, 0, &count); }), NO_ERROR);
    EXPECT_EQ(count, 0u); // max 0 moves nothing
    char const other[] = "t2";
    CK_ATTRIBUTE byLabel = {CKA_LABEL, (void *)other, 2};
    EXPECT_EQ(codeOf([&] { token->FindObjectsInit(h, &byLabel, 1); }), CKR_OPERATION_ACTIVE);
    ASSERT_EQ(codeOf([&] { token->FindObjects(h, got, 1, &count); }), NO_ERROR);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(got[0], t1) << "the first search goes on unchanged";
    EXPECT_EQ(codeOf([&] { token->FindObjectsFinal(h); }), NO_ERROR);
    EXPECT_EQ(codeOf([&] { token->FindObjectsFinal(h); }), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(Sessions, LogoutDropsPrivateSessionObjectsOfEverySession)
{
    unsigned long a = open();
    unsigned long b = open();
    unsigned long rv = 0;
    createData(a, "secret", false, true, &rv);
    EXPECT_EQ(rv, CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(login(a), NO_ERROR);
    unsigned long open1 = createData(a, "public");
    unsigned long secretA = createData(a, "secretA", false, true);
    unsigned long secretB = createData(b, "secretB", false, true);
    EXPECT_EQ(label(b, secretA), "secretA");

    ASSERT_EQ(codeOf([&] { token->Logout(a); }), NO_ERROR);
    char buffer[16];
    CK_ATTRIBUTE a1 = {CKA_LABEL, buffer, sizeof(buffer)};
    EXPECT_EQ(codeOf([&] { token->GetAttributeValue(a, secretA, &a1, 1); }),
              CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(codeOf([&] { token->GetAttributeValue(b, secretB, &a1, 1); }),
              CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(label(a, open1), "public");
    // The numbering goes on after a logout.
    EXPECT_EQ(createData(b, "next"), secretB + 1);
}

TEST_F(Sessions, SessionObjectIsSharedAndGoesWithItsSession)
{
    unsigned long a = open();
    unsigned long b = open(RO);
    unsigned long fromA = createData(a, "made in A");
    unsigned long fromB = createData(b, "made in B");
    EXPECT_EQ(fromA, S1);
    EXPECT_EQ(fromB, S2) << "session-object handles are unique within the token";
    EXPECT_EQ(label(b, fromA), "made in A");

    using Pages = std::vector<std::vector<unsigned long>>;
    EXPECT_EQ(pages(b, 10), Pages({{fromB, fromA}, {}}));
    EXPECT_EQ(token->GetSession(a)->GetObjects().Count(), 1u);
    EXPECT_EQ(codeOf([&] { token->GetSession(b)->GetObject(fromA); }), CKR_OBJECT_HANDLE_INVALID);

    // Another session may destroy it; its owner loses it.
    unsigned long third = createData(a, "third");
    EXPECT_EQ(codeOf([&] { token->DestroyObject(b, third); }), NO_ERROR);
    EXPECT_EQ(token->GetSession(a)->GetObjects().Count(), 1u);

    token->CloseSession(a);
    char buffer[16];
    CK_ATTRIBUTE l = {CKA_LABEL, buffer, sizeof(buffer)};
    EXPECT_EQ(codeOf([&] { token->GetAttributeValue(b, fromA, &l, 1); }),
              CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(pages(b, 10), Pages({{fromB}, {}}));
}

TEST_F(Sessions, TextValuesWithZeroBytesKeepEveryByte)
{
    unsigned long h = open();
    std::string const labels[] = {std::string("ab\0c", 4), std::string("end\0", 4)};
    for (std::string const &text : labels) {
        SCOPED_TRACE(text.size());
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL no = CK_FALSE;
        CK_ATTRIBUTE t[] = {
            {CKA_CLASS, &cls, sizeof(cls)},
            {CKA_TOKEN, &no, sizeof(no)},
            {CKA_LABEL, (void *)text.data(), text.size()},
            {CKA_APPLICATION, (void *)text.data(), text.size()},
        };
        unsigned long object = 0;
        ASSERT_EQ(codeOf([&] { token->CreateObject(h, t, 4, &object); }), NO_ERROR);
        EXPECT_EQ(label(h, object), text);
        // the creating template finds what it made
        EXPECT_EQ(pages(h, 10, t, 4), (std::vector<std::vector<unsigned long>>{{object}, {}}));
        token->DestroyObject(h, object);
    }
}

TEST_F(Sessions, SessionObjectNumbering)
{
    unsigned long h = open();
    EXPECT_EQ(createData(h, "1"), S1);
    EXPECT_EQ(createData(h, "2"), S2);
    EXPECT_EQ(createData(h, "3"), S3);
    token->DestroyObject(h, S1);
    EXPECT_EQ(createData(h, "4"), S3 + 1) << "handles are not reused while objects remain";
    EXPECT_EQ(token->GetSession(h)->FindLongAttribute(SESSION_A_LAST_OBJ_ID), S3 + 1);
    token->DestroyObject(h, S2);
    token->DestroyObject(h, S3);
    token->DestroyObject(h, S3 + 1);
    EXPECT_EQ(token->GetSession(h)->FindLongAttribute(SESSION_A_LAST_OBJ_ID),
              SESSION_OBJECT_HANDLE_BASE);
    EXPECT_EQ(createData(h, "again"), S1);
}

TEST_F(Sessions, SessionOperationErrors)
{
    EXPECT_EQ(codeOf([] { CP11Session s(nullptr, 1); }), CKR_SLOT_ID_INVALID);

    unsigned long h = open();
    CP11Session *session = token->GetSession(h);
    unsigned long tokenObject = createData(h, "on token", true);
    EXPECT_EQ(codeOf([&] { session->GetInfo(nullptr); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(codeOf([&] { session->GetObject(tokenObject); }), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(codeOf([&] { token->GetObject(S1); }), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(codeOf([&] { token->RemoveObject(99UL); }), CKR_OBJECT_HANDLE_INVALID);

    // A token object is not pushed into a session.
    unsigned long handle = 5;
    CP11Object *onToken = token->GetObject(tokenObject);
    EXPECT_EQ(codeOf([&] { session->PushObject(onToken, &handle); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(codeOf([&] { session->PushObject(nullptr, &handle); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(session->GetObjects().Count(), 0u);

    // A pointer the session does not hold is left alone.
    EXPECT_EQ(codeOf([&] { session->DestroyObject(onToken); }), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(token->GetObject(tokenObject), onToken);

    // The stored copy is the session's own.
    CP11DataObject data;
    data.SetAttribute(CKA_LABEL, "copy", (unsigned long)-1);
    ASSERT_EQ(codeOf([&] { session->PushObject(&data, &handle); }), NO_ERROR);
    EXPECT_NE(session->GetObject(handle), &data);
    EXPECT_STREQ(session->GetObject(handle)->FindStringAttribute(CKA_LABEL), "copy");

    // C_CopyObject's form: template applied to the copy.
    char const renamed[] = "renamed";
    CK_ATTRIBUTE rename = {CKA_LABEL, (void *)renamed, 7};
    unsigned long copied = 0;
    ASSERT_EQ(codeOf([&] { session->CopyObject(&data, &rename, 1, &copied); }), NO_ERROR);
    EXPECT_STREQ(session->GetObject(copied)->FindStringAttribute(CKA_LABEL), "renamed");
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE toToken = {CKA_TOKEN, &yes, 1};
    unsigned long last = session->FindLongAttribute(SESSION_A_LAST_OBJ_ID);
    EXPECT_NE(codeOf([&] { session->CopyObject(&data, &toToken, 1, &copied); }), NO_ERROR);
    EXPECT_EQ(session->FindLongAttribute(SESSION_A_LAST_OBJ_ID), last);
    EXPECT_EQ(session->GetObjects().Count(), 2u);
}

TEST_F(Sessions, PukSetTable)
{
    CP11Session *session = token->GetSession(open());
    unsigned char puk[] = {1, 2, 3};
    struct Row {
        unsigned char *p;
        unsigned long n;
        unsigned long rv;
        unsigned size;
    } const rows[] = {
        {puk, 3, NO_ERROR, 3},
        {puk, 0, CKR_DATA_INVALID, 3},
        {nullptr, 5, CKR_DATA_INVALID, 3},
        {nullptr, 0, NO_ERROR, 0},
    };
    for (Row const &row : rows) {
        EXPECT_EQ(codeOf([&] { session->PukSet(row.p, row.n); }), row.rv) << row.n;
        EXPECT_EQ(session->PukGet()->GetSize(), row.size) << row.n;
    }
}

TEST_F(Sessions, FinalizeReleasesEverythingAndMayRunTwice)
{
    unsigned long h = open();
    createData(h, "t", true);
    createData(h, "s");
    ASSERT_EQ(login(h), NO_ERROR);
    token->Finalize();
    EXPECT_EQ(token->GetSessions().Count(), 0u);
    EXPECT_EQ(token->GetObjects().Count(), 0u);
    EXPECT_EQ(token->FindLongAttribute(TOKEN_A_OPEN_RW_SESSIONS), 0u);
    EXPECT_EQ(token->LoggedIn(), NOBODY);
    EXPECT_EQ(codeOf([&] { token->GetSession(h); }), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(codeOf([&] { token->Finalize(); }), NO_ERROR);
    unsigned long count = 0;
    token->GetMechanismList(nullptr, &count);
    EXPECT_NE(count, 0u) << "the mechanisms stay";
}
