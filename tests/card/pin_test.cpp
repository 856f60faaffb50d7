// PIN records and the PIN commands against a scripted card: the command each call
// builds in each applet version, the refusals made before the card is asked, the
// status family with its tries, and the PIN wiped from the command buffer.
#include "card_sm_support.h"
#include "card_test_support.h"

#include "card/qvmd_pin.h"
#include "card/qvmd_pin_records.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{

using namespace card_test;

Bytes Text(const char *s)
{
    return Bytes(s, s + strlen(s));
}

// A context over a script whose card has: PIN 0 the user PIN (type code as given,
// role 2), PIN 1 the PUK (padded, role 4), PIN 2 a challenge PIN (role 0x10), PIN 3
// a PIN with the response flag (role 0x20); maximum PIN length 8, response length 8.
struct PinCard {
    explicit PinCard(unsigned char major, unsigned char minor = 0, unsigned char userType = 0x03)
        : card(transport)
    {
        const unsigned char descriptors[] = {3, userType, 0x02, 0x03, 5, 0x03, 0x04, 0x02,
                                             3, 0x02,     0x10, 0x01, 3, 0x11, 0x20, 0x01};
        _qv_md_info_struct *info = card->info;
        EXPECT_EQ(QVMD_PinRecordsFromDescriptors(info, descriptors, 4, 0), 0u);
        info->appletMajor = major;
        info->appletMinor = minor;
        info->appletValid = 1;
        info->pinPropertiesValid = 1;
        info->maxPinLength = 8;
        info->responseLength = 8;
    }

    RecordingTransport transport;
    TestCard card;
};

using Call = std::function<uint32_t(_qv_md_card_struct *, long *)>;

Call Verify(uint32_t role, unsigned char mode, const char *value)
{
    return [=](_qv_md_card_struct *c, long *tries) {
        Bytes v = Text(value);
        return QVMD_Authenticate(c, role, mode, v.data(), v.size(), nullptr, nullptr, tries, 0);
    };
}

Call VerifyIndex(unsigned char index, const char *value)
{
    return [=](_qv_md_card_struct *c, long *tries) {
        Bytes v = Text(value);
        return QVMD_AuthenticatePinIndex(c, index, QVMD_AUTH_PIN, v.data(), v.size(), nullptr,
                                         nullptr, tries, 0);
    };
}

Call Change(const char *old, const char *fresh)
{
    return [=](_qv_md_card_struct *c, long *tries) {
        Bytes o = Text(old), f = Text(fresh);
        return QVMD_ChangeAuthenticator(c, QVMD_ROLE_USER, QVMD_AUTH_PIN, o.data(), o.size(),
                                        f.data(), f.size(), 3, tries, 0);
    };
}

// With the PUK "12345678".
Call Unblock(uint32_t targetRole, const char *fresh)
{
    return [=](_qv_md_card_struct *c, long *tries) {
        Bytes puk = Text("12345678"), f = Text(fresh);
        return QVMD_Unblock(c, QVMD_ROLE_PUK, QVMD_AUTH_PIN, puk.data(), puk.size(), targetRole,
                            QVMD_AUTH_PIN, f.data(), f.size(), 3, tries, 0);
    };
}

Call LogOut()
{
    return [](_qv_md_card_struct *c, long *) { return QVMD_Deauthenticate(c, 6); };
}

struct CommandRow {
    const char *name;
    unsigned char major, userType;
    Call call;
    std::string reply;   // empty: the card must not be asked
    std::string command; // what it sends
    uint32_t result;
    long tries; // from 77
};

const std::string PUK_HEX = "31 32 33 34 35 36 37 38";

