// The manager of slots and tokens over a scripted reader service: slot IDs, slot
// lists, changed marks and slot events, tokens coming and going, initialise and
// finalise rules, and the monitor stopped before the finalise takes the lock.
#include "core/p11_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "../channel/fake_pcsc.h"
#include "base/p11_exception.h"
#include "channel/channel.h"
#include "channel/channel_event.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"

namespace
{

using namespace std::chrono_literals;

// A token kind for the tests: recognises the card as told, counts its instances,
// and can hold the detection at a gate.
struct TestToken : CP11Token {
    static std::atomic<bool> known;
    static std::atomic<bool> failInit;
    static std::atomic<int> alive;
    static std::atomic<int> finalized;
    static std::mutex gateLock;
    static std::condition_variable gateChanged;
    static bool gateOpen;
    static std::atomic<int> atGate;
    static std::atomic<int> made;
    int const serial; // tells one token from another, whatever its address

    explicit TestToken(CP11Slot *slot) : CP11Token(slot), serial(++made) { ++alive; }
    ~TestToken() override { --alive; }
    bool IsKnown() override
    {
        ++atGate;
        std::unique_lock<std::mutex> lock(gateLock);
        gateChanged.wait(lock, [] { return gateOpen; });
        return known;
    }
    void Initialize() override
    {
        if (failInit)
            throw CP11Exception(CKR_DEVICE_ERROR);
    }
    void Finalize() override
    {
        ++finalized;
        CP11Token::Finalize();
    }
    static void SetGate(bool open)
    {
        std::lock_guard<std::mutex> lock(gateLock);
        gateOpen = open;
        gateChanged.notify_all();
    }
};
std::atomic<bool> TestToken::known{true};
std::atomic<bool> TestToken::failInit{false};
std::atomic<int> TestToken::alive{0};
std::atomic<int> TestToken::finalized{0};
std::mutex TestToken::gateLock;
std::condition_variable TestToken::gateChanged;
bool TestToken::gateOpen = true;
std::atomic<int> TestToken::atGate{0};
std::atomic<int> TestToken::made{0};

CP11Token *makeTestToken(CP11Slot *slot)
{
    return new TestToken(slot);
}

template <class F> unsigned long rv(F f)
{
    try {
        f();
    } catch (CP11Exception &e) {
        return e.GetErrorCode();
    }
    return CKR_OK;
}

class ManagerTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        FakePcsc::Get().Reset();
        TestToken::known = true;
        TestToken::failInit = false;
        TestToken::alive = 0;
        TestToken::finalized = 0;
        TestToken::atGate = 0;
        TestToken::SetGate(true);
        manager.SetPCSCFunctions(FakePcsc::Functions());
        manager.AddTokenKind(makeTestToken);
    }
    void TearDown() override
    {
        TestToken::SetGate(true);
        manager.Finalize(nullptr, true);
        EXPECT_EQ(TestToken::alive, 0);
    }

    // An event as the monitor would deliver it, from a channel the test owns.
    void deliver(char const *reader, unsigned long bits)
    {
        // the manager hears only channels it holds (listed once, never owned)
        manager.RegisterChannel(&channel, false);
        CChannelEvent event(&channel, CBlob(reader), bits);
        manager.OnChannelEvent(event);
    }

    std::vector<unsigned long> slotList(unsigned char tokenPresent)
    {
        unsigned long count = 0;
        EXPECT_EQ(rv([&] { manager.GetSlotList(tokenPresent, nullptr, &count); }), CKR_OK);
        std::vector<unsigned long> ids(count);
        if (count != 0) {
            EXPECT_EQ(rv([&] { manager.GetSlotList(tokenPresent, ids.data(), &count); }), CKR_OK);
        }
        ids.resize(count);
        return ids;
    }

    // The slots a non-blocking wait reports, in order, until there is no event.
    std::vector<unsigned long> pendingEvents()
    {
        std::vector<unsigned long> ids;
        for (;;) {
            unsigned long slot = 99;
            unsigned long code =
                rv([&] { manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr); });
            if (code == CKR_NO_EVENT)
                return ids;
            EXPECT_EQ(code, CKR_OK);
            ids.push_back(slot);
        }
    }

    CChannel channel;
    CP11Manager manager;
};

