// The APDU transport: continuation and resend rules, hostile reply lengths, the
// byte-order helpers, and the token's transmit callback over a reader channel.
#include "card_test_support.h"

#include "card/apdu.h"
#include "card/token_transmit.h"
#include "channel/channel.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"

#include <gtest/gtest.h>

namespace
{

using namespace card_test;

struct ExchangeCase {
    const char *name;
    unsigned long protocol;
    std::string command;
    std::vector<std::string> replies; // in order
    uint32_t result;
    std::vector<std::string> sent; // every command the card saw
    std::string reply;             // response buffer after a success, status included
    bool claimsBeyondRoom = false; // the callback claims a reply longer than its room
};

Bytes Repeat(unsigned char b, size_t n)
{
    return Bytes(n, b);
}

std::string HexOf(const Bytes &b)
{
    return ToHex(b);
}

const std::string DATA_100 = HexOf(Repeat(0xAA, 100));
const std::string DATA_64 = HexOf(Repeat(0xBB, 64));
const std::string DATA_512 = HexOf(Repeat(0xCC, 512));

const ExchangeCase EXCHANGES[] = {
    {"plain reply is kept",
     1,
     "B0 10 04 00 10",
     {"01 02 90 00"},
     0,
     {"B0 10 04 00 10"},
     "01 02 90 00"},
    {"6C resends the header with the card's length and keeps the second reply",
     1,
     "B0 10 09 00 01",
     {"6C 08", "01 02 03 04 05 06 07 08 90 00"},
     0,
     {"B0 10 09 00 01", "B0 10 09 00 08"},
     "01 02 03 04 05 06 07 08 90 00"},
    {"6C on a command with data sends only its header again",
     1,
     "B0 10 03 00 04 00 00 00 00",
     {"6C 05", "90 00"},
     0,
     {"B0 10 03 00 04 00 00 00 00", "B0 10 03 00 05"},
     "90 00"},
    {"a reply to 6C is not followed for 61",
     1,
     "B0 10 05 00 16",
     {"6C 12", "61 05"},
     0,
     {"B0 10 05 00 16", "B0 10 05 00 12"},
     "61 05"},
    {"61 under T=0 fetches the rest behind the data kept",
     1,
     "B0 10 03 00 00",
     {DATA_100 + " 61 40", DATA_64 + " 90 00"},
     0,
     {"B0 10 03 00 00", "00 C0 00 00 40"},
     DATA_100 + " " + DATA_64 + " 90 00"},
    {"only one GET RESPONSE: a second 61 is the caller's",
     1,
     "B0 10 03 00 00",
     {"01 61 08", "02 61 08", "03 90 00"},
     0,
     {"B0 10 03 00 00", "00 C0 00 00 08"},
     "01 02 61 08"},
    {"a GET RESPONSE answered 61 is returned as it is",
     1,
     "00 C0 00 00 10",
     {"61 20"},
     0,
     {"00 C0 00 00 10"},
     "61 20"},
    {"61 under T=1 is the caller's",
     2,
     "B0 10 03 00 00",
     {"01 61 08"},
     0,
     {"B0 10 03 00 00"},
     "01 61 08"},
    {"512 data bytes and 90 00 fill the buffer",
     1,
     "B0 10 03 00 00",
     {DATA_512 + " 90 00"},
     0,
     {"B0 10 03 00 00"},
     DATA_512 + " 90 00"},
    {"512 data bytes and 61 02 leave room for the status only",
     1,
     "B0 10 03 00 00",
     {DATA_512 + " 61 02", "90 00"},
     0,
     {"B0 10 03 00 00", "00 C0 00 00 02"},
     DATA_512 + " 90 00"},
    {"a reply longer than the buffer is the callback's error",
     1,
     "B0 10 03 00 00",
     {DATA_512 + " 00 90 00"},
     0x80100008,
     {"B0 10 03 00 00"},
     ""},
    {"a GET RESPONSE reply longer than the room left is the callback's error",
     1,
     "B0 10 03 00 00",
     {DATA_512 + " 61 02", "01 90 00"},
     0x80100008,
     {"B0 10 03 00 00", "00 C0 00 00 02"},
     ""},
    {"a reply the callback claims longer than the buffer is refused",
     1,
     "B0 10 03 00 00",
     {DATA_512 + " 00 90 00"},
     0x8010001F,
     {"B0 10 03 00 00"},
     "",
     true},
    {"a resent reply the callback claims longer than the buffer is refused",
     1,
     "B0 10 09 00 01",
     {"6C 08", DATA_512 + " 00 90 00"},
     0x8010001F,
     {"B0 10 09 00 01", "B0 10 09 00 08"},
     "",
     true},
    {"a GET RESPONSE reply the callback claims longer than the room left is refused",
     1,
     "B0 10 03 00 00",
     {DATA_512 + " 61 02", "01 90 00"},
     0x8010001F,
     {"B0 10 03 00 00", "00 C0 00 00 02"},
     "",
     true},
    {"an empty reply has no status word",
     1,
     "B0 10 04 00 10",
     {""},
     0x8010001F,
     {"B0 10 04 00 10"},
     ""},
    {"a 1-byte reply has no status word",
     1,
     "B0 10 04 00 10",
     {"90"},
     0x8010001F,
     {"B0 10 04 00 10"},
     ""},
    {"a 1-byte reply to the resend has no status word",
     1,
     "B0 10 09 00 01",
     {"6C 08", "90"},
     0x8010001F,
     {"B0 10 09 00 01", "B0 10 09 00 08"},
     ""},
    {"an empty GET RESPONSE reply does not make data bytes the status word",
     1,
     "B0 10 03 00 00",
     {"90 00 61 02", ""},
     0x8010001F,
     {"B0 10 03 00 00", "00 C0 00 00 02"},
     ""},
};

class Exchange : public ::testing::TestWithParam<ExchangeCase>
{
};

TEST_P(Exchange, FollowsTheContinuationRules)
{
    const ExchangeCase &c = GetParam();
    RecordingTransport transport;
    for (const std::string &r : c.replies)
        transport.Queue(r);
    transport.claimsBeyondRoom = c.claimsBeyondRoom;
    TestCard card(transport);
    card->transport->protocol = c.protocol;
    card->transport->sw1 = 0x12;
    card->transport->sw2 = 0x34;
    Bytes command = Hex(c.command);
    memcpy(card->transport->command, command.data(), command.size());
    card->transport->commandLength = command.size();

    EXPECT_EQ(QVCAAPI_RunAPDU(card->transport), c.result);

    std::vector<std::string> sent;
    for (const Bytes &s : transport.commands)
        sent.push_back(ToHex(s));
    EXPECT_EQ(sent, c.sent);
    if (c.result == 0) {
        EXPECT_EQ(ToHex(card.Reply()), ToHex(Hex(c.reply)));
        Bytes reply = Hex(c.reply);
        EXPECT_EQ(card->transport->sw1, reply[reply.size() - 2]);
        EXPECT_EQ(card->transport->sw2, reply[reply.size() - 1]);
    } else {
        // the status word of the last good exchange stays
        EXPECT_EQ(card->transport->sw1, 0x12);
        EXPECT_EQ(card->transport->sw2, 0x34);
    }
}

INSTANTIATE_TEST_SUITE_P(Transport, Exchange, ::testing::ValuesIn(EXCHANGES),
                         [](const ::testing::TestParamInfo<ExchangeCase> &info) {
                             std::string name;
                             for (const char *p = info.param.name; *p; p++)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST(Transport, GetResponseIsOfferedOnlyTheRoomBehindTheDataKept)
{
    RecordingTransport transport;
    transport.Queue(DATA_100 + " 61 40");
    transport.Queue(DATA_64 + " 90 00");
    TestCard card(transport);
    ASSERT_EQ(QVCAAPI_RunCommand(card->transport, CApdu(0xB0, 0x10, 0x03, 0x00).Le(0)), 0u);
    EXPECT_EQ(transport.capacities, (std::vector<unsigned long>{514, 414}));
    EXPECT_EQ(card->transport->receivedLength, 166u);
}

TEST(Transport, ACallbackFailureIsPassedUpUnchanged)
{
    RecordingTransport transport;
    transport.failAt = 0;
    transport.failCode = 0x80100069;
    TestCard card(transport);
    EXPECT_EQ(QVCAAPI_RunCommand(card->transport, CApdu(0xB0, 0x10, 0x04, 0x00).Le(0x10)),
              0x80100069u);
}

TEST(Transport, WithoutCallbackAnUnknownProtocolSendsNothing)
{
    _qv_caapi_card_struct t;
    QVCAAPI_CardInitStruct_NoCommunication(&t, 0, nullptr, nullptr, nullptr);
    t.commandLength = 4;
    EXPECT_EQ(t.protocol, 0u);
    EXPECT_EQ(QVCAAPI_RunAPDU(&t), 0x80100011u);
}

TEST(Transport, InitialisationSetsBuffersHooksAndProtocol)
{
    _qv_caapi_card_struct t;
    memset(&t, 0xEE, sizeof(t));
    ASSERT_EQ(
        QVCAAPI_CardInitStruct(&t, 42, nullptr, nullptr, nullptr, RecordingTransport::Transmit),
        0u);
    EXPECT_EQ(t.handle, 42u);
    EXPECT_EQ(t.command, t.commandBuffer);
    EXPECT_EQ(t.response, t.responseBuffer);
    EXPECT_EQ(t.commandCapacity, 260u);
    EXPECT_EQ(t.responseCapacity, 514u);
    EXPECT_EQ(t.protocol, 1u); // a callback is always T=0
    EXPECT_EQ(t.reserved, 0u);
    EXPECT_EQ(t.alloc, QVCAAPI_Default_Alloc);
    EXPECT_EQ(t.free, QVCAAPI_Default_Free);
}

TEST(Transport, VerifySWChecksStatusAndOptionalLength)
{
    struct Row {
        std::string reply;
        unsigned long expected;
        uint32_t result;
    } rows[] = {
        {"90 00", 0, 0},    {"01 02 03 90 00", 0, 0},    {"90 00", 3, 0x8010001F},
        {"01 90 00", 3, 0}, {"01 61 00", 3, 0x8010001F}, {"90 01", 0, 0x8010001F},
    };
    RecordingTransport transport;
    TestCard card(transport);
    for (const Row &r : rows) {
        SCOPED_TRACE(r.reply + " expected " + std::to_string(r.expected));
        Bytes reply = Hex(r.reply);
        QVMD_SetResponse(card.get(), reply.data(), reply.size() - 2, reply[reply.size() - 2],
                         reply.back());
        EXPECT_EQ(QVCAAPI_VerifySW(card->transport, r.expected), r.result);
    }
}

TEST(Transport, FileLengthsUseTheCardsThreeByteForm)
{
    struct Row {
        unsigned long length;
        std::string bytes;
    } rows[] = {{0, "00 00 00"},     {255, "00 FF 00"},   {32766, "7F FE 00"},
                {32767, "00 00 01"}, {70000, "11 72 02"}, {4161409, "00 00 7F"}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.length);
        unsigned char b[3] = {};
        ASSERT_EQ(FillBufferWithFileLengthSize(b, r.length), 0u);
        EXPECT_EQ(ToHex(b, 3), r.bytes);
        EXPECT_EQ(GetFileLengthFromBuffer(b), r.length);
    }
    unsigned char untouched[3] = {1, 2, 3};
    EXPECT_EQ(FillBufferWithFileLengthSize(untouched, 4161410), 0x80100011u);
    EXPECT_EQ(ToHex(untouched, 3), "01 02 03");
    // the reader takes any bytes, 32767 per unit of b2
    const unsigned char big[3] = {0xFF, 0xFF, 0xFF};
    EXPECT_EQ(GetFileLengthFromBuffer(big), 65535u + 255u * 32767u);
}

TEST(Transport, BigEndianNumbersAndByteReversal)
{
    unsigned char b[4];
    QVCAAPI_FillBufferFromDWORD(b, 0x01020304, 4);
    EXPECT_EQ(ToHex(b, 4), "01 02 03 04");
    EXPECT_EQ(QVCAAPI_GetDWORDFromBuffer(b, 4), 0x01020304u);
    EXPECT_EQ(QVCAAPI_GetDWORDFromBuffer(b + 2, 2), 0x0304u);
    QVCAAPI_FillBufferFromDWORD(b, 0xAABB, 2); // the low bytes only
    EXPECT_EQ(ToHex(b, 4), "AA BB 03 04");
    QVCAAPI_EndianShift(b, 3);
    EXPECT_EQ(ToHex(b, 4), "03 BB AA 04");
    QVCAAPI_EndianShift(b, 0);
    QVCAAPI_EndianShift(nullptr, 4);
    EXPECT_EQ(ToHex(b, 4), "03 BB AA 04");
}

// A reader channel that answers every command with one scripted reply.
class ScriptedChannel : public CChannel
{
  public:
    bool Transmit(CCardConnection *connection, CBlob &command, CBlob &response) override
    {
        seenConnection = connection;
        sent.push_back(Bytes(command.GetData(), command.GetData() + command.GetSize()));
        m_lastError = error;
        if (error != 0)
            return false;
        response.Set(reply.data(), static_cast<unsigned>(reply.size()));
        return true;
    }

    Bytes reply;
    unsigned long error = 0;
    std::vector<Bytes> sent;
    CCardConnection *seenConnection = nullptr;
};

class TokenTransmitTest : public ::testing::Test
{
  protected:
    uint32_t Send(CTransmitParam *param, unsigned long capacity)
    {
        const unsigned char command[] = {0xB0, 0x10, 0x04, 0x00, 0x10};
        length = capacity;
        return TokenTransmit(param, command, sizeof(command), buffer, &length);
    }

    ScriptedChannel channel;
    CP11Slot slot{&channel};
    CP11Token token{&slot};
    CCardConnection *connection = reinterpret_cast<CCardConnection *>(0x1234);
    CTransmitParam param{&token, connection};
    unsigned char buffer[16] = {};
    unsigned long length = 0;
};

TEST_F(TokenTransmitTest, CopiesTheReplyAndItsLength)
{
    channel.reply = Hex("01 02 90 00");
    EXPECT_EQ(Send(&param, sizeof(buffer)), 0u);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(ToHex(buffer, 4), "01 02 90 00");
    ASSERT_EQ(channel.sent.size(), 1u);
    EXPECT_EQ(ToHex(channel.sent[0]), "B0 10 04 00 10");
    EXPECT_EQ(channel.seenConnection, connection);
}

TEST_F(TokenTransmitTest, AChannelFailureGivesTheChannelsError)
{
    channel.error = 0x80100069;
    EXPECT_EQ(Send(&param, sizeof(buffer)), 0x80100069u);
}

TEST_F(TokenTransmitTest, AReplyBeyondTheCapacityIsRefusedWithoutCopying)
{
    channel.reply = Hex("01 02 03 04 05 90 00");
    EXPECT_EQ(Send(&param, 6), 0x80100008u);
    EXPECT_EQ(ToHex(buffer, 7), "00 00 00 00 00 00 00");
    EXPECT_EQ(length, 6u);
}

TEST_F(TokenTransmitTest, WithoutAUsableChannelOrBufferNothingIsSent)
{
    CP11Slot bareSlot(nullptr);
    CP11Token bareToken(&bareSlot);
    CP11Token slotless(nullptr);
    CTransmitParam noToken;
    CTransmitParam noChannel(&bareToken, connection);
    CTransmitParam noSlot(&slotless, connection);
    EXPECT_EQ(Send(nullptr, sizeof(buffer)), 0xFFFFFFFFu);
    EXPECT_EQ(Send(&noToken, sizeof(buffer)), 0xFFFFFFFFu);
    EXPECT_EQ(Send(&noSlot, sizeof(buffer)), 0xFFFFFFFFu);
    EXPECT_EQ(Send(&noChannel, sizeof(buffer)), 0xFFFFFFFFu);
    EXPECT_EQ(Send(&param, 0), 0xFFFFFFFFu);
    EXPECT_TRUE(channel.sent.empty());
}

TEST_F(TokenTransmitTest, CarriesTheTransportsExchanges)
{
    channel.reply = Hex("6C 08");
    _qv_md_card_struct card;
    ASSERT_EQ(QVMD_CardInitStruct(&card, reinterpret_cast<unsigned long>(&param), nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, TokenTransmit),
              0u);
    ASSERT_EQ(QVCAAPI_RunCommand(card.transport, CApdu(0xB0, 0x10, 0x09, 0x00).Le(1)), 0u);
    ASSERT_EQ(channel.sent.size(), 2u);
    EXPECT_EQ(ToHex(channel.sent[1]), "B0 10 09 00 08");
    QVMD_CardReleaseStruct(&card);
}

} // namespace
