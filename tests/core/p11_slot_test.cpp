// Slot: default attributes and CK_SLOT_INFO byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/linux/linux_log.h"

#include "base/p11_exception.h"
#include "channel/channel.h"
#include "core/p11_slot.h"
#include "core_test_util.h"

using namespace core_test;

namespace
{

unsigned long infoCode(CP11Slot &slot, CK_SLOT_INFO *info)
{
    return codeOf([&] { slot.GetInfo(info); });
}

} // namespace

TEST(Slot, DefaultAttributes)
{
    NamedChannel pcsc("PCSC");
    CP11Slot slot(&pcsc);
    EXPECT_EQ(slot.GetChannel(), &pcsc);
    unsigned long types[16];
    unsigned long count = 16;
    ASSERT_TRUE(slot.GetAttributes(types, &count));
    unsigned long expected[] = {SLOT_A_ID,
                                SLOT_A_NAME,
                                SLOT_A_MANUFACTURER,
                                SLOT_A_HW_VERSION_MAJOR,
                                SLOT_A_HW_VERSION_MINOR,
                                SLOT_A_FW_VERSION_MAJOR,
                                SLOT_A_FW_VERSION_MINOR,
                                SLOT_A_PLUGGEN_IN,
                                SLOT_A_CARD_INSERTED,
                                SLOT_A_CHANGED};
    ASSERT_EQ(count, 10u);
    EXPECT_EQ(std::memcmp(types, expected, sizeof(expected)), 0);
    EXPECT_STREQ(slot.findAttribute(SLOT_A_PLUGGEN_IN)->GetName(), "SLOT_A_PLUGGEN_IN");
    EXPECT_EQ(slot.FindLongAttribute(SLOT_A_ID), CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(slot.FindStringAttribute(SLOT_A_NAME), nullptr);
    // no attribute is ever added
    EXPECT_FALSE(slot.SetAttribute(0x1000000aUL, (unsigned char)1));
}

// CK_SLOT_INFO for a table of slot states: blank padding, cut at the width,
// the manufacturer taken from the reader name's first word on PC/SC only.
TEST(Slot, InfoTable)
{
    std::string name70(70, 'n');
    std::string word40 = std::string(40, 'w') + " reader";
    std::string word31 = std::string(31, 'v') + " x";
    std::string word32 = std::string(32, 'u') + " x";
    std::string maker40(40, 'm');
    struct Row {
        char const *what;
        char const *channel; // NULL: no channel
        char const *name;
        char const *manufacturer;
        unsigned char inserted;
        unsigned char pluggedIn;
        unsigned char versions[4];
        std::string description;    // before padding to 64
        std::string manufacturerID; // before padding to 32
        CK_FLAGS flags;
    } rows[] = {
        // clang-format off
        {"fresh slot", "PCSC", nullptr, nullptr, 0, 0, {0, 0, 0, 0}, "", "", 0x6},
        {"first word", "PCSC", "Virtual PCD 00 00", nullptr, 0, 1, {0, 0, 0, 0},
         "Virtual PCD 00 00", "Virtual", 0x6},
        {"manufacturer text wins", "PCSC", "Virtual PCD 00 00", "Maker Inc", 1, 1, {1, 2, 3, 4},
         "Virtual PCD 00 00", "Maker Inc", 0x7},
        {"long name cut at 64", "PCSC", name70.c_str(), nullptr, 0, 0, {0, 0, 0, 0},
         name70.substr(0, 64), "", 0x6},
        {"first word of 40 leaves blank", "PCSC", word40.c_str(), nullptr, 0, 0, {0, 0, 0, 0},
         word40, "", 0x6},
        {"first word of 31 fits", "PCSC", word31.c_str(), nullptr, 0, 0, {0, 0, 0, 0},
         word31, std::string(31, 'v'), 0x6},
        {"first word of 32 leaves blank", "PCSC", word32.c_str(), nullptr, 0, 0, {0, 0, 0, 0},
         word32, "", 0x6},
        {"name starting with a blank", "PCSC", " Reader", nullptr, 0, 0, {0, 0, 0, 0},
         " Reader", "", 0x6},
        {"manufacturer cut at 32", "PCSC", "R", maker40.c_str(), 0, 0, {0, 0, 0, 0},
         "R", maker40.substr(0, 32), 0x6},
        {"other channel: no first word", "OTHER", "Virtual PCD", nullptr, 0, 0, {0, 0, 0, 0},
         "Virtual PCD", "", 0x6},
        {"other channel: manufacturer text", "OTHER", "Virtual PCD", "Maker", 0, 0, {0, 0, 0, 0},
         "Virtual PCD", "Maker", 0x6},
        {"no channel", nullptr, "Virtual PCD", nullptr, 1, 0, {0, 0, 0, 0},
         "Virtual PCD", "", 0x7},
        {"channel name only starts with PCSC", "PCSC2", "Virtual PCD", nullptr, 0, 0, {0, 0, 0, 0},
         "Virtual PCD", "", 0x6},
        {"card inserted, reader gone", "PCSC", "R", nullptr, 1, 0, {0, 0, 0, 0}, "R", "R", 0x7},
        {"reader present, no card", "PCSC", "R", nullptr, 0, 1, {0, 0, 0, 0}, "R", "R", 0x6},
        {"any non-zero byte means inserted", "PCSC", "R", nullptr, 0x80, 0, {0, 0, 0, 0},
         "R", "R", 0x7},
        // clang-format on
    };
    for (Row const &r : rows) {
        NamedChannel channel(r.channel != nullptr ? r.channel : "");
        CP11Slot slot(r.channel != nullptr ? &channel : nullptr);
        if (r.name != nullptr)
            slot.SetAttribute(SLOT_A_NAME, r.name, (unsigned long)-1);
        if (r.manufacturer != nullptr)
            slot.SetAttribute(SLOT_A_MANUFACTURER, r.manufacturer, (unsigned long)-1);
        slot.SetAttribute(SLOT_A_CARD_INSERTED, r.inserted);
        slot.SetAttribute(SLOT_A_PLUGGEN_IN, r.pluggedIn);
        slot.SetAttribute(SLOT_A_HW_VERSION_MAJOR, r.versions[0]);
        slot.SetAttribute(SLOT_A_HW_VERSION_MINOR, r.versions[1]);
        slot.SetAttribute(SLOT_A_FW_VERSION_MAJOR, r.versions[2]);
        slot.SetAttribute(SLOT_A_FW_VERSION_MINOR, r.versions[3]);

        CK_SLOT_INFO info;
        std::memset(&info, 0xEE, sizeof(info));
        ASSERT_EQ(infoCode(slot, &info), CKR_OK) << r.what;
        EXPECT_EQ(field(info.slotDescription, 64), padded(r.description, 64)) << r.what;
        EXPECT_EQ(field(info.manufacturerID, 32), padded(r.manufacturerID, 32)) << r.what;
        EXPECT_EQ(info.flags, r.flags) << r.what;
        EXPECT_EQ(info.hardwareVersion.major, r.versions[0]) << r.what;
        EXPECT_EQ(info.hardwareVersion.minor, r.versions[1]) << r.what;
        EXPECT_EQ(info.firmwareVersion.major, r.versions[2]) << r.what;
        EXPECT_EQ(info.firmwareVersion.minor, r.versions[3]) << r.what;
    }
}

TEST(Slot, NullInfoIsRefusedAndLogged)
{
    std::string path = std::string(VOK_BINARY_DIR) + "/core_slot_test.log";
    std::remove(path.c_str());
    hl_openlog(("file:" + path).c_str());
    NamedChannel pcsc("PCSC");
    CP11Slot slot(&pcsc);
    EXPECT_EQ(infoCode(slot, nullptr), CKR_ARGUMENTS_BAD);
    closelog();

    std::stringstream text(readFile(path));
    // the enter line (type 1), then the exception line (type 16)
    std::string enter, thrown;
    for (std::string line; std::getline(text, line);) {
        if (line.find("CP11Slot::GetInfo((nil))") != std::string::npos)
            enter = line;
        if (line.find("CP11Slot::GetInfo( 0x00000007 [ CKR_ARGUMENTS_BAD ] )") != std::string::npos)
            thrown = line;
    }
    EXPECT_NE(enter.find("] >> "), std::string::npos) << enter;
    EXPECT_NE(thrown.find("] EX "), std::string::npos) << thrown;
}

// A card that leaves, or a reader that goes with its card, must not leave
// CKF_TOKEN_PRESENT behind.
TEST(Slot, RemovalClearsTokenPresent)
{
    NamedChannel pcsc("PCSC");
    CK_SLOT_INFO info;
    for (bool readerGoes : {false, true}) {
        CP11Slot slot(&pcsc);
        slot.SetAttribute(SLOT_A_PLUGGEN_IN, (unsigned char)1);
        slot.SetAttribute(SLOT_A_CARD_INSERTED, (unsigned char)1);
        slot.GetInfo(&info);
        ASSERT_EQ(info.flags & CKF_TOKEN_PRESENT, CKF_TOKEN_PRESENT);
        if (readerGoes)
            slot.ReaderRemoved();
        else
            slot.CardRemoved();
        slot.GetInfo(&info);
        EXPECT_EQ(info.flags, CKF_REMOVABLE_DEVICE | CKF_HW_SLOT) << readerGoes;
        EXPECT_EQ(slot.FindByteAttribute(SLOT_A_PLUGGEN_IN), readerGoes ? 0 : 1);
    }
}
