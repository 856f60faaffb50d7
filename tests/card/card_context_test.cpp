// The card context: lifecycle and hooks, the status-word families, card names,
// the card-data TLV helpers, the ATR parser and the card-number text.
#include "card_test_support.h"

#include "card/qvmd_atr.h"
#include "card/qvmd_card_data.h"
#include "card/qvmd_names.h"
#include "card/qvmd_sw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace
{

using namespace card_test;

// Hooks that count what they hand out and take back.
int g_allocs = 0;
int g_frees = 0;
void *countingAlloc(size_t n)
{
    g_allocs++;
    return malloc(n);
}
void *countingRealloc(void *p, size_t n)
{
    return realloc(p, n);
}
void countingFree(void *p)
{
    if (p != nullptr)
        g_frees++;
    free(p);
}
void *failingAlloc(size_t)
{
    return nullptr;
}

TEST(CardContext, InitialisationPointsAtTheEmbeddedPartsAndTakesDefaultHooks)
{
    _qv_md_card_struct card;
    memset(&card, 0xEE, sizeof(card));
    ASSERT_EQ(QVMD_CardInitStruct(&card, 7, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  RecordingTransport::Transmit),
              0u);
    EXPECT_EQ(card.transport, &card.transportData);
    EXPECT_EQ(card.info, &card.infoData);
    EXPECT_EQ(card.alloc, QVMD_Outer_Default_Alloc);
    EXPECT_EQ(card.realloc, QVMD_Outer_Default_Realloc);
    EXPECT_EQ(card.free, QVMD_Outer_Default_Free);
    EXPECT_EQ(card.transport->handle, 7u);
    EXPECT_EQ(card.infoData.appletValid, 0);
    EXPECT_EQ(card.infoData.keySizes, nullptr);
    EXPECT_EQ(card.sm.provider, nullptr);
    QVMD_CardReleaseStruct(&card);
    EXPECT_EQ(card.info, nullptr);
}

TEST(CardContext, WithoutCommunicationNothingCanBeSent)
{
    _qv_md_card_struct card;
    ASSERT_EQ(QVMD_CardInitStructNoCommunication(&card, 0, nullptr, nullptr, nullptr, nullptr,
                                                 nullptr, nullptr, RecordingTransport::Transmit),
              0u);
    EXPECT_EQ(card.transport->transmit, nullptr);
    EXPECT_EQ(card.transport->protocol, 0u);
    EXPECT_EQ(QVCAAPI_RunAPDU(card.transport), 0x80100011u);
    QVMD_CardReleaseStruct(&card);
}

TEST(CardContext, ReleaseFreesTheInformationTablesWithTheContextsHook)
{
    g_allocs = g_frees = 0;
    _qv_md_card_struct card;
    QVMD_CardInitStruct(&card, 0, countingAlloc, countingRealloc, countingFree, nullptr, nullptr,
                        nullptr, RecordingTransport::Transmit);
    card.info->keySizes = static_cast<_qv_md_key_size_entry *>(QVMD_Alloc(&card, 16));
    card.info->keySizeCount = 2;
    card.info->memoryTable = static_cast<_qv_md_memory_entry *>(QVMD_Alloc(&card, 6));
    card.info->memoryCount = 2;
    QVMD_CardReleaseStruct(&card);
    EXPECT_EQ(g_allocs, 2);
    EXPECT_EQ(g_frees, 2);
    EXPECT_EQ(card.infoData.keySizes, nullptr);
    EXPECT_EQ(card.infoData.keySizeCount, 0u);
    EXPECT_EQ(card.infoData.memoryCount, 0u);
}

TEST(CardContext, ReinitRecordsTheHandleBeforeItChecksTheHooks)
{
    RecordingTransport transport;
    TestCard card(transport);
    int changed = -1;
    unsigned long old = card->transport->handle;
    EXPECT_EQ(QVMD_CardReinitStruct(card.get(), old, countingAlloc, countingRealloc, countingFree,
                                    &changed),
              0u);
    EXPECT_EQ(changed, 0);
    EXPECT_EQ(card->alloc, countingAlloc);
    EXPECT_EQ(
        QVMD_CardReinitStruct(card.get(), 99, nullptr, countingRealloc, countingFree, &changed),
        0x80100004u);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(card->transport->handle, 99u);
    EXPECT_EQ(card->alloc, countingAlloc);
    EXPECT_EQ(QVMD_CardChangeHandleStruct(card.get(), old), 0u);
    EXPECT_EQ(card->transport->handle, old);
}

TEST(CardContext, ReallocCopiesTheOldBytesAndKeepsThemOnFailure)
{
    RecordingTransport transport;
    TestCard card(transport);
    auto *old = static_cast<unsigned char *>(QVMD_Alloc(card.get(), 4));
    memcpy(old, "\x01\x02\x03\x04", 4);
    auto *grown = static_cast<unsigned char *>(QVMD_Realloc(card.get(), old, 4, 8));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(ToHex(grown, 4), "01 02 03 04");
    card->alloc = failingAlloc;
    EXPECT_EQ(QVMD_Realloc(card.get(), grown, 8, 16), nullptr);
    EXPECT_EQ(ToHex(grown, 4), "01 02 03 04"); // still ours
    auto *shrunk = static_cast<unsigned char *>(QVMD_Realloc(card.get(), grown, 8, 2));
    EXPECT_EQ(shrunk, nullptr);
    card->alloc = QVMD_Outer_Default_Alloc;
    shrunk = static_cast<unsigned char *>(QVMD_Realloc(card.get(), grown, 8, 2));
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(ToHex(shrunk, 2), "01 02");
    QVMD_Free(card.get(), shrunk);
}

TEST(CardContext, ContainerKeyInfoReleaseFreesBothBuffers)
{
    RecordingTransport transport;
    TestCard card(transport);
    _qv_md_container_key_info ki;
    memset(&ki, 0xEE, sizeof(ki));
    EXPECT_EQ(QVMD_ContainerInitStruct(&ki), 0u);
    EXPECT_EQ(ki.modulus, nullptr);
    ki.modulus = static_cast<unsigned char *>(QVMD_Alloc(card.get(), 8));
    ki.modulusLength = 8;
    ki.exponent = static_cast<unsigned char *>(QVMD_Alloc(card.get(), 3));
    ki.exponentLength = 3;
    EXPECT_EQ(QVMD_ContainerReleaseStruct(card.get(), &ki), 0u);
    EXPECT_EQ(ki.modulus, nullptr);
    EXPECT_EQ(ki.exponent, nullptr);
    EXPECT_EQ(ki.modulusLength + ki.exponentLength, 0u);
    unsigned long n = 0;
    EXPECT_EQ(QVMD_GetKeyNumberPerContainer(card.get(), &n), 0u);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(QVMD_GetKeyNumberPerContainer(card.get(), nullptr), 0u);
}

TEST(CardContext, SetResponseStoresAReplyThatFits)
{
    RecordingTransport transport;
    TestCard card(transport);
    Bytes data(512, 0x5A);
    EXPECT_EQ(QVMD_SetResponse(card.get(), data.data(), 512, 0x61, 0x10), 0u);
    EXPECT_EQ(card->transport->receivedLength, 514u);
    EXPECT_EQ(card->transport->sw1, 0x61);
    EXPECT_EQ(card->transport->sw2, 0x10);
    EXPECT_EQ(QVMD_SetResponse(card.get(), data.data(), 513, 0x90, 0x00), 0x80100011u);
    EXPECT_EQ(card->transport->sw1, 0x61); // unchanged
    EXPECT_EQ(card->transport->receivedLength, 514u);
}

// ---- status words ----

using Check = uint32_t (*)(_qv_md_card_struct *, unsigned long);

uint32_t setSettings(_qv_md_card_struct *card, unsigned long)
{
    return QVMD_VerifySWSetSettings(card);
}

struct SwRow {
    std::string sw;
    uint32_t file, fileMin, settings, container, min; // with no length limit
};

// Every family of every check, with limits 0.
const SwRow SW_ROWS[] = {
    {"90 00", 0, 0, 0, 0, 0},
    {"61 10", 0x8010001F, 0, 0x8010001F, 0x8010001F, 0x8010001F},
    {"62 01", 80, 80, 0x8010001F, 0x8010001F, 0x8010001F},
    {"62 02", 145, 145, 0x8010001F, 0x8010001F, 0x8010001F},
    {"69 85", 0x8010006A, 0x8010006A, 0x8010006A, 0x8010006A, 0x8010001F},
    {"6A 80", 0x8010001F, 0x8010001F, 0x8010001F, 0x80100030, 0x8010001F},
    {"6A 82", 0x80100023, 0x80100023, 0x8010001F, 0x80100030, 0x8010001F},
    {"6A 83", 0x80100024, 0x80100024, 0x8010001F, 0x80100026, 0x8010001F},
    {"6A 84", 0x80100028, 0x80100028, 0x8010001F, 0x8010001F, 0x8010001F},
    {"6A 86", 0x8010001F, 0x8010001F, 0x8010001F, 0x8010001F, 0x8010001F},
    {"62 00", 0x8010001F, 0x8010001F, 0x8010001F, 0x8010001F, 0x8010001F},
    {"90 01", 0x8010001F, 0x8010001F, 0x8010001F, 0x8010001F, 0x8010001F},
    {"6F 00", 0x8010001F, 0x8010001F, 0x8010001F, 0x8010001F, 0x8010001F},
};

TEST(StatusWords, EachFamilyMapsToItsCheckResult)
{
    RecordingTransport transport;
    TestCard card(transport);
    for (const SwRow &r : SW_ROWS) {
        SCOPED_TRACE(r.sw);
        Bytes sw = Hex(r.sw);
        QVMD_SetResponse(card.get(), nullptr, 0, sw[0], sw[1]);
        EXPECT_EQ(QVMD_VerifySWFile(card.get(), 0), r.file);
        EXPECT_EQ(QVMD_VerifySWFileMin(card.get(), 0), r.fileMin);
        EXPECT_EQ(QVMD_VerifySWSetSettings(card.get()), r.settings);
        EXPECT_EQ(QVMD_VerifySWKeyContainer(card.get(), 0), r.container);
        EXPECT_EQ(QVMD_VerifySWMin(card.get(), 0), r.min);
    }
}

TEST(StatusWords, LengthRulesOfTheChecks)
{
    struct Row {
        const char *name;
        Check check;
        std::string sw;
        size_t dataBytes;
        unsigned long limit;
        uint32_t result;
    } rows[] = {
        {"file exact", QVMD_VerifySWFile, "90 00", 10, 12, 0},
        {"file one short", QVMD_VerifySWFile, "90 00", 9, 12, 0x8010001F},
        {"file one over", QVMD_VerifySWFile, "90 00", 11, 12, 0x8010001F},
        {"file min reached with 61", QVMD_VerifySWFileMin, "61 10", 18, 11, 0},
        {"file min short", QVMD_VerifySWFileMin, "90 00", 8, 11, 0x8010001F},
        {"file min over", QVMD_VerifySWFileMin, "90 00", 30, 11, 0},
        {"container exact", QVMD_VerifySWKeyContainer, "90 00", 6, 8, 0},
        {"container short", QVMD_VerifySWKeyContainer, "90 00", 5, 8, 0x8010001F},
        {"min reached", QVMD_VerifySWMin, "90 00", 4, 6, 0},
        {"min short", QVMD_VerifySWMin, "90 00", 3, 6, 0x8010001F},
        {"settings ignore length", setSettings, "90 00", 3, 99, 0},
        {"a refusal stays a refusal", QVMD_VerifySWFile, "6A 82", 0, 2, 0x80100023},
    };
    RecordingTransport transport;
    TestCard card(transport);
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Bytes sw = Hex(r.sw);
        Bytes data(r.dataBytes, 0x11);
        QVMD_SetResponse(card.get(), data.data(), data.size(), sw[0], sw[1]);
        EXPECT_EQ(r.check(card.get(), r.limit), r.result);
    }
}

