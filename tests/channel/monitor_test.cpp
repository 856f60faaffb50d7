// The reader monitor over a scripted reader service: what it reports at start, card
// and reader changes between passes, failed listings, more readers than it watches,
// and how it stops.
#include "channel/channel_pcsc.h"
#include "fake_pcsc.h"
#include "monitor_wait.h"
#include "recording_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace
{

using Clock = std::chrono::steady_clock;

class MonitorTest : public ::testing::Test
{
  protected:
    void SetUp() override { FakePcsc::Get().Reset(); }
    void TearDown() override
    {
        if (m_channel) {
            m_channel->Close(1);
            m_manager.UnregisterChannel(m_channel.get());
        }
        m_channel.reset();
        EXPECT_EQ(CChannelPCSC::ReapMonitors(), 0u);
        EXPECT_EQ(FakePcsc::Get().OpenContexts(), 0u);
    }
    void Open()
    {
        m_channel.reset(new CChannelPCSC(FakePcsc::Functions()));
        ASSERT_TRUE(m_manager.RegisterChannel(m_channel.get(), false));
        ASSERT_TRUE(m_channel->Open(1));
    }
    // Opens the channel with these readers attached and forgets what it reported at
    // start: the test sees only what follows.
    void OpenQuiet(std::vector<std::string> const &readers)
    {
        FakePcsc::Get().SetReaders(readers);
        Open();
        m_manager.Clear();
    }
    // Events received from now on, after the monitor has run a few more passes.
    std::vector<RecordedEvent> After(int passes = 3)
    {
        EXPECT_TRUE(FakePcsc::Get().WaitPasses(passes));
        return m_manager.Events();
    }

    RecordingManager m_manager;
    std::unique_ptr<CChannelPCSC> m_channel;
};

TEST_F(MonitorTest, ReportsReadersAndCardsAlreadyThereBeforeOpenReturns)
{
    FakePcsc &fake = FakePcsc::Get();
    fake.SetReaders({"Reader A", "Reader B"});
    fake.Insert("Reader B");
    Open();
    EXPECT_EQ(m_manager.Events(),
              (std::vector<RecordedEvent>{Ev("Reader A", EVT_CHANNEL_READER_FOUND),
                                          Ev("Reader B", EVT_CHANNEL_READER_FOUND),
                                          Ev("Reader B", EVT_CHANNEL_CARD_INSERTED)}));
    EXPECT_EQ(m_manager.Events()[0].channel, m_channel.get());
    // nothing more while nothing changes
    EXPECT_EQ(After().size(), 3u);
}

TEST_F(MonitorTest, CardInsertionRemovalAndSwapBetweenPolls)
{
    FakePcsc &fake = FakePcsc::Get();
    OpenQuiet({"Reader A", "Reader B"});

    fake.Insert("Reader B");
    ASSERT_TRUE(m_manager.WaitCount(1));
    fake.Remove("Reader B");
    ASSERT_TRUE(m_manager.WaitCount(2));
    fake.Insert("Reader A");
    ASSERT_TRUE(m_manager.WaitCount(3));
    // the card is taken out and another put in between two looks
    fake.Swap("Reader A");
    ASSERT_TRUE(m_manager.WaitCount(5));
    EXPECT_EQ(After(), (std::vector<RecordedEvent>{Ev("Reader B", EVT_CHANNEL_CARD_INSERTED),
                                                   Ev("Reader B", EVT_CHANNEL_CARD_REMOVED),
                                                   Ev("Reader A", EVT_CHANNEL_CARD_INSERTED),
                                                   Ev("Reader A", EVT_CHANNEL_CARD_REMOVED),
                                                   Ev("Reader A", EVT_CHANNEL_CARD_INSERTED)}));
}

TEST_F(MonitorTest, MuteCardIsReportedOnceItAnswers)
{
    FakePcsc &fake = FakePcsc::Get();
    OpenQuiet({"Reader A"});
    fake.SetMute("Reader A", true);
    fake.Insert("Reader A");
    EXPECT_TRUE(After().empty());
    fake.SetMute("Reader A", false);
    ASSERT_TRUE(m_manager.WaitCount(1));
    EXPECT_EQ(After(), (std::vector<RecordedEvent>{Ev("Reader A", EVT_CHANNEL_CARD_INSERTED)}));
}

TEST_F(MonitorTest, EveryReaderArrivalAndDepartureIsReported)
{
    FakePcsc &fake = FakePcsc::Get();
    struct Step {
        std::vector<std::string> readers;
        std::vector<RecordedEvent> expected;
    } const steps[] = {
        // two attached at once
        {{"Reader A", "Reader B", "Reader C"},
         {Ev("Reader B", EVT_CHANNEL_READER_CONNECTED),
          Ev("Reader C", EVT_CHANNEL_READER_CONNECTED)}},
        // one replaced by another between two passes: same count
        {{"Reader A", "Reader D", "Reader C"},
         {Ev("Reader B", EVT_CHANNEL_READER_DISCONNECTED),
          Ev("Reader D", EVT_CHANNEL_READER_CONNECTED)}},
        // two gone, one back
        {{"Reader B"},
         {Ev("Reader A", EVT_CHANNEL_READER_DISCONNECTED),
          Ev("Reader D", EVT_CHANNEL_READER_DISCONNECTED),
          Ev("Reader C", EVT_CHANNEL_READER_DISCONNECTED),
          Ev("Reader B", EVT_CHANNEL_READER_CONNECTED)}},
        // the last one detached: the service has no readers
        {{}, {Ev("Reader B", EVT_CHANNEL_READER_DISCONNECTED)}},
        {{"Reader A"}, {Ev("Reader A", EVT_CHANNEL_READER_CONNECTED)}},
    };
    fake.SetReaders({"Reader A"});
    Open();
    for (auto const &step : steps) {
        m_manager.Clear();
        fake.SetReaders(step.readers);
        ASSERT_TRUE(m_manager.WaitCount(step.expected.size()));
        EXPECT_EQ(After(), step.expected);
    }
}

TEST_F(MonitorTest, AllReadersGoneAreReportedLastFirst)
{
    FakePcsc &fake = FakePcsc::Get();
    OpenQuiet({"Reader A", "Reader B", "Reader C"});
    fake.SetReaders({});
    ASSERT_TRUE(m_manager.WaitCount(3));
    EXPECT_EQ(After(),
              (std::vector<RecordedEvent>{Ev("Reader C", EVT_CHANNEL_READER_DISCONNECTED),
                                          Ev("Reader B", EVT_CHANNEL_READER_DISCONNECTED),
                                          Ev("Reader A", EVT_CHANNEL_READER_DISCONNECTED)}));
}

TEST_F(MonitorTest, ArrivingReaderWithACardReportsBoth)
{
    FakePcsc &fake = FakePcsc::Get();
    OpenQuiet({"Reader A"});
    fake.SetReaders({"Reader A", "Reader B"});
    fake.Insert("Reader B");
    ASSERT_TRUE(m_manager.WaitCount(2));
    EXPECT_EQ(After(), (std::vector<RecordedEvent>{Ev("Reader B", EVT_CHANNEL_READER_CONNECTED),
                                                   Ev("Reader B", EVT_CHANNEL_CARD_INSERTED)}));
}

TEST_F(MonitorTest, FailedListingsReportNothing)
{
    FakePcsc &fake = FakePcsc::Get();
    fake.SetReaders({"Reader A", "Reader B"});
    fake.Insert("Reader A");
    Open();
    m_manager.Clear();
    for (LONG code :
         {static_cast<LONG>(SCARD_E_NO_SERVICE), static_cast<LONG>(SCARD_F_COMM_ERROR)}) {
        fake.FailListings(code, 3);
        EXPECT_TRUE(After(6).empty()) << std::hex << code;
    }
    // and the readers are still watched
    fake.Remove("Reader A");
    ASSERT_TRUE(m_manager.WaitCount(1));
    EXPECT_EQ(After(), (std::vector<RecordedEvent>{Ev("Reader A", EVT_CHANNEL_CARD_REMOVED)}));
}

TEST_F(MonitorTest, ReadersBeyondTheTablesAreIgnoredUntilThereIsRoom)
{
    FakePcsc &fake = FakePcsc::Get();
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i)
        names.push_back("Reader " + std::to_string(100 + i));
    fake.SetReaders(names);
    fake.Insert(names[19]);
    Open();
    std::vector<RecordedEvent> found;
    for (int i = 0; i < 17; ++i)
        found.push_back(Ev(names[i], EVT_CHANNEL_READER_FOUND));
    EXPECT_EQ(m_manager.Events(), found);
    EXPECT_EQ(After().size(), 17u);

    // a watched reader leaves: the first ignored one takes its place
    m_manager.Clear();
    names.erase(names.begin() + 3);
    fake.SetReaders(names);
    ASSERT_TRUE(m_manager.WaitCount(2));
    EXPECT_EQ(After(),
              (std::vector<RecordedEvent>{Ev("Reader 103", EVT_CHANNEL_READER_DISCONNECTED),
                                          Ev("Reader 117", EVT_CHANNEL_READER_CONNECTED)}));
    // still ignored: the card in the last reader
    fake.Remove(names.back());
    fake.Insert(names.back());
    EXPECT_EQ(After().size(), 2u);
}

