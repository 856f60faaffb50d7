// Secure messaging: sessions of both generations at the token's levels against the
// simulated card (its session checks the host's cryptograms and MACs), the wrapped
// form of commands, hostile replies, and the unwrapping and gathering of responses
// against a scripted card whose session is the simulator's.
#include "card_rsa_oracle.h"
#include "card_sim_support.h"
#include "card_sm_support.h"

#include "card/apdu.h"
#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sm.h"

#include <gtest/gtest.h>

namespace
{

using namespace card_test;

struct AppletVersion {
    unsigned char major, minor;
    bool secondGeneration;
};
const AppletVersion APPLETS[] = {{0, 9, false}, {1, 1, false}, {1, 2, true}};

std::string Name(const AppletVersion &a, uint32_t level)
{
    return std::to_string(a.major) + "." + std::to_string(a.minor) + " level " +
           std::to_string(level);
}

// A simulated card with container 0 (1024-bit keys), selected, its applet read and
// the user PIN verified.
struct ReadyCard {
    explicit ReadyCard(const AppletVersion &a) : sim(Personalised(a)), sm(sim.get())
    {
        PrepareCard(sim);
    }
    static cardsim::Personalisation Personalised(const AppletVersion &a)
    {
        cardsim::Personalisation p = Applet(a.major, a.minor);
        p.withContainer = true;
        p.keyBits = 1024;
        return p;
    }
    // Signs a block with container 0's signature key and checks it with OpenSSL.
    void SignsAndChecks()
    {
        Bytes block(128, 0x5A);
        block[0] = 0x00;
        unsigned char *out = nullptr;
        unsigned long outLength = 0;
        ASSERT_EQ(QVMD_RSASign(sim.get(), 0, 0, block.data(), block.size(), &out, &outLength, 1),
                  0u);
        PKey key = KeyFromDer(sim.card->Snapshot().keys.at({0, 0}).der, false);
        EXPECT_EQ(ToHex(PublicRaw(key.get(), Bytes(out, out + outLength))), ToHex(block));
        QVMD_Free(sim.get(), out);
    }

