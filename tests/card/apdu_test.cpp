// Command builders and the one encoder: each call against the bytes it must give.
#include "card_test_support.h"

#include "card/qvmd_commands.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{

using namespace card_test;

std::string Encoded(const CApdu &apdu)
{
    unsigned char out[300];
    unsigned long n = apdu.Encode(out, sizeof(out));
    return n == 0 ? "unencodable" : ToHex(out, n);
}

const unsigned char SEL5[5] = {0x00, 0x01, 0x02, 0x00, 0x10};
const unsigned char SEL1[1] = {0x05};

struct BuilderRow {
    const char *call;
    std::function<CApdu()> build;
    std::string bytes;
};

const BuilderRow BUILDERS[] = {
    {"SelectApplication(first)", [] { return qvapdu::SelectApplication(false); },
     "00 A4 04 00 0A A0 00 00 00 28 80 10 30 01 FF"},
    {"SelectApplication(second)", [] { return qvapdu::SelectApplication(true); },
     "00 A4 04 00 0A A0 00 00 00 28 80 10 37 01 01"},
    {"GetInfo(5, 16)", [] { return qvapdu::GetInfo(5, 0x16); }, "B0 10 05 00 16"},
    {"GetInfo(11, 00)", [] { return qvapdu::GetInfo(11, 0x00); }, "B0 10 0B 00 00"},
    {"GetCardData(5-byte selector)", [] { return qvapdu::GetCardData(SEL5, 5); },
     "B0 10 03 00 04 01 02 00 10"},
    {"GetCardData(1-byte selector)", [] { return qvapdu::GetCardData(SEL1, 1); }, "B0 10 03 05 00"},
    {"SetCardDataOneTag(replace)", [] { return qvapdu::SetCardDataOneTag(0x80, 0x00, 2, true); },
     "B0 1A 01 00 05 80 00 02 00 00"},
    {"SetCardDataOneTag(add)", [] { return qvapdu::SetCardDataOneTag(0x05, 0x03, 1, false); },
     "B0 1A 01 01 04 05 03 01 00"},
    {"case 1", [] { return CApdu(0xB0, 0xAC, 0x00, 0x00); }, "B0 AC 00 00"},
    {"case 4", [] { return CApdu(0xB0, 0x1C, 0x00, 0xFF).Append(0x42).Le(0x00); },
     "B0 1C 00 FF 01 42 00"},
    {"255 data bytes", [] { return CApdu(0xB0, 0x01, 0, 0).Reserve(255); },
     "B0 01 00 00 FF " + ToHex(Bytes(255, 0))},
    {"256 data bytes", [] { return CApdu(0xB0, 0x01, 0, 0).Reserve(200).Reserve(56); },
     "unencodable"},
};

TEST(Apdu, BuildersGiveTheirBytes)
{
    for (const BuilderRow &r : BUILDERS) {
        SCOPED_TRACE(r.call);
        EXPECT_EQ(Encoded(r.build()), r.bytes);
    }
}

TEST(Apdu, PutCommandRefusesWhatDoesNotFitAndKeepsTheBuffer)
{
    RecordingTransport transport;
    TestCard card(transport);
    ASSERT_EQ(QVCAAPI_PutCommand(card->transport, qvapdu::GetInfo(4, 0x10)), 0u);
    // 255 data bytes with an Le are 261 bytes: one more than the command buffer
    CApdu tooLong = CApdu(0xB0, 0x01, 0, 0).Reserve(255).Le(0);
    EXPECT_EQ(QVCAAPI_PutCommand(card->transport, tooLong), 0x80100011u);
    EXPECT_EQ(card->transport->commandLength, 5u);
    EXPECT_EQ(ToHex(card->transport->command, 5), "B0 10 04 00 10");
    EXPECT_EQ(QVCAAPI_RunCommand(card->transport, tooLong), 0x80100011u);
    EXPECT_TRUE(transport.commands.empty());
}

} // namespace
