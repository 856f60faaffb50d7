// The PC/SC channel against the real reader service and its two virtual readers,
// with scripted cards in them.
#include "channel/card_connection.h"
#include "channel/channel_pcsc.h"
#include "monitor_wait.h"
#include "pcsc_helpers.h"
#include "recording_manager.h"
#include "vpcd_card.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

namespace
{

using vpcd::Bytes;
using Clock = std::chrono::steady_clock;

const std::string kReader0 = vpcd::NameOfReader(0);
const std::string kReader1 = vpcd::NameOfReader(1);

Bytes Of(CBlob const &blob)
{
    return Bytes(blob.GetData(), blob.GetData() + blob.GetSize());
}

CBlob Blob(Bytes const &bytes)
{
    return CBlob(bytes.data(), static_cast<unsigned>(bytes.size()));
}

class ReaderChannelTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx),
                  SCARD_S_SUCCESS);
        ASSERT_TRUE(WaitReadersEmpty(m_ctx));
    }
    void TearDown() override
    {
        if (m_connection) {
            m_channel->Disconnect(m_connection.get(), 1);
            m_connection.reset();
        }
        if (m_channel) {
            m_channel->Close(1);
            m_manager.UnregisterChannel(m_channel.get());
            m_channel.reset();
        }
        SCardReleaseContext(m_ctx);
    }
    void Open()
    {
        m_channel.reset(new CChannelPCSC);
        ASSERT_TRUE(m_manager.RegisterChannel(m_channel.get(), false));
        ASSERT_TRUE(m_channel->Open(1));
    }
    void Insert(vpcd::VirtualCard &slot, std::string const &reader)
    {
        ASSERT_TRUE(slot.Insert());
        ASSERT_TRUE(WaitCardState(m_ctx, reader, true));
    }

    SCARDCONTEXT m_ctx = 0;
    RecordingManager m_manager;
    std::unique_ptr<CChannelPCSC> m_channel;
    std::unique_ptr<CCardConnection> m_connection;
};

TEST_F(ReaderChannelTest, OpenReportsReadersAndThePresentCardBeforeReturning)
{
    vpcd::ScriptedCard card;
    vpcd::VirtualCard slot(card, vpcd::PortOfReader(1));
    Insert(slot, kReader1);
    Open();
    auto events = m_manager.Events();
    EXPECT_EQ(events, (std::vector<RecordedEvent>{Ev(kReader0, EVT_CHANNEL_READER_FOUND),
                                                  Ev(kReader1, EVT_CHANNEL_READER_FOUND),
                                                  Ev(kReader1, EVT_CHANNEL_CARD_INSERTED)}));
    for (auto const &e : events)
        EXPECT_EQ(e.channel, m_channel.get());
}

TEST_F(ReaderChannelTest, CardArrivalAndDepartureOnTheRightReader)
{
    Open();
    m_manager.Clear();
    vpcd::ScriptedCard card;
    vpcd::VirtualCard slot(card, vpcd::PortOfReader(0));
    ASSERT_TRUE(slot.Insert());
    ASSERT_TRUE(m_manager.WaitFor(kReader0, EVT_CHANNEL_CARD_INSERTED));
    slot.Remove();
    ASSERT_TRUE(m_manager.WaitFor(kReader0, EVT_CHANNEL_CARD_REMOVED));
    EXPECT_EQ(m_manager.Events(),
              (std::vector<RecordedEvent>{Ev(kReader0, EVT_CHANNEL_CARD_INSERTED),
                                          Ev(kReader0, EVT_CHANNEL_CARD_REMOVED)}));
}