// ---- names ----

TEST(CardNames, AreCutAtTheirFirstZeroByte)
{
    unsigned char name[8] = {'a', 'b', 'c', 0, 'x', 'y', 'z', 'w'};
    CorrectName(name);
    EXPECT_EQ(ToHex(name, 8), "61 62 63 00 00 00 00 00");
    unsigned char full[8] = {'c', 'm', 'a', 'p', 'f', 'i', 'l', 'e'};
    CorrectName(full);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(full), 8), "cmapfile");

    unsigned char dir[8], file[8];
    const unsigned char mscp[8] = {'m', 's', 'c', 'p', 0, 1, 2, 3};
    const unsigned char ksc[8] = {'k', 's', 'c', '0', '0', 0, 9, 9};
    CorrectDirFileName(dir, mscp, file, ksc);
    EXPECT_EQ(ToHex(dir, 8), "6D 73 63 70 00 00 00 00");
    EXPECT_EQ(ToHex(file, 8), "6B 73 63 30 30 00 00 00");
    CorrectDirName(dir, nullptr);
    EXPECT_EQ(ToHex(dir, 8), "00 00 00 00 00 00 00 00");
}

TEST(CardNames, VisibleCardNumber)
{
    struct Row {
        std::string number;
        std::string visible;
    } rows[] = {
        {"00000000000000001122334455667788", "1122334455667788"},
        {"F0040000000000001122334455667788", "0000000000001122334455667788"},
        {"F0200000000000001122334455667788", "1122334455667788"}, // 32 is no start digit
        {"F01F0000000000001122334455667788", "8"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.number);
        Bytes n = Hex(r.number);
        char text[33];
        char *visible = nullptr;
        unsigned long length = 0;
        ASSERT_EQ(QVMD_GetVisibleCLN(n.data(), 16, text, 33, &visible, &length), 0u);
        EXPECT_EQ(std::string(text), r.number);
        EXPECT_EQ(std::string(visible, length), r.visible);
    }
    char text[40];
    Bytes n(16, 0);
    EXPECT_EQ(QVMD_GetVisibleCLN(n.data(), 15, text, 33, nullptr, nullptr), 0x80100011u);
    EXPECT_EQ(QVMD_GetVisibleCLN(n.data(), 16, text, 40, nullptr, nullptr), 0x80100011u);
}

