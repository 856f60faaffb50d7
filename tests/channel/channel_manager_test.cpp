// Channel registration, ids and ownership; the exclusive-access guard; event names.
#include "channel/card_connection.h"
#include "channel/channel.h"
#include "channel/channel_event.h"
#include "channel/channel_locker.h"
#include "channel/channel_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

// A channel whose open state and Close result the test sets; it records its calls
// and its own destruction.
class ProbeChannel : public CChannel
{
  public:
    explicit ProbeChannel(std::vector<std::string> &journal, bool open = true, bool closeOk = true)
        : m_journal(journal), m_open(open), m_closeOk(closeOk)
    {
    }
    ~ProbeChannel() override { m_journal.push_back("deleted"); }
    bool IsOpen() override { return m_open; }
    bool Close(unsigned long mode) override
    {
        m_journal.push_back("close " + std::to_string(mode));
        m_open = false;
        return m_closeOk;
    }
    bool BeginExclusive(CCardConnection *) override
    {
        m_journal.push_back("begin");
        return m_beginOk;
    }
    bool EndExclusive(CCardConnection *) override
    {
        m_journal.push_back("end");
        return true;
    }
    bool m_beginOk = true;

  private:
    std::vector<std::string> &m_journal;
    bool m_open;
    bool m_closeOk;
};

TEST(ChannelBase, NewChannelIsUnregisteredAndRefusesEverything)
{
    CChannel channel;
    EXPECT_EQ(channel.GetName().GetSize(), 0u);
    EXPECT_EQ(channel.GetId(), 0u);
    EXPECT_EQ(channel.GetError(), static_cast<unsigned long>(-1));
    EXPECT_EQ(channel.GetFlags(), 0u);
    EXPECT_EQ(channel.GetManager(), nullptr);

    CBlob reader("Reader");
    CBlob command, response;
    EXPECT_FALSE(channel.Open(1));
    EXPECT_FALSE(channel.Close(0));
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(channel.Connect(reader, false, 3), nullptr);
    EXPECT_FALSE(channel.Transmit(nullptr, command, response));
    EXPECT_FALSE(channel.BeginExclusive(nullptr));

    CCardConnection connection;
    EXPECT_EQ(connection.GetCardStatus(), CCardConnection::CARD_STATUS_UNKNOWN);
    EXPECT_EQ(connection.GetChannelType(), 0u);
}

TEST(ChannelManager, RegisteringGivesIdsInOrderOnceEach)
{
    std::vector<std::string> journal;
    CChannelManager manager;
    ProbeChannel a(journal, false), b(journal, false);

    EXPECT_FALSE(manager.RegisterChannel(nullptr, true));
    ASSERT_TRUE(manager.RegisterChannel(&a, false));
    ASSERT_TRUE(manager.RegisterChannel(&b, true));
    ASSERT_TRUE(manager.RegisterChannel(&a, true)); // again: same entry, same id, still MANUAL
    EXPECT_EQ(a.GetId(), 1u);
    EXPECT_EQ(b.GetId(), 2u);
    EXPECT_EQ(manager.GetChannels().Count(), 2u);
    EXPECT_EQ(a.GetManager(), &manager);
    EXPECT_EQ(a.GetFlags(), 0u);
    EXPECT_EQ(b.GetFlags(), CChannel::CHANNEL_FLAG_AUTO);

    // unregistering keeps the id; registering again does not renumber
    EXPECT_TRUE(manager.UnregisterChannel(&a));
    EXPECT_FALSE(manager.UnregisterChannel(&a));
    EXPECT_EQ(manager.GetChannels().Count(), 1u);
    EXPECT_EQ(a.GetId(), 1u);
    EXPECT_EQ(a.GetManager(), &manager);
    ASSERT_TRUE(manager.RegisterChannel(&a, false));
    EXPECT_EQ(a.GetId(), 1u);
    manager.freeChannels(0); // both are closed already: untouched
    EXPECT_TRUE(journal.empty());
}

