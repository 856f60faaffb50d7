// Secure messaging against the simulated card, with the host's side recomputed in the
// test (sm_host.h): the opening of both generations, protected commands at every
// level, bare status words, wrong MACs and the ends of a session.
#include "card_fixture.h"
#include "sm_host.h"

using namespace cardsim_test;
using cardsim::Card;

namespace
{

struct Applet {
    const char *name;
    unsigned char major, minor;
    bool second; // second-generation opening
};
const Applet kApplets[] = {{"0.9", 0, 9, false}, {"1.1", 1, 1, false}, {"1.2", 1, 2, true}};

class SmTest : public CardTest
{
  protected:
    void Use(const Applet &a)
    {
        cardsim::Personalisation p;
        p.appletMajor = a.major;
        p.appletMinor = a.minor;
        Make(NewCard(p));
        second = a.second;
        ASSERT_EQ(0x9000, Send(kSelectFirst));
    }
    uint16_t Open(unsigned char level) { return OpenSession(tx, second, level, session); }

    bool second = true;
    HostSession session;
};

const Bytes kCardcfInfo = FileCommand(0xAA, 0x01, 0x00, "", "cardcf"); // 10 bytes back

} // namespace

TEST_F(SmTest, OpensInEachGeneration)
{
    for (const auto &a : kApplets) {
        SCOPED_TRACE(a.name);
        Use(a);
        EXPECT_EQ(0x9000, Open(0x11));
        EXPECT_TRUE(card->SessionOpen());
        Bytes first = session.cardChallenge;
        EXPECT_EQ(0x9000, Open(0x11)) << "a new opening replaces the session";
        Bytes next = session.cardChallenge;
        EXPECT_NE(first, next);
        if (!a.second) {
            // R0 R1: the sequence counter, raised at each opening and kept with the card
            EXPECT_EQ(first[0] * 256 + first[1] + 1, next[0] * 256 + next[1]);
            EXPECT_EQ(next[0] * 256 + next[1], card->Snapshot().smCounter);
        }
    }
}

TEST_F(SmTest, ProtectedCommandAtEachLevel)
{
    for (const auto &a : {kApplets[1], kApplets[2]}) {
        for (unsigned char level : {0x01, 0x03, 0x11, 0x13, 0x31, 0x33}) {
            SCOPED_TRACE(std::string(a.name) + " level " + std::to_string(level));
            Use(a);
            const Bytes plainReply = Data(card->Apdu(kCardcfInfo));
            ASSERT_EQ(10u, plainReply.size());
            ASSERT_EQ(0x9000, Open(level));
            Bytes wires[2];
            for (Bytes &wire : wires) {
                wire = Wrap(session, kCardcfInfo);
                HostSession before = session;
                Bytes reply = card->Apdu(wire);
                ASSERT_EQ(0x9000, Sw(reply));
                Bytes data;
                ASSERT_TRUE(Unwrap(session, reply, data)) << "R-MAC or padding";
                EXPECT_EQ(plainReply, data);
                size_t expected = (level & 0x20 ? 16 : 10) + (level & 0x10 ? 8 : 0) + 2;
                EXPECT_EQ(expected, reply.size());
                if (level & 0x20) {
                    EXPECT_NE(plainReply, Bytes(reply.begin(), reply.begin() + 10));
                }
            }
            EXPECT_NE(wires[0], wires[1]) << "the chaining value moves on";
            // the whole data field, not one byte: a cipher byte equals its plain byte
            // one time in 256
            const size_t lc = kCardcfInfo[4];
            const Bytes plainData(kCardcfInfo.begin() + 5, kCardcfInfo.begin() + 5 + lc);
            ASSERT_GE(wires[0].size(), 5 + lc);
            const Bytes wireData(wires[0].begin() + 5, wires[0].begin() + 5 + lc);
            EXPECT_EQ((level & 0x02) != 0, wireData != plainData)
                << "command data encrypted only at bit 1";
        }
    }
}

TEST_F(SmTest, BareStatusWordsCarryNoMac)
{
    Use(kApplets[2]);
    ASSERT_EQ(0x9000, Open(0x11));
    struct Case {
        const char *name;
        Bytes command;
        uint16_t sw;
    } cases[] = {
        {"success without data", VerifyCommand(0, "123456"), 0x9000},
        {"an error", FileCommand(0xAA, 0x01, 0x00, "", "nofile"), 0x6A83},
        {"a wrong PIN", VerifyCommand(1, "00000000"), 0x6304},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes reply = card->Apdu(Wrap(session, c.command));
        EXPECT_EQ(c.sw, Sw(reply));
        EXPECT_EQ(2u, reply.size());
    }
    // plain commands in the session are answered plainly and leave the chain alone
    Bytes serial = card->Apdu({0xB0, 0x10, 0x04, 0x00, 0x10});
    EXPECT_EQ(18u, serial.size());
    SecureReply r = SendSecure(tx, session, kCardcfInfo);
    EXPECT_EQ(0x9000, r.sw);
    EXPECT_TRUE(r.verified) << "the chain ran only through MAC'd commands and replies";
}