// ---- card data ----

struct TlvRow {
    const char *name;
    std::string data;
    unsigned char tag;
    uint32_t result;
    std::string value; // "-" for no value
};

std::string manyEntries(int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += "07 00 01 00 ";
    return s;
}

const TlvRow TLV_ROWS[] = {
    {"first entry", "01 00 02 AA BB 02 00 01 CC", 1, 0, "AA BB"},
    {"later entry", "01 00 02 AA BB 02 00 01 CC", 2, 0, "CC"},
    {"absent tag", "01 00 02 AA BB 02 00 01 CC", 5, 0, "-"},
    {"empty data", "", 1, 0, "-"},
    {"a 2-byte tail", "01 00 01 AA 02 00", 2, 0x8010001F, "-"},
    {"a 3-byte entry with no value at the end", "01 00 01 AA 02 00 00", 2, 0x8010001F, "-"},
    {"value runs past the end", "01 00 05 AA BB", 1, 0x8010001F, "-"},
    {"skipped entry runs past the end", "01 00 05 AA BB CC 02", 2, 0x8010001F, "-"},
    {"tag after 256 entries is not reached", manyEntries(256) + "09 00 01 EE", 9, 0x8010001F, "-"},
    {"tag in entry 256 is found", manyEntries(255) + "09 00 01 EE", 9, 0, "EE"},
    {"256 entries without the tag", manyEntries(256), 9, 0, "-"},
};