const CommandRow COMMANDS[] = {
    {"a 4-digit padded user PIN", 1, 0x03, Verify(QVMD_ROLE_USER, QVMD_AUTH_PIN, "1234"), "90 00",
     "B0 20 00 00 08 31 32 33 34 FF FF FF FF", 0, 77},
    {"a padded PIN over the maximum", 1, 0x03,
     Verify(QVMD_ROLE_USER, QVMD_AUTH_PIN, "123456789"), "", "", 0x8010006B, 77},
    {"an unpadded PIN as it is", 1, 0x01, Verify(QVMD_ROLE_USER, QVMD_AUTH_PIN, "123456"),
     "63 02", "B0 20 00 00 06 31 32 33 34 35 36", 0x8010006B, 2},
    {"a challenge response", 1, 0x03, Verify(0x10, QVMD_AUTH_CHALLENGE, "12345678"), "90 00",
     "B0 20 02 00 08 " + PUK_HEX, 0, 77},
    {"a challenge response of 7 bytes", 1, 0x03, Verify(0x10, QVMD_AUTH_CHALLENGE, "1234567"), "",
     "", 0x8010006B, 77},
    {"a response of the response length", 1, 0x03, Verify(0x20, QVMD_AUTH_RESPONSE, "12345678"),
     "90 00", "B0 20 13 00 08 " + PUK_HEX, 0, 77},
    {"a response of another length", 1, 0x03, Verify(0x20, QVMD_AUTH_RESPONSE, "1234567"), "", "",
     0x80100004, 77},
    {"a PIN answered with a short response", 1, 0x03,
     Verify(0x20, QVMD_AUTH_PIN_RESPONSE, "1234"), "01 02 03 04 05 06 07 90 00",
     "B0 20 23 00 04 31 32 33 34", 0x8010001F, 77},
    {"a role no PIN serves", 1, 0x03, Verify(0x40, QVMD_AUTH_PIN, "1234"), "", "", 0x80100011,
     77},
    {"PIN index 8", 1, 0x03, VerifyIndex(8, "12"), "", "", 0x80100011, 77},
    {"PIN index 7", 1, 0x03, VerifyIndex(7, "12"), "6B 00", "B0 20 07 00 02 31 32", 0x80100004,
     77},
    {"unblock from applet 1.0", 1, 0x01, Unblock(QVMD_ROLE_USER, "654321"), "90 00",
     "B0 24 01 00 10 88 03 " + PUK_HEX + " 36 35 34 33 32 31", 0, 77},
    {"unblock on applet 0.9", 0, 0x01, Unblock(QVMD_ROLE_USER, "654321"), "62 00",
     "B0 26 01 00 10 08 03 " + PUK_HEX + " 36 35 34 33 32 31", 0x8010006C, 0},
    {"change on applet 0.9", 0, 0x03, Change("1234", "5678"), "90 00",
     "B0 28 00 00 12 08 03 31 32 33 34 FF FF FF FF 35 36 37 38 FF FF FF FF", 0, 77},
    {"change on applet 1.2", 1, 0x03, Change("1234", "5678"), "63 FF",
     "B0 24 00 00 12 08 03 31 32 33 34 FF FF FF FF 35 36 37 38 FF FF FF FF", 0x8010006B, -1},
    {"a new padded PIN over the maximum", 1, 0x03, Change("1234", "123456789"), "", "",
     0x80100004, 77},
    {"an old padded PIN over the maximum", 1, 0x03, Change("123456789", "1234"), "", "",
     0x8010006B, 77},
    {"unblock of a role no PIN serves", 1, 0x03, Unblock(0x40, "1234"), "", "", 0x80100011, 77},
    {"log out on applet 0.9", 0, 0x03, LogOut(), "90 00", "B0 24 06 00", 0, 77},
    {"log out on applet 1.2", 1, 0x03, LogOut(), "69 85", "B0 26 06 00", 0x8010001F, 77},
};

TEST(Pin, EachCallSendsItsCommandOrNone)
{
    for (const CommandRow &r : COMMANDS) {
        SCOPED_TRACE(r.name);
        PinCard pc(r.major, r.major == 1 ? 2 : 9, r.userType);
        if (!r.reply.empty())
            pc.transport.Queue(r.reply);
        long tries = 77;
        EXPECT_EQ(r.call(pc.card.get(), &tries), r.result);
        EXPECT_EQ(tries, r.tries);
        if (r.command.empty()) {
            EXPECT_TRUE(pc.transport.commands.empty());
        } else {
            ASSERT_EQ(pc.transport.commands.size(), 1u);
            EXPECT_EQ(ToHex(pc.transport.commands[0]), r.command);
        }
        // nothing of a PIN stays in the command buffer
        const _qv_caapi_card_struct *t = pc.card->transport;
        EXPECT_EQ(ToHex(t->commandBuffer, sizeof(t->commandBuffer)).find("31 32"),
                  std::string::npos);
    }
}

TEST(Pin, StatusFamilyWithItsTries)
{
    struct Row {
        const char *sw;
        uint32_t result;
        long tries; // from 77
    } rows[] = {
        {"90 00", 0, 77},
        {"90 01", 0x8010001F, 77},
        {"62 00", 0x8010006C, 0},
        {"62 83", 0x8010006C, 0},
        {"63 FF", 0x8010006B, -1},
        {"63 02", 0x8010006B, 2},
        {"63 C3", 0x8010006B, 0xC3},
        {"67 00", 0x8010006B, -2},
        {"69 85", 0x8010006B, 77},
        {"6B 00", 0x80100004, 77},
        {"6A 82", 0x8010001F, 77},
        {"6B 01", 0x8010001F, 77},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.sw);
        PinCard pc(1, 2);
        Bytes sw = Hex(r.sw);
        ASSERT_EQ(QVMD_SetResponse(pc.card.get(), nullptr, 0, sw[0], sw[1]), 0u);
        long tries = 77;
        EXPECT_EQ(QVMD_VerifySWAuthenticate(pc.card.get(), &tries), r.result);
        EXPECT_EQ(tries, r.tries);
        EXPECT_EQ(QVMD_VerifySWAuthenticate(pc.card.get(), nullptr), r.result);
    }
}