    SimCard sim;
    SmBinding sm;
};

TEST(SecureMessaging, OpensAtTheTokensLevelsOnEachAppletAndCloses)
{
    for (const AppletVersion &a : APPLETS) {
        for (uint32_t level : {QVMD_SM_LEVEL_RSA, QVMD_SM_LEVEL_IMPORT}) {
            SCOPED_TRACE(Name(a, level));
            ReadyCard card(a);
            ASSERT_EQ(QVMD_OpenSM(card.sim.get(), "MK", 0, 0, level), 0u);
            EXPECT_TRUE(card.sim.card->SessionOpen());
            EXPECT_EQ(card.sm.Keys("SK"), 2u);
            // the opening's commands: a challenge, then the response C-MAC'd only
            const std::vector<Bytes> &sent = card.sim.transport->commands;
            ASSERT_EQ(sent.size(), 2u);
            EXPECT_EQ(sent[0].size(), a.secondGeneration ? 5u : 13u);
            EXPECT_EQ(ToHex(sent[1].data(), 5),
                      ToHex(Bytes{0xB4, 0x52, static_cast<unsigned char>(level), 0x00,
                                  static_cast<unsigned char>(a.secondGeneration ? 0x18 : 0x10)}));
            card.SignsAndChecks();
            card.SignsAndChecks(); // the chaining value runs on
            EXPECT_EQ(QVMD_CloseSM(card.sim.get()), 0u);
            EXPECT_FALSE(card.sim.card->SessionOpen());
            EXPECT_EQ(card.sm.Keys("SK"), 0u);
            EXPECT_EQ(card.sm.Keys("MK"), 1u);
        }
    }
}

TEST(SecureMessaging, TamperedResponseMacFailsAndTheNextOpeningWorks)
{
    for (const AppletVersion &a : APPLETS) {
        SCOPED_TRACE(Name(a, QVMD_SM_LEVEL_RSA));
        ReadyCard card(a);
        ASSERT_EQ(QVMD_OpenSM(card.sim.get(), "MK", 0, 0, QVMD_SM_LEVEL_RSA), 0u);
        card.sim.card->SetFault(cardsim::Fault::FlipRmac);
        Bytes block(128, 0x33);
        block[0] = 0;
        unsigned char *out = nullptr;
        unsigned long outLength = 0;
        EXPECT_EQ(
            QVMD_RSASign(card.sim.get(), 0, 0, block.data(), block.size(), &out, &outLength, 1),
            0x8010001Fu);
        EXPECT_EQ(out, nullptr);
        QVMD_CloseSM(card.sim.get());
        ASSERT_EQ(QVMD_OpenSM(card.sim.get(), "MK", 0, 0, QVMD_SM_LEVEL_RSA), 0u);
        card.SignsAndChecks();
        EXPECT_EQ(QVMD_CloseSM(card.sim.get()), 0u);
    }
}

TEST(SecureMessaging, CardWithAnotherMasterKeyFailsTheOpening)
{
    struct Row {
        AppletVersion applet;
        uint32_t result;
        size_t commands;
    } rows[] = {
        // the first generation checks the card cryptogram before answering
        {APPLETS[1], 0x8010001C, 1},
        // the second generation has the card refuse the host cryptogram
        {APPLETS[2], 0x8010001F, 2},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(Name(r.applet, QVMD_SM_LEVEL_RSA));
        ReadyCard card(r.applet);
        ASSERT_TRUE(
            card.sim.card->Modify([](cardsim::CardState &s) { s.masterKey = Bytes(16, 0x42); }));
        EXPECT_EQ(QVMD_OpenSM(card.sim.get(), "MK", 0, 0, QVMD_SM_LEVEL_RSA), r.result);
        EXPECT_EQ(card.sim.transport->commands.size(), r.commands);
        EXPECT_FALSE(card.sim.card->SessionOpen());
        QVMD_CloseSM(card.sim.get());
        EXPECT_EQ(card.sm.Keys("SK"), 0u);
    }
}

TEST(SecureMessaging, CommandsAreWrappedAsTheCardChecksThem)
{
    const Bytes data = {0xAA, 0xBB, 0xCC};
    for (bool second : {false, true}) {
        for (uint32_t level : {0x01u, QVMD_SM_LEVEL_RSA, QVMD_SM_LEVEL_IMPORT, 0x33u}) {
            SCOPED_TRACE(std::string(second ? "second" : "first") + " generation, level " +
                         std::to_string(level));
            ScriptedSession s(second, level, [](const Bytes &) {
                return SessionCard::Reply{{0x01, 0x02, 0x03}};
            });
            ASSERT_EQ(s.opened, 0u);
            _qv_caapi_card_struct *t = s.context->transport;
            std::vector<Bytes> wire;
            for (int i = 0; i < 2; i++) {
                ASSERT_EQ(QVCAAPI_PutCommand(
                              t, CApdu(0xB0, 0x1A, 0x05, 0x00).Append(data.data(), data.size())),
                          0u);
                ASSERT_EQ(QVMD_RunSecureAPDU(s.context.get(), 1), 0u);
                wire.push_back(s.transport.commands.back());
                EXPECT_EQ(ToHex(s.context.Reply()), "01 02 03 90 00");
                EXPECT_EQ(ToHex(s.card.plainCommands.back()), "B0 1A 05 00 03 AA BB CC");
            }
            // identical commands, different MACs: the chaining value moved on
            EXPECT_NE(ToHex(wire[0]), ToHex(wire[1]));
            bool encrypted = (level & QVMD_SM_COMMAND_ENCRYPTION) != 0;
            EXPECT_EQ(wire[0].size(), 5u + (encrypted ? 8u : 3u) + 8u);
            EXPECT_EQ(wire[0][0], 0xB4);
            EXPECT_EQ(ToHex(wire[0]).find("AA BB CC") == std::string::npos, encrypted);
        }
    }
}

TEST(SecureMessaging, ACaseTwoCommandGetsItsMacOverTheLcByte)
{
    ScriptedSession s(true, 0x01);
    ASSERT_EQ(s.opened, 0u);
    _qv_caapi_card_struct *t = s.context->transport;
    ASSERT_EQ(QVCAAPI_PutCommand(t, CApdu(0xB0, 0x1C, 0x00, 0xFF).Le(0x00)), 0u);
    ASSERT_EQ(QVMD_RunSecureAPDU(s.context.get(), 1), 0u);
    // B0 1C 00 FF 00 goes as 13 bytes; the card accepted the MAC over B0 1C 00 FF 00
    EXPECT_EQ(s.transport.commands.back().size(), 13u);
    EXPECT_EQ(ToHex(s.transport.commands.back().data(), 5), "B4 1C 00 FF 08");
    EXPECT_EQ(ToHex(s.card.plainCommands.back()), "B0 1C 00 FF 00");
}

TEST(SecureMessaging, WrapRefusesWhatDoesNotFit)
{
    ScriptedSession s(true, QVMD_SM_LEVEL_IMPORT);
    ASSERT_EQ(s.opened, 0u);
    struct Row {
        const char *name;
        Bytes command;
        unsigned long capacity;
        uint32_t result;
    } rows[] = {
        {"Lc and the MAC past one byte", Concat(Hex("B0 01 00 00 F8"), Bytes(248, 1)), 260,
         0x80100008},
        {"the MAC past the capacity", Concat(Hex("B0 01 00 00 04"), Bytes(4, 1)), 16, 0x80100008},
        {"the encrypted data past one byte", Concat(Hex("B0 01 00 00 F7"), Bytes(247, 1)), 260,
         0x80100008},
        {"an Lc that is not the data's length", Hex("B0 01 00 00 05 01 02"), 260, 0x80100011},
        {"a command of three bytes", Hex("B0 01 00"), 260, 0x80100011},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        unsigned char buffer[300] = {};
        memcpy(buffer, r.command.data(), r.command.size());
        unsigned long length = r.command.size();
        EXPECT_EQ(QVMD_CryptoSMWrap(&s.context->sm, buffer, &length, r.capacity), r.result);
    }
    _qv_md_sm_context unbound{};
    unsigned char command[5] = {0xB0, 0x1C, 0x00, 0xFF, 0x00};
    unsigned long length = 5;
    EXPECT_EQ(QVMD_CryptoSMWrap(&unbound, command, &length, 5), 0x80100011u);
}

TEST(SecureMessaging, UnwrapRefusesMalformedResponses)
{
    const Bytes data(16, 0x11);
    struct Row {
        const char *name;
        uint32_t level;
        // the card's protected reply (data and MAC) -> what the host receives
        std::function<Bytes(const Bytes &)> shape;
        uint32_t result;
    } rows[] = {
        {"a whole reply", QVMD_SM_LEVEL_RSA, [](const Bytes &p) { return p; }, 0},
        {"a whole encrypted reply", 0x31, [](const Bytes &p) { return p; }, 0},
        {"a wrong MAC", QVMD_SM_LEVEL_RSA,
         [](Bytes p) {
             p.back() ^= 1;
             return p;
         },
         0x8010001F},
        {"no room for a MAC", QVMD_SM_LEVEL_RSA,
         [](const Bytes &p) { return Bytes(p.begin(), p.begin() + 7); }, 0x8010001F},
        {"nothing but the status", QVMD_SM_LEVEL_RSA, [](const Bytes &) { return Bytes(); },
         0x8010001F},
        {"encrypted data not whole blocks", 0x31,
         [](const Bytes &p) {
             return Concat(Bytes(p.begin(), p.begin() + 23), Bytes(p.end() - 8, p.end()));
         },
         0x80100011},
        {"encrypted data without its padding mark", 0x31,
         [](const Bytes &p) {
             return Concat(Bytes(p.begin(), p.begin() + 8), Bytes(p.end() - 8, p.end()));
         },
         0x8010001F},
        {"encrypted data over 512 bytes", 0x31, [](const Bytes &) { return Bytes(520 + 8, 0x01); },
         0x8010001F},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        ScriptedSession s(true, r.level);
        ASSERT_EQ(s.opened, 0u);
        Bytes received = Concat(r.shape(s.card.session.Protect(data, false)), {0x90, 0x00});
        unsigned char buffer[600] = {};
        memcpy(buffer, received.data(), received.size());
        unsigned long length = received.size();
        EXPECT_EQ(QVMD_CryptoSMUnwrap(&s.context->sm, buffer, &length, sizeof(buffer)), r.result);
        if (r.result == 0) {
            EXPECT_EQ(ToHex(buffer, length), ToHex(Concat(data, {0x90, 0x00})));
        }
    }
}

// A signature of a 256-byte block whose result (of resultLength bytes) the card
// sends in parts; what the host makes of it.
TEST(SecureMessaging, ResponsesInPartsAreGatheredVerifiedAndBounded)
{
    struct Row {
        const char *name;
        size_t resultLength;
        std::vector<size_t> parts; // of the protected reply (data and MAC)
        bool unprotected, spoilMac, storm;
        uint32_t result;
    } rows[] = {
        {"whole after one GET RESPONSE", 256, {256, 8}, false, false, false, 0},
        {"three parts", 300, {200, 100, 8}, false, false, false, 0},
        {"504 bytes fill the response buffer", 504, {256, 256}, false, false, false, 0},
        {"a 4096-bit result never fits", 512, {256, 256, 8}, false, false, false, 0x80100008},
        {"a spoilt MAC across parts", 300, {200, 100, 8}, false, true, false, 0x8010001F},
        {"parts without a MAC, the last a bare status",
         300,
         {256, 44, 0},
         true,
         false,
         false,
         0x8010001F},
        {"GET RESPONSE that never ends", 300, {200, 50, 58}, false, false, true, 0x8010001F},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const Bytes result(r.resultLength, 0x77);
        ScriptedSession s(true, QVMD_SM_LEVEL_RSA, [&](const Bytes &c) {
            // the last command of the operation (flags C) gets the result
            return SessionCard::Reply{(c[3] >> 4) == 0xC ? result : Bytes()};
        });
        ASSERT_EQ(s.opened, 0u);
        s.card.parts = r.parts;
        s.card.unprotected = r.unprotected;
        s.card.spoilMac = r.spoilMac;
        Bytes block(256, 0x01);
        unsigned char *out = nullptr;
        unsigned long outLength = 0;
        s.card.storm = false;
        size_t before = s.transport.commands.size();
        if (r.storm) {
            // the storm starts once the reply has begun
            s.transport = RecordingTransport([&](const Bytes &c) {
                Bytes reply = s.card.Answer(c);
                s.card.storm = c[0] == 0x00;
                return reply;
            });
        }
        EXPECT_EQ(
            QVMD_RSASign(s.context.get(), 0, 0, block.data(), block.size(), &out, &outLength, 1),
            r.result);
        EXPECT_LE(s.transport.commands.size() - before, 24u);
        if (r.result == 0) {
            EXPECT_EQ(ToHex(out, outLength), ToHex(result));
        } else {
            EXPECT_EQ(out, nullptr);
        }
        QVMD_Free(s.context.get(), out);
    }
}

TEST(SecureMessaging, CloseEndsTheSessionEvenWhenTheCardRefuses)
{
    ScriptedSession s(false, QVMD_SM_LEVEL_RSA, [](const Bytes &) {
        return SessionCard::Reply{{}, 0x6A80};
    });
    ASSERT_EQ(s.opened, 0u);
    EXPECT_EQ(s.sm.Keys("SK"), 2u);
    // the close command goes plainly; this card refuses it
    s.transport = RecordingTransport([](const Bytes &) { return Hex("6A 80"); });
    EXPECT_EQ(QVMD_CloseSM(s.context.get()), 0x8010001Fu);
    EXPECT_EQ(ToHex(s.transport.commands.at(0)), "B0 54 00 00");
    EXPECT_EQ(s.sm.Keys("SK"), 0u);
    EXPECT_EQ(s.sm.State().sessionMac, nullptr);
}

TEST(SecureMessaging, OpeningCommandsCheckTheirRoom)
{
    ScriptedSession s(true, QVMD_SM_LEVEL_RSA);
    _qv_md_sm_context *sm = &s.context->sm;
    unsigned char buffer[64];
    const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Row {
        const char *name;
        std::function<uint32_t(unsigned long *)> prepare;
        unsigned long capacity, length;
        uint32_t result;
    } rows[] = {
        {"challenge in 12 bytes",
         [&](unsigned long *n) {
             return QVMD_CryptoSMPrepareChallengeAPDUPrecomputedChallenge(sm, buffer, n, eight);
         },
         12, 12, 0x80100011},
        {"challenge in 13 bytes",
         [&](unsigned long *n) {
             return QVMD_CryptoSMPrepareChallengeAPDUPrecomputedChallenge(sm, buffer, n, eight);
         },
         13, 13, 0},
        {"initialize update in 12 bytes",
         [&](unsigned long *n) { return QVMD_CryptoSMPrepareInitUpdateAPDUv2(sm, buffer, n); }, 12,
         12, 0x80100011},
        {"initialize update in 13 bytes",
         [&](unsigned long *n) { return QVMD_CryptoSMPrepareInitUpdateAPDUv2(sm, buffer, n); }, 13,
         5, 0},
        {"a first-generation reply of 12 bytes",
         [&](unsigned long *n) {
             return QVMD_CryptoSMPrepareResponseAPDU(sm, buffer + 40, 12, buffer, n);
         },
         64, 64, 0x80100011},
        {"a second-generation response in 36 bytes",
         [&](unsigned long *n) {
             return QVMD_CryptoSMPrepareResponseAPDUv2PrecomputedChallenge(sm, eight, 8, eight, 8,
                                                                           buffer, n, 1);
         },
         36, 36, 0x80100011},
        {"a second-generation response with the card challenge",
         [&](unsigned long *n) {
             return QVMD_CryptoSMPrepareResponseAPDUv2PrecomputedChallenge(sm, eight, 8, eight, 8,
                                                                           buffer, n, 1);
         },
         37, 37, 0},
        {"a card cryptogram of 8 bytes",
         [&](unsigned long *) { return QVMD_CryptoSMVerifyCryptogramv2(sm, eight, 8); }, 0, 0,
         0x80100011},
        {"a wrong card cryptogram",
         [&](unsigned long *) { return QVMD_CryptoSMVerifyCryptogramv2(sm, buffer, 10); }, 0, 0,
         0x8010001C},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        memset(buffer, 0, sizeof(buffer));
        unsigned long n = r.capacity;
        EXPECT_EQ(r.prepare(&n), r.result);
        EXPECT_EQ(n, r.length);
    }
    // the card cryptogram the session computes is the one it accepts
    unsigned char cryptogram[10] = {};
    ASSERT_EQ(QVMD_CryptoSMComputeCardCryptogramv2(sm, cryptogram), 0u);
    EXPECT_EQ(QVMD_CryptoSMVerifyCryptogramv2(sm, cryptogram, 10), 0u);
}

} // namespace
