// Card information against a scripted card: every information kind with good,
// short, long and odd replies, the application selection, the card data read in
// pieces (hostile counts and pieces included), the applet version gates and the
// provider flags.
#include "card_test_support.h"

#include "card/qvmd_info.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{

using namespace card_test;

const std::string OK = " 90 00";
// Applet 1.2, maximum PIN length 8, response length 8, flags 08 (a role-8 record
// without descriptor); PIN 0: limit 3, type code 3, role 02, updaters 03; PIN 1:
// limit 5, type code 3, role 04, updaters 02.
const std::string APPLET = "00 01 01 02 00 00 08 08 00 08 03 03 02 03 05 03 04 02";
// PIN 0: 3 tries left, updaters 03; PIN 1: 5 tries left, updaters 02.
const std::string PIN_PROPERTIES = "AA BB 01 03 00 03 11 22 33 02 05 00 02 44 55 66";

using InfoCheck = std::function<void(const _qv_md_info_struct &)>;

struct InfoRow {
    const char *name;
    unsigned char kind;
    std::vector<std::string> replies;
    uint32_t result;
    InfoCheck check;
};

std::string Times(const std::string &hex, int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += " " + hex;
    return s;
}

const InfoRow INFO_ROWS[] = {
    // kind 1: key capacity
    {"kind 1 without key sizes",
     1,
     {"01 08" + OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(i.containers, 8);
         EXPECT_EQ(i.sharedByte, 1);
         EXPECT_EQ(i.keySizeCount, 0u);
         EXPECT_EQ(i.keySizesValid, 1);
     }},
    {"kind 1 with key sizes",
     1,
     {"01 08 00 02 03 04 01" + OK},
     0,
     [](const _qv_md_info_struct &i) {
         ASSERT_EQ(i.keySizeCount, 2u);
         EXPECT_EQ(i.keySizes[0].bits, 1024u);
         EXPECT_EQ(i.keySizes[0].count, 3u);
         EXPECT_EQ(i.keySizes[1].bits, 2048u);
         EXPECT_EQ(i.keySizes[1].count, 1u);
     }},
    {"kind 1 with the skipped byte only",
     1,
     {"01 08 00" + OK},
     0,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.keySizeCount, 0u); }},
    {"kind 1 short",
     1,
     {"01" + OK},
     0x8010001F,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.keySizesValid, 0); }},
    {"kind 1 odd pairs",
     1,
     {"01 08 00 02 03 04" + OK},
     0x8010001F,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.keySizesValid, 0); }},
    // kind 2: free memory
    {"kind 2",
     2,
     {"00 10 01 AA" + OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(i.freeMemory, 16u + 32767u);
         EXPECT_EQ(i.sharedByte, 0xAA);
     }},
    {"kind 2 short", 2, {"00 10 01" + OK}, 0x8010001F, nullptr},
    {"kind 2 long", 2, {"00 10 01 AA 00" + OK}, 0x8010001F, nullptr},
    // kind 4: serial number
    {"kind 4",
     4,
     {"00112233445566778899AABBCCDDEEFF" + OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(ToHex(i.serial, 16), ToHex(Hex("00112233445566778899AABBCCDDEEFF")));
         EXPECT_EQ(i.serialValid, 1);
     }},
    {"kind 4 short",
     4,
     {"00112233445566778899AABBCCDDEE" + OK},
     0x8010001F,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.serialValid, 0); }},
    {"kind 4 long", 4, {"00112233445566778899AABBCCDDEEFF00" + OK}, 0x8010001F, nullptr},
    {"kind 4 refused",
     4,
     {"6A 82"},
     0x8010001F,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.serialValid, 0); }},
    // kind 5: applet and PIN descriptors
    {"kind 5 with two PINs and a flag role",
     5,
     {APPLET + OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(i.appletValid, 1);
         EXPECT_EQ(i.appletWord, 0x0001);
         EXPECT_EQ(i.appletMajor, 1);
         EXPECT_EQ(i.appletMinor, 2);
         EXPECT_EQ(i.maxPinLength, 8);
         EXPECT_EQ(i.responseLength, 8);
         ASSERT_EQ(i.pinCount, 3);
         EXPECT_EQ(i.undescribedPins, 1);
         EXPECT_EQ(i.pins[0].descriptor, 0x03030203u);
         EXPECT_EQ(i.pins[0].type, 4u);
         EXPECT_EQ(i.pins[0].method, 1);
         EXPECT_EQ(i.pins[0].roleMask, 2u);
         EXPECT_EQ(i.pins[0].updaters, 3);
         EXPECT_EQ(i.pins[0].tryLimit, 3u);
         EXPECT_EQ(i.pins[1].roleMask, 4u);
         EXPECT_EQ(i.pins[1].tryLimit, 5u);
         EXPECT_EQ(i.pins[2].type, 1u);
         EXPECT_EQ(i.pins[2].method, 0);
         EXPECT_EQ(i.pins[2].roleMask, 8u);
     }},
    {"kind 5 of 10 bytes with flags 04",
     5,
     {"00 01 01 00 00 00 08 08 00 04" + OK},
     0,
     [](const _qv_md_info_struct &i) {
         ASSERT_EQ(i.pinCount, 1);
         EXPECT_EQ(i.undescribedPins, 1);
         EXPECT_EQ(i.pins[0].roleMask, 4u);
         EXPECT_EQ(i.pins[0].type, 1u);
     }},
    {"kind 5 challenge-response PIN with the flag bit",
     5,
     {"00 01 01 00 00 00 08 08 00 00 03 12 02 01" + OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(i.pins[0].type, 3u);
         EXPECT_EQ(i.pins[0].method, 2);
         EXPECT_EQ(i.pins[0].flag, 1);
     }},
    {"kind 5 type code 1",
     5,
     {"00 01 01 00 00 00 08 08 00 00 03 01 02 01" + OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(i.pins[0].type, 2u);
         EXPECT_EQ(i.pins[0].method, 1);
         EXPECT_EQ(i.pins[0].flag, 0);
     }},
    {"kind 5 short",
     5,
     {"00 01 01 02 00 00 08 08 00" + OK},
     0x8010001F,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.appletValid, 0); }},
    {"kind 5 with a cut descriptor",
     5,
     {"00 01 01 02 00 00 08 08 00 00 03 03 02" + OK},
     0x8010001F,
     nullptr},
    {"kind 5 maximum PIN length 16",
     5,
     {"00 01 01 02 00 00 10 08 00 00" + OK},
     0x8010001F,
     nullptr},
    {"kind 5 response length 129", 5, {"00 01 01 02 00 00 08 81 00 00" + OK}, 0x8010001F, nullptr},
    {"kind 5 PIN type code 4",
     5,
     {"00 01 01 02 00 00 08 08 00 00 03 04 02 01" + OK},
     0x8010001F,
     nullptr},
    {"kind 5 flag role of a described PIN",
     5,
     {"00 01 01 02 00 00 08 08 00 02 03 03 02 01" + OK},
     0x8010001F,
     nullptr},
    {"kind 5 nine descriptors",
     5,
     {"00 01 01 02 00 00 08 08 00 00" + Times("03 03 02 01", 9) + OK},
     0x8010001F,
     nullptr},
    {"kind 5 eight descriptors and a flag role",
     5,
     {"00 01 01 02 00 00 08 08 00 80" + Times("03 03 02 01", 8) + OK},
     0x8010001F,
     nullptr},
    {"kind 5 eight descriptors",
     5,
     {"00 01 01 02 00 00 08 08 00 00" + Times("03 03 02 01", 8) + OK},
     0,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.pinCount, 8); }},
    // kind 6: authentication state
    {"kind 6",
     6,
     {"00 02 00 00" + OK},
     0,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.authState[1], 2); }},
    {"kind 6 long",
     6,
     {"00 06 00 00 00" + OK},
     0,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.authState[1], 6); }},
    {"kind 6 short", 6, {"00 02 00" + OK}, 0x8010001F, nullptr},
    // kind 7: provider flags
    {"kind 7",
     7,
     {"00 0D" + OK},
     0,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.providerFlags[1], 0x0D); }},
    {"kind 7 short", 7, {"00" + OK}, 0x8010001F, nullptr},
    {"kind 7 long", 7, {"00 0D 00" + OK}, 0x8010001F, nullptr},
    // kind 8: PIN properties, after kind 5
    {"kind 8 after kind 5",
     8,
     {APPLET + OK, PIN_PROPERTIES + OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(i.pinPropertiesValid, 1);
         EXPECT_EQ(ToHex(i.pinPropertiesHeader, 2), "AA BB");
         EXPECT_EQ(i.pins[0].triesRemaining, 3u);
         EXPECT_EQ(i.pins[0].statusA, 1u);
         EXPECT_EQ(i.pins[0].statusB, 0u);
         EXPECT_EQ(ToHex(i.pins[0].cspInfo, 3), "11 22 33");
         EXPECT_EQ(i.pins[1].triesRemaining, 5u);
         EXPECT_EQ(i.pins[1].updaters, 2);
         EXPECT_EQ(i.pins[1].tryLimit, 5u);
     }},
    {"kind 8 with one entry too few",
     8,
     {APPLET + OK, "AA BB 01 03 00 03 11 22 33" + OK},
     0x8010001F,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.pinPropertiesValid, 0); }},
    {"kind 8 with one entry too many",
     8,
     {APPLET + OK, PIN_PROPERTIES + " 01 03 00 03 11 22 33" + OK},
     0x8010001F,
     nullptr},
    {"kind 8 with a cut entry", 8, {APPLET + OK, PIN_PROPERTIES + " 01" + OK}, 0x8010001F, nullptr},
    {"kind 8 stops when kind 5 fails",
     8,
     {"6D 00"},
     0x8010001F,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.appletValid, 0); }},
    // kind 9: card identifier
    {"kind 9",
     9,
     {"1122334455667788" + OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(ToHex(i.cardId, 8), "11 22 33 44 55 66 77 88");
         EXPECT_EQ(i.cardIdValid, 1);
     }},
    {"kind 9 short", 9, {"11223344556677" + OK}, 0x8010001F, nullptr},
    {"kind 9 long", 9, {"112233445566778899" + OK}, 0x8010001F, nullptr},
    // kind 10: memory layout and total
    {"kind 10",
     10,
     {"01 02 0A 01 01 0B 02 03" + OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(i.totalMemory, 1024u + 2048u * 6u);
         ASSERT_EQ(i.memoryCount, 2u);
         EXPECT_EQ(i.memoryTable[1].a, 0x0B);
         EXPECT_EQ(ToHex(i.memoryHeader, 2), "01 02");
         EXPECT_EQ(i.memoryValid, 1);
     }},
    {"kind 10 empty",
     10,
     {OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(i.totalMemory, 0u);
         EXPECT_EQ(i.memoryCount, 0u);
     }},
    {"kind 10 odd triple", 10, {"01 02 0A 01" + OK}, 0x8010001F, nullptr},
    {"kind 10 exponent 63",
     10,
     {"00 00 3F 01 01" + OK},
     0,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.totalMemory, uint64_t(1) << 63); }},
    {"kind 10 exponent 64",
     10,
     {"00 00 40 01 01" + OK},
     0x8010001F,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.memoryValid, 0); }},
    {"kind 10 product beyond 64 bits", 10, {"00 00 3F 02 01" + OK}, 0x8010001F, nullptr},
    {"kind 10 sum beyond 64 bits", 10, {"00 00 3F 01 01 3F 01 01" + OK}, 0x8010001F, nullptr},
    // kind 11: imported key parameters
    {"kind 11",
     11,
     {"0102030405060708090A0B0C0D0E0F1011" + OK},
     0,
     [](const _qv_md_info_struct &i) {
         EXPECT_EQ(i.importedKeyParamsLength, 17u);
         EXPECT_EQ(i.importedKeyParams[16], 0x11);
         EXPECT_EQ(i.importedKeyParams[17], 0);
         EXPECT_EQ(i.importedKeyParamsValid, 1);
     }},
    {"kind 11 empty",
     11,
     {OK},
     0,
     [](const _qv_md_info_struct &i) { EXPECT_EQ(i.importedKeyParamsLength, 0u); }},
    {"kind 11 long", 11, {"0102030405060708090A0B0C0D0E0F101112" + OK}, 0x8010001F, nullptr},
};