TEST(Pin, ChangesMarkThePropertiesStale)
{
    PinCard pc(1, 2);
    pc.transport.Queue("90 00");
    Bytes old = Text("1234"), pin = Text("5678");
    ASSERT_EQ(QVMD_ChangeAuthenticator(pc.card.get(), QVMD_ROLE_USER, QVMD_AUTH_PIN, old.data(),
                                       old.size(), pin.data(), pin.size(), 3, nullptr, 0),
              0u);
    EXPECT_EQ(pc.card->info->pinPropertiesStale, 1);
}

TEST(Pin, RecordsAnswerRolesAndRights)
{
    PinCard pc(1, 2);
    const _qv_md_info_struct *info = pc.card->info;
    EXPECT_EQ(QVMD_GetRoles(info), 0x36u);
    EXPECT_EQ(QVMD_GetPinsCanUpdatePin(info, 1), 0x02);
    EXPECT_EQ(QVMD_GetPinsCanUpdatePin(info, 9), 0x00);
    // PIN 1 may unblock PIN 0, PIN 2 may not; PIN 0 and PINs beyond the count always
    EXPECT_EQ(QVMD_CanPinXUunblockPinY(info, 1, 0), 1);
    EXPECT_EQ(QVMD_CanPinXUunblockPinY(info, 2, 0), 0);
    EXPECT_EQ(QVMD_CanPinXUunblockPinY(info, 0, 1), 1);
    EXPECT_EQ(QVMD_CanPinXUunblockPinY(info, 6, 1), 1);
    EXPECT_EQ(QVMD_CanPinXUunblockPinY(info, 1, 200), 0);
    unsigned char index = 0;
    EXPECT_EQ(QVMD_GetPinIndexForAuth(pc.card.get(), QVMD_ROLE_USER_AND_PUK, QVMD_AUTH_PIN, &index),
              0u);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(QVMD_GetPinIndexForAuth(pc.card.get(), 0x20, QVMD_AUTH_CHALLENGE, &index), 0u);
    EXPECT_EQ(index, QVMD_NO_PIN);
    EXPECT_EQ(QVMD_GetPinIndexForAuth(pc.card.get(), 0x10, QVMD_AUTH_LOOKUP, &index), 0u);
    EXPECT_EQ(index, 2);
}

TEST(Pin, ChallengesAndProperties)
{
    struct Row {
        const char *name;
        std::function<uint32_t(_qv_md_card_struct *)> call;
        std::string reply, command;
        uint32_t result;
    } rows[] = {
        {"a challenge",
         [](_qv_md_card_struct *c) {
             unsigned char out[8];
             return QVMD_GetChallenge(c, 0x10, 0, out, sizeof(out));
         },
         "01 02 03 04 05 06 07 08 90 00", "B0 22 00 00 08", 0},
        {"a challenge of 7 bytes",
         [](_qv_md_card_struct *c) {
             unsigned char out[8];
             return QVMD_GetChallenge(c, 0x10, 0, out, sizeof(out));
         },
         "01 02 03 04 05 06 07 90 00", "B0 22 00 00 08", 0x8010001F},
        {"a challenge for a PIN that takes none",
         [](_qv_md_card_struct *c) {
             unsigned char out[8];
             return QVMD_GetChallenge(c, QVMD_ROLE_USER, 0, out, sizeof(out));
         },
         "", "", 0x80100004},
        {"a challenge into 7 bytes",
         [](_qv_md_card_struct *c) {
             unsigned char out[8];
             return QVMD_GetChallenge(c, 0x10, 0, out, 7);
         },
         "", "", 0x80100008},
        {"a challenge cancelled", [](_qv_md_card_struct *c) { return QVMD_CancelChallenge(c, 2); },
         "90 00", "B0 22 02 01 00", 0},
        {"a cancel for PIN 255",
         [](_qv_md_card_struct *c) { return QVMD_CancelChallenge(c, QVMD_NO_PIN); }, "", "",
         0x80100011},
        {"properties: the info bytes and the further byte",
         [](_qv_md_card_struct *c) {
             _qv_md_pin_properties_update u = {{0xC0, 0xC1, 0xC2}, 9, 0x55, 0x05};
             return QVMD_UpdatePinProperties(c, 0, &u);
         },
         "90 00", "B0 2C 00 05 05 C0 C1 C2 00 55", 0},
        {"properties: a limit over 15",
         [](_qv_md_card_struct *c) {
             _qv_md_pin_properties_update u = {{0, 0, 0}, 16, 0, 0x02};
             return QVMD_UpdatePinProperties(c, 0, &u);
         },
         "", "", 0x80100011},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        PinCard pc(1, 2);
        SmBinding sm(pc.card.get()); // no session open: level 1 goes plainly
        if (!r.reply.empty())
            pc.transport.Queue(r.reply);
        EXPECT_EQ(r.call(pc.card.get()), r.result);
        EXPECT_EQ(pc.transport.commands.empty() ? "" : ToHex(pc.transport.commands[0]), r.command);
    }
}

