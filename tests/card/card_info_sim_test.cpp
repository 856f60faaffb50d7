// Card information against the simulated card in process: both application
// identifiers, every kind the token reads with and without the card's strict Le,
// card data in several pieces, the version gates of applets 0.9, 1.1 and 1.2, and
// the card's hostile reply modes.
#include "card_sim_support.h"

#include "card/qvmd_card_data.h"
#include "card/qvmd_info.h"

#include <gtest/gtest.h>

namespace
{

using namespace card_test;

const unsigned char ALL_CARD_DATA[5] = {0, 0, 0, 0, 0};

TEST(CardInfoSim, SelectsTheFirstIdentifierOrFallsBackToTheSecond)
{
    for (bool secondOnly : {false, true}) {
        SCOPED_TRACE(secondOnly ? "second only" : "both");
        cardsim::Options options;
        options.secondAidOnly = secondOnly;
        SimCard sim({}, options);
        EXPECT_EQ(QVMD_CheckAppletSelection(sim.get()), 0u);
        EXPECT_EQ(sim.transport->commands.size(), secondOnly ? 2u : 1u);
        EXPECT_EQ(QVMD_GetInfo(sim.get(), sim.info(), QVMD_INFO_SERIAL), 0u);
    }
}

TEST(CardInfoSim, ReadsEveryKindWithAndWithoutStrictLe)
{
    for (bool strictLe : {false, true}) {
        SCOPED_TRACE(strictLe ? "strict Le" : "lenient Le");
        cardsim::Options options;
        options.strictLe = strictLe;
        SimCard sim({}, options);
        cardsim::CardState state = sim.card->Snapshot();
        ASSERT_EQ(QVMD_CheckAppletSelection(sim.get()), 0u);
        for (unsigned char kind : {4, 5, 6, 8, 2, 10, 1, 7, 9, 11}) {
            SCOPED_TRACE(int(kind));
            EXPECT_EQ(QVMD_GetInfo(sim.get(), sim.info(), kind), 0u);
        }
        const _qv_md_info_struct &i = *sim.info();
        EXPECT_EQ(ToHex(i.serial, 16), ToHex(state.serial));
        EXPECT_EQ(ToHex(i.cardId, 8), ToHex(state.cardId));
        EXPECT_EQ(i.appletMajor, 1);
        EXPECT_EQ(i.appletMinor, 2);
        EXPECT_EQ(i.maxPinLength, 8);
        EXPECT_EQ(i.authState[1], 1); // nobody
        ASSERT_EQ(i.pinCount, 3);     // user PIN, PUK, the role-8 record
        EXPECT_EQ(i.pins[0].roleMask, 2u);
        EXPECT_EQ(i.pins[0].type, 4u);
        EXPECT_EQ(i.pins[0].tryLimit, 3u);
        EXPECT_EQ(i.pins[0].triesRemaining, 3u);
        EXPECT_EQ(i.pins[1].roleMask, 4u);
        EXPECT_EQ(i.pins[1].triesRemaining, 5u);
        EXPECT_EQ(i.pins[2].roleMask, 8u);
        EXPECT_EQ(i.pinPropertiesValid, 1);
        EXPECT_EQ(i.containers, 8);
        ASSERT_EQ(i.keySizeCount, 2u);
        EXPECT_EQ(i.keySizes[0].bits, 1024u);
        EXPECT_EQ(i.keySizes[1].bits, 2048u);
        EXPECT_EQ(i.totalMemory, state.TotalMemory());
        EXPECT_EQ(i.totalMemory, 65536u);
        EXPECT_EQ(i.freeMemory, state.FreeMemory());
    }
}

TEST(CardInfoSim, CardDataArrivesWholeInThreePieces)
{
    SimCard whole;
    ASSERT_EQ(QVMD_CheckAppletSelection(whole.get()), 0u);
    const cardsim::Bytes expected = whole.card->Snapshot().cardData;
    ASSERT_GT(expected.size(), 6u);

    cardsim::Options options;
    options.cardDataPiece = (expected.size() + 2) / 3; // three pieces
    SimCard sim({}, options);
    ASSERT_EQ(QVMD_CheckAppletSelection(sim.get()), 0u);
    size_t before = sim.transport->commands.size();
    unsigned char *data = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(QVMD_GetInfoCardDataTag(sim.get(), nullptr, ALL_CARD_DATA, 5, &data, &length), 0u);
    EXPECT_EQ(sim.transport->commands.size() - before, 3u);
    EXPECT_EQ(ToHex(data, length), ToHex(expected));

    // one object (the 192-byte signature, tag 4) in pieces as well
    const unsigned char *signature = nullptr;
    unsigned long signatureLength = 0;
    ASSERT_EQ(QVMD_CardDataContentReadTLV(data, length, 4, &signature, &signatureLength), 0u);
    EXPECT_EQ(signatureLength, 192u);
    const unsigned char tag4[1] = {4};
    unsigned char *object = nullptr;
    unsigned long objectLength = 0;
    ASSERT_EQ(QVMD_GetInfoCardDataTag(sim.get(), nullptr, tag4, 1, &object, &objectLength), 0u);
    EXPECT_EQ(ToHex(object, objectLength), ToHex(signature, signatureLength));
    QVMD_Free(sim.get(), object);
    QVMD_Free(sim.get(), data);
}

TEST(CardInfoSim, MasterKeyDiversificationData)
{
    SimCard sim;
    ASSERT_EQ(QVMD_CheckAppletSelection(sim.get()), 0u);
    cardsim::CardState state = sim.card->Snapshot();
    const unsigned char *tag2 = nullptr;
    unsigned long tag2Length = 0;
    ASSERT_EQ(QVMD_CardDataContentReadTLV(state.cardData.data(), state.cardData.size(), 2, &tag2,
                                          &tag2Length),
              0u);
    ASSERT_EQ(tag2Length, 24u);
    unsigned char out[24];
    unsigned long length = sizeof(out);
    ASSERT_EQ(QVMD_GetMKDiversificationData(sim.get(), out, &length), 0u);
    EXPECT_EQ(ToHex(out, 24), ToHex(tag2 + 8, 16) + " " + ToHex(state.cardId));
}

TEST(CardInfoSim, VersionGatesOfEachApplet)
{
    struct Row {
        unsigned char major, minor;
        uint32_t pinpad, ski;
    } rows[] = {{0, 9, 0x8010001F, 0x8010001F}, {1, 1, 0, 0x8010001F}, {1, 2, 0, 0}};
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.major) + "." + std::to_string(r.minor));
        SimCard sim(Applet(r.major, r.minor));
        ASSERT_EQ(QVMD_CheckAppletSelection(sim.get()), 0u);
        EXPECT_EQ(QVMD_IsSupported(sim.get(), L"PINPAD"), r.pinpad);
        EXPECT_EQ(QVMD_IsSupported(sim.get(), L"SKI"), r.ski);
        EXPECT_EQ(sim.info()->appletMajor, r.major);
        EXPECT_EQ(sim.info()->appletMinor, r.minor);
        EXPECT_EQ(QVMD_GetInfo(sim.get(), sim.info(), QVMD_INFO_PIN_PROPERTIES), 0u);
        EXPECT_EQ(sim.info()->pins[0].triesRemaining, 3u);
    }
}