using Ids = std::vector<unsigned long>;

TEST_F(ManagerTest, SlotIdsFollowFirstAppearanceAndAreNeverReset)
{
    manager.Initialize(nullptr);
    deliver("Reader A", EVT_CHANNEL_READER_FOUND);
    deliver("Reader B", EVT_CHANNEL_READER_FOUND);
    EXPECT_EQ(slotList(CK_FALSE), (Ids{0, 1}));

    // unplugged: the slot keeps its ID but is invisible
    deliver("Reader A", EVT_CHANNEL_READER_DISCONNECTED);
    EXPECT_EQ(slotList(CK_FALSE), (Ids{1}));
    EXPECT_EQ(rv([&] { manager.GetSlot(0); }), CKR_SLOT_ID_INVALID);
    deliver("Reader A", EVT_CHANNEL_READER_CONNECTED);
    EXPECT_EQ(slotList(CK_FALSE), (Ids{0, 1}));

    // a new initialisation goes on counting
    manager.Finalize(nullptr, false);
    manager.Initialize(nullptr);
    deliver("Reader B", EVT_CHANNEL_READER_FOUND);
    deliver("Reader A", EVT_CHANNEL_READER_FOUND);
    EXPECT_EQ(slotList(CK_FALSE), (Ids{2, 3}));
    EXPECT_EQ(rv([&] { manager.GetSlot(0); }), CKR_SLOT_ID_INVALID);

    // a channel the manager does not hold (a monitor left from an earlier
    // initialisation) is not heard
    CChannel stray;
    CChannelEvent event(&stray, CBlob("Reader C"), EVT_CHANNEL_READER_FOUND);
    manager.OnChannelEvent(event);
    EXPECT_EQ(slotList(CK_FALSE), (Ids{2, 3}));
}

TEST(SlotIds, StayWithinTheSixteenBitsOfASessionHandle)
{
    std::vector<unsigned long> allButSeven;
    for (unsigned long id = 0; id <= 0xFFFF; ++id)
        if (id != 7)
            allButSeven.push_back(id);
    std::vector<unsigned long> all = allButSeven;
    all.push_back(7);
    struct Case {
        char const *what;
        unsigned long last;
        std::vector<unsigned long> held;
        unsigned long next;
    } const cases[] = {
        {"the first slot ever", ~0UL, {}, 0},
        {"counting on", 5, {0, 1, 5}, 6},
        {"the top itself", 0xFFFE, {0}, 0xFFFF},
        {"past the top: the lowest free", 0xFFFF, {0, 1, 3}, 2},
        {"after the wrap: on from there", 2, {0, 1, 3, 4}, 5},
        {"one left", 0xFFFF, allButSeven, 7},
        {"none left", 3, all, CP11Manager::SLOT_ID_NONE},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CP11Manager::nextSlotId(c.last, c.held), c.next);
    }
}

TEST_F(ManagerTest, SlotsFromTheMonitorOfAScriptedService)
{
    FakePcsc::Get().SetReaders({"Reader A", "Reader B"});
    FakePcsc::Get().Insert("Reader B");
    manager.Initialize(nullptr);
    // the card found by the first listing has its token and its mark already
    EXPECT_EQ(slotList(CK_FALSE), (Ids{0, 1}));
    EXPECT_EQ(slotList(CK_TRUE), (Ids{1}));
    EXPECT_EQ(pendingEvents(), (Ids{1}));

    // a reader attached later, reported through a blocking wait
    FakePcsc::Get().SetReaders({"Reader A", "Reader B", "Reader C"});
    unsigned long slot = 99;
    manager.WaitForSlotEvent(0, &slot, nullptr);
    EXPECT_EQ(slot, 2u);
    FakePcsc::Get().Remove("Reader B");
    manager.WaitForSlotEvent(0, &slot, nullptr);
    EXPECT_EQ(slot, 1u);
    EXPECT_EQ(slotList(CK_TRUE), Ids{});
    EXPECT_EQ(TestToken::alive, 0);
}

