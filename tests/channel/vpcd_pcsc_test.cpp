// The virtual card library against the real PC/SC service: a scripted card answers
// commands sent with plain SCardTransmit.
#include "pcsc_helpers.h"
#include "vpcd_card.h"

#include <gtest/gtest.h>
#include <winscard.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace
{

using vpcd::Bytes;

class VpcdCardTest : public ::testing::Test
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
        if (m_handle)
            SCardDisconnect(m_handle, SCARD_LEAVE_CARD);
        SCardReleaseContext(m_ctx);
    }
    void Connect(int reader, DWORD protocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1)
    {
        ASSERT_EQ(SCardConnect(m_ctx, vpcd::NameOfReader(reader).c_str(), SCARD_SHARE_SHARED,
                               protocols, &m_handle, &m_protocol),
                  SCARD_S_SUCCESS);
    }
    Bytes Transmit(const Bytes &command)
    {
        const SCARD_IO_REQUEST *pci = m_protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
        Bytes reply(65538);
        DWORD len = reply.size();
        LONG rv = SCardTransmit(m_handle, pci, command.data(), command.size(), nullptr,
                                reply.data(), &len);
        EXPECT_EQ(rv, SCARD_S_SUCCESS);
        reply.resize(rv == SCARD_S_SUCCESS ? len : 0);
        return reply;
    }

    SCARDCONTEXT m_ctx = 0;
    SCARDHANDLE m_handle = 0;
    DWORD m_protocol = 0;
};

TEST_F(VpcdCardTest, ScriptedCardAnswersRawTransmit)
{
    vpcd::ScriptedCard card;
    const Bytes select = {0x00, 0xA4, 0x04, 0x00, 0x03, 0xA0, 0x00, 0x01, 0x00};
    card.On(select, {0x90, 0x00});
    card.Queue({0x01, 0x02, 0x90, 0x00});
    vpcd::VirtualCard slot(card, vpcd::PortOfReader(0));
    ASSERT_TRUE(slot.Insert());
    ASSERT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(0), true, 5000));
    Connect(0);

    EXPECT_EQ(Transmit(select), (Bytes{0x90, 0x00}));
    EXPECT_EQ(Transmit({0x00, 0xB0, 0x00, 0x00, 0x02}), (Bytes{0x01, 0x02, 0x90, 0x00}));
    EXPECT_EQ(Transmit({0x00, 0xB0, 0x00, 0x00, 0x02}), (Bytes{0x6D, 0x00})); // queue used up
    EXPECT_EQ(Transmit(select), (Bytes{0x90, 0x00}));                         // fixed reply stays

    auto got = card.Received();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], select);
    EXPECT_EQ(got[1], (Bytes{0x00, 0xB0, 0x00, 0x00, 0x02}));
    EXPECT_GE(card.PowerOns(), 1);
    EXPECT_GE(card.AtrRequests(), 1);
}

TEST_F(VpcdCardTest, AtrAndRemovalAreSeenByTheReader)
{
    const Bytes atr = {0x3B, 0x8A, 0x80, 0x01, 0x01, 0x02, 0x03, 0x04,
                       0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0F};
    vpcd::ScriptedCard card(atr);
    vpcd::VirtualCard slot(card, vpcd::PortOfReader(1));
    ASSERT_TRUE(slot.Insert());
    ASSERT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(1), true, 5000));
    Connect(1);

    unsigned char got[64];
    DWORD gotLen = sizeof(got), state = 0, protocol = 0, nameLen = 0;
    ASSERT_EQ(SCardStatus(m_handle, nullptr, &nameLen, &state, &protocol, got, &gotLen),
              SCARD_S_SUCCESS);
    EXPECT_EQ(Bytes(got, got + gotLen), atr);

    slot.Remove();
    EXPECT_FALSE(slot.Inserted());
    EXPECT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(1), false, 5000));
    // and the slot can be filled again
    SCardDisconnect(m_handle, SCARD_LEAVE_CARD);
    m_handle = 0;
    ASSERT_TRUE(slot.Insert());
    EXPECT_TRUE(WaitCardState(m_ctx, vpcd::NameOfReader(1), true, 5000));
}

} // namespace
