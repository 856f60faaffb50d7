// A simulated card in the virtual reader for the card layer's tests over the real
// reader service: inserted into reader 0, connected on a PC/SC channel, and reached
// through the token's transmit callback on that connection. Removed again at the end.
#pragma once

#include "card_sim_support.h"

#include "card/token_transmit.h"
#include "channel/card_connection.h"
#include "channel/channel_manager.h"
#include "channel/channel_pcsc.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"
#include "pcsc_helpers.h"
#include "vpcd_card.h"

#include <gtest/gtest.h>

#include <memory>

namespace card_test
{

const std::string READER = vpcd::NameOfReader(0);

class InsertedCard
{
  public:
    InsertedCard(SCARDCONTEXT ctx, const cardsim::CardState &state,
                 const cardsim::Options &options = {})
    {
        EXPECT_TRUE(WaitCardState(ctx, READER, false)); // an earlier card may be leaving
        card.reset(new cardsim::Card(state, options));
        m_slotCard.reset(new vpcd::VirtualCard(*card, vpcd::PortOfReader(0)));
        EXPECT_TRUE(m_slotCard->Insert());
        EXPECT_TRUE(WaitCardState(ctx, READER, true));
        EXPECT_TRUE(m_manager.RegisterChannel(&m_channel, false));
        EXPECT_TRUE(m_channel.Open(1));
        m_connection = m_channel.Connect(CBlob(READER.c_str()), false,
                                         CChannel::PROTOCOL_T0 | CChannel::PROTOCOL_T1);
        EXPECT_NE(m_connection, nullptr);
        m_param = CTransmitParam(&m_token, m_connection);
        EXPECT_EQ(QVMD_CardInitStruct(&m_context, reinterpret_cast<unsigned long>(&m_param),
                                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      TokenTransmit),
                  0u);
    }
    ~InsertedCard()
    {
        QVMD_CardReleaseStruct(&m_context);
        if (m_connection != nullptr) {
            m_channel.Disconnect(m_connection, CChannel::DISCONNECT_LEAVE);
            delete m_connection;
        }
        m_channel.Close(0);
        m_manager.UnregisterChannel(&m_channel);
        m_slotCard->Remove();
    }
    InsertedCard(const InsertedCard &) = delete;
    InsertedCard &operator=(const InsertedCard &) = delete;

    // The card context over the token's callback.
    _qv_md_card_struct *get() { return &m_context; }
    CCardConnection *Connection() { return m_connection; }

    std::unique_ptr<cardsim::Card> card;

  private:
    std::unique_ptr<vpcd::VirtualCard> m_slotCard;
    CChannelManager m_manager;
    CChannelPCSC m_channel;
    CCardConnection *m_connection = nullptr;
    CP11Slot m_slot{&m_channel};
    CP11Token m_token{&m_slot};
    CTransmitParam m_param;
    _qv_md_card_struct m_context;
};

// A PC/SC context for the test.
class PcscTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx),
                  SCARD_S_SUCCESS);
    }
    void TearDown() override { SCardReleaseContext(m_ctx); }

    SCARDCONTEXT m_ctx = 0;
};

} // namespace card_test