TEST(ChannelManager, FreeChannelsClosesOpenOnesAndDeletesOnlyOwnedOnes)
{
    std::vector<std::string> manualLog, autoLog, closedLog, failingLog;
    CChannelManager manager;
    ProbeChannel manual(manualLog, true);
    ProbeChannel closed(closedLog, false);
    auto *owned = new ProbeChannel(autoLog, true);
    auto *failing = new ProbeChannel(failingLog, true, false);
    manager.RegisterChannel(&manual, false);
    manager.RegisterChannel(owned, true);
    manager.RegisterChannel(&closed, false);
    manager.RegisterChannel(failing, true);

    EXPECT_FALSE(manager.freeChannels(1)); // one Close failed
    EXPECT_EQ(manager.GetChannels().Count(), 0u);
    EXPECT_EQ(manualLog, (std::vector<std::string>{"close 1"}));
    EXPECT_EQ(autoLog, (std::vector<std::string>{"close 1", "deleted"}));
    EXPECT_EQ(failingLog, (std::vector<std::string>{"close 1", "deleted"}));
    EXPECT_TRUE(closedLog.empty());
    EXPECT_TRUE(manager.freeChannels(0)); // nothing left
}

TEST(ChannelManager, DestructionFreesOwnedChannels)
{
    std::vector<std::string> journal;
    {
        CChannelManager manager;
        manager.RegisterChannel(new ProbeChannel(journal, true), true);
    }
    EXPECT_EQ(journal, (std::vector<std::string>{"close 0", "deleted"}));
}

TEST(ChannelLocker, EndsOnlyWhatItBegan)
{
    std::vector<std::string> journal;
    ProbeChannel channel(journal, true);
    CCardConnection connection;
    {
        CChannelLocker locker(&channel, &connection);
        EXPECT_TRUE(locker.IsLocked());
    }
    EXPECT_EQ(journal, (std::vector<std::string>{"begin", "end"}));

    journal.clear();
    {
        CChannelLocker locker(&channel, nullptr);
        CChannelLocker other(nullptr, &connection);
        EXPECT_FALSE(locker.IsLocked());
    }
    EXPECT_TRUE(journal.empty());

    channel.m_beginOk = false;
    {
        CChannelLocker locker(&channel, &connection);
        EXPECT_FALSE(locker.IsLocked());
    }
    EXPECT_EQ(journal, (std::vector<std::string>{"begin"}));
}

TEST(ChannelEvent, NamesAndFields)
{
    struct Case {
        unsigned long id;
        char const *names;
    } const cases[] = {
        {EVT_CHANNEL_READER_FOUND | EVT_CHANNEL_CARD_INSERTED,
         "EVT_CHANNEL_READER_FOUND | EVT_CHANNEL_CARD_INSERTED"},
        {EVT_CHANNEL_CARD_REMOVED, "EVT_CHANNEL_CARD_REMOVED"},
        {EVT_CHANNEL_READER_CONNECTED | EVT_CHANNEL_READER_DISCONNECTED | 0x100,
         "EVT_CHANNEL_READER_CONNECTED | EVT_CHANNEL_READER_DISCONNECTED | 0x00000100"},
        {0, ""},
    };
    for (auto const &c : cases) {
        CBlob names = CChannelEvent::EventNames(c.id);
        EXPECT_EQ(std::string(reinterpret_cast<char const *>(names.GetData()), names.GetSize()),
                  c.names);
    }

    CChannelEvent empty;
    EXPECT_EQ(empty.GetChannel(), nullptr);
    EXPECT_EQ(empty.GetReader().GetSize(), 0u);
    EXPECT_EQ(empty.GetEventId(), 0u);

    CChannel channel;
    CBlob reader("Virtual PCD 00 00");
    CChannelEvent event(&channel, reader, EVT_CHANNEL_CARD_INSERTED);
    EXPECT_EQ(event.GetChannel(), &channel);
    EXPECT_EQ(event.GetReader().Compare(reader), 0);
    EXPECT_EQ(event.GetReader().GetSize(), 17u); // no NUL in the size
    EXPECT_EQ(event.GetEventId(), static_cast<unsigned long>(EVT_CHANNEL_CARD_INSERTED));
}

} // namespace
