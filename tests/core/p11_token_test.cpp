// Generic token: its attributes, CK_TOKEN_INFO byte for byte, the mechanism
// list with the size query, FindMechanism and the generic GetMechanismInfo.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "base/linux/linux_log.h"
#include "base/p11_exception.h"
#include "channel/channel.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"
#include "core_test_util.h"

using namespace core_test;

namespace
{

constexpr unsigned long ALL_ONES = CK_UNAVAILABLE_INFORMATION;

// A token class that only fills its mechanism list.
class TestToken : public CP11Token
{
  public:
    explicit TestToken(CP11Slot *slot, std::vector<unsigned long> mechanisms = {}) : CP11Token(slot)
    {
        for (unsigned long m : mechanisms)
            m_mechanisms.PushBack(m);
    }
};

struct TokenFixture : ::testing::Test {
    NamedChannel channel;
    CP11Slot slot{&channel};
    TokenFixture()
    {
        slot.SetAttribute(SLOT_A_ID, 3UL);
        slot.SetAttribute(SLOT_A_NAME, "Reader 00 00", (unsigned long)-1);
    }
};

} // namespace

using Token = TokenFixture;

TEST_F(Token, AttributesAndFields)
{
    TestToken token(&slot);
    EXPECT_EQ(token.GetSlot(), &slot);
    unsigned long types[32];
    unsigned long count = 32;
    ASSERT_TRUE(token.GetAttributes(types, &count));
    ASSERT_EQ(count, 21u);
    std::vector<unsigned long> expected;
    for (unsigned long id = 0x20000001; id <= 0x20000016; ++id)
        if (id != 0x2000000f)
            expected.push_back(id);
    EXPECT_EQ(std::vector<unsigned long>(types, types + count), expected);
    EXPECT_STREQ(token.findAttribute(TOKEN_A_FREE_PRIVATE_MEM)->GetName(),
                 "TOKEN_A_FREE_PRIVATE_MEM");
    EXPECT_EQ(token.FindLongAttribute(TOKEN_A_MAX_RSA_KEY_SIZE), 0u);
    // setting an id the token does not hold changes nothing
    EXPECT_FALSE(token.SetAttribute(0x2000000fUL, 1UL));
}

