// RSA on the card under secure messaging, end to end against the simulated card:
// signatures and decryptions of 1024- and 2048-bit blocks checked with OpenSSL on
// each applet, the command forms of each block size, a 4096-bit key whose results
// cannot come back, the card's refusals, and a result that does not fit its buffer.
#include "card_rsa_oracle.h"
#include "card_sim_support.h"
#include "card_sm_support.h"

#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sm.h"

#include <gtest/gtest.h>

namespace
{

using namespace card_test;

// A block below the modulus: a PKCS#1 type-1 block around a fake digest.
Bytes Block(size_t length, unsigned char fill)
{
    Bytes b(length, 0xFF);
    b[0] = 0x00;
    b[1] = 0x01;
    for (size_t i = length - 20; i < length; i++)
        b[i] = static_cast<unsigned char>(fill + i);
    b[length - 21] = 0x00;
    return b;
}

// The simulated card personalised as asked, selected, the user PIN verified (unless
// told not to) and a session open at the RSA level.
struct RsaCard {
    explicit RsaCard(const cardsim::Personalisation &p, bool verify = true) : sim(p), sm(sim.get())
    {
        PrepareCard(sim, verify);
        EXPECT_EQ(QVMD_OpenSM(sim.get(), "MK", 0, 0, QVMD_SM_LEVEL_RSA), 0u);
        sim.transport->commands.clear();
    }
    ~RsaCard() { QVMD_CloseSM(sim.get()); }

    PKey Key(int container, int spec)
    {
        return KeyFromDer(sim.card->Snapshot().keys.at({container, spec}).der, false);
    }
    // P2 of every RSA command sent, in hex.
    std::string FlagsSent() const
    {
        std::string flags;
        for (const Bytes &c : sim.transport->commands)
            if (c[1] == 0x78 || c[1] == 0x7A)
                flags += ToHex(&c[3], 1) + " ";
        return flags;
    }

    SimCard sim;
    SmBinding sm;
};

cardsim::Personalisation WithContainer(unsigned char major, unsigned char minor, int bits)
{
    cardsim::Personalisation p = Applet(major, minor);
    p.withContainer = true;
    p.keyBits = bits;
    return p;
}

TEST(RsaSim, SignsAndDecryptsOnEachApplet)
{
    struct Row {
        int bits;
        std::string signFlags, decryptFlags; // P2: flags and key spec
    } rows[] = {
        {1024, "50 ", "51 "},
        {2048, "90 C0 ", "91 C1 "},
    };
    for (auto version : {std::make_pair(0, 9), std::make_pair(1, 1), std::make_pair(1, 2)}) {
        for (const Row &r : rows) {
            SCOPED_TRACE(std::to_string(version.first) + "." + std::to_string(version.second) +
                         ", " + std::to_string(r.bits) + " bits");
            RsaCard card(WithContainer(static_cast<unsigned char>(version.first),
                                       static_cast<unsigned char>(version.second), r.bits));
            const Bytes block = Block(r.bits / 8, 0x10);

            unsigned char *signature = nullptr;
            unsigned long length = 0;
            ASSERT_EQ(QVMD_RSASign(card.sim.get(), 0, 0, block.data(), block.size(), &signature,
                                   &length, 1),
                      0u);
            EXPECT_EQ(ToHex(PublicRaw(card.Key(0, 0).get(), Bytes(signature, signature + length))),
                      ToHex(block));
            QVMD_Free(card.sim.get(), signature);
            EXPECT_EQ(card.FlagsSent(), r.signFlags);

            card.sim.transport->commands.clear();
            Bytes buffer = PublicRaw(card.Key(0, 1).get(), block);
            unsigned long bufferLength = buffer.size();
            ASSERT_EQ(QVMD_RSADecrypt(card.sim.get(), 0, 1, buffer.data(), &bufferLength), 0u);
            EXPECT_EQ(ToHex(buffer.data(), bufferLength), ToHex(block));
            EXPECT_EQ(card.FlagsSent(), r.decryptFlags);
        }
    }
}

TEST(RsaSim, DecryptionKeptOnTheCardReturnsNothing)
{
    RsaCard card(WithContainer(1, 2, 1024));
    Bytes buffer = PublicRaw(card.Key(0, 1).get(), Block(128, 0x20));
    const Bytes sent = buffer;
    unsigned long length = buffer.size();
    ASSERT_EQ(QVMD_RSADecryptProcessOnCard(card.sim.get(), 0, 1, buffer.data(), &length), 0u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(ToHex(buffer), ToHex(sent));
    EXPECT_EQ(card.FlagsSent(), "71 "); // first, kept on the card, last
}

// A 4096-bit result with its R-MAC is longer than any response can be: the operation
// fails cleanly, and the session goes on.
TEST(RsaSim, A4096BitResultFailsCleanly)
{
    cardsim::Personalisation p = Applet(1, 2);
    p.largerKeys = true;
    cardsim::ContainerSpec spec;
    spec.keys[0].bits = 4096;
    spec.keys[0].certificate = false;
    p.containers.push_back(spec);
    RsaCard card(p);
    const Bytes block = Block(512, 0x30);
    unsigned char *out = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(QVMD_RSASign(card.sim.get(), 0, 0, block.data(), block.size(), &out, &length, 1),
              0x80100008u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(card.FlagsSent(), "90 80 80 C0 ");
    EXPECT_LE(card.sim.transport->commands.size(), 6u);
}

TEST(RsaSim, CardRefusalsAreReported)
{
    struct Row {
        const char *name;
        bool verify;   // the user PIN
        int container; // asked for
        uint32_t result;
    } rows[] = {
        {"an empty container", true, 5, 0x80100026},
        {"a container beyond the card's", true, 9, 0x80100030},
        {"the user PIN not verified", false, 0, 0x8010006A},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        RsaCard card(WithContainer(1, 2, 1024), r.verify);
        const Bytes block = Block(128, 0x40);
        unsigned char *out = nullptr;
        unsigned long length = 0;
        EXPECT_EQ(QVMD_RSASign(card.sim.get(), static_cast<unsigned char>(r.container), 0,
                               block.data(), block.size(), &out, &length, 1),
                  r.result);
        EXPECT_EQ(out, nullptr);
    }
}

TEST(RsaSim, ADecryptionLongerThanItsBufferLeavesTheBuffer)
{
    ScriptedSession s(true, QVMD_SM_LEVEL_RSA,
                      [](const Bytes &) { return SessionCard::Reply{Bytes(140, 0x66)}; });
    ASSERT_EQ(s.opened, 0u);
    Bytes buffer(128, 0x12);
    unsigned long length = buffer.size();
    EXPECT_EQ(QVMD_RSADecrypt(s.context.get(), 0, 1, buffer.data(), &length), 0x80100008u);
    EXPECT_EQ(ToHex(buffer), ToHex(Bytes(128, 0x12)));
    EXPECT_EQ(length, 128u);
}

} // namespace
