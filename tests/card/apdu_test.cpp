// Command builders and the one encoder: each call against the bytes it must give.
#include "card_test_support.h"

#include "card/qvmd_commands.h"
#include "card/qvmd_container_commands.h"
#include "card/qvmd_pin_commands.h"
#include "card/qvmd_rsa_commands.h"
#include "card/qvmd_sm_commands.h"

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
const unsigned char EIGHT[8] = {1, 2, 3, 4, 5, 6, 7, 8};
const unsigned char ACCESS[2] = {0x02, 0x06};
const unsigned char EXPONENT[3] = {0x01, 0x00, 0x01};

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
    // card-data writes and clean-ups
    {"SetCardData", [] { return qvapdu::SetCardData(0x05, EIGHT, 2); }, "B0 1A 05 00 02 01 02"},
    {"FreeMemory(older)", [] { return qvapdu::FreeMemory(true); }, "B0 AC 00 00"},
    {"FreeMemory", [] { return qvapdu::FreeMemory(false); }, "B0 1C 00 FF 00"},
    {"FreeContainers", [] { return qvapdu::FreeContainers(); }, "B0 1C 01 FF 00"},
    // secure messaging
    {"SmChallenge", [] { return qvapdu::SmChallenge(0x01, 0x02, EIGHT); },
     "B0 50 01 02 08 01 02 03 04 05 06 07 08"},
    {"SmInitializeUpdate", [] { return qvapdu::SmInitializeUpdate(); }, "B0 50 00 00 08"},
    {"SmResponse", [] { return qvapdu::SmResponse(0x11, 0x00, EIGHT, 8); },
     "B0 52 11 00 08 01 02 03 04 05 06 07 08"},
    {"SmClose", [] { return qvapdu::SmClose(false); }, "B0 54 00 00"},
    {"SmClose(imported key)", [] { return qvapdu::SmClose(true); }, "B0 54 01 00"},
    // RSA
    {"RsaSingle(sign, first and last)",
     [] { return qvapdu::RsaSingle(0x78, 2, qvapdu::RSA_FIRST | qvapdu::RSA_LAST, 1, EIGHT, 3); },
     "B0 78 02 51 03 01 02 03"},
    {"RsaPiece(decrypt, first of the first pair)",
     [] { return qvapdu::RsaPiece(0x7A, 0, qvapdu::RSA_FIRST, 0, false, EIGHT, 2); },
     "B0 7A 00 90 04 00 00 01 02"},
    {"RsaPiece(sign, second, last)",
     [] { return qvapdu::RsaPiece(0x78, 0, qvapdu::RSA_LAST, 0, true, EIGHT, 2); },
     "B0 78 00 C0 04 80 01 01 02"},
    // PINs: the PIN's room is FF bytes
    {"VerifyPin", [] { return qvapdu::VerifyPin(0x21, 3); }, "B0 20 21 00 03 FF FF FF"},
    {"LogOut(older)", [] { return qvapdu::LogOut(true, 6); }, "B0 24 06 00"},
    {"LogOut", [] { return qvapdu::LogOut(false, 6); }, "B0 26 06 00"},
    {"ChangePin", [] { return qvapdu::ChangePin(0x24, 1, 0, 0x82, 3, 2, 1); },
     "B0 24 01 00 05 82 03 FF FF FF"},
    {"GetChallenge", [] { return qvapdu::GetChallenge(); }, "B0 22 00 00 08"},
    {"CancelChallenge", [] { return qvapdu::CancelChallenge(2); }, "B0 22 02 01 00"},
    {"UpdatePinProperties", [] { return qvapdu::UpdatePinProperties(1, 0x07, EIGHT); },
     "B0 2C 01 07 05 01 02 03 04 05"},
    {"AdminComputeResponse", [] { return qvapdu::AdminComputeResponse(4, EIGHT, nullptr); },
     "B0 2A 04 00 08 01 02 03 04 05 06 07 08"},
    {"AdminActivatePin(second)", [] { return qvapdu::AdminActivatePin(1, true); },
     "B0 2A 01 02 00"},
    // key containers: key parts' room is zero bytes
    {"CreateContainer(with exponent)",
     [] { return qvapdu::CreateContainer(1, 0, 7, 2048, 0, ACCESS, EXPONENT, 3); },
     "B0 70 01 00 09 07 08 00 00 02 06 01 00 01"},
    {"CreateContainer(without)",
     [] { return qvapdu::CreateContainer(1, 1, 7, 1024, 1, ACCESS, nullptr, 0); },
     "B0 70 01 01 06 07 04 00 01 02 06"},
    {"DeleteContainer", [] { return qvapdu::DeleteContainer(3); }, "B0 72 03 00"},
    {"KeyInformation(modulus)", [] { return qvapdu::KeyInformation(3, 0, 1); }, "B0 74 03 01 00"},
    {"KeyInformation(details)", [] { return qvapdu::KeyInformation(3, 2, 1); }, "B0 74 03 21"},
    {"ChangeContainerAccess", [] { return qvapdu::ChangeContainerAccess(3, 1, 2, 0); },
     "B0 7E 03 01 02 02 00"},
    {"ImportKeyPart", [] { return qvapdu::ImportKeyPart(6, 4); }, "B0 76 06 00 04 00 00 00 00"},
    {"ImportModulusPiece(second)", [] { return qvapdu::ImportModulusPiece(true, 1); },
     "B0 76 07 00 03 80 01 00"},
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