// CK_TOKEN_INFO for a table of token states.
TEST_F(Token, InfoTable)
{
    std::string label40(40, 'L');
    std::string model16 = "0123456789ABCDEF";
    std::string model19 = model16 + "XYZ";
    std::string serial17 = model16 + "9";
    struct Row {
        char const *what;
        char const *label, *manufacturer, *model, *serial;
        unsigned long openRo, openRw;
        std::string expLabel, expManufacturer, expModel, expSerial;
        unsigned long expSessions;
    } rows[] = {
        {"unset", nullptr, nullptr, nullptr, nullptr, 0, 0, "", "", "", "", 0},
        {"texts padded", "vOK RAL", "Maker", "vOK ID card", "0042", 0, 0, "vOK RAL", "Maker",
         "vOK ID card", "0042", 0},
        {"texts cut at width", label40.c_str(), label40.c_str(), model19.c_str(), serial17.c_str(),
         0, 0, label40.substr(0, 32), label40.substr(0, 32), model16, model16, 0},
        {"model of exactly 16", nullptr, nullptr, model16.c_str(), nullptr, 0, 0, "", "", model16,
         "", 0},
        {"empty texts", "", "", "", "", 0, 0, "", "", "", "", 0},
        // ulSessionCount counts every open session, read-write ones included
        {"read-only sessions", nullptr, nullptr, nullptr, nullptr, 2, 0, "", "", "", "", 2},
        {"read-write sessions", nullptr, nullptr, nullptr, nullptr, 0, 3, "", "", "", "", 3},
        {"both", nullptr, nullptr, nullptr, nullptr, 2, 3, "", "", "", "", 5},
    };
    for (Row const &r : rows) {
        TestToken token(&slot);
        if (r.label != nullptr)
            token.SetAttribute(TOKEN_A_LABEL, r.label, (unsigned long)-1);
        if (r.manufacturer != nullptr)
            token.SetAttribute(TOKEN_A_MANUFACTURER, r.manufacturer, (unsigned long)-1);
        if (r.model != nullptr)
            token.SetAttribute(TOKEN_A_MODEL, r.model, (unsigned long)-1);
        if (r.serial != nullptr)
            token.SetAttribute(TOKEN_A_SERIAL_NUMBER, r.serial, (unsigned long)-1);
        token.SetAttribute(TOKEN_A_OPEN_SESSIONS, r.openRo);
        token.SetAttribute(TOKEN_A_OPEN_RW_SESSIONS, r.openRw);

        CK_TOKEN_INFO info;
        std::memset(&info, 0xEE, sizeof(info));
        ASSERT_EQ(codeOf([&] { token.GetInfo(&info); }), NO_ERROR) << r.what;
        EXPECT_EQ(field(info.label, 32), padded(r.expLabel, 32)) << r.what;
        EXPECT_EQ(field(info.manufacturerID, 32), padded(r.expManufacturer, 32)) << r.what;
        EXPECT_EQ(field(info.model, 16), padded(r.expModel, 16)) << r.what;
        EXPECT_EQ(field(info.serialNumber, 16), padded(r.expSerial, 16)) << r.what;
        EXPECT_EQ(field(info.utcTime, 16), std::string(16, '\0')) << r.what;
        EXPECT_EQ(info.ulSessionCount, r.expSessions) << r.what;
        EXPECT_EQ(info.ulRwSessionCount, r.openRw) << r.what;
        // numbers a token class never set
        EXPECT_EQ(info.flags, 0u);
        EXPECT_EQ(info.ulMaxSessionCount, ALL_ONES);
        EXPECT_EQ(info.ulMaxRwSessionCount, ALL_ONES);
        EXPECT_EQ(info.ulMaxPinLen, ALL_ONES);
        EXPECT_EQ(info.ulMinPinLen, 0u);
        EXPECT_EQ(info.ulTotalPublicMemory, 0u);
        EXPECT_EQ(info.ulFreePublicMemory, 0u);
        EXPECT_EQ(info.ulTotalPrivateMemory, 0u);
        EXPECT_EQ(info.ulFreePrivateMemory, 0u);
        EXPECT_EQ(info.hardwareVersion.major, 0);
        EXPECT_EQ(info.hardwareVersion.minor, 0);
        EXPECT_EQ(info.firmwareVersion.major, 0);
        EXPECT_EQ(info.firmwareVersion.minor, 0);
    }
}

TEST_F(Token, InfoNumbersFromAttributes)
{
    TestToken token(&slot);
    struct {
        unsigned long id;
        unsigned long value;
        CK_ULONG CK_TOKEN_INFO::*field;
    } numbers[] = {
        {TOKEN_A_PKCS11_FLAGS, 0x405, &CK_TOKEN_INFO::flags},
        {TOKEN_A_MAX_SESSIONS, 16, &CK_TOKEN_INFO::ulMaxSessionCount},
        {TOKEN_A_MAX_RW_SESSIONS, 15, &CK_TOKEN_INFO::ulMaxRwSessionCount},
        {TOKEN_A_MAX_PIN_LEN, 8, &CK_TOKEN_INFO::ulMaxPinLen},
        {TOKEN_A_MIN_PIN_LEN, 4, &CK_TOKEN_INFO::ulMinPinLen},
        {TOKEN_A_MAX_PUBLIC_MEM, 1000, &CK_TOKEN_INFO::ulTotalPublicMemory},
        {TOKEN_A_FREE_PUBLIC_MEM, 900, &CK_TOKEN_INFO::ulFreePublicMemory},
        {TOKEN_A_MAX_PRIVATE_MEM, 800, &CK_TOKEN_INFO::ulTotalPrivateMemory},
        {TOKEN_A_FREE_PRIVATE_MEM, 700, &CK_TOKEN_INFO::ulFreePrivateMemory},
    };
    for (auto const &n : numbers)
        token.SetAttribute(n.id, n.value);
    token.SetAttribute(TOKEN_A_HW_VERSION_MAJOR, (unsigned char)1);
    token.SetAttribute(TOKEN_A_HW_VERSION_MINOR, (unsigned char)2);
    token.SetAttribute(TOKEN_A_FW_VERSION_MAJOR, (unsigned char)3);
    token.SetAttribute(TOKEN_A_FW_VERSION_MINOR, (unsigned char)4);
    token.SetAttribute(TOKEN_A_MIN_RSA_KEY_SIZE, 1024UL); // not copied anywhere

    CK_TOKEN_INFO info;
    token.GetInfo(&info);
    for (auto const &n : numbers)
        EXPECT_EQ(info.*(n.field), n.value) << std::hex << n.id;
    EXPECT_EQ(info.hardwareVersion.major, 1);
    EXPECT_EQ(info.hardwareVersion.minor, 2);
    EXPECT_EQ(info.firmwareVersion.major, 3);
    EXPECT_EQ(info.firmwareVersion.minor, 4);
    EXPECT_EQ(codeOf([&] { token.GetInfo(nullptr); }), CKR_ARGUMENTS_BAD);
}