TEST(CardInfo, EachKindKeepsItsLengthRules)
{
    for (const InfoRow &r : INFO_ROWS) {
        SCOPED_TRACE(r.name);
        RecordingTransport transport;
        for (const std::string &reply : r.replies)
            transport.Queue(reply);
        TestCard card(transport);
        EXPECT_EQ(QVMD_GetInfo(card.get(), card->info, r.kind), r.result);
        if (r.check)
            r.check(*card->info);
    }
}

TEST(CardInfo, ARefusedReplyLeavesTheOldValuesAndTheirTable)
{
    RecordingTransport transport;
    transport.Queue("01 08 00 02 03" + OK);
    transport.Queue("01" + OK);
    transport.Queue("00 00 0A 01 01" + OK);
    transport.Queue("00 00 40 01 01" + OK);
    transport.Queue("FFEEDDCCBBAA99887766554433221100" + OK);
    transport.Queue("6A 82");
    TestCard card(transport);
    ASSERT_EQ(QVMD_GetInfo(card.get(), card->info, 1), 0u);
    EXPECT_EQ(QVMD_GetInfo(card.get(), card->info, 1), 0x8010001Fu);
    EXPECT_EQ(card->info->keySizesValid, 1);
    ASSERT_EQ(card->info->keySizeCount, 1u);
    EXPECT_EQ(card->info->keySizes[0].bits, 1024u);
    ASSERT_EQ(QVMD_GetInfo(card.get(), card->info, 10), 0u);
    EXPECT_EQ(QVMD_GetInfo(card.get(), card->info, 10), 0x8010001Fu);
    EXPECT_EQ(card->info->totalMemory, 1024u);
    ASSERT_EQ(QVMD_GetInfo(card.get(), card->info, 4), 0u);
    EXPECT_EQ(QVMD_GetInfo(card.get(), card->info, 4), 0x8010001Fu);
    EXPECT_EQ(card->info->serial[0], 0xFF);
}