TEST_F(ReaderChannelTest, ApdusRoundTripByteForByte)
{
    vpcd::ScriptedCard card;
    const Bytes select = {0x00, 0xA4, 0x04, 0x0C, 0x07, 0xA0, 0x00, 0x00, 0x01, 0x67, 0x45, 0x53};
    const Bytes fci = {0x6F, 0x08, 0x84, 0x06, 0xA0, 0x00, 0x00, 0x01, 0x67, 0x45, 0x90, 0x00};
    const Bytes read = {0x00, 0xB0, 0x00, 0x00, 0x00, 0x02, 0x58};
    Bytes big(600);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<unsigned char>(i * 7);
    big.push_back(0x90);
    big.push_back(0x00);
    card.On(select, fci);
    card.On(read, big);
    vpcd::VirtualCard slot(card, vpcd::PortOfReader(0));
    Insert(slot, kReader0);
    Open();

    m_connection.reset(m_channel->Connect(CBlob(kReader0.c_str()), false, CChannel::PROTOCOL_T1));
    ASSERT_NE(m_connection, nullptr) << std::hex << m_channel->GetError();
    EXPECT_EQ(m_connection->GetActiveProtocol(), static_cast<unsigned long>(SCARD_PROTOCOL_T1));
    EXPECT_EQ(Of(m_connection->GetATR()), card.Atr());
    EXPECT_EQ(m_connection->GetCardStatus(), CCardConnection::CARD_STATUS_PRESENT);

    CBlob command = Blob(select), response;
    ASSERT_TRUE(m_channel->Transmit(m_connection.get(), command, response));
    EXPECT_EQ(Of(response), fci);
    command = Blob(read);
    ASSERT_TRUE(m_channel->Transmit(m_connection.get(), command, response))
        << std::hex << m_channel->GetError();
    EXPECT_EQ(Of(response), big);
    EXPECT_EQ(card.Received(), (std::vector<Bytes>{select, read})); // each sent once

    // the card pulled: the connection sees it gone
    slot.Remove();
    ASSERT_TRUE(WaitCardState(m_ctx, kReader0, false));
    EXPECT_EQ(m_connection->GetCardStatus(), CCardConnection::CARD_STATUS_ABSENT);
    EXPECT_FALSE(m_channel->Transmit(m_connection.get(), command, response));
    EXPECT_EQ(response.GetSize(), 0u);
}

TEST_F(ReaderChannelTest, ExclusiveUseHoldsTheCardAgainstAnotherContext)
{
    vpcd::ScriptedCard card;
    card.SetDefault({0x90, 0x00});
    vpcd::VirtualCard slot(card, vpcd::PortOfReader(1));
    Insert(slot, kReader1);
    Open();
    m_connection.reset(m_channel->Connect(CBlob(kReader1.c_str()), false, 3));
    ASSERT_NE(m_connection, nullptr);

    SCARDCONTEXT other;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &other), SCARD_S_SUCCESS);
    SCARDHANDLE handle;
    DWORD protocol;
    ASSERT_EQ(SCardConnect(other, kReader1.c_str(), SCARD_SHARE_SHARED,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle, &protocol),
              SCARD_S_SUCCESS);

    ASSERT_TRUE(m_channel->BeginExclusive(m_connection.get()));
    // the other application's transaction waits for ours
    auto theirs = std::async(std::launch::async, [&] { return SCardBeginTransaction(handle); });
    EXPECT_EQ(theirs.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
    CBlob command = Blob({0x00, 0x84, 0x00, 0x00, 0x08}), response;
    EXPECT_TRUE(m_channel->Transmit(m_connection.get(), command, response));
    ASSERT_TRUE(m_channel->EndExclusive(m_connection.get()));
    ASSERT_EQ(theirs.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(theirs.get(), SCARD_S_SUCCESS);
    SCardEndTransaction(handle, SCARD_LEAVE_CARD);
    SCardDisconnect(handle, SCARD_LEAVE_CARD);
    SCardReleaseContext(other);
}

TEST_F(ReaderChannelTest, ConnectToAnEmptyReaderFails)
{
    Open();
    EXPECT_EQ(m_channel->Connect(CBlob(kReader0.c_str()), false, 3), nullptr);
    EXPECT_EQ(m_channel->GetError(), static_cast<unsigned long>(SCARD_E_NO_SMARTCARD));
    EXPECT_EQ(m_channel->Connect(CBlob("No such reader"), false, 3), nullptr);
    EXPECT_EQ(m_channel->GetError(), static_cast<unsigned long>(SCARD_E_UNKNOWN_READER));
}

TEST_F(ReaderChannelTest, CloseReturnsWhileADeliveryIsHeld)
{
    Open();
    m_manager.Clear();
    m_manager.HoldNext(EVT_CHANNEL_CARD_INSERTED);
    vpcd::ScriptedCard card;
    vpcd::VirtualCard slot(card, vpcd::PortOfReader(0));
    ASSERT_TRUE(slot.Insert());
    ASSERT_TRUE(m_manager.WaitHeld(5000));

    auto begin = Clock::now();
    EXPECT_TRUE(m_channel->Close(1));
    EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(6000));
    m_manager.UnregisterChannel(m_channel.get());
    m_channel.reset();

    slot.Remove();
    m_manager.Release();
    WaitMonitorsReaped();
    EXPECT_EQ(CChannelPCSC::ReapMonitors(), 0u);
    EXPECT_EQ(m_manager.Events(),
              (std::vector<RecordedEvent>{Ev(kReader0, EVT_CHANNEL_CARD_INSERTED)}));
}

} // namespace