TEST_F(ManagerTest, SlotListSizeQueryAndShortBuffer)
{
    manager.Initialize(nullptr);
    deliver("Reader A", EVT_CHANNEL_READER_FOUND);
    deliver("Reader B", EVT_CHANNEL_READER_FOUND | EVT_CHANNEL_CARD_INSERTED);
    TestToken::known = false;
    deliver("Reader C", EVT_CHANNEL_READER_FOUND | EVT_CHANNEL_CARD_INSERTED);

    struct Case {
        unsigned char tokenPresent;
        Ids expected;
    } const cases[] = {
        {CK_FALSE, {0, 1, 2}},
        {CK_TRUE, {1}}, // only the recognised card
        {2, {0, 1, 2}}, // only exactly CK_TRUE filters
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(int(c.tokenPresent));
        EXPECT_EQ(slotList(c.tokenPresent), c.expected);
    }

    unsigned long list[3] = {77, 77, 77};
    unsigned long count = 2;
    EXPECT_EQ(rv([&] { manager.GetSlotList(CK_FALSE, list, &count); }), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(list[0], 77u); // nothing written
    EXPECT_EQ(list[1], 77u);
    EXPECT_EQ(rv([&] { manager.GetSlotList(CK_FALSE, list, nullptr); }), CKR_ARGUMENTS_BAD);
}

TEST_F(ManagerTest, ChangedMarksAreReportedOncePerSlotInCreationOrder)
{
    manager.Initialize(nullptr);
    deliver("Reader A", EVT_CHANNEL_READER_FOUND); // first listing: no mark
    deliver("Reader B", EVT_CHANNEL_READER_FOUND);
    EXPECT_EQ(pendingEvents(), Ids{});

    TestToken::known = false;
    deliver("Reader A", EVT_CHANNEL_CARD_INSERTED); // not recognised: no mark
    EXPECT_EQ(pendingEvents(), Ids{});
    deliver("Reader A", EVT_CHANNEL_CARD_REMOVED); // had no token: no mark
    EXPECT_EQ(pendingEvents(), Ids{});

    TestToken::known = true;
    deliver("Reader C", EVT_CHANNEL_READER_CONNECTED);
    deliver("Reader A", EVT_CHANNEL_CARD_INSERTED);
    EXPECT_EQ(pendingEvents(), (Ids{0, 2}));
    deliver("Reader A", EVT_CHANNEL_CARD_REMOVED);
    EXPECT_EQ(pendingEvents(), (Ids{0}));
}

TEST_F(ManagerTest, TokensComeAndGoWithCardsAndReaders)
{
    manager.Initialize(nullptr);
    deliver("Reader A", EVT_CHANNEL_READER_FOUND | EVT_CHANNEL_CARD_INSERTED);
    CP11Token *token = manager.GetToken(0);
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(token->GetSlot(), manager.GetSlot(0));

    // the reader goes with its card in it: token finalised and deleted, slot gone
    deliver("Reader A", EVT_CHANNEL_READER_DISCONNECTED);
    EXPECT_EQ(TestToken::alive, 0);
    EXPECT_EQ(TestToken::finalized, 1);
    EXPECT_EQ(rv([&] { manager.GetToken(0); }), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(manager.getSlot(0UL)->FindByteAttribute(SLOT_A_CARD_INSERTED), 0);

    // back without a card: no token, no token-present flag
    deliver("Reader A", EVT_CHANNEL_READER_CONNECTED);
    EXPECT_EQ(rv([&] { manager.GetToken(0); }), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(slotList(CK_TRUE), Ids{});

    // a token that fails to come up is dropped; the slot shows no card
    TestToken::failInit = true;
    deliver("Reader A", EVT_CHANNEL_CARD_INSERTED);
    EXPECT_EQ(TestToken::alive, 0);
    EXPECT_EQ(rv([&] { manager.GetToken(0); }), CKR_TOKEN_NOT_PRESENT);
}

TEST_F(ManagerTest, ANewInsertionReplacesALeftoverToken)
{
    manager.Initialize(nullptr);
    deliver("Reader A", EVT_CHANNEL_READER_FOUND | EVT_CHANNEL_CARD_INSERTED);
    int first = static_cast<TestToken *>(manager.GetToken(0))->serial;
    // the removal of the first card was never reported
    deliver("Reader A", EVT_CHANNEL_CARD_INSERTED);
    EXPECT_EQ(TestToken::alive, 1);
    EXPECT_EQ(TestToken::finalized, 1);
    EXPECT_NE(static_cast<TestToken *>(manager.GetToken(0))->serial, first);
    deliver("Reader A", EVT_CHANNEL_CARD_REMOVED);
    EXPECT_EQ(TestToken::alive, 0);
    EXPECT_EQ(rv([&] { manager.GetToken(0); }), CKR_TOKEN_NOT_PRESENT);
}

CK_RV createMutex(void **)
{
    return CKR_OK;
}
CK_RV mutexOp(void *)
{
    return CKR_OK;
}

TEST_F(ManagerTest, InitializeArguments)
{
    struct Case {
        char const *name;
        CK_FLAGS flags;
        int callbacks; // how many of the four are given
        bool reserved;
        unsigned long expected;
    } const cases[] = {
        {"none", 0, 0, false, CKR_OK},
        {"OS locking", CKF_OS_LOCKING_OK, 0, false, CKR_OK},
        // the module can lock with the OS: callbacks beside the flag are fine
        {"OS locking and callbacks", CKF_OS_LOCKING_OK, 4, false, CKR_OK},
        {"callbacks only", 0, 4, false, CKR_CANT_LOCK},
        {"three callbacks", 0, 3, false, CKR_ARGUMENTS_BAD},
        {"three callbacks and OS locking", CKF_OS_LOCKING_OK, 3, false, CKR_ARGUMENTS_BAD},
        {"reserved", 0, 0, true, CKR_ARGUMENTS_BAD},
        // loaders that ask for no threads still get the module (with its monitor)
        {"no threads", CKF_LIBRARY_CANT_CREATE_OS_THREADS, 0, false, CKR_OK},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.name);
        CK_C_INITIALIZE_ARGS args = {};
        args.flags = c.flags;
        if (c.callbacks >= 1)
            args.CreateMutex = createMutex;
        if (c.callbacks >= 2)
            args.DestroyMutex = mutexOp;
        if (c.callbacks >= 3)
            args.LockMutex = mutexOp;
        if (c.callbacks >= 4)
            args.UnlockMutex = mutexOp;
        int dummy = 0;
        args.pReserved = c.reserved ? &dummy : nullptr;
        EXPECT_EQ(rv([&] { manager.Initialize(&args); }), c.expected);
        if (c.expected == CKR_OK) {
            EXPECT_EQ(rv([&] { manager.Initialize(nullptr); }), CKR_CRYPTOKI_ALREADY_INITIALIZED);
            manager.Finalize(nullptr, false);
        }
        EXPECT_EQ(manager.GetChannels().Count(), 0u);
    }
}

TEST_F(ManagerTest, AChannelThatCannotOpenLeavesTheLibraryNotInitialised)
{
    {
        std::lock_guard<std::mutex> lock(FakePcsc::Get().m);
        FakePcsc::Get().establishResults = {static_cast<LONG>(SCARD_E_NO_SERVICE)};
    }
    EXPECT_EQ(rv([&] { manager.Initialize(nullptr); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(manager.GetChannels().Count(), 0u);
    unsigned long count = 0;
    EXPECT_EQ(rv([&] { manager.GetSlotList(CK_FALSE, nullptr, &count); }),
              CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(rv([&] { manager.Initialize(nullptr); }), CKR_OK); // the service is back
}

TEST_F(ManagerTest, CallsBeforeInitializeAndFinalizeRules)
{
    CK_INFO info;
    unsigned long count = 0, slot = 0;
    EXPECT_EQ(rv([&] { manager.GetInfo(&info); }), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(rv([&] { manager.GetSlotList(CK_FALSE, nullptr, &count); }),
              CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(rv([&] { manager.GetSlot(0); }), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(rv([&] { manager.GetToken(0); }), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(rv([&] { manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr); }),
              CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(rv([&] { manager.Finalize(nullptr, false); }), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(rv([&] { manager.Finalize(nullptr, true); }), CKR_OK);

    manager.Initialize(nullptr);
    int dummy;
    EXPECT_EQ(rv([&] { manager.Finalize(&dummy, false); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(rv([&] { manager.WaitForSlotEvent(0, nullptr, nullptr); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(rv([&] { manager.WaitForSlotEvent(0, &slot, &dummy); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(rv([&] { manager.GetInfo(nullptr); }), CKR_ARGUMENTS_BAD);

    manager.GetInfo(&info);
    EXPECT_EQ(info.cryptokiVersion.major, 2);
    EXPECT_EQ(info.cryptokiVersion.minor, 20);
    EXPECT_EQ(info.libraryVersion.major, 0);
    EXPECT_EQ(info.libraryVersion.minor, 3);
    EXPECT_EQ(std::string((char *)info.manufacturerID, 32), "vOK" + std::string(29, ' '));
    EXPECT_EQ(std::string((char *)info.libraryDescription, 32), "vOK eID PKCS#11 library         ");
    EXPECT_EQ(info.flags, 0u);
}

TEST_F(ManagerTest, FinalizeReleasesEveryBlockedWaiter)
{
    manager.Initialize(nullptr);
    deliver("Reader A", EVT_CHANNEL_READER_FOUND);
    auto wait = [&] {
        unsigned long slot = 0;
        return rv([&] { manager.WaitForSlotEvent(0, &slot, nullptr); });
    };
    auto a = std::async(std::launch::async, wait);
    auto b = std::async(std::launch::async, wait);
    std::this_thread::sleep_for(100ms); // let both block
    auto started = std::chrono::steady_clock::now();
    std::thread([&] { manager.Finalize(nullptr, false); }).join();
    ASSERT_EQ(a.wait_for(1s), std::future_status::ready);
    ASSERT_EQ(b.wait_for(1s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(a.get(), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(b.get(), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(ManagerTest, ANonBlockingWaitNeitherBlocksNorStealsTheWakeUp)
{
    manager.Initialize(nullptr);
    deliver("Reader A", EVT_CHANNEL_READER_FOUND);
    auto blocked = std::async(std::launch::async, [&] {
        unsigned long slot = 99;
        unsigned long code = rv([&] { manager.WaitForSlotEvent(0, &slot, nullptr); });
        return std::make_pair(code, slot);
    });
    std::this_thread::sleep_for(100ms);
    for (int i = 0; i < 3; ++i) {
        auto poll = std::async(std::launch::async, [&] {
            unsigned long slot = 99;
            return rv([&] { manager.WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr); });
        });
        ASSERT_EQ(poll.wait_for(1s), std::future_status::ready);
        EXPECT_EQ(poll.get(), CKR_NO_EVENT);
    }
    EXPECT_EQ(blocked.wait_for(0ms), std::future_status::timeout);
    deliver("Reader A", EVT_CHANNEL_CARD_INSERTED);
    ASSERT_EQ(blocked.wait_for(2s), std::future_status::ready);
    auto result = blocked.get();
    EXPECT_EQ(result.first, CKR_OK);
    EXPECT_EQ(result.second, 0u);
}

TEST_F(ManagerTest, FinalizeStopsTheMonitorBeforeTakingTheLock)
{
    FakePcsc::Get().SetReaders({"Reader A"});
    manager.Initialize(nullptr);
    // the monitor delivers an insertion whose detection is held at the gate
    TestToken::SetGate(false);
    FakePcsc::Get().Insert("Reader A");
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (TestToken::atGate == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(TestToken::atGate, 1);

    auto started = std::chrono::steady_clock::now();
    auto finalize = std::async(std::launch::async,
                               [&] { return rv([&] { manager.Finalize(nullptr, false); }); });
    std::this_thread::sleep_for(200ms);
    TestToken::SetGate(true); // the detection ends; the monitor then stops
    ASSERT_EQ(finalize.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(finalize.get(), CKR_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(TestToken::alive, 0);
    EXPECT_EQ(manager.GetChannels().Count(), 0u);
    // nothing is delivered any more
    deliver("Reader A", EVT_CHANNEL_READER_FOUND | EVT_CHANNEL_CARD_INSERTED);
    EXPECT_EQ(TestToken::alive, 0);
}

} // namespace
