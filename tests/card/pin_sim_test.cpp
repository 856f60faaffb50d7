// PINs end to end against the simulated card of each applet version: verify, a wrong
// PIN with the tries left, change, blocking and unblock with the PUK, and log-out.
#include "card_sim_support.h"

#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"

#include <gtest/gtest.h>

namespace
{

using namespace card_test;

Bytes Text(const char *s)
{
    return Bytes(s, s + strlen(s));
}

struct Pins {
    explicit Pins(SimCard &s) : sim(s) {}

    uint32_t Verify(const char *pin, long *tries)
    {
        Bytes p = Text(pin);
        return QVMD_Authenticate(sim.get(), QVMD_ROLE_USER, QVMD_AUTH_PIN, p.data(), p.size(),
                                 nullptr, nullptr, tries, 0);
    }
    uint64_t TriesLeft(unsigned index)
    {
        EXPECT_EQ(QVMD_GetInfo(sim.get(), sim.info(), QVMD_INFO_PIN_PROPERTIES), 0u);
        return sim.info()->pins[index].triesRemaining;
    }
    unsigned char Limit() { return static_cast<unsigned char>(sim.info()->pins[0].tryLimit); }

    SimCard &sim;
};

TEST(PinSim, VerifyChangeBlockAndUnblockOnEachApplet)
{
    for (auto version : {std::make_pair(0, 9), std::make_pair(1, 1), std::make_pair(1, 2)}) {
        SCOPED_TRACE(std::to_string(version.first) + "." + std::to_string(version.second));
        SimCard sim(Applet(static_cast<unsigned char>(version.first),
                           static_cast<unsigned char>(version.second)));
        Pins pins(sim);
        ASSERT_EQ(QVMD_CheckAppletSelection(sim.get()), 0u);
        ASSERT_EQ(pins.TriesLeft(0), 3u);

        long tries = 77;
        EXPECT_EQ(pins.Verify("000000", &tries), 0x8010006Bu);
        EXPECT_EQ(tries, 2);
        EXPECT_EQ(pins.TriesLeft(0), 2u);
        EXPECT_EQ(pins.Verify("123456", &tries), 0u);
        EXPECT_EQ(sim.card->AuthenticatedRoles() & QVMD_ROLE_USER, QVMD_ROLE_USER);
        EXPECT_EQ(pins.TriesLeft(0), 3u);

        Bytes old = Text("123456"), fresh = Text("24680");
        EXPECT_EQ(QVMD_ChangeAuthenticator(sim.get(), QVMD_ROLE_USER, QVMD_AUTH_PIN, old.data(),
                                           old.size(), fresh.data(), fresh.size(), pins.Limit(),
                                           &tries, 0),
                  0u);
        EXPECT_EQ(sim.info()->pinPropertiesStale, 1);
        EXPECT_EQ(pins.Verify("123456", &tries), 0x8010006Bu);
        EXPECT_EQ(pins.Verify("24680", &tries), 0u);

        // three wrong PINs block it
        for (long left : {2, 1, 0}) {
            EXPECT_NE(pins.Verify("999", &tries), 0u);
            EXPECT_EQ(tries, left);
        }
        EXPECT_EQ(pins.Verify("24680", &tries), 0x8010006Cu);
        EXPECT_EQ(tries, 0);

        // a wrong PUK costs a PUK try; the right one sets a new PIN
        Bytes wrongPuk = Text("87654321"), puk = Text("12345678"), pin = Text("1357");
        EXPECT_EQ(QVMD_Unblock(sim.get(), QVMD_ROLE_PUK, QVMD_AUTH_PIN, wrongPuk.data(),
                               wrongPuk.size(), QVMD_ROLE_USER, QVMD_AUTH_PIN, pin.data(),
                               pin.size(), pins.Limit(), &tries, 0),
                  0x8010006Bu);
        EXPECT_EQ(tries, 4);
        EXPECT_EQ(QVMD_Unblock(sim.get(), QVMD_ROLE_PUK, QVMD_AUTH_PIN, puk.data(), puk.size(),
                               QVMD_ROLE_USER, QVMD_AUTH_PIN, pin.data(), pin.size(), pins.Limit(),
                               &tries, 0),
                  0u);
        EXPECT_EQ(pins.TriesLeft(0), 3u);
        EXPECT_EQ(pins.Verify("1357", &tries), 0u);

        EXPECT_EQ(QVMD_Deauthenticate(sim.get(), QVMD_ROLE_USER_AND_PUK), 0u);
        EXPECT_EQ(sim.card->AuthenticatedRoles() & QVMD_ROLE_USER_AND_PUK, 0u);
    }
}

} // namespace
