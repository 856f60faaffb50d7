// The card layer's administration commands against the simulated card: card-data
// writes, freeing memory and containers, a container's access change, the PIN
// property update, the administration card's response and PIN activation, the
// challenge of a challenge-response PIN and its cancel, and the imported key's
// parameters. Each acts on the card on its main path; its refusals, by the card
// layer before the card is asked or by the card's status word, are reported and
// leave the card as it was.
#include "card_sim_support.h"
#include "card_sm_support.h"

#include "card/qvmd_card_write.h"
#include "card/qvmd_container.h"
#include "card/qvmd_info.h"
#include "card/qvmd_pin.h"
#include "card/qvmd_sm.h"

#include "card_state.h"
#include "sm_session.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{

using namespace card_test;

// A card of applet version major.minor with container 0 (1024-bit keys) and the
// challenge-response PIN 2 (role 0x10) whose key is the administration key 01.
cardsim::Personalisation Card(unsigned char major = 1, unsigned char minor = 2)
{
    cardsim::Personalisation p = Applet(major, minor);
    p.withContainer = true;
    p.keyBits = 1024;
    p.challengePin = true;
    return p;
}

const uint32_t CHALLENGE_ROLE = 0x10;
const unsigned char CHALLENGE_PIN = 2;

Bytes AdminKey()
{
    return cardsim::ReadKeyFile(Card().adminKeyPath, 24);
}

// A fresh card: selected, PIN records read, the user PIN verified unless told not
// to, a session with MACs both ways opened when asked; commands recorded afresh.
struct AdminCard {
    AdminCard(const cardsim::Personalisation &p, bool verify, bool session) : sim(p), sm(sim.get())
    {
        PrepareCard(sim, verify);
        if (session) {
            EXPECT_EQ(QVMD_OpenSM(sim.get(), "MK", 0, 0, QVMD_SM_LEVEL_RSA), 0u);
        }
        sim.transport->commands.clear();
    }

    // Card data tag as the card layer reads it back; empty when absent.
    Bytes CardDataTag(unsigned char tag)
    {
        const unsigned char selector[1] = {tag};
        unsigned char *data = nullptr;
        unsigned long length = 0;
        EXPECT_EQ(QVMD_GetInfoCardDataTag(sim.get(), nullptr, selector, 1, &data, &length), 0u);
        Bytes value(data, data + length);
        QVMD_Free(sim.get(), data);
        return value;
    }
    // PIN record index as the card reports it now.
    const _qv_md_pin_info_struct &Pin(unsigned index)
    {
        EXPECT_EQ(QVMD_GetInfo(sim.get(), sim.info(), QVMD_INFO_APPLET), 0u);
        EXPECT_EQ(QVMD_GetInfo(sim.get(), sim.info(), QVMD_INFO_PIN_PROPERTIES), 0u);
        return sim.info()->pins[index];
    }
    cardsim::CardState State() { return sim.card->Snapshot(); }

    SimCard sim;
    SmBinding sm;
};

using Call = std::function<uint32_t(_qv_md_card_struct *)>;
using Check = std::function<void(AdminCard &)>;

struct Row {
    const char *name;
    cardsim::Personalisation card;
    bool verify, session;
    Call call;
    uint32_t result;
    const char *header; // CLA INS P1 P2 of the last command sent; "" when none was
    Check check;        // the card afterwards
};

// One fresh card per row; a refusal leaves the card's persistent state as it was.
void RunRows(const std::vector<Row> &rows)
{
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        AdminCard card(r.card, r.verify, r.session);
        const std::string before = cardsim::SerializeState(card.State());
        EXPECT_EQ(r.call(card.sim.get()), r.result);
        const std::vector<Bytes> &sent = card.sim.transport->commands;
        if (*r.header == 0) {
            EXPECT_TRUE(sent.empty()) << ToHex(sent.front());
        } else if (sent.empty()) {
            ADD_FAILURE() << "nothing sent";
        } else {
            EXPECT_EQ(ToHex(sent.back().data(), 4), r.header);
        }
        if (r.result != 0) {
            EXPECT_EQ(cardsim::SerializeState(card.State()), before);
        }
        if (r.check)
            r.check(card);
    }
}

Bytes Text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

_qv_md_card_data_record Record(unsigned char tag, const std::string &value)
{
    _qv_md_card_data_record r{};
    r.tag = tag;
    r.length = value.size();
    memcpy(r.value, value.data(), value.size());
    return r;
}

