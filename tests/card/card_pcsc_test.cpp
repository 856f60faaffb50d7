// The card layer end to end over the real reader service: a simulated card in the
// virtual reader, the token's transmit callback on a PC/SC channel connection, and
// the layer's own PC/SC path on the same card handle.
#include "card_pcsc_support.h"

#include "card/qvmd_card_data.h"
#include "card/qvmd_info.h"
#include "channel/card_connection_pcsc.h"

#include <reader.h>

#include <gtest/gtest.h>

#include <memory>

namespace
{

using namespace card_test;

class CardPcscTest : public PcscTest
{
  protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        cardsim::CardState state;
        std::string error;
        ASSERT_TRUE(cardsim::Personalise({}, state, &error)) << error;
        cardsim::Options options;
        options.strictLe = true;
        options.secondAidOnly = true;
        m_inserted.reset(new InsertedCard(m_ctx, state, options));
        m_card = m_inserted->card.get();
        ASSERT_NE(m_inserted->Connection(), nullptr);
    }
    void TearDown() override
    {
        m_inserted.reset();
        PcscTest::TearDown();
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

    std::unique_ptr<InsertedCard> m_inserted;
    cardsim::Card *m_card = nullptr;
};

TEST_F(CardPcscTest, TheTokensCallbackCarriesTheLayerOverTheChannel)
{
    ReadTheCard(m_inserted->get());
}

TEST_F(CardPcscTest, WithoutACallbackTheLayerUsesTheCardHandle)
{
    auto *pcsc = static_cast<CCardConnectionPCSC *>(m_inserted->Connection());
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
