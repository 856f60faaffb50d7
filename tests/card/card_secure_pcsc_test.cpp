// PINs, secure messaging, on-card RSA and key containers end to end over the real
// reader service: the simulated card of each applet version in the virtual reader,
// the layer's APDUs through the token's callback on a PC/SC channel connection.
#include "card_pcsc_support.h"
#include "card_rsa_oracle.h"
#include "card_sm_support.h"

#include "card_content.h"

#include "card/qvmd_container.h"
#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sm.h"

#include <gtest/gtest.h>

#include <memory>

namespace
{

using namespace card_test;

Bytes Text(const char *s)
{
    return Bytes(s, s + strlen(s));
}

// One 2048-bit key pair for every card of the test, as private-key DER.
const Bytes &SharedKey()
{
    static const Bytes der = [] {
        PKey key = NewRsaKey(2048);
        unsigned char *out = nullptr;
        int length = i2d_PrivateKey(key.get(), &out);
        Bytes bytes(out, out + (length > 0 ? length : 0));
        OPENSSL_free(out);
        return bytes;
    }();
    return der;
}

// A card of the applet asked in the reader, with the shared key pair as container
// 0's signature and exchange keys; secure messaging bound and the PIN records read,
// as the token has them after insertion.
struct ReadyCard {
    ReadyCard(SCARDCONTEXT ctx, const cardsim::Personalisation &p)
        : inserted(ctx, Personalised(p)), sm(inserted.get())
    {
        cardsim::KeyOptions options;
        options.privateDer = SharedKey();
        for (int spec : {0, 1}) {
            std::string error;
            EXPECT_TRUE(inserted.card->AddKey(0, spec, options, &error)) << error;
        }
        EXPECT_EQ(QVMD_CheckAppletSelection(get()), 0u);
        EXPECT_EQ(QVMD_GetInfo(get(), get()->info, QVMD_INFO_PIN_PROPERTIES), 0u);
    }
    static cardsim::CardState Personalised(const cardsim::Personalisation &p)
    {
        cardsim::CardState state;
        std::string error;
        EXPECT_TRUE(cardsim::Personalise(p, state, &error)) << error;
        return state;
    }
    _qv_md_card_struct *get() { return inserted.get(); }

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
        PKey key = KeyFromDer(inserted.card->Snapshot().keys.at({container, 0}).der, false);
        EXPECT_EQ(ToHex(PublicRaw(key.get(), Bytes(out, out + outLength))), ToHex(block));
        QVMD_Free(get(), out);
    }

    InsertedCard inserted;
    SmBinding sm;
};

using CardSecurePcscTest = PcscTest;

TEST_F(CardSecurePcscTest, PinsSessionsRsaAndContainersOnEachApplet)
{
    for (auto version : {std::make_pair(0, 9), std::make_pair(1, 1), std::make_pair(1, 2)}) {
        SCOPED_TRACE(std::to_string(version.first) + "." + std::to_string(version.second));
        cardsim::Personalisation p = Applet(static_cast<unsigned char>(version.first),
                                            static_cast<unsigned char>(version.second));
        ReadyCard card(m_ctx, p);

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
        PKey exchange = KeyFromDer(card.inserted.card->Snapshot().keys.at({0, 1}).der, false);
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