TEST(AdminSim, CardDataWritesAreKeptAndTheirRefusalsReported)
{
    const _qv_md_card_data_record seed = Record(0x06, "seed");
    _qv_md_card_data_record tooLong = seed;
    tooLong.length = 240;
    const Bytes holder = Text("holder"), other = Text("other");
    const Bytes flags = {0x00, 0x0B}, threeFlags = {0x00, 0x0B, 0x00};
    const Bytes tooMuch(237, 0x41);
    RunRows({
        {"a tag's whole value", Card(), true, true,
         [&](_qv_md_card_struct *c) { return QVMD_SetCardData(c, &seed); }, 0, "B4 1A 06 00",
         [](AdminCard &a) { EXPECT_EQ(a.CardDataTag(0x06), Text("seed")); }},
        {"a whole value of 240 bytes", Card(), true, true,
         [&](_qv_md_card_struct *c) { return QVMD_SetCardData(c, &tooLong); }, 0x80100011, "",
         nullptr},
        {"a whole value outside a session", Card(), true, false,
         [&](_qv_md_card_struct *c) { return QVMD_SetCardData(c, &seed); }, 0x8010001F,
         "B0 1A 06 00", nullptr},
        {"one new entry added", Card(), true, true,
         [&](_qv_md_card_struct *c) {
             return QVMD_SetCardDataOneTag(c, 0x07, holder.data(), holder.size(), 0, 0x00);
         },
         0, "B4 1A 01 01", [&](AdminCard &a) { EXPECT_EQ(a.CardDataTag(0x07), holder); }},
        {"an entry added that is there already", Card(), true, true,
         [&](_qv_md_card_struct *c) {
             return QVMD_SetCardDataOneTag(c, 0x05, other.data(), other.size(), 0, 0x00);
         },
         0x8010001F, "B4 1A 01 01", nullptr},
        {"an entry replaced", Card(), true, true,
         [&](_qv_md_card_struct *c) {
             return QVMD_SetCardDataOneTag(c, 0x05, other.data(), other.size(), 1, 0x00);
         },
         0, "B4 1A 01 00", [&](AdminCard &a) { EXPECT_EQ(a.CardDataTag(0x05), other); }},
        {"an entry of 237 bytes", Card(), true, true,
         [&](_qv_md_card_struct *c) {
             return QVMD_SetCardDataOneTag(c, 0x07, tooMuch.data(), tooMuch.size(), 1, 0x00);
         },
         0x80100011, "", nullptr},
        {"the provider flags", Card(), true, true,
         [&](_qv_md_card_struct *c) { return QVMD_UpdateCSPFlags(c, flags.data(), 2); }, 0,
         "B4 1A 01 00",
         [](AdminCard &a) {
             _qv_md_card_struct *c = a.sim.get();
             ASSERT_EQ(QVMD_GetInfo(c, c->info, QVMD_INFO_PROVIDER_FLAGS), 0u);
             unsigned long value = 0, length = sizeof(value);
             uint16_t flag = 0;
             unsigned long flagLength = sizeof(flag);
             EXPECT_EQ(QVMD_GetCSPInfo(c, c->info, 1, &value, &length), 0u);
             EXPECT_EQ(QVMD_GetCSPInfo(c, c->info, 0, &flag, &flagLength), 0u);
             EXPECT_EQ(value, 3u);
             EXPECT_EQ(flag, 1u);
         }},
        {"three provider-flag bytes", Card(), true, true,
         [&](_qv_md_card_struct *c) { return QVMD_UpdateCSPFlags(c, threeFlags.data(), 3); },
         0x80100011, "", nullptr},
    });
}

TEST(AdminSim, CleanUpsFreeTheCardAndTheirRefusalsAreReported)
{
    Check noFiles = [](AdminCard &a) {
        cardsim::CardState s = a.State();
        EXPECT_EQ(s.dirs.size(), 1u);
        EXPECT_TRUE(s.dirs[""].files.empty());
        EXPECT_FALSE(s.keys.empty());
    };
    Check noKeys = [](AdminCard &a) {
        cardsim::CardState s = a.State();
        EXPECT_TRUE(s.keys.empty());
        EXPECT_NE(s.FindFile("mscp", "cmapfile"), nullptr);
    };
    Call memory = [](_qv_md_card_struct *c) { return QVMD_FreeMemory(c); };
    Call containers = [](_qv_md_card_struct *c) { return QVMD_FreeContainers(c); };
    RunRows({
        {"memory, applet 1.2", Card(), true, true, memory, 0, "B4 1C 00 FF", noFiles},
        {"memory outside a session", Card(), true, false, memory, 0x8010001F, "B0 1C 00 FF",
         nullptr},
        {"memory, applet 0.9", Card(0, 9), true, false, memory, 0, "B0 AC 00 00", noFiles},
        {"memory, applet 0.9, no PIN verified", Card(0, 9), false, false, memory, 0x8010006A,
         "B0 AC 00 00", nullptr},
        {"containers, applet 1.2", Card(), true, true, containers, 0, "B4 1C 01 FF", noKeys},
        {"containers outside a session", Card(), true, false, containers, 0x8010001F, "B0 1C 01 FF",
         nullptr},
    });
}