TEST(CardData, TlvReaderWalksWithinItsData)
{
    for (const TlvRow &r : TLV_ROWS) {
        SCOPED_TRACE(r.name);
        // the list sits in a buffer of exactly its size, so a read past it is caught
        Bytes bytes = Hex(r.data);
        std::unique_ptr<unsigned char[]> exact(new unsigned char[bytes.size() + 1]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        const unsigned char *value = exact.get();
        unsigned long length = 77;
        EXPECT_EQ(QVMD_CardDataContentReadTLV(exact.get(), bytes.size(), r.tag, &value, &length),
                  r.result);
        if (r.value == "-") {
            EXPECT_EQ(value, nullptr);
            EXPECT_EQ(length, 0u);
        } else {
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(ToHex(value, length), r.value);
        }
    }
}

TEST(CardData, TlvWriterMeasuresAndWrites)
{
    const unsigned char value[] = {1, 2, 3};
    EXPECT_EQ(QVMD_CardDataContentAddTLV(nullptr, 5, value, 3), 6u);
    unsigned char out[6];
    EXPECT_EQ(QVMD_CardDataContentAddTLV(out, 5, value, 3), 6u);
    EXPECT_EQ(ToHex(out, 6), "05 00 03 01 02 03");
    EXPECT_EQ(QVMD_CardDataContentAddTLV(nullptr, 5, value, 0x10000), 0u);
}

TEST(CardData, StructureTakesEachTagOnceAndUpTo240Bytes)
{
    RecordingTransport transport;
    TestCard card(transport);
    _qv_md_card_data_struct cd;
    memset(&cd, 0xEE, sizeof(cd));
    ASSERT_EQ(QVMD_CardDataInitStruct(card.get(), &cd), 0u);
    const unsigned char v[236] = {0xAB};
    EXPECT_EQ(QVMD_AppendToCardDataStruct(card.get(), &cd, 2, 0x01, v, 2), 0u);
    EXPECT_EQ(ToHex(cd.content, 5), "02 01 02 AB 00");
    EXPECT_EQ(cd.mask, 0x04);
    EXPECT_EQ(cd.used, 5);
    EXPECT_EQ(cd.count, 1);
    EXPECT_EQ(QVMD_AppendToCardDataStruct(card.get(), &cd, 2, 0x01, v, 1), 0x80100011u);
    EXPECT_EQ(QVMD_AppendToCardDataStruct(card.get(), &cd, 8, 0x01, v, 1), 0x80100011u);
    EXPECT_EQ(QVMD_AppendToCardDataStruct(card.get(), nullptr, 3, 0x01, v, 1), 0x80100011u);
    EXPECT_EQ(QVMD_AppendToCardDataStruct(card.get(), &cd, 3, 0x01, v, 235), 0x80100011u);
    EXPECT_EQ(QVMD_AppendToCardDataStruct(card.get(), &cd, 3, 0x01, v, 234), 0u);
    EXPECT_EQ(cd.used, 242);
    EXPECT_EQ(cd.count, 2);
}

TEST(CardData, OneTagWriteIsPreparedWithRoomForTheValue)
{
    RecordingTransport transport;
    TestCard card(transport);
    unsigned long offset = 0;
    ASSERT_EQ(QVMD_SetCardDataOneTagFill(card.get(), 0x80, 2, 1, 0x00, &offset), 0u);
    EXPECT_EQ(offset, 8u);
    EXPECT_EQ(card->transport->commandLength, 10u);
    EXPECT_EQ(ToHex(card->transport->command, 8), "B0 1A 01 00 05 80 00 02");
    ASSERT_EQ(QVMD_SetCardDataOneTagFill(card.get(), 0x05, 236, 0, 0x03, &offset), 0u);
    EXPECT_EQ(ToHex(card->transport->command, 8), "B0 1A 01 01 EF 05 03 EC");
    EXPECT_EQ(card->transport->commandLength, 244u);
    EXPECT_EQ(QVMD_SetCardDataOneTagFill(card.get(), 0x05, 237, 0, 0x03, &offset), 0x80100011u);
}

// ---- ATR ----

TEST(Atr, HistoricalBytesAreFoundBehindTheInterfaceBytes)
{
    struct Row {
        const char *name;
        std::string atr;
        uint32_t result;
        std::string historical;
    } rows[] = {
        {"no interface bytes", "3B 02 41 42", 0, "41 42"},
        {"with check byte", "3B 02 41 42 99", 0, "41 42"},
        {"cut short", "3B 02 41", 3, ""},
        {"one byte too many", "3B 02 41 42 99 98", 3, ""},
        {"TA TB TC TD chain", "3F F3 11 22 33 00 01 02 03", 0, "01 02 03"},
        {"TD chains to TA2", "3B 92 11 10 77 A1 A2", 0, "A1 A2"},
        {"TD announced after TA but the ATR ends", "3B 90 11", 4, ""},
        {"TD announced but the ATR ends at once", "3B 80", 4, ""},
        {"TA announced but the ATR ends at once", "3B 10", 3, ""},
        {"TA runs past the end", "3B 12", 3, ""},
        {"the card family", "3B 0D 80 25 D2 03 10 01 00 56 00 00 00 01 01", 0,
         "80 25 D2 03 10 01 00 56 00 00 00 01 01"},
        {"wrong TS", "3C 02 41 42", 2, ""},
        {"too short", "3B", 1, ""},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Bytes atr = Hex(r.atr);
        std::unique_ptr<unsigned char[]> exact(new unsigned char[atr.size() + 1]);
        std::copy(atr.begin(), atr.end(), exact.get());
        const unsigned char *historical = nullptr;
        unsigned long count = 0;
        EXPECT_EQ(QVMD_GetHistBytesForATR(exact.get(), atr.size(), &historical, &count), r.result);
        if (r.result == 0) {
            EXPECT_EQ(ToHex(historical, count), r.historical);
        }
    }
    EXPECT_EQ(ToHex(QVMD_ATR_HIST_BYTES, 13), "80 25 D2 03 10 01 00 56 00 00 00 01 01");
}

} // namespace