TEST(CardInfoSim, HostileRepliesEndInErrorsNotLoops)
{
    struct Row {
        const char *name;
        cardsim::Fault fault;
        size_t param;
        size_t maxCommands; // for the one information request
        bool cardDataFails; // a padded card-data piece is still a piece
    } rows[] = {
        {"a 61 storm", cardsim::Fault::Storm, 0, 2, true},
        {"replies cut to one byte", cardsim::Fault::Truncate, 1, 1, true},
        {"replies cut to two bytes", cardsim::Fault::Truncate, 2, 2, true},
        {"replies padded to 300 data bytes", cardsim::Fault::Oversize, 300, 2, false},
        {"replies padded to 600 data bytes", cardsim::Fault::Oversize, 600, 2, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        SimCard sim;
        ASSERT_EQ(QVMD_CheckAppletSelection(sim.get()), 0u);
        sim.card->SetFault(r.fault, r.param);
        size_t before = sim.transport->commands.size();
        EXPECT_NE(QVMD_GetInfo(sim.get(), sim.info(), QVMD_INFO_SERIAL), 0u);
        EXPECT_EQ(sim.info()->serialValid, 0);
        EXPECT_LE(sim.transport->commands.size() - before, r.maxCommands);
        unsigned char *data = nullptr;
        unsigned long length = 0;
        uint32_t rv = QVMD_GetInfoCardDataTag(sim.get(), nullptr, ALL_CARD_DATA, 5, &data, &length);
        EXPECT_EQ(rv != 0, r.cardDataFails);
        EXPECT_EQ(data == nullptr, r.cardDataFails);
        QVMD_Free(sim.get(), data);
    }
}

} // namespace
