// The PIN commands of each applet version as one table of steps: verify, change,
// unblock and log out in the version's own forms, with the status words, the tries
// left and the roles after each step.
#include "card_fixture.h"

using namespace cardsim_test;

namespace
{

enum class Op { Verify, Change, Unblock, Logout, Raw };

struct Step {
    const char *name;
    Op op;
    unsigned char p1, p2; // Verify: index; Change/Unblock: old PIN, target; Logout: roles
    std::string oldPin, newPin;
    uint16_t sw;
    int userTries, pukTries;
    unsigned roles;
    Bytes raw = {}; // Op::Raw: these bytes, with the instruction of a change
};

struct Applet {
    const char *name;
    unsigned char major, minor;
};

// The command of a step in the forms of the applet (instructions move at 1.0).
Bytes Build(const Step &s, const Applet &a)
{
    bool v10 = a.major >= 1;
    switch (s.op) {
    case Op::Verify:
        return VerifyCommand(s.p1, s.oldPin);
    case Op::Logout:
        return {0xB0, static_cast<unsigned char>(v10 ? 0x26 : 0x24), s.p1, 0x00};
    case Op::Change:
        return ChangeCommand(v10 ? 0x24 : 0x28, s.p1, s.p2, false, 3, PinBytes(s.oldPin),
                             PinBytes(s.newPin));
    case Op::Unblock:
        return ChangeCommand(v10 ? 0x24 : 0x26, s.p1, s.p2, v10, 3, PinBytes(s.oldPin),
                             PinBytes(s.newPin));
    case Op::Raw:
        return Cat({0xB0, static_cast<unsigned char>(v10 ? 0x24 : 0x28)}, s.raw);
    }
    return {};
}

} // namespace

TEST_F(CardTest, PinCommandsOfEachAppletVersion)
{
    const std::string user = "123456", puk = "12345678";
    const Step steps[] = {
        {"wrong user PIN", Op::Verify, 0, 0, "000000", "", 0x6302, 2, 5, 0},
        {"user PIN", Op::Verify, 0, 0, user, "", 0x9000, 3, 5, 2},
        {"PUK", Op::Verify, 1, 0, puk, "", 0x9000, 3, 5, 6},
        {"log out of the user role", Op::Logout, 2, 0, "", "", 0x9000, 3, 5, 4},
        {"no PIN 2", Op::Verify, 2, 0, user, "", 0x6B00, 3, 5, 4},
        {"change the user PIN", Op::Change, 0, 0, user, "2468", 0x9000, 3, 5, 4},
        {"change with a wrong old PIN", Op::Change, 0, 0, user, "1111", 0x6302, 2, 5, 4},
        {"the user PIN may not change the PUK", Op::Change, 0, 1, "2468", "1111", 0x6B00, 2, 5, 4},
        {"a target the card lacks", Op::Change, 0, 7, "2468", "1111", 0x6B00, 2, 5, 4},
        {"wrong user PIN again", Op::Verify, 0, 0, "999999", "", 0x6301, 1, 5, 4},
        {"last try", Op::Verify, 0, 0, "999999", "", 0x6300, 0, 5, 4},
        {"blocked", Op::Verify, 0, 0, "2468", "", 0x6200, 0, 5, 4},
        {"a blocked PIN changes nothing", Op::Change, 0, 0, "2468", "1111", 0x6200, 0, 5, 4},
        {"unblock with a wrong PUK", Op::Unblock, 1, 0, "87654321", "1357", 0x6304, 0, 4, 4},
        {"unblock with the PUK", Op::Unblock, 1, 0, puk, "1357", 0x9000, 3, 5, 4},
        {"the new user PIN", Op::Verify, 0, 0, "1357", "", 0x9000, 3, 5, 6},
        {"no old value", Op::Raw, 0, 0, "", "", 0x6700, 3, 5, 6, {0x00, 0x00, 0x01, 0x08}},
        {"a new value that is not padded", Op::Raw, 0, 0, "", "", 0x6700, 3, 5, 6,
         Cat(Cat({0x00, 0x00, 0x0E, 0x08, 0x03}, PinBytes("1357")), {'1', '2', '3', '4'})},
        {"an old value that is not padded", Op::Raw, 0, 0, "", "", 0x6700, 3, 5, 6,
         Cat(Cat({0x00, 0x00, 0x0E, 0x04, 0x03}, {'1', '3', '5', '7'}), PinBytes("1234"))},
        {"log out of both", Op::Logout, 6, 0, "", "", 0x9000, 3, 5, 0},
    };
    const Applet applets[] = {{"0.9", 0, 9}, {"1.1", 1, 1}, {"1.2", 1, 2}};
    for (const auto &a : applets) {
        cardsim::Personalisation p;
        p.appletMajor = a.major;
        p.appletMinor = a.minor;
        Make(NewCard(p));
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        for (const auto &s : steps) {
            SCOPED_TRACE(std::string(a.name) + ": " + s.name);
            EXPECT_EQ(s.sw, Send(Build(s, a)));
            cardsim::CardState state = card->Snapshot();
            EXPECT_EQ(s.userTries, state.pins[0].tries);
            EXPECT_EQ(s.pukTries, state.pins[1].tries);
            EXPECT_EQ(s.roles, card->AuthenticatedRoles());
        }
    }
    // the instruction of the other generation
    EXPECT_EQ(0x6D00, Send(ChangeCommand(0x28, 0, 0, false, 3, PinBytes("1357"), PinBytes("1"))));
}