void *noMemory(size_t)
{
    return nullptr;
}

TEST(CardInfo, AFailedTableAllocationLeavesNoTableAndNoCount)
{
    RecordingTransport transport;
    transport.Queue("01 08 00 02 03" + OK);
    transport.Queue("01 08 00 02 03 04 01" + OK);
    transport.Queue("00 00 0A 01 01" + OK);
    TestCard card(transport);
    ASSERT_EQ(QVMD_GetInfo(card.get(), card->info, 1), 0u);
    card->alloc = noMemory;
    EXPECT_EQ(QVMD_GetInfo(card.get(), card->info, 1), 0x80100006u);
    EXPECT_EQ(card->info->keySizes, nullptr);
    EXPECT_EQ(card->info->keySizeCount, 0u);
    EXPECT_EQ(card->info->keySizesValid, 0);
    EXPECT_EQ(QVMD_GetInfo(card.get(), card->info, 10), 0x80100006u);
    EXPECT_EQ(card->info->memoryTable, nullptr);
    EXPECT_EQ(card->info->memoryCount, 0u);
    EXPECT_EQ(card->info->memoryValid, 0);
}

TEST(CardInfo, RequestsCarryEachKindsLe)
{
    const std::pair<unsigned char, std::string> rows[] = {
        {1, "B0 10 01 00 04"}, {2, "B0 10 02 00 04"},  {4, "B0 10 04 00 10"},
        {5, "B0 10 05 00 16"}, {6, "B0 10 06 00 05"},  {7, "B0 10 07 00 02"},
        {9, "B0 10 09 00 01"}, {10, "B0 10 0A 00 04"}, {11, "B0 10 0B 00 00"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(int(r.first));
        RecordingTransport transport;
        TestCard card(transport);
        QVMD_GetInfo(card.get(), card->info, r.first);
        ASSERT_EQ(transport.commands.size(), 1u);
        EXPECT_EQ(ToHex(transport.commands[0]), r.second);
    }
}

TEST(CardInfo, ArgumentErrorsSendNothing)
{
    RecordingTransport transport;
    TestCard card(transport);
    const unsigned char selector[5] = {};
    EXPECT_EQ(QVMD_GetInfo(card.get(), card->info, 0), 0x80100011u);
    EXPECT_EQ(QVMD_GetInfo(card.get(), card->info, 12), 0x80100011u);
    EXPECT_EQ(QVMD_GetInfo(card.get(), nullptr, 4), 0x80100011u);
    EXPECT_EQ(QVMD_GetInfo(card.get(), card->info, 3), 0x8010001Fu);
    EXPECT_EQ(QVMD_GetInfoParam(card.get(), card->info, 3, selector, 2), 0x8010001Fu);
    EXPECT_TRUE(transport.commands.empty());
}

TEST(CardInfo, AnImportedKeyReplyRefusedClearsItsValidFlag)
{
    RecordingTransport transport;
    transport.Queue("01 02" + OK);
    transport.Queue("6A 88");
    TestCard card(transport);
    ASSERT_EQ(QVMD_GetInfo(card.get(), card->info, 11), 0u);
    EXPECT_EQ(QVMD_GetInfo(card.get(), card->info, 11), 0x8010001Fu);
    EXPECT_EQ(card->info->importedKeyParamsValid, 0);
}

// ---- selection ----

TEST(AppletSelection, FallsBackToTheSecondIdentifierOnlyOnARefusal)
{
    struct Row {
        const char *name;
        std::vector<std::string> replies;
        size_t failAt;
        uint32_t result;
        size_t commands;
    } rows[] = {
        {"first accepted", {"90 00"}, ~size_t(0), 0, 1},
        {"first accepted with data", {"6F 10 84 08 90 00"}, ~size_t(0), 0, 1},
        {"first refused, second accepted", {"6A 82", "90 00"}, ~size_t(0), 0, 2},
        {"both refused", {"6A 82", "6A 82"}, ~size_t(0), 0x8010001F, 2},
        {"first fails in transport", {}, 0, 0x80100069, 1},
        {"second fails in transport", {"6A 82"}, 1, 0x80100069, 2},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        RecordingTransport transport;
        for (const std::string &reply : r.replies)
            transport.Queue(reply);
        transport.failAt = r.failAt;
        TestCard card(transport);
        EXPECT_EQ(QVMD_CheckAppletSelection(card.get()), r.result);
        ASSERT_EQ(transport.commands.size(), r.commands);
        EXPECT_EQ(ToHex(transport.commands[0]), "00 A4 04 00 0A A0 00 00 00 28 80 10 30 01 FF");
        if (r.commands == 2) {
            EXPECT_EQ(ToHex(transport.commands[1]), "00 A4 04 00 0A A0 00 00 00 28 80 10 37 01 01");
        }
    }
}

// ---- card data ----

struct CardDataRow {
    const char *name;
    unsigned char tag;
    std::vector<std::string> replies;
    uint32_t result;
    std::string data;                  // when the read succeeds
    std::vector<std::string> commands; // the first ones sent, when given
};

const CardDataRow CARD_DATA_ROWS[] = {
    {"three pieces of all card data",
     0,
     {"00 04 AA BB" + OK, "00 02 CC DD" + OK, "00 00 EE FF" + OK},
     0,
     "AA BB CC DD EE FF",
     {"B0 10 03 00 04 00 00 00 00", "B0 10 03 00 04 00 02 00 04", "B0 10 03 00 04 00 04 00 02"}},
    {"three pieces of one tag",
     5,
     {"00 02 01" + OK, "00 01 02" + OK, "00 00 03" + OK},
     0,
     "01 02 03",
     {"B0 10 03 05 00", "B0 10 03 FF 00", "B0 10 03 FF 00"}},
    {"one piece", 5, {"00 00 01 02" + OK}, 0, "01 02", {"B0 10 03 05 00"}},
    {"nothing", 0, {"00 00" + OK}, 0, "", {}},
    {"a first reply without its count", 0, {"00" + OK}, 0x8010001F, "", {}},
    {"a follow-up without its count", 0, {"00 02 AA" + OK, "00" + OK}, 0x8010001F, "", {}},
    {"a piece longer than the rest announced",
     0,
     {"00 02 AA" + OK, "00 00 BB CC DD" + OK},
     0x8010001F,
     "",
     {}},
    {"a count that does not go down by the piece",
     0,
     {"00 04 AA" + OK, "00 03 BB" + OK},
     0x8010001F,
     "",
     {}},
    {"a count that grows", 0, {"00 04 AA" + OK, "FF FF BB" + OK}, 0x8010001F, "", {}},
    {"a refused follow-up", 0, {"00 04 AA" + OK, "6A 88"}, 0x8010001F, "", {}},
    {"a refused first request", 0, {"6A 88"}, 0x8010001F, "", {}},
};

TEST(CardData, IsReadInPiecesWithinWhatTheCardAnnounced)
{
    for (const CardDataRow &r : CARD_DATA_ROWS) {
        SCOPED_TRACE(r.name);
        RecordingTransport transport;
        for (const std::string &reply : r.replies)
            transport.Queue(reply);
        TestCard card(transport);
        const unsigned char selector[5] = {r.tag, 0, 0, 0, 0};
        unsigned char *data = reinterpret_cast<unsigned char *>(1);
        unsigned long length = 99;
        EXPECT_EQ(QVMD_GetInfoCardDataTag(card.get(), nullptr, selector, r.tag == 0 ? 5 : 1, &data,
                                          &length),
                  r.result);
        if (r.result == 0) {
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(ToHex(data, length), r.data);
        } else {
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(length, 0u);
        }
        QVMD_Free(card.get(), data);
        for (size_t i = 0; i < r.commands.size() && i < transport.commands.size(); i++)
            EXPECT_EQ(ToHex(transport.commands[i]), r.commands[i]);
    }
}

TEST(CardData, AReaderThatNeverFinishesStopsAfter255FollowUps)
{
    // every follow-up brings an empty piece and the same count
    RecordingTransport transport([](const Bytes &) { return Hex("00 04" + OK); });
    TestCard card(transport);
    const unsigned char selector[1] = {5};
    unsigned char *data = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(QVMD_GetInfoCardDataTag(card.get(), nullptr, selector, 1, &data, &length),
              0x8010001Fu);
    EXPECT_EQ(transport.commands.size(), 256u);
    EXPECT_EQ(data, nullptr);
}

TEST(CardData, AFollowUpTransportFailureFreesThePiecesRead)
{
    RecordingTransport transport;
    transport.Queue("00 04 AA" + OK);
    transport.failAt = 1;
    TestCard card(transport);
    const unsigned char selector[5] = {};
    unsigned char *data = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(QVMD_GetInfoCardDataTag(card.get(), nullptr, selector, 5, &data, &length),
              0x80100069u);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(QVMD_GetInfoCardDataTag(card.get(), nullptr, selector, 4, &data, &length),
              0x80100011u);
}

TEST(CardData, MasterKeyDiversificationDataIsTag2TailAndTheCardIdentifier)
{
    const std::string tag2 = "000102030405060708090A0B0C0D0E0F1011121314151617";
    struct Row {
        const char *name;
        std::string cardData;
        uint32_t result;
    } rows[] = {
        {"tag 2 of 24 bytes", "01 00 01 03 02 00 18 " + tag2, 0},
        {"tag 2 of 23 bytes", "02 00 17 " + tag2.substr(0, 46), 0x8010001F},
        {"no tag 2", "01 00 01 03", 0x8010001F},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Bytes content = Hex(r.cardData);
        RecordingTransport transport;
        transport.Queue("00 " + ToHex(Bytes{0}) + " " + r.cardData + OK);
        transport.Queue("A1A2A3A4A5A6A7A8" + OK);
        TestCard card(transport);
        unsigned char out[30] = {};
        unsigned long length = sizeof(out);
        EXPECT_EQ(QVMD_GetMKDiversificationData(card.get(), out, &length), r.result);
        if (r.result == 0) {
            EXPECT_EQ(length, 24u);
            EXPECT_EQ(ToHex(out, 24),
                      ToHex(Hex("08090A0B0C0D0E0F1011121314151617 A1A2A3A4A5A6A7A8")));
            EXPECT_EQ(ToHex(transport.commands[1]), "B0 10 09 00 01");
        }
    }
    RecordingTransport transport;
    TestCard card(transport);
    unsigned char out[24];
    unsigned long small = 23;
    EXPECT_EQ(QVMD_GetMKDiversificationData(card.get(), out, &small), 0x80100004u);
    EXPECT_EQ(QVMD_GetMKDiversificationData(card.get(), nullptr, &small), 0x80100004u);
}

// ---- versions and provider flags ----

TEST(AppletVersion, GatesAt10And12)
{
    struct Row {
        std::string version; // bytes 2-3 of kind 5
        uint32_t pinpad, ski;
    } rows[] = {{"00 09", 0x8010001F, 0x8010001F},
                {"01 00", 0, 0x8010001F},
                {"01 01", 0, 0x8010001F},
                {"01 02", 0, 0},
                {"02 00", 0, 0}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.version);
        RecordingTransport transport;
        transport.Queue("00 01 " + r.version + " 00 00 08 08 00 00" + OK);
        TestCard card(transport);
        EXPECT_EQ(QVMD_IsSupported(card.get(), L"PINPAD"), r.pinpad);
        EXPECT_EQ(QVMD_IsSupported(card.get(), L"SKI"), r.ski);
        int lower = -1;
        EXPECT_EQ(QVMD_IsAppletVersionLowerThan(card.get(), QVMD_VERSION_PINPAD, &lower), 0u);
        EXPECT_EQ(lower, r.pinpad != 0);
        EXPECT_EQ(transport.commands.size(), 1u); // kind 5 read once
    }
    RecordingTransport transport;
    TestCard card(transport);
    EXPECT_EQ(QVMD_IsSupported(card.get(), L"SKIP"), 0x80100011u);
    EXPECT_EQ(QVMD_IsSupported(card.get(), L"SK"), 0x80100011u);
    EXPECT_EQ(QVMD_IsSupported(card.get(), nullptr), 0x80100011u);
    EXPECT_EQ(QVMD_IsSupported(card.get(), L"SKI"), 0x8010001Fu); // kind 5 refused: 6D 00
}