TEST_F(SmTest, WrongMacClosesTheSession)
{
    struct Case {
        const char *name;
        unsigned char level;
        std::function<void(Bytes &)> spoil;
    } cases[] = {
        {"a MAC byte", 0x11, [](Bytes &w) { w.back() ^= 0x01; }},
        {"a data byte", 0x11, [](Bytes &w) { w[8] ^= 0x01; }},
        {"a header byte", 0x11, [](Bytes &w) { w[3] ^= 0x01; }},
        {"an encrypted block", 0x13, [](Bytes &w) { w[5] ^= 0x01; }},
        {"no MAC at all", 0x11, [](Bytes &w) { w.resize(w.size() - 8), w[4] -= 8; }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Use(kApplets[2]);
        ASSERT_EQ(0x9000, Open(c.level));
        Bytes wire = Wrap(session, kCardcfInfo);
        c.spoil(wire);
        EXPECT_EQ((Bytes{0x69, 0x88}), card->Apdu(wire));
        EXPECT_FALSE(card->SessionOpen());
        EXPECT_EQ(0x6988, Send(Wrap(session, kCardcfInfo))) << "closed, even for a right MAC";
        EXPECT_EQ(0x9000, Send(kCardcfInfo)) << "plain commands go on";
    }
    // a replayed command carries the chain of the past
    Use(kApplets[1]);
    ASSERT_EQ(0x9000, Open(0x11));
    Bytes wire = Wrap(session, kCardcfInfo);
    ASSERT_EQ(0x9000, Send(wire));
    EXPECT_EQ(0x6988, Send(wire));
}

TEST_F(SmTest, OpeningRefusals)
{
    Bytes otherKey = FixtureMasterKey();
    otherKey[0] ^= 0x40;
    for (const auto &a : {kApplets[1], kApplets[2]}) {
        SCOPED_TRACE(a.name);
        Use(a);
        EXPECT_EQ(0x6988, Send(Wrap(session, kCardcfInfo))) << "no session";
        EXPECT_EQ(a.second ? 0x6988 : kHostRefused,
                  OpenSession(tx, second, 0x11, session, otherKey))
            << "the first generation's card cryptogram shows a wrong key to the host";
        EXPECT_FALSE(card->SessionOpen());
        EXPECT_EQ(0x6A86, Open(0x91)) << "a level with bits the card does not know";
        EXPECT_EQ(0x6988, Send({0xB4, 0x52, 0x11, 0x00, 0x10, 1,  2,  3,  4,  5, 6,
                                7,    8,    9,    10,   11,   12, 13, 14, 15, 16}))
            << "a response without a challenge";
        EXPECT_EQ(0x6988, Send({0xB0, 0x52, 0x11, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}))
            << "a response without its MAC";
        // the challenge in the other generation's form
        Bytes wrongForm = a.second ? Bytes{0xB0, 0x50, 0x00, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}
                                   : Bytes{0xB0, 0x50, 0x00, 0x00, 0x08};
        EXPECT_EQ(0x6700, Send(wrongForm));
    }
}

TEST_F(SmTest, CloseResetAndPowerOffEndTheSession)
{
    struct Case {
        const char *name;
        std::function<void(Card &)> end;
    } cases[] = {
        {"close",
         [](Card &c) {
             c.Apdu({0xB0, 0x54, 0x00, 0x00});
         }},
        {"close and clear the import",
         [](Card &c) {
             c.Apdu({0xB0, 0x54, 0x01, 0x00});
         }},
        {"reset", [](Card &c) { c.Reset(); }},
        {"power off", [](Card &c) { c.PowerOff(), c.PowerOn(); }},
        {"link dropped", [](Card &c) { c.Disconnected(); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Use(kApplets[0]);
        ASSERT_EQ(0x9000, Open(0x11));
        ASSERT_EQ(0x9000, SendSecure(tx, session, kCardcfInfo).sw);
        c.end(*card);
        EXPECT_FALSE(card->SessionOpen());
        Send(kSelectFirst);
        EXPECT_EQ(0x6988, Send(Wrap(session, kCardcfInfo)));
    }
    EXPECT_EQ(0x9000, Send({0xB0, 0x54, 0x00, 0x00})) << "closing without a session";
    EXPECT_EQ(0x6A86, Send({0xB0, 0x54, 0x02, 0x00}));
}