TEST_F(MonitorTest, MonitorWorksOnItsOwnContextAndStopsPromptly)
{
    FakePcsc &fake = FakePcsc::Get();
    fake.SetReaders({"Reader A"});
    Open();
    ASSERT_TRUE(fake.WaitPasses(2));
    auto begin = Clock::now();
    ASSERT_TRUE(m_channel->Close(0));
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(1));

    std::lock_guard<std::mutex> lock(fake.m);
    ASSERT_EQ(fake.contexts.size(), 2u);
    SCARDCONTEXT mine = fake.contexts[1];
    for (SCARDCONTEXT used : fake.statusCalls)
        EXPECT_EQ(used, mine);
    for (SCARDCONTEXT used : fake.listContexts)
        EXPECT_EQ(used, mine);
    EXPECT_EQ(fake.cancels, (std::vector<SCARDCONTEXT>{mine}));
}

TEST_F(MonitorTest, CloseReturnsWhileADeliveryIsHeldAndNothingFollows)
{
    FakePcsc &fake = FakePcsc::Get();
    OpenQuiet({"Reader A"});
    m_manager.HoldNext(EVT_CHANNEL_CARD_INSERTED);
    fake.Insert("Reader A");
    ASSERT_TRUE(m_manager.WaitHeld(5000));

    auto begin = Clock::now();
    EXPECT_TRUE(m_channel->Close(1));
    auto took = Clock::now() - begin;
    EXPECT_LT(took, std::chrono::milliseconds(6000));
    EXPECT_GE(took, std::chrono::milliseconds(4900));
    EXPECT_FALSE(m_channel->IsOpen());
    m_manager.UnregisterChannel(m_channel.get());
    m_channel.reset(); // the channel goes while its monitor still delivers
    EXPECT_EQ(CChannelPCSC::ReapMonitors(), 1u);

    fake.Remove("Reader A");
    m_manager.Release();
    // the monitor ends on its own and is freed with its context
    WaitMonitorsReaped();
    EXPECT_EQ(CChannelPCSC::ReapMonitors(), 0u);
    EXPECT_EQ(fake.OpenContexts(), 0u);
    // the held event arrived without the channel that had gone; nothing after it
    auto events = m_manager.Events();
    ASSERT_EQ(events, (std::vector<RecordedEvent>{Ev("Reader A", EVT_CHANNEL_CARD_INSERTED)}));
    EXPECT_EQ(events[0].channel, nullptr);
}

} // namespace