_qv_md_create_container_request Access(unsigned char container, unsigned char a1, unsigned char a2)
{
    _qv_md_create_container_request r{};
    r.container = container;
    r.access[0] = a1;
    r.access[1] = a2;
    return r;
}

TEST(AdminSim, AContainersAccessChangesAsMaskedAndItsRefusalsAreReported)
{
    auto change = [](_qv_md_create_container_request r, unsigned char mask) {
        return [r, mask](_qv_md_card_struct *c) { return QVMD_ChangeContainerUser(c, &r, mask); };
    };
    auto access = [](unsigned char a1, unsigned char a2) {
        return [a1, a2](AdminCard &a) {
            cardsim::CardState s = a.State();
            for (int spec : {0, 1}) {
                SCOPED_TRACE(spec);
                EXPECT_EQ(s.keys.at({0, spec}).access[0], a1);
                EXPECT_EQ(s.keys.at({0, spec}).access[1], a2);
            }
        };
    };
    RunRows({
        {"the first access byte", Card(), true, true, change(Access(0, 0x04, 0x04), 1), 0,
         "B4 7E 00 01", access(0x04, 0x06)},
        {"both access bytes", Card(), true, true, change(Access(0, 0x06, 0x04), 3), 0,
         "B4 7E 00 03", access(0x06, 0x04)},
        {"no such container", Card(), true, true, change(Access(5, 0x04, 0x04), 3), 0x80100030,
         "B4 7E 05 03", nullptr},
        {"outside a session", Card(), true, false, change(Access(0, 0x04, 0x04), 3), 0x8010001F,
         "B0 7E 00 03", nullptr},
        {"mask 0", Card(), true, true, change(Access(0, 0x04, 0x04), 0), 0x80100011, "", nullptr},
        {"mask 4", Card(), true, true, change(Access(0, 0x04, 0x04), 4), 0x80100011, "", nullptr},
    });
}

_qv_md_pin_properties_update Properties(unsigned char mask, unsigned char limit)
{
    _qv_md_pin_properties_update u{};
    u.cspInfo[0] = 0x01;
    u.cspInfo[1] = 0x02;
    u.cspInfo[2] = 0x03;
    u.limit = limit;
    u.further = 0x02; // only PIN 1 may change or unblock the PIN
    u.mask = mask;
    return u;
}

TEST(AdminSim, PinPropertiesAndActivationsAreKeptAndTheirRefusalsReported)
{
    auto update = [](unsigned char index, _qv_md_pin_properties_update u) {
        return [index, u](_qv_md_card_struct *c) {
            uint32_t rv = QVMD_UpdatePinProperties(c, index, &u);
            // stale once the update went to the card
            if (rv != 0x80100011) {
                EXPECT_EQ(c->info->pinPropertiesStale, 1);
            }
            return rv;
        };
    };
    auto activate = [](unsigned char index, int second) {
        return [index, second](_qv_md_card_struct *c) {
            return QVMD_AdminCardActivatePIN(c, index, second);
        };
    };
    RunRows({
        {"every property", Card(), true, true, update(0, Properties(7, 5)), 0, "B4 2C 00 07",
         [](AdminCard &a) {
             const _qv_md_pin_info_struct &pin = a.Pin(0);
             EXPECT_EQ(pin.tryLimit, 5u);
             EXPECT_EQ(pin.updaters, 0x02);
             EXPECT_EQ(ToHex(pin.cspInfo, 3), "01 02 03");
         }},
        {"the try limit alone", Card(), true, true, update(0, Properties(2, 4)), 0, "B4 2C 00 02",
         [](AdminCard &a) {
             const _qv_md_pin_info_struct &pin = a.Pin(0);
             EXPECT_EQ(pin.tryLimit, 4u);
             EXPECT_EQ(ToHex(pin.cspInfo, 3), "00 00 00");
         }},
        {"a try limit of 16", Card(), true, true, update(0, Properties(2, 16)), 0x80100011, "",
         nullptr},
        {"a try limit of 0", Card(), true, true, update(0, Properties(2, 0)), 0x8010001F,
         "B4 2C 00 02", nullptr},
        {"outside a session", Card(), true, false, update(0, Properties(7, 5)), 0x8010001F,
         "B0 2C 00 07", nullptr},
        {"the first activation", Card(), true, true, activate(0, 0), 0, "B4 2A 00 01",
         [](AdminCard &a) {
             const _qv_md_pin_info_struct &pin = a.Pin(0);
             EXPECT_EQ(pin.statusA & 1, 1u);
             EXPECT_EQ(pin.statusB & 1, 0u);
         }},
        {"the second activation before the first", Card(), true, true, activate(0, 1), 0x8010001F,
         "B4 2A 00 02", nullptr},
        {"an activation on applet 0.9", Card(0, 9), true, true, activate(0, 0), 0x8010001F, "",
         nullptr},
    });
}

