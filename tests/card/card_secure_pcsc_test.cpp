// PINs, secure messaging, on-card RSA and key containers end to end over the real
// reader service: the simulated card of each applet version in the virtual reader,
// the layer's APDUs through the token's callback on a PC/SC channel connection.
#include "card_rsa_oracle.h"
#include "card_sim_support.h"
#include "card_sm_support.h"

#include "card/qvmd_container.h"
#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sm.h"
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

namespace
{

using namespace card_test;

const std::string READER = vpcd::NameOfReader(0);

Bytes Text(const char *s)
{
    return Bytes(s, s + strlen(s));
}

// A personalised card in the virtual reader, reached through the token's callback
// on a channel connection; removed again at the end.
class InsertedCard
{
  public:
    InsertedCard(SCARDCONTEXT ctx, const cardsim::Personalisation &p) : m_ctx(ctx)
    {
        EXPECT_TRUE(WaitCardState(m_ctx, READER, false)); // an earlier card may be leaving
        cardsim::CardState state;
        std::string error;
        EXPECT_TRUE(cardsim::Personalise(p, state, &error)) << error;
        card.reset(new cardsim::Card(state));
        m_slotCard.reset(new vpcd::VirtualCard(*card, vpcd::PortOfReader(0)));
        EXPECT_TRUE(m_slotCard->Insert());
        EXPECT_TRUE(WaitCardState(m_ctx, READER, true));
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
        m_sm.reset(new SmBinding(&m_context));
        EXPECT_EQ(QVMD_CheckAppletSelection(&m_context), 0u);
        // the PIN records, as the token reads them at insertion
        EXPECT_EQ(QVMD_GetInfo(&m_context, m_context.info, QVMD_INFO_PIN_PROPERTIES), 0u);
    }
    ~InsertedCard()
    {
        m_sm.reset();
        QVMD_CardReleaseStruct(&m_context);
        if (m_connection != nullptr) {
            m_channel.Disconnect(m_connection, CChannel::DISCONNECT_LEAVE);
            delete m_connection;
        }
        m_channel.Close(0);
        m_manager.UnregisterChannel(&m_channel);
        m_slotCard->Remove();
    }

    _qv_md_card_struct *get() { return &m_context; }

    // Signs a block with container's signature key in a session of its own and
    // checks it with OpenSSL against the key the card holds.
    void SignsAndChecks(unsigned char container, size_t length)
    {
        Bytes block(length, 0x5C);
        block[0] = 0x00;
        ASSERT_EQ(QVMD_OpenSM(get(), "MK", 0, 0, QVMD_SM_LEVEL_RSA), 0u);
        unsigned char *out = nullptr;
        unsigned long outLength = 0;
        ASSERT_EQ(
            QVMD_RSASign(get(), container, 0, block.data(), block.size(), &out, &outLength, 1), 0u);
        EXPECT_EQ(QVMD_CloseSM(get()), 0u);
        PKey key = KeyFromDer(card->Snapshot().keys.at({container, 0}).der, false);
        EXPECT_EQ(ToHex(PublicRaw(key.get(), Bytes(out, out + outLength))), ToHex(block));
        QVMD_Free(get(), out);
    }

    std::unique_ptr<cardsim::Card> card;