TEST_F(Token, MechanismListSizeQuery)
{
    TestToken token(&slot, {CKM_RSA_PKCS, CKM_SHA256_RSA_PKCS, CKM_SHA_1});
    unsigned long count = 0;
    EXPECT_EQ(codeOf([&] { token.GetMechanismList(nullptr, &count); }), NO_ERROR);
    EXPECT_EQ(count, 3u);

    unsigned long list[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    count = 2;
    EXPECT_EQ(codeOf([&] { token.GetMechanismList(list, &count); }), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(list[0], 0xAAu);

    count = 4;
    EXPECT_EQ(codeOf([&] { token.GetMechanismList(list, &count); }), NO_ERROR);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::vector<unsigned long>(list, list + 4),
              (std::vector<unsigned long>{CKM_RSA_PKCS, CKM_SHA256_RSA_PKCS, CKM_SHA_1, 0xAA}));

    EXPECT_EQ(codeOf([&] { token.GetMechanismList(list, nullptr); }), CKR_ARGUMENTS_BAD);

    TestToken none(&slot);
    count = 5;
    EXPECT_EQ(codeOf([&] { none.GetMechanismList(list, &count); }), NO_ERROR);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(list[0], CKM_RSA_PKCS);

    token.releaseMechanisms();
    EXPECT_EQ(codeOf([&] { token.GetMechanismList(nullptr, &count); }), NO_ERROR);
    EXPECT_EQ(count, 0u);
}

TEST_F(Token, FindMechanismAndGenericInfo)
{
    TestToken token(&slot, {CKM_SHA_1, CKM_RSA_PKCS, CKM_SHA_1});
    EXPECT_EQ(codeOf([&] { token.FindMechanism(CKM_SHA_1); }), NO_ERROR);
    EXPECT_EQ(codeOf([&] { token.FindMechanism(CKM_RSA_PKCS); }), NO_ERROR);
    EXPECT_EQ(codeOf([&] { token.FindMechanism(CKM_MD5); }), CKR_MECHANISM_INVALID);

    CK_MECHANISM_INFO info = {1, 2, 3};
    EXPECT_EQ(codeOf([&] { token.GetMechanismInfo(CKM_RSA_PKCS, &info); }), NO_ERROR);
    EXPECT_EQ(info.ulMinKeySize, 0u);
    EXPECT_EQ(info.ulMaxKeySize, 0u);
    EXPECT_EQ(info.flags, 0u);

    info = {1, 2, 3};
    std::string path = std::string(VOK_BINARY_DIR) + "/core_token_test.log";
    std::remove(path.c_str());
    hl_openlog(("file:" + path).c_str());
    EXPECT_EQ(codeOf([&] { token.GetMechanismInfo(CKM_MD5, &info); }), CKR_MECHANISM_INVALID);
    closelog();
    std::stringstream text(readFile(path));
    size_t error = text.str().find("] ER ");
    size_t unsupported = text.str().find("Unsupported mechanism type ( CKM_MD5 )");
    size_t thrown =
        text.str().find("CP11Token::GetMechanismInfo( 0x00000070 [ CKR_MECHANISM_INVALID ] )");
    EXPECT_NE(unsupported, std::string::npos) << text.str();
    EXPECT_LT(error, unsupported);
    EXPECT_LT(unsupported, thrown);
    EXPECT_NE(thrown, std::string::npos) << text.str();
    EXPECT_EQ(info.flags, 0u); // cleared before the refusal
    EXPECT_EQ(codeOf([&] { token.GetMechanismInfo(CKM_RSA_PKCS, nullptr); }), CKR_ARGUMENTS_BAD);
}

TEST_F(Token, GenericTokenKnowsNoCard)
{
    TestToken token(&slot);
    EXPECT_FALSE(token.IsKnown());
    EXPECT_EQ(codeOf([&] { token.Initialize(); }), NO_ERROR);
}
