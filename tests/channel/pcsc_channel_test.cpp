// The PC/SC channel's card calls over a scripted reader service: connections,
// exchanges, dispositions, card status and the failure codes it leaves behind.
#include "channel/card_connection_pcsc.h"
#include "channel/channel_pcsc.h"
#include "fake_pcsc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace
{

using Bytes = std::vector<unsigned char>;

Bytes Of(CBlob const &blob)
{
    return Bytes(blob.GetData(), blob.GetData() + blob.GetSize());
}

class ChannelPcscTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        FakePcsc::Get().Reset();
        FakePcsc::Get().SetReaders({"Reader A"});
        m_channel.reset(new CChannelPCSC(FakePcsc::Functions()));
        ASSERT_TRUE(m_channel->Open(1)); // no manager: the monitor stays idle
    }
    void TearDown() override
    {
        if (m_connection) {
            m_channel->Disconnect(m_connection.get(), 1);
            m_connection.reset();
        }
        m_channel.reset();
        EXPECT_EQ(FakePcsc::Get().OpenContexts(), 0u);
    }
    CCardConnection *Connect(DWORD protocol = SCARD_PROTOCOL_T1)
    {
        FakePcsc::Get().connectProtocol = protocol;
        m_connection.reset(m_channel->Connect(CBlob("Reader A"), false, 3));
        return m_connection.get();
    }

    std::unique_ptr<CChannelPCSC> m_channel;
    std::unique_ptr<CCardConnection> m_connection;
};

TEST(ChannelPcscLifecycle, OpenAndCloseCodes)
{
    FakePcsc &fake = FakePcsc::Get();
    fake.Reset();
    CChannelPCSC channel(FakePcsc::Functions());
    EXPECT_EQ(channel.GetName().Compare("PCSC"), 0);
    EXPECT_EQ(channel.GetChannelType(), 1u);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_FALSE(channel.Close(0));
    EXPECT_EQ(channel.GetError(), static_cast<unsigned long>(SCARD_E_NO_SERVICE));
    EXPECT_EQ(channel.Connect(CBlob("Reader A"), false, 3), nullptr);
    EXPECT_EQ(channel.GetError(), static_cast<unsigned long>(SCARD_E_NO_SERVICE));

    // the service refuses the channel's context, then the monitor's
    for (size_t failing : {0u, 1u}) {
        fake.establishResults.assign(failing + 1, SCARD_S_SUCCESS);
        fake.establishResults[failing] = SCARD_E_NO_SERVICE;
        EXPECT_FALSE(channel.Open(1));
        EXPECT_EQ(channel.GetError(), static_cast<unsigned long>(SCARD_E_NO_SERVICE));
        EXPECT_FALSE(channel.IsOpen());
        EXPECT_EQ(fake.OpenContexts(), 0u);
    }

    ASSERT_TRUE(channel.Open(2));
    EXPECT_TRUE(channel.IsOpen());
    EXPECT_TRUE(channel.Open(2));       // already open: nothing happens
    EXPECT_EQ(fake.OpenContexts(), 2u); // the channel's and the monitor's
    EXPECT_TRUE(channel.Close(0));
    EXPECT_EQ(channel.GetError(), 0u);
    EXPECT_EQ(fake.OpenContexts(), 0u);
    // and it can be opened again
    ASSERT_TRUE(channel.Open(1));
    EXPECT_TRUE(channel.Close(1));
}

TEST_F(ChannelPcscTest, ConnectReadsTheAtrAndKeepsTheProtocol)
{
    CCardConnection *connection = Connect(SCARD_PROTOCOL_T1);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->GetChannelType(), 1u);
    EXPECT_EQ(connection->GetActiveProtocol(), static_cast<unsigned long>(SCARD_PROTOCOL_T1));
    EXPECT_EQ(Of(connection->GetATR()), FakePcsc::Get().atr);
    EXPECT_EQ(m_channel->GetError(), 0u);

    // a driver without the ATR attribute: the service's card status has it
    m_channel->Disconnect(connection, 1);
    FakePcsc::Get().atrResult = SCARD_E_UNEXPECTED;
    connection = Connect(SCARD_PROTOCOL_T0);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(Of(connection->GetATR()), FakePcsc::Get().atr);
    EXPECT_EQ(connection->GetActiveProtocol(), static_cast<unsigned long>(SCARD_PROTOCOL_T0));

    // an ATR that cannot be read at all leaves it empty, the connection is still made
    m_channel->Disconnect(connection, 1);
    FakePcsc::Get().statusResult = SCARD_E_INVALID_HANDLE;
    connection = Connect(SCARD_PROTOCOL_T1);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->GetATR().GetSize(), 0u);
}