namespace
{

// The monitor never gets ready because the manager does not return from the first
// delivery: Open gives up after 30 s without cancelling the thread, and the
// monitor ends on its own once the delivery returns.
TEST_F(MonitorTest, OpenGivesUpOnAMonitorThatIsNotReady)
{
    FakePcsc &fake = FakePcsc::Get();
    fake.SetReaders({"Reader A", "Reader B"});
    m_manager.HoldNext(EVT_CHANNEL_READER_FOUND);
    m_channel.reset(new CChannelPCSC(FakePcsc::Functions()));
    ASSERT_TRUE(m_manager.RegisterChannel(m_channel.get(), false));

    auto begin = Clock::now();
    EXPECT_FALSE(m_channel->Open(1));
    auto took = Clock::now() - begin;
    EXPECT_GE(took, std::chrono::seconds(30));
    EXPECT_LT(took, std::chrono::seconds(37));
    EXPECT_EQ(m_channel->GetError(), static_cast<unsigned long>(SCARD_E_UNEXPECTED));
    EXPECT_FALSE(m_channel->IsOpen());
    EXPECT_EQ(fake.OpenContexts(), 1u); // the monitor's, until it ends

    m_manager.Release();
    WaitMonitorsReaped();
    EXPECT_EQ(CChannelPCSC::ReapMonitors(), 0u);
    EXPECT_EQ(fake.OpenContexts(), 0u);
    // only the delivery that was under way; the second reader is never reported
    EXPECT_EQ(m_manager.Events(),
              (std::vector<RecordedEvent>{Ev("Reader A", EVT_CHANNEL_READER_FOUND)}));
}

} // namespace