TEST(AdminSim, TheAdministrationCardAnswersAChallengeWithItsKey)
{
    const Bytes key = AdminKey();
    ASSERT_EQ(key.size(), 24u);
    const Bytes challenge = Hex("01 23 45 67 89 AB CD EF");
    const Bytes extra(24, 0x5C);
    const Bytes derived = cardsim::TdesCbc(key, Bytes(8, 0), extra, true);
    Bytes buffer;
    auto compute = [&](unsigned char keyRef, bool withExtra) {
        return [&buffer, &challenge, &extra, keyRef, withExtra](_qv_md_card_struct *c) {
            buffer = challenge;
            return QVMD_AdminCardComputeResponse(c, keyRef, buffer.data(),
                                                 withExtra ? extra.data() : nullptr, withExtra);
        };
    };
    auto response = [&](const Bytes &expected) {
        return [&buffer, expected](AdminCard &) { EXPECT_EQ(ToHex(buffer), ToHex(expected)); };
    };
    RunRows({
        {"the challenge", Card(), true, true, compute(1, false), 0, "B4 2A 01 00",
         response(cardsim::ResponseToChallenge(key, challenge))},
        {"the challenge with diversification", Card(), true, true, compute(1, true), 0,
         "B4 2A 01 00", response(cardsim::ResponseToChallenge(derived, challenge))},
        {"no such key", Card(), true, true, compute(2, false), 0x8010001F, "B4 2A 02 00",
         response(challenge)},
        {"outside a session", Card(), true, false, compute(1, false), 0x8010001F, "B0 2A 01 00",
         response(challenge)},
        {"applet 0.9", Card(0, 9), true, true, compute(1, false), 0x8010001F, "",
         response(challenge)},
    });
}

TEST(AdminSim, AChallengeIsAnsweredOnceOrCancelled)
{
    AdminCard card(Card(), true, false);
    _qv_md_card_struct *c = card.sim.get();
    ASSERT_EQ(card.sim.info()->pins[CHALLENGE_PIN].method, 2);
    unsigned char challenge[8] = {};
    ASSERT_EQ(QVMD_GetChallenge(c, CHALLENGE_ROLE, QVMD_AUTH_CHALLENGE, challenge, 8), 0u);
    EXPECT_EQ(ToHex(card.sim.transport->commands.back()), "B0 22 00 00 08");

    // the response of the PIN's key (the administration card's) is taken once
    Bytes response = cardsim::ResponseToChallenge(AdminKey(), Bytes(challenge, challenge + 8));
    long tries = 77;
    EXPECT_EQ(QVMD_Authenticate(c, CHALLENGE_ROLE, QVMD_AUTH_CHALLENGE, response.data(), 8, nullptr,
                                nullptr, &tries, 0),
              0u);
    EXPECT_EQ(card.sim.card->AuthenticatedRoles() & CHALLENGE_ROLE, CHALLENGE_ROLE);
    EXPECT_EQ(QVMD_Authenticate(c, CHALLENGE_ROLE, QVMD_AUTH_CHALLENGE, response.data(), 8, nullptr,
                                nullptr, &tries, 0),
              0x8010006Bu);

    // a cancelled challenge answers nothing; there is nothing to cancel then
    ASSERT_EQ(QVMD_GetChallenge(c, CHALLENGE_ROLE, QVMD_AUTH_CHALLENGE, challenge, 8), 0u);
    response = cardsim::ResponseToChallenge(AdminKey(), Bytes(challenge, challenge + 8));
    EXPECT_EQ(QVMD_CancelChallenge(c, CHALLENGE_PIN), 0u);
    EXPECT_EQ(ToHex(card.sim.transport->commands.back()), "B0 22 02 01 00");
    EXPECT_EQ(QVMD_Authenticate(c, CHALLENGE_ROLE, QVMD_AUTH_CHALLENGE, response.data(), 8, nullptr,
                                nullptr, &tries, 0),
              0x8010006Bu);
    EXPECT_EQ(QVMD_CancelChallenge(c, CHALLENGE_PIN), 0x8010001Fu);
}