TEST(Pin, ProviderPinInfoBytes)
{
    PinCard pc(1, 2);
    _qv_md_info_struct *info = pc.card->info;
    const unsigned char image[3] = {0x00, 0x05, 0xA7}; // bits 0 and 2 of byte 1; nibbles A, 7
    memcpy(info->pins[0].cspInfo, image, 3);
    struct Row {
        unsigned long selector;
        unsigned long value;
    } rows[] = {{0, 0}, {1, 1}, {2, 0xA}, {3, 7}, {4, 1}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.selector);
        unsigned long value = 0;
        unsigned long length = sizeof(value);
        ASSERT_EQ(QVMD_GetCSPPinInfo(info, 0, r.selector, &value, &length), 0u);
        EXPECT_EQ(r.selector == 2 || r.selector == 3 ? value : value & 0xFFFF, r.value);
        // written back into a blank image, the same value reads the same
        unsigned char blank[3] = {};
        uint16_t flag = static_cast<uint16_t>(r.value);
        bool isFlag = r.selector != 2 && r.selector != 3;
        ASSERT_EQ(
            QVMD_SetCSPPinFlag(blank, 3, r.selector,
                               isFlag ? static_cast<void *>(&flag) : static_cast<void *>(&value),
                               isFlag ? 2 : 8),
            0u);
        memcpy(info->pins[1].cspInfo, blank, 3);
        unsigned long again = 0;
        length = sizeof(again);
        ASSERT_EQ(QVMD_GetCSPPinInfo(info, 1, r.selector, &again, &length), 0u);
        EXPECT_EQ(again, value);
    }
    unsigned long value = 16;
    unsigned char image2[3] = {0, 0, 0xFF};
    EXPECT_EQ(QVMD_SetCSPPinFlag(image2, 3, 2, &value, 8), 0x80100011u);
    unsigned long out = 0, length = 1;
    EXPECT_EQ(QVMD_GetCSPPinInfo(info, 0, 0, &out, &length), 0x80100011u);
    length = 8;
    EXPECT_EQ(QVMD_GetCSPPinInfo(info, 0, 5, &out, &length), 0x80100011u);
    EXPECT_EQ(QVMD_GetCSPPinInfo(info, 8, 0, &out, &length), 0x80100011u);
}

TEST(Pin, AdministrationCardsFromApplet10)
{
    unsigned char challenge[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    {
        PinCard older(0, 9);
        SmBinding sm(older.card.get());
        EXPECT_EQ(QVMD_AdminCardComputeResponse(older.card.get(), 1, challenge, nullptr, 0),
                  0x8010001Fu);
        EXPECT_EQ(QVMD_AdminCardActivatePIN(older.card.get(), 1, 0), 0x8010001Fu);
        EXPECT_TRUE(older.transport.commands.empty());
    }
    PinCard pc(1, 0);
    SmBinding sm(pc.card.get());
    pc.transport.Queue("A1 A2 A3 A4 A5 A6 A7 A8 90 00");
    pc.transport.Queue("90 00");
    const Bytes extra(24, 0xEE);
    ASSERT_EQ(QVMD_AdminCardComputeResponse(pc.card.get(), 1, challenge, extra.data(), 1), 0u);
    EXPECT_EQ(ToHex(challenge, 8), "A1 A2 A3 A4 A5 A6 A7 A8");
    EXPECT_EQ(pc.transport.commands[0].size(), 37u);
    EXPECT_EQ(ToHex(pc.transport.commands[0].data(), 5), "B0 2A 01 00 20");
    ASSERT_EQ(QVMD_AdminCardActivatePIN(pc.card.get(), 3, 1), 0u);
    EXPECT_EQ(ToHex(pc.transport.commands[1]), "B0 2A 03 02 00");
}

} // namespace
