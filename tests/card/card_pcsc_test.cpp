// The card layer end to end over the real reader service: a simulated card in the
// virtual reader, the token's transmit callback on a PC/SC channel connection, and
// the layer's own PC/SC path on the same card handle.
#include "card_sim_support.h"

#include "card/qvmd_card_data.h"
#include "card/qvmd_info.h"
#include "card/token_transmit.h"
#include "channel/card_connection_pcsc.h"
#include "channel/channel_manager.h"
#include "channel/channel_pcsc.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"
#include "pcsc_helpers.h"
#include "vpcd_card.h"

#include <reader.h>

#include <gtest/gtest.h>

#include <memory>

namespace
{

using namespace card_test;

const std::string READER = vpcd::NameOfReader(0);

class CardPcscTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx),
                  SCARD_S_SUCCESS);
        ASSERT_TRUE(WaitCardState(m_ctx, READER, false)); // an earlier card may be leaving
        cardsim::CardState state;
        std::string error;
        ASSERT_TRUE(cardsim::Personalise({}, state, &error)) << error;
        cardsim::Options options;
        options.strictLe = true;
        options.secondAidOnly = true;
        m_card.reset(new cardsim::Card(state, options));
        m_slotCard.reset(new vpcd::VirtualCard(*m_card, vpcd::PortOfReader(0)));
        ASSERT_TRUE(m_slotCard->Insert());
        ASSERT_TRUE(WaitCardState(m_ctx, READER, true));
        ASSERT_TRUE(m_manager.RegisterChannel(&m_channel, false));
        ASSERT_TRUE(m_channel.Open(1));
        m_connection = m_channel.Connect(CBlob(READER.c_str()), false,
                                         CChannel::PROTOCOL_T0 | CChannel::PROTOCOL_T1);
        ASSERT_NE(m_connection, nullptr);
    }
    void TearDown() override
    {
        if (m_connection != nullptr) {
            m_channel.Disconnect(m_connection, CChannel::DISCONNECT_LEAVE);
            delete m_connection;
        }
        m_channel.Close(0);
        m_manager.UnregisterChannel(&m_channel);
        if (m_slotCard)
            m_slotCard->Remove();
        SCardReleaseContext(m_ctx);
    }

    // Reads what the token reads at insertion, the card data in three pieces and
    // a reply long enough to need GET RESPONSE; checks it against the card.
    void ReadTheCard(_qv_md_card_struct *card)
    {
        cardsim::CardState state = m_card->Snapshot();
        ASSERT_EQ(QVMD_CheckAppletSelection(card), 0u);
        for (unsigned char kind : {4, 5, 6, 8, 2, 10, 1, 9}) {
            SCOPED_TRACE(int(kind));
            ASSERT_EQ(QVMD_GetInfo(card, card->info, kind), 0u);
        }
        EXPECT_EQ(ToHex(card->info->serial, 16), ToHex(state.serial));
        EXPECT_EQ(card->info->pins[1].triesRemaining, 5u);
        EXPECT_EQ(card->info->totalMemory, 65536u);

        cardsim::Options options = m_card->GetOptions();
        options.cardDataPiece = (state.cardData.size() + 2) / 3;
        m_card->SetOptions(options);
        const unsigned char all[5] = {};
        unsigned char *data = nullptr;
        unsigned long length = 0;
        ASSERT_EQ(QVMD_GetInfoCardDataTag(card, nullptr, all, 5, &data, &length), 0u);
        EXPECT_EQ(ToHex(data, length), ToHex(state.cardData));
        QVMD_Free(card, data);

        // 300 data bytes come as 256 and 61 2C; the transport fetches the rest
        m_card->SetFault(cardsim::Fault::Oversize, 300);
        ASSERT_EQ(QVMD_GetInfoParam(card, card->info, QVMD_INFO_CARD_DATA, all, 5), 0u);
        EXPECT_EQ(card->transport->receivedLength, 302u);
        m_card->SetFault(cardsim::Fault::None);
    }

    SCARDCONTEXT m_ctx = 0;
    std::unique_ptr<cardsim::Card> m_card;
    std::unique_ptr<vpcd::VirtualCard> m_slotCard;
    CChannelManager m_manager;
    CChannelPCSC m_channel;
    CCardConnection *m_connection = nullptr;
};

TEST_F(CardPcscTest, TheTokensCallbackCarriesTheLayerOverTheChannel)
{
    CP11Slot slot(&m_channel);
    CP11Token token(&slot);
    CTransmitParam param(&token, m_connection);
    _qv_md_card_struct card;
    ASSERT_EQ(QVMD_CardInitStruct(&card, reinterpret_cast<unsigned long>(&param), nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, TokenTransmit),
              0u);
    ReadTheCard(&card);
    QVMD_CardReleaseStruct(&card);
}

TEST_F(CardPcscTest, WithoutACallbackTheLayerUsesTheCardHandle)
{
    auto *pcsc = static_cast<CCardConnectionPCSC *>(m_connection);
    unsigned long handle = static_cast<unsigned long>(pcsc->GetCardHandle());
    unsigned long protocol = pcsc->GetActiveProtocol() == SCARD_PROTOCOL_T1 ? 2 : 1;
    // the protocol comes from the reader, or the reader's refusal is passed on
    unsigned char attribute[8] = {};
    DWORD attributeLength = sizeof(attribute);
    LONG service = SCardGetAttrib(pcsc->GetCardHandle(), SCARD_ATTR_CURRENT_PROTOCOL_TYPE,
                                  attribute, &attributeLength);
    _qv_md_card_struct card;
    uint32_t rv = QVMD_CardInitStruct(&card, handle, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr);
    EXPECT_EQ(rv, static_cast<uint32_t>(service));
    if (rv == 0) {
        EXPECT_EQ(card.transport->protocol, protocol);
    }
    QVMD_CardReleaseStruct(&card);

    // the exchanges themselves on the handle, with the connection's protocol
    ASSERT_EQ(QVMD_CardInitStructNoCommunication(&card, handle, nullptr, nullptr, nullptr, nullptr,
                                                 nullptr, nullptr, nullptr),
              0u);
    card.transport->protocol = protocol;
    ReadTheCard(&card);
    QVMD_CardReleaseStruct(&card);
}

} // namespace
