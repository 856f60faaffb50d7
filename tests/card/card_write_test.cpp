// The card-data writers and the whole-card clean-ups against a scripted card whose
// secure messaging is the simulator's session (the simulated card does not serve
// these commands): what the card receives once unwrapped, and the status families.
#include "card_sm_support.h"

#include "card/qvmd_card_write.h"
#include "card/qvmd_container.h"
#include "card/qvmd_sm.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{

using namespace card_test;

struct Row {
    const char *name;
    unsigned char major; // the applet: 0 for 0.9, else 1.2
    std::function<uint32_t(_qv_md_card_struct *)> call;
    uint16_t status;   // the card's answer
    std::string plain; // the command as the card saw it; empty: none sent
    bool secured;      // it came under the session
    uint32_t result;
};

const _qv_md_card_data_record RECORD = {0x05, 3, {0xAA, 0xBB, 0xCC}};

const Row ROWS[] = {
    {"card data, one tag whole", 1,
     [](_qv_md_card_struct *c) { return QVMD_SetCardData(c, &RECORD); }, 0x9000,
     "B0 1A 05 00 03 AA BB CC", true, 0},
    {"card data refused for the role", 1,
     [](_qv_md_card_struct *c) { return QVMD_SetCardData(c, &RECORD); }, 0x6985,
     "B0 1A 05 00 03 AA BB CC", true, 0x8010006A},
    {"card data refused otherwise", 1,
     [](_qv_md_card_struct *c) { return QVMD_SetCardData(c, &RECORD); }, 0x6A84,
     "B0 1A 05 00 03 AA BB CC", true, 0x8010001F},
    {"card data of 240 bytes", 1,
     [](_qv_md_card_struct *c) {
         _qv_md_card_data_record r = RECORD;
         r.length = 240;
         return QVMD_SetCardData(c, &r);
     },
     0x9000, "", false, 0x80100011},
    {"one entry added", 1,
     [](_qv_md_card_struct *c) {
         return QVMD_SetCardDataOneTag(c, 0x05, RECORD.value, 3, 0, 0x02);
     },
     0x9000, "B0 1A 01 01 06 05 02 03 AA BB CC", true, 0},
    {"one entry replaced", 1,
     [](_qv_md_card_struct *c) {
         return QVMD_SetCardDataOneTag(c, 0x05, RECORD.value, 3, 1, 0x02);
     },
     0x9000, "B0 1A 01 00 06 05 02 03 AA BB CC", true, 0},
    {"one entry of 237 bytes", 1,
     [](_qv_md_card_struct *c) {
         const Bytes value(237, 1);
         return QVMD_SetCardDataOneTag(c, 0x05, value.data(), value.size(), 1, 0);
     },
     0x9000, "", false, 0x80100011},
    {"provider flags", 1,
     [](_qv_md_card_struct *c) {
         const unsigned char flags[2] = {0x00, 0x0B};
         return QVMD_UpdateCSPFlags(c, flags, 2);
     },
     0x9000, "B0 1A 01 00 05 80 00 02 00 0B", true, 0},
    {"provider flags of 3 bytes", 1,
     [](_qv_md_card_struct *c) {
         const unsigned char flags[3] = {};
         return QVMD_UpdateCSPFlags(c, flags, 3);
     },
     0x9000, "", false, 0x80100011},
    {"free memory on applet 0.9", 0, [](_qv_md_card_struct *c) { return QVMD_FreeMemory(c); },
     0x9000, "B0 AC 00 00", false, 0},
    {"free memory on applet 1.2", 1, [](_qv_md_card_struct *c) { return QVMD_FreeMemory(c); },
     0x9000, "B0 1C 00 FF 00", true, 0},
    {"free memory refused", 1, [](_qv_md_card_struct *c) { return QVMD_FreeMemory(c); }, 0x6985,
     "B0 1C 00 FF 00", true, 0x8010006A},
    {"free containers on applet 1.2", 1,
     [](_qv_md_card_struct *c) { return QVMD_FreeContainers(c); }, 0x9000, "B0 1C 01 FF 00", true,
     0},
    {"container access, both bytes", 1,
     [](_qv_md_card_struct *c) {
         _qv_md_create_container_request r{};
         r.container = 3;
         r.access[0] = 0x02;
         r.access[1] = 0x06;
         return QVMD_ChangeContainerUser(c, &r, 3);
     },
     0x9000, "B0 7E 03 03 02 02 06", true, 0},
    {"container access, the second byte", 1,
     [](_qv_md_card_struct *c) {
         _qv_md_create_container_request r{};
         r.access[0] = 0x02;
         r.access[1] = 0x06;
         return QVMD_ChangeContainerUser(c, &r, 2);
     },
     0x6A82, "B0 7E 00 02 02 00 06", true, 0x80100030},
    {"container access with mask 4", 1,
     [](_qv_md_card_struct *c) {
         _qv_md_create_container_request r{};
         return QVMD_ChangeContainerUser(c, &r, 4);
     },
     0x9000, "", false, 0x80100011},
};

TEST(CardWrite, EachWriterSendsItsCommandUnderTheSession)
{
    for (const Row &r : ROWS) {
        SCOPED_TRACE(r.name);
        ScriptedSession s(true, QVMD_SM_LEVEL_RSA, [&](const Bytes &) {
            return SessionCard::Reply{{}, r.status};
        });
        ASSERT_EQ(s.opened, 0u);
        if (r.major == 0)
            s.context->info->appletMajor = 0;
        size_t before = s.transport.commands.size();
        EXPECT_EQ(r.call(s.context.get()), r.result);
        if (r.plain.empty()) {
            EXPECT_EQ(s.transport.commands.size(), before);
            continue;
        }
        ASSERT_EQ(s.transport.commands.size(), before + 1);
        EXPECT_EQ(s.transport.commands.back()[0], r.secured ? 0xB4 : 0xB0);
        EXPECT_EQ(ToHex(s.card.plainCommands.back()), r.plain);
    }
}

} // namespace