TEST(AdminSim, ChallengesThatCannotBeServedAreRefusedAndTheBufferKept)
{
    struct Row {
        const char *name;
        std::function<uint32_t(_qv_md_card_struct *, unsigned char *)> call;
        uint32_t result;
        bool sent;
    } rows[] = {
        {"a challenge for the user PIN, which takes none",
         [](_qv_md_card_struct *c, unsigned char *out) {
             return QVMD_GetChallenge(c, QVMD_ROLE_USER, QVMD_AUTH_CHALLENGE, out, 8);
         },
         0x80100004, false},
        {"a role no PIN serves",
         [](_qv_md_card_struct *c, unsigned char *out) {
             return QVMD_GetChallenge(c, 0x40, QVMD_AUTH_CHALLENGE, out, 8);
         },
         0x80100011, false},
        {"room for 7 bytes",
         [](_qv_md_card_struct *c, unsigned char *out) {
             return QVMD_GetChallenge(c, CHALLENGE_ROLE, QVMD_AUTH_CHALLENGE, out, 7);
         },
         0x80100008, false},
        {"a challenge of 6 bytes",
         [](_qv_md_card_struct *c, unsigned char *out) {
             return QVMD_GetChallenge(c, CHALLENGE_ROLE, QVMD_AUTH_CHALLENGE, out, 8);
         },
         0x8010001F, true},
        {"the user PIN's challenge cancelled",
         [](_qv_md_card_struct *c, unsigned char *) { return QVMD_CancelChallenge(c, 0); },
         0x80100004, false},
        {"no PIN's challenge cancelled",
         [](_qv_md_card_struct *c, unsigned char *) {
             return QVMD_CancelChallenge(c, QVMD_NO_PIN);
         },
         0x80100011, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        AdminCard card(Card(), true, false);
        // a well-formed reply of 6 bytes in place of the card's 8 (the card's own reply cut
        // short would end in two random bytes, now and then a continuation status)
        card.sim.transport->Queue("01 02 03 04 05 06 90 00");
        unsigned char out[8] = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
        EXPECT_EQ(r.call(card.sim.get(), out), r.result);
        EXPECT_EQ(card.sim.transport->commands.empty(), !r.sent);
        EXPECT_EQ(ToHex(out, 8), "A5 A5 A5 A5 A5 A5 A5 A5");
    }
}

TEST(AdminSim, TheImportedKeyParametersAreSetOnlyWhenTheyDiffer)
{
    AdminCard card(Card(), true, false);
    _qv_md_card_struct *c = card.sim.get();
    const std::vector<Bytes> &sent = card.sim.transport->commands;
    ASSERT_EQ(QVMD_ChangeImportedSMKeyParamIfNeeded(c, 0x01, 0x02, 0x03), 0u);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(ToHex(sent[0]), "B0 10 0B 00 00");
    EXPECT_EQ(ToHex(sent[1]), "B0 54 01 02 03 00 00 00");
    EXPECT_EQ(ToHex(card.State().importedKeyParams.data(), 3), "01 02 03");

    // the same again: read, not sent
    ASSERT_EQ(QVMD_ChangeImportedSMKeyParamIfNeeded(c, 0x01, 0x02, 0x03), 0u);
    EXPECT_EQ(sent.size(), 3u);
    EXPECT_EQ(ToHex(c->info->importedKeyParams, 3), "01 02 03");

    // the card keeps them while a session runs on the key
    ASSERT_EQ(QVMD_OpenSM(c, "MK", 0, 0, QVMD_SM_LEVEL_RSA), 0u);
    EXPECT_EQ(QVMD_ChangeImportedSMKeyParamIfNeeded(c, 0x04, 0x05, 0x06), 0x8010001Fu);
    EXPECT_EQ(ToHex(sent.back()), "B0 54 04 05 06 00 00 00");
    EXPECT_EQ(ToHex(card.State().importedKeyParams.data(), 3), "01 02 03");
}

} // namespace