  private:
    SCARDCONTEXT m_ctx;
    std::unique_ptr<vpcd::VirtualCard> m_slotCard;
    CChannelManager m_manager;
    CChannelPCSC m_channel;
    CCardConnection *m_connection = nullptr;
    CP11Slot m_slot{&m_channel};
    CP11Token m_token{&m_slot};
    CTransmitParam m_param;
    _qv_md_card_struct m_context;
    std::unique_ptr<SmBinding> m_sm;
};

class CardSecurePcscTest : public ::testing::Test
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

TEST_F(CardSecurePcscTest, PinsSessionsRsaAndContainersOnEachApplet)
{
    for (auto version : {std::make_pair(0, 9), std::make_pair(1, 1), std::make_pair(1, 2)}) {
        SCOPED_TRACE(std::to_string(version.first) + "." + std::to_string(version.second));
        cardsim::Personalisation p = Applet(static_cast<unsigned char>(version.first),
                                            static_cast<unsigned char>(version.second));
        p.withContainer = true;
        InsertedCard card(m_ctx, p);

        // a wrong PIN and the tries left, then the right one
        long tries = 77;
        Bytes pin = Text("123456"), wrong = Text("000000");
        EXPECT_EQ(QVMD_Authenticate(card.get(), QVMD_ROLE_USER, QVMD_AUTH_PIN, wrong.data(),
                                    wrong.size(), nullptr, nullptr, &tries, 0),
                  0x8010006Bu);
        EXPECT_EQ(tries, 2);
        ASSERT_EQ(QVMD_Authenticate(card.get(), QVMD_ROLE_USER, QVMD_AUTH_PIN, pin.data(),
                                    pin.size(), nullptr, nullptr, &tries, 0),
                  0u);

        // a 2048-bit signature and decryption in one session each
        card.SignsAndChecks(0, 256);
        ASSERT_EQ(QVMD_OpenSM(card.get(), "MK", 0, 0, QVMD_SM_LEVEL_RSA), 0u);
        PKey exchange = KeyFromDer(card.card->Snapshot().keys.at({0, 1}).der, false);
        Bytes block(256, 0x3A);
        block[0] = 0x00;
        Bytes buffer = PublicRaw(exchange.get(), block);
        unsigned long length = buffer.size();
        ASSERT_EQ(QVMD_RSADecrypt(card.get(), 0, 1, buffer.data(), &length), 0u);
        EXPECT_EQ(ToHex(buffer.data(), length), ToHex(block));
        EXPECT_EQ(QVMD_CloseSM(card.get()), 0u);

        // a container made on the card after the card-data test
        _qv_md_create_container_request request{};
        request.container = 1;
        request.flags = 0x01;
        request.keyBits = 1024;
        request.access[0] = 0x02;
        request.access[1] = 0x06;
        const unsigned char e[8] = {0, 0, 0, 0, 0, 1, 0, 1};
        memcpy(request.exponent, e, 8);
        request.exponentPresent = 1;
        ASSERT_EQ(QVMD_CreateContainer(card.get(), &request), 0u);
        card.SignsAndChecks(1, 128);

        // an OpenSSL key imported into a kept slot under an encrypting session
        PKey imported = NewRsaKey(1024);
        const Bytes blob = PrivateKeyBlob(imported.get());
        request.container = 2;
        request.exponentPresent = 0;
        request.defaultExponent = 1;
        ASSERT_EQ(QVMD_CreateContainer(card.get(), &request), 0u);
        ASSERT_EQ(QVMD_OpenSM(card.get(), "MK", 0, 0, QVMD_SM_LEVEL_IMPORT), 0u);
        ASSERT_EQ(QVMD_ContainerImportKey(card.get(), blob.data(), blob.size(), 2, 0, nullptr), 0u);
        EXPECT_EQ(QVMD_CloseSM(card.get()), 0u);
        card.SignsAndChecks(2, 128);

        // change, block and unblock
        Bytes fresh = Text("97531"), puk = Text("12345678");
        EXPECT_EQ(QVMD_ChangeAuthenticator(card.get(), QVMD_ROLE_USER, QVMD_AUTH_PIN, pin.data(),
                                           pin.size(), fresh.data(), fresh.size(), 3, &tries, 0),
                  0u);
        for (int i = 0; i < 3; i++)
            QVMD_Authenticate(card.get(), QVMD_ROLE_USER, QVMD_AUTH_PIN, wrong.data(), wrong.size(),
                              nullptr, nullptr, &tries, 0);
        EXPECT_EQ(QVMD_Authenticate(card.get(), QVMD_ROLE_USER, QVMD_AUTH_PIN, fresh.data(),
                                    fresh.size(), nullptr, nullptr, &tries, 0),
                  0x8010006Cu);
        EXPECT_EQ(QVMD_Unblock(card.get(), QVMD_ROLE_PUK, QVMD_AUTH_PIN, puk.data(), puk.size(),
                               QVMD_ROLE_USER, QVMD_AUTH_PIN, pin.data(), pin.size(), 3, &tries, 0),
                  0u);
        EXPECT_EQ(QVMD_Authenticate(card.get(), QVMD_ROLE_USER, QVMD_AUTH_PIN, pin.data(),
                                    pin.size(), nullptr, nullptr, &tries, 0),
                  0u);
        EXPECT_EQ(QVMD_Deauthenticate(card.get(), QVMD_ROLE_USER_AND_PUK), 0u);
    }
}

} // namespace