TEST_F(ChannelPcscTest, ConnectWaitsOutASharingViolationOnly)
{
    FakePcsc &fake = FakePcsc::Get();
    fake.connectResults = {static_cast<LONG>(SCARD_E_SHARING_VIOLATION),
                           static_cast<LONG>(SCARD_E_SHARING_VIOLATION)};
    auto begin = std::chrono::steady_clock::now();
    ASSERT_NE(Connect(), nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(900));
    EXPECT_EQ(fake.connectCalls, 3);

    fake.connectCalls = 0;
    fake.connectResults = {static_cast<LONG>(SCARD_E_NO_SMARTCARD)};
    EXPECT_EQ(m_channel->Connect(CBlob("Reader A"), true, 1), nullptr);
    EXPECT_EQ(fake.connectCalls, 1);
    EXPECT_EQ(m_channel->GetError(), static_cast<unsigned long>(SCARD_E_NO_SMARTCARD));
}

TEST_F(ChannelPcscTest, TransmitSendsEachCommandOnceWithRoomForAnyResponse)
{
    FakePcsc &fake = FakePcsc::Get();
    CCardConnection *connection = Connect(SCARD_PROTOCOL_T1);
    ASSERT_NE(connection, nullptr);
    fake.transmitReply = [](Bytes const &, LPBYTE out, LPDWORD length) {
        for (DWORD i = 0; i < 600; ++i)
            out[i] = static_cast<unsigned char>(i);
        out[598] = 0x90;
        out[599] = 0x00;
        *length = 600;
        return static_cast<LONG>(SCARD_S_SUCCESS);
    };
    CBlob command(Bytes{0x00, 0xB0, 0x00, 0x00, 0x00, 0x02, 0x56}.data(), 7);
    CBlob response("stale");
    ASSERT_TRUE(m_channel->Transmit(connection, command, response));
    ASSERT_EQ(response.GetSize(), 600u);
    EXPECT_EQ(response.GetData()[5], 5);
    ASSERT_EQ(fake.transmits.size(), 1u);
    EXPECT_EQ(fake.transmits[0].command, Of(command));
    EXPECT_EQ(fake.transmits[0].room, 65538u);
    EXPECT_EQ(fake.transmits[0].pci, SCARD_PCI_T1);

    // a short-buffer answer is a failure, never a second send
    fake.transmits.clear();
    fake.transmitReply = [](Bytes const &, LPBYTE, LPDWORD length) {
        *length = 70000;
        return static_cast<LONG>(SCARD_E_INSUFFICIENT_BUFFER);
    };
    EXPECT_FALSE(m_channel->Transmit(connection, command, response));
    EXPECT_EQ(response.GetSize(), 0u);
    EXPECT_EQ(fake.transmits.size(), 1u);
    EXPECT_EQ(m_channel->GetError(), static_cast<unsigned long>(SCARD_E_INSUFFICIENT_BUFFER));
}

TEST_F(ChannelPcscTest, TransmitPicksTheProtocolStructure)
{
    FakePcsc &fake = FakePcsc::Get();
    struct Case {
        DWORD negotiated;
        SCARD_IO_REQUEST const *pci;
    } const cases[] = {{SCARD_PROTOCOL_T0, SCARD_PCI_T0},
                       {SCARD_PROTOCOL_T1, SCARD_PCI_T1},
                       {SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, SCARD_PCI_T0}};
    for (auto const &c : cases) {
        CCardConnectionPCSC connection(0x77, c.negotiated, FakePcsc::Functions());
        CBlob command(Bytes{0x00, 0x84, 0x00, 0x00, 0x08}.data(), 5), response;
        fake.transmits.clear();
        ASSERT_TRUE(m_channel->Transmit(&connection, command, response));
        EXPECT_EQ(Of(response), (Bytes{0x90, 0x00}));
        ASSERT_EQ(fake.transmits.size(), 1u);
        EXPECT_EQ(fake.transmits[0].pci, c.pci) << c.negotiated;
    }
}

TEST_F(ChannelPcscTest, BadConnectionsAreRefused)
{
    FakePcsc &fake = FakePcsc::Get();
    CCardConnection foreign; // channel type 0
    for (CCardConnection *bad : {static_cast<CCardConnection *>(nullptr), &foreign}) {
        CBlob command(Bytes{0x00, 0xA4}.data(), 2), response("left over"), out;
        EXPECT_FALSE(m_channel->Transmit(bad, command, response));
        EXPECT_EQ(response.GetSize(), 0u);
        EXPECT_EQ(m_channel->GetError(), static_cast<unsigned long>(SCARD_E_INVALID_PARAMETER));
        EXPECT_FALSE(m_channel->Disconnect(bad, 1));
        EXPECT_FALSE(m_channel->Control(bad, 1, command, out));
        EXPECT_FALSE(m_channel->BeginExclusive(bad));
        EXPECT_FALSE(m_channel->EndExclusive(bad));
        EXPECT_EQ(m_channel->GetError(), static_cast<unsigned long>(SCARD_E_INVALID_PARAMETER));
    }
    EXPECT_TRUE(fake.transmits.empty());
    EXPECT_TRUE(fake.disconnects.empty());
    EXPECT_TRUE(fake.transactions.empty());
}