TEST_F(CardTest, VerifyTakesEachPinInItsOwnForm)
{
    for (bool padded : {true, false}) {
        SCOPED_TRACE(padded ? "FF-padded user PIN" : "unpadded user PIN");
        cardsim::Personalisation p;
        p.userPinPadded = padded;
        Make(NewCard(p));
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        EXPECT_EQ(padded ? 0x03 : 0x01, Data(card->Apdu({0xB0, 0x10, 0x05, 0x00, 0x16}))[11])
            << "the PIN type in the descriptor";
        EXPECT_EQ(0x6700, Send(VerifyCommand(0, "123456789", 0))) << "longer than the maximum";
        EXPECT_EQ(0x6700, Send({0xB0, 0x20, 0x00, 0x00})) << "no PIN at all";
        EXPECT_EQ(padded ? 0x6700 : 0x9000, Send(VerifyCommand(0, "123456", 0)))
            << "a padded PIN comes at the maximum length";
        EXPECT_EQ(3, card->Snapshot().pins[0].tries) << "a wrong length costs no try";
        EXPECT_EQ(padded ? 0x9000 : 0x6302, Send(VerifyCommand(0, "123456", 8)))
            << "an unpadded PIN is compared as it comes";
    }
}

TEST_F(CardTest, UnblockOfASixDigitPinByThePuk)
{
    // B0 24 01 00 Lc 88 x PUK(8) PIN: the PIN in the form of its type
    for (bool padded : {false, true}) {
        SCOPED_TRACE(padded ? "FF-padded user PIN" : "unpadded user PIN");
        cardsim::Personalisation p;
        p.appletMinor = 1;
        p.userPinPadded = padded;
        Make(NewCard(p));
        ASSERT_EQ(0x9000, Send(kSelectFirst));
        for (int i = 0; i < 3; ++i)
            Send(VerifyCommand(0, "000000", padded ? 8 : 0));
        ASSERT_EQ(0, card->Snapshot().pins[0].tries);
        Bytes unblock =
            ChangeCommand(0x24, 0x01, 0x00, true, 3, PinBytes("12345678"),
                          padded ? PinBytes("654321") : Bytes{'6', '5', '4', '3', '2', '1'});
        EXPECT_EQ(padded ? 23u : 21u, unblock.size());
        EXPECT_EQ(padded ? 0x12 : 0x10, unblock[4]);
        EXPECT_EQ(0x88, unblock[5]);
        EXPECT_EQ(0x9000, Send(unblock));
        EXPECT_EQ(0u, card->AuthenticatedRoles()) << "authentication stays as it was";
        EXPECT_EQ(0x9000, Send(VerifyCommand(0, "654321", padded ? 8 : 0)));
    }
}