TEST(ProviderFlags, AreReadAndEditedBySelector)
{
    RecordingTransport transport;
    TestCard card(transport);
    card->info->providerFlags[1] = 0x0D; // value 5, flag set
    unsigned long value = 0, length = sizeof(value);
    EXPECT_EQ(QVMD_GetCSPInfo(card.get(), card->info, 1, &value, &length), 0u);
    EXPECT_EQ(value, 5u);
    uint16_t flag = 0;
    length = sizeof(flag);
    EXPECT_EQ(QVMD_GetCSPInfo(card.get(), card->info, 0, &flag, &length), 0u);
    EXPECT_EQ(flag, 1);
    length = 7;
    EXPECT_EQ(QVMD_GetCSPInfo(card.get(), card->info, 1, &value, &length), 0x80100011u);
    EXPECT_EQ(QVMD_GetCSPInfo(card.get(), card->info, 2, &value, &length), 0x80100011u);

    unsigned char image[2] = {0x00, 0xF5};
    uint16_t off = 0;
    unsigned long three = 3, eight = 8;
    EXPECT_EQ(QVMD_SetCSPFlags(image, 2, 0, &off, 2), 0u);
    EXPECT_EQ(image[1], 0xF5 & ~0x08);
    uint16_t on = 1;
    EXPECT_EQ(QVMD_SetCSPFlags(image, 2, 0, &on, 2), 0u);
    EXPECT_EQ(image[1], 0xFD);
    EXPECT_EQ(QVMD_SetCSPFlags(image, 2, 1, &three, 8), 0u);
    EXPECT_EQ(image[1], 0xFB);
    EXPECT_EQ(QVMD_SetCSPFlags(image, 2, 1, &eight, 8), 0x80100011u);
    EXPECT_EQ(QVMD_SetCSPFlags(image, 2, 0, &on, 4), 0x80100011u);
    EXPECT_EQ(QVMD_SetCSPFlags(image, 1, 0, &on, 2), 0x80100011u);
    EXPECT_EQ(image[1], 0xFB);
}

} // namespace
