// The texts of the item pages and the report made from the client's records, the
// item actions of each kind of item, and the readers found in the USB listing.
#include <gtest/gtest.h>

#include "item_texts.h"
#include "qt_print.h"
#include "usb_readers.h"

namespace
{

TEST(ItemTexts, RecordValuesInThePagesFormats)
{
    const uint8_t atr[] = {0x3B, 0x0A, 0x0F, 0xFF};
    EXPECT_EQ(item_text::atr(atr, 4, 4), "3B 0A 0F FF ");
    EXPECT_EQ(item_text::atr(atr, 0, 4), "");
    EXPECT_EQ(item_text::atr(atr, 1000, 2), "3B 0A "); // never past the record's field

    // try limit, tries left, status byte
    const uint64_t pin[3] = {3, 2, 0}, puk[3] = {5, 5, 1}, blocked[3] = {3, 0, 0};
    EXPECT_EQ(item_text::counters(pin), "2/3[3]");
    EXPECT_EQ(item_text::counters(puk), "5/5[5]");
    EXPECT_EQ(item_text::counters(blocked), "0/3[3]");
    EXPECT_EQ(item_text::usedOfTotal(2, 4), "2/6");

    struct Row {
        std::vector<uint8_t> serial;
        const char *withValue, *bare;
    };
    const Row rows[] = {
        {{0x05}, "05 [5]", "05"},
        {{0x85}, "85 [-123]", "85"},
        {{0xFF}, "FF [-1]", "FF"},
        {{0x01, 0x02}, "0102", "0102"},
        {{}, "", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.bare);
        EXPECT_EQ(item_text::serial(row.serial.data(), row.serial.size(), 32, true), row.withValue);
        EXPECT_EQ(item_text::serial(row.serial.data(), row.serial.size(), 32, false), row.bare);
    }
    const uint8_t serial[2] = {0xAB, 0xCD};
    EXPECT_EQ(item_text::serial(serial, 4096, 2, false), "ABCD");

    EXPECT_EQ(item_text::validity(QDate(2012, 3, 1), QDate(2015, 3, 1)), "01.03.2012 - 01.03.2015");
    EXPECT_EQ(item_text::validity(QDate(), QDate(2015, 3, 1)), " - 01.03.2015");

    const char name[4] = {'a', 'b', 'c', 'd'}; // fills its field: no zero byte
    EXPECT_EQ(item_text::field(name), "abcd");
    EXPECT_EQ(item_text::field("čtečka"), "čtečka");
}

TEST(ItemTexts, KeyTypeFromTheUsageFlags)
{
    struct Row {
        uint8_t flags[3];
        const char *type;
    };
    const Row rows[] = {
        {{1, 0, 0}, "AT_SIGNATURE"},
        {{0, 1, 0}, "AT_KEYEXCHANGE"},
        {{0, 0, 1}, "AT_KEYEXCHANGE"},
        {{1, 1, 1}, "AT_KEYEXCHANGE"},
        {{0, 0, 0}, ""},
    };
    for (const Row &row : rows)
        EXPECT_EQ(item_text::keyType(row.flags), row.type)
            << int(row.flags[0]) << int(row.flags[1]) << int(row.flags[2]);
}

TEST(ItemActions, EachKindAllowsItsActionsByModeCertificateAndPin)
{
    EXPECT_EQ(item_actions::card(false, false), QList<int>({0, 1, 11}));
    EXPECT_EQ(item_actions::card(false, true), QList<int>({0, 1, 11}));
    EXPECT_EQ(item_actions::card(true, false), QList<int>({1, 2}));
    EXPECT_EQ(item_actions::card(true, true), QList<int>());

    struct Row {
        bool expert, certificate, blocked;
        QList<int> ids;
    };
    const Row keys[] = {
        {true, true, false, {12, 10, 13}},  {true, false, false, {12, 10, 13, 8}},
        {true, true, true, {12, 10}},       {true, false, true, {12, 10}},
        {false, true, false, {12, 10}},     {false, true, true, {12, 10}},
        {false, false, false, {12, 10, 8}}, {false, false, true, {12, 10, 8}},
    };
    for (const Row &row : keys) {
        SCOPED_TRACE(testing::Message() << row.expert << row.certificate << row.blocked);
        EXPECT_EQ(item_actions::key(row.expert, row.certificate, row.blocked), row.ids);
    }
    EXPECT_EQ(item_actions::certificate(true, false), QList<int>({6, 7, 9}));
    EXPECT_EQ(item_actions::certificate(true, true), QList<int>({6, 7}));
    EXPECT_EQ(item_actions::certificate(false, false), QList<int>({6, 7}));
}

TEST(UsbReaders, ReadersAreFoundByTheirModelAtTheirOccurrence)
{
    const QString listing = "Bus 002 Device 001: ID 0f0f:0003 Example 3.0 root hub\n"
                            "Bus 001 Device 004: ID 1209:a001 Example Twin Reader\n"
                            "Bus 001 Device 007: ID 1209:a001 Example Twin Reader\n"
                            "Bus 003 Device 002: ID 1209:a002 Sample Desk Reader R3\n"
                            "odd line Example Lone Reader\n";
    struct Row {
        const char *what;
        QStringList names;
        int index;
        bool found;
        const char *location;
    };
    const Row rows[] = {
        {"first of a model", {"Example Twin Reader 00 00"}, 0, true, "USB, Bus 001 Device 004"},
        {"second of a model at its second line",
         {"Example Twin Reader 00 00", "Example Twin Reader 01 00"},
         1,
         true,
         "USB, Bus 001 Device 007"},
        {"third of a model listed twice",
         {"Example Twin Reader 00 00", "Example Twin Reader 01 00", "Example Twin Reader 02 00"},
         2,
         false,
         ""},
        {"other models do not count",
         {"Virtual PCD 00 00", "Sample Desk Reader R3 01 00"},
         1,
         true,
         "USB, Bus 003 Device 002"},
        {"a name without index pair is its own model",
         {"Sample Desk Reader R3"},
         0,
         true,
         "USB, Bus 003 Device 002"},
        {"not listed", {"Virtual PCD 00 00"}, 0, false, ""},
        {"a line of another form", {"Example Lone Reader 00 00"}, 0, true, "USB"},
        {"a model that is only an index pair", {"00 00"}, 0, false, ""},
        {"an index past the names", {"Virtual PCD 00 00"}, 3, false, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        UsbLocation usb = findUsbReader(listing, row.names, row.index);
        EXPECT_EQ(usb.found, row.found);
        EXPECT_EQ(usb.location, row.location);
    }
    EXPECT_FALSE(findUsbReader("", {"Example Twin Reader 00 00"}, 0).found);
    // the model at the very start of the listing
    UsbLocation first = findUsbReader("Example Twin Reader", {"Example Twin Reader 00 00"}, 0);
    EXPECT_TRUE(first.found);
    EXPECT_EQ(first.location, "USB");
}

} // namespace