TEST_F(ChannelPcscTest, DisconnectDispositions)
{
    FakePcsc &fake = FakePcsc::Get();
    struct Case {
        unsigned long disposition;
        DWORD pcsc;
    } const cases[] = {{0, SCARD_LEAVE_CARD},   {1, SCARD_LEAVE_CARD}, {2, SCARD_RESET_CARD},
                       {3, SCARD_UNPOWER_CARD}, {4, SCARD_EJECT_CARD}, {7, SCARD_LEAVE_CARD}};
    for (auto const &c : cases) {
        CCardConnectionPCSC connection(0x77, SCARD_PROTOCOL_T1, FakePcsc::Functions());
        fake.disconnects.clear();
        EXPECT_TRUE(m_channel->Disconnect(&connection, c.disposition));
        EXPECT_EQ(fake.disconnects, (std::vector<DWORD>{c.pcsc})) << c.disposition;
    }
}

TEST_F(ChannelPcscTest, CardStatusFromTheServiceStateBits)
{
    FakePcsc &fake = FakePcsc::Get();
    CCardConnectionPCSC connection(0x77, SCARD_PROTOCOL_T1, FakePcsc::Functions());
    struct Case {
        LONG rv;
        DWORD state;
        unsigned long status;
    } const cases[] = {
        {SCARD_S_SUCCESS, SCARD_PRESENT, CCardConnection::CARD_STATUS_PRESENT},
        {SCARD_S_SUCCESS, SCARD_PRESENT | SCARD_POWERED | SCARD_NEGOTIABLE,
         CCardConnection::CARD_STATUS_PRESENT},
        {SCARD_S_SUCCESS, SCARD_PRESENT | SCARD_POWERED | SCARD_SPECIFIC,
         CCardConnection::CARD_STATUS_PRESENT},
        {SCARD_S_SUCCESS, SCARD_SWALLOWED, CCardConnection::CARD_STATUS_PRESENT},
        {SCARD_S_SUCCESS, SCARD_ABSENT, CCardConnection::CARD_STATUS_ABSENT},
        {static_cast<LONG>(SCARD_W_REMOVED_CARD), 0, CCardConnection::CARD_STATUS_ABSENT},
        {SCARD_S_SUCCESS, 0, CCardConnection::CARD_STATUS_UNKNOWN},
        {SCARD_S_SUCCESS, SCARD_UNKNOWN, CCardConnection::CARD_STATUS_UNKNOWN},
        {static_cast<LONG>(SCARD_E_INVALID_HANDLE), SCARD_PRESENT,
         CCardConnection::CARD_STATUS_UNKNOWN},
    };
    for (auto const &c : cases) {
        fake.statusResult = c.rv;
        fake.statusState = c.state;
        EXPECT_EQ(connection.GetCardStatus(), c.status)
            << std::hex << "rv 0x" << c.rv << " state 0x" << c.state;
    }
}

TEST_F(ChannelPcscTest, ControlCutsTheOutputToTheReturnedLength)
{
    FakePcsc &fake = FakePcsc::Get();
    CCardConnection *connection = Connect();
    ASSERT_NE(connection, nullptr);
    DWORD offered = 0;
    fake.controlReply = [&](DWORD code, LPVOID out, DWORD room, LPDWORD returned) {
        offered = room;
        if (code != 0x42000D48)
            return static_cast<LONG>(SCARD_E_UNSUPPORTED_FEATURE);
        static_cast<unsigned char *>(out)[0] = 0x06;
        static_cast<unsigned char *>(out)[1] = 0x04;
        *returned = 2;
        return static_cast<LONG>(SCARD_S_SUCCESS);
    };
    CBlob input, output;
    output.SetSize(64);
    ASSERT_TRUE(m_channel->Control(connection, 0x42000D48, input, output));
    EXPECT_EQ(offered, 64u);
    EXPECT_EQ(Of(output), (Bytes{0x06, 0x04}));

    output.SetSize(8);
    EXPECT_FALSE(m_channel->Control(connection, 0x1234, input, output));
    EXPECT_EQ(m_channel->GetError(), static_cast<unsigned long>(SCARD_E_UNSUPPORTED_FEATURE));
}

TEST_F(ChannelPcscTest, ExclusiveUseIsATransaction)
{
    CCardConnection *connection = Connect();
    ASSERT_NE(connection, nullptr);
    EXPECT_TRUE(m_channel->BeginExclusive(connection));
    EXPECT_TRUE(m_channel->EndExclusive(connection));
    EXPECT_EQ(FakePcsc::Get().transactions, (std::vector<std::string>{"begin", "end"}));
}

} // namespace
