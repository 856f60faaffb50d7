// The card's file commands against a scripted card: the bytes of every command, the
// listing's continuation and its cap, reads with hostile headers, chunk counts and
// CRCs, the write's chunks and confirmation, the twin rule of deletion and the
// change counters.
#include "card_file_support.h"
#include "card_test_support.h"

#include "card/qvmd_cache.h"
#include "card/qvmd_compress.h"
#include "card/qvmd_file_commands.h"
#include "card/qvmd_file_io.h"
#include "card/qvmd_files.h"

#include "lzh.h" // the simulator's codec, to make compressed files

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace card_test;

namespace
{

std::string Encoded(const CApdu &apdu)
{
    unsigned char out[300];
    unsigned long n = apdu.Encode(out, sizeof out);
    return ToHex(out, n);
}

// The largest value of the 3-byte form, FF FF FF, beyond any length the host writes.
const unsigned long FORM_MAX = 255 * 256 + 255 + 255 * 32767;

Bytes Len3(unsigned long length)
{
    Bytes b(3, 0xFF);
    if (length != FORM_MAX)
        FillBufferWithFileLengthSize(b.data(), length);
    return b;
}

// The reply to the read command: stored length, 3 bytes, plain length, first data.
Bytes ReadHeader(unsigned long stored, unsigned long plain, const Bytes &first,
                 const std::string &sw = "90 00")
{
    return Concat(Concat(Concat(Concat(Len3(stored), Len3(0)), Len3(plain)), first), Hex(sw));
}

Bytes Stored(const Bytes &plain)
{
    Bytes s = plain;
    s.push_back(static_cast<unsigned char>(MDQVD_CRCCheck(plain.size(), plain.data())));
    return s;
}

Bytes Slice(const Bytes &b, size_t from, size_t n)
{
    return Bytes(b.begin() + from, b.begin() + from + n);
}

// A card that serves one stored file: the read command gets the header and the first
// `firstData` bytes, every GET RESPONSE that follows the bytes asked (or `chunkCut`
// fewer).
struct FileCard {
    Bytes stored;
    unsigned long storedLength, plainLength;
    size_t firstData = 200;
    size_t chunkCut = 0;
    size_t position = 0;

    Bytes operator()(const Bytes &c)
    {
        if (c[1] == 0xA4) {
            position = std::min(firstData, stored.size());
            return ReadHeader(storedLength, plainLength, Slice(stored, 0, position));
        }
        if (c[1] == 0xC0) {
            size_t asked = c[4] == 0 ? 256 : c[4];
            size_t n = std::min(asked - std::min(asked, chunkCut), stored.size() - position);
            Bytes data = Slice(stored, position, n);
            position += n;
            return Concat(data, Hex(position < stored.size() ? "61 00" : "90 00"));
        }
        return Hex("6D 00");
    }
};

struct ReadResult {
    uint32_t rv;
    Bytes data;
    size_t commands;
};

ReadResult ReadWith(RecordingTransport::Responder responder, const Bytes &dir, const Bytes &name)
{
    RecordingTransport transport(std::move(responder));
    TestCard card(transport);
    unsigned char *data = reinterpret_cast<unsigned char *>(&card); // must be reset
    unsigned long length = 99;
    uint32_t rv = QVMD_ReadFile(card.get(), dir.data(), name.data(), &data, &length);
    ReadResult r{rv, data ? Bytes(data, data + length) : Bytes{}, transport.commands.size()};
    if (rv != QV_OK) {
        EXPECT_TRUE(data == nullptr && length == 0) << "a failed read leaves nothing behind";
    }
    QVMD_Free(card.get(), data);
    return r;
}

} // namespace

TEST(FileCommands, EachBuilderMakesItsCommand)
{
    const Bytes ksc00 = Name("ksc00"), data01 = Name("data01");
    struct Row {
        const char *name;
        CApdu apdu;
        const char *hex;
    } const rows[] = {
        {"list with flag", qvapdu::ListFiles(MSCP.data(), true),
         "B0 AA 00 00 09 6D 73 63 70 00 00 00 00 01"},
        {"file information", qvapdu::FileInfo(ROOT.data(), CARDCF.data()),
         "B0 AA 01 00 10 00 00 00 00 00 00 00 00 63 61 72 64 63 66 00 00"},
        {"read", qvapdu::ReadFile(MSCP.data(), ksc00.data()),
         "B0 A4 00 00 10 6D 73 63 70 00 00 00 00 6B 73 63 30 30 00 00 00"},
        {"get response of 256", qvapdu::GetResponse(256), "00 C0 00 00 00"},
        {"get response of 17", qvapdu::GetResponse(17), "00 C0 00 00 11"},
        {"new write", qvapdu::WriteFileInit(false, QV_P11.data(), data01.data(), 70000, 32767),
         "B0 A0 01 04 17 71 76 5F 70 31 31 00 00 64 61 74 61 30 31 00 00 00 11 72 02 00 00 01"},
        {"write in place", qvapdu::WriteFileInit(true, ROOT.data(), CARDCF.data(), 7, 6),
         "B0 A0 01 08 17 00 00 00 00 00 00 00 00 63 61 72 64 63 66 00 00 00 00 07 00 00 06 00"},
        {"last chunk",
         qvapdu::WriteFileChunk(true, reinterpret_cast<const unsigned char *>("ab"), 2),
         "B0 A2 01 00 02 61 62"},
        {"create", qvapdu::CreateFile(QV_P11.data(), data01.data(), 0x03, 0, 300),
         "B0 A0 01 01 17 71 76 5F 70 31 31 00 00 64 61 74 61 30 31 00 00 03 00 00 00 01 2C 00"},
        {"delete", qvapdu::DeleteFile(MSCP.data(), ksc00.data()),
         "B0 A8 01 02 10 6D 73 63 70 00 00 00 00 6B 73 63 30 30 00 00 00"},
        {"create directory", qvapdu::CreateDir(QV_P11.data(), 0x3F),
         "B0 A0 00 01 09 71 76 5F 70 31 31 00 00 3F"},
        {"delete directory", qvapdu::DeleteDir(QV_P11.data()),
         "B0 A8 00 02 08 71 76 5F 70 31 31 00 00"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.hex, Encoded(row.apdu)) << row.name;
}

TEST(FileNames, CertificateAndPkcs11Names)
{
    struct Row {
        const char *name;
        uint32_t (*fill)(unsigned char *);
        uint32_t rv;
        const char *expected;
    } const rows[] = {
        {"signature", [](unsigned char *n) { return QVMD_FillCertFileName(nullptr, n, 1, 2); }, 0,
         "ksc01"},
        {"exchange", [](unsigned char *n) { return QVMD_FillCertFileName(nullptr, n, 12, 1); }, 0,
         "kxc12"},
        {"key spec 3", [](unsigned char *n) { return QVMD_FillCertFileName(nullptr, n, 1, 3); },
         QV_E_INVALID_VALUE, ""},
        {"data", [](unsigned char *n) { return QVMD_PKCS11_FillDataFileName(nullptr, n, 0x103); },
         0, "data03"},
        {"container",
         [](unsigned char *n) { return QVMD_PKCS11_FillContainerFileName(nullptr, n, 7); }, 0,
         "cont07"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Bytes name(8, 0);
        EXPECT_EQ(row.rv, row.fill(name.data()));
        if (row.rv == QV_OK) {
            EXPECT_EQ(Name(row.expected), name);
        }
    }
}

TEST(FileList, RepliesAreFollowedUntilTheLastAndCapped)
{
    Bytes names96, names16;
    for (int i = 0; i < 12; i++)
        names96 = Concat(names96, Name("f" + std::to_string(i)));
    names16 = Concat(Name("last"), Name("12345678")); // an 8-character name has no zero
    struct Row {
        const char *name;
        std::vector<Bytes> script;
        uint32_t rv;
        size_t names, commands;
    } const rows[] = {
        {"61 20 then 90 00",
         {Concat(names96, Hex("61 20")), Concat(names16, Hex("90 00"))},
         0,
         14,
         2},
        {"twice 61 xx",
         {Concat(names96, Hex("61 10")), Concat(names16, Hex("61 10")),
          Concat(names16, Hex("90 00"))},
         0,
         16,
         3},
        {"12 data bytes",
         {Concat(Hex("01 02 03 04 05 06 07 08 09 0A 0B 0C"), Hex("90 00"))},
         QV_E_UNEXPECTED,
         0,
         1},
        {"empty directory", {Hex("90 00")}, QV_E_FILE_NOT_FOUND, 0, 1},
        {"directory not found", {Hex("6A 82")}, QV_E_DIR_NOT_FOUND, 0, 1},
        {"61 xx for ever", std::vector<Bytes>(40, Concat(Name("x"), Hex("61 08"))), QV_E_UNEXPECTED,
         0, 1 + QVMD_LIST_MAX_EXCHANGES},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        RecordingTransport transport;
        for (const auto &reply : row.script)
            transport.Queue(reply);
        TestCard card(transport);
        unsigned char *names = nullptr;
        unsigned long length = 0;
        EXPECT_EQ(row.rv, QVMD_EnumFiles(card.get(), MSCP.data(), &names, &length, 0));
        EXPECT_EQ(row.commands, transport.commands.size());
        size_t count = 0;
        for (unsigned long at = 0; names != nullptr && names[at] != 0;
             at += strlen((char *)names + at) + 1)
            count++;
        EXPECT_EQ(row.names, count);
        if (row.rv == QV_OK) {
            EXPECT_EQ(0, names[length - 1]);
            EXPECT_EQ(0, names[length - 2]);
            EXPECT_STREQ("12345678", reinterpret_cast<char *>(names) + length - 10);
        }
        QVMD_Free(card.get(), names);
    }
    RecordingTransport transport;
    transport.Queue("90 00");
    TestCard card(transport);
    Bytes placeholder = Hex("01");
    unsigned char *names = placeholder.data();
    unsigned long length = 5;
    EXPECT_EQ(QV_OK, QVMD_EnumFilesEx(card.get(), MSCP.data(), &names, &length, 1));
    EXPECT_EQ(nullptr, names);
    EXPECT_EQ("B0 AA 00 00 09 6D 73 63 70 00 00 00 00 01", ToHex(transport.commands[0]));
}

TEST(FileRead, HostileHeadersChunksAndCrcsAreRefused)
{
    const Bytes abc = {'a', 'b', 'c'};
    Bytes big = RandomBytes(5000, 1);
    Bytes bigStored = Stored(big);
    Bytes text(3000, 'q');
    Bytes packed = cardsim::PackCardFile(text);
    Bytes flipped = Stored(abc);
    flipped.back() ^= 0xFF;
    struct Row {
        const char *name;
        FileCard card;
        bool compressed;
        uint32_t rv;
        Bytes expected;
        size_t commands;
    } rows[] = {
        {"plain abc", {Stored(abc), 4, 3}, false, 0, abc, 1},
        {"stored length 0", {{}, 0, 3}, false, 0, {}, 1},
        {"plain length 0", {Stored(abc), 4, 0}, false, 0, {}, 1},
        {"flipped CRC", {flipped, 4, 3}, false, QV_E_UNEXPECTED, {}, 1},
        {"only a CRC byte", {Hex("C7"), 1, 5}, false, QV_E_UNEXPECTED, {}, 1},
        {"5000 bytes in 256-byte chunks", {bigStored, 5001, 5000}, false, 0, big, 1 + 19},
        {"a short chunk", {bigStored, 5001, 5000, 200, 1}, false, QV_E_UNEXPECTED, {}, 2},
        {"first data beyond the stored length", {Stored(abc), 2, 3}, false, QV_E_UNEXPECTED, {}, 1},
        // the 3-byte form reaches 8.4 MB: more than the reader could fetch is refused
        // before anything is allocated or asked for
        {"stored length FF FF FF", {bigStored, FORM_MAX, 5000}, false, QV_E_UNEXPECTED, {}, 1},
        {"more than 511 chunks",
         {bigStored, 200 + 511 * 256 + 1, 5000},
         false,
         QV_E_UNEXPECTED,
         {},
         1},
        {"compressed", {packed, packed.size(), 3000}, true, 0, text, 1},
        {"compressed, plain length one more",
         {packed, packed.size(), 3001},
         true,
         QV_E_UNEXPECTED,
         {},
         1},
        {"compressed, plain length 8.4 MB",
         {packed, packed.size(), FORM_MAX},
         true,
         QV_E_UNEXPECTED,
         {},
         1},
    };
    Bytes badCrc = packed;
    badCrc.back() ^= 1;
    for (auto &row : rows) {
        SCOPED_TRACE(row.name);
        ReadResult r = ReadWith(std::ref(row.card), row.compressed ? QV_P11 : MSCP,
                                row.compressed ? Name("cont00") : CMAPFILE);
        EXPECT_EQ(row.rv, r.rv);
        EXPECT_EQ(row.expected, r.data);
        EXPECT_EQ(row.commands, r.commands);
    }
    FileCard corrupt{badCrc, badCrc.size(), 3000};
    EXPECT_EQ(QV_E_UNEXPECTED, ReadWith(std::ref(corrupt), QV_P11, Name("cont00")).rv);
    // the card's refusal of the read command keeps its meaning
    EXPECT_EQ(QV_E_FILE_NOT_FOUND,
              ReadWith([](const Bytes &) { return Hex("6A 83"); }, MSCP, CMAPFILE).rv);
}

namespace
{

// A card that takes writes: file information answers with fileSize, the init and the
// chunks with 90 00, the last chunk with lastReply.
struct WriteCard {
    unsigned long fileSize = 0;
    std::string lastReply = "01 90 00";
    std::string initReply = "90 00";
    Bytes operator()(const Bytes &c)
    {
        if (c[1] == 0xAA)
            return fileSize == 0
                       ? Hex("6A 83")
                       : Concat(Concat(Concat(Len3(4), Len3(fileSize)), Len3(3)), Hex("00 90 00"));
        if (c[1] == 0xA0)
            return Hex(initReply);
        if (c[1] == 0xA2)
            return Hex(c[2] == 0x01 ? lastReply : "90 00");
        return Hex("6D 00");
    }
};

struct WriteResult {
    uint32_t rv;
    std::vector<Bytes> commands;
};

WriteResult WriteWith(WriteCard card, const Bytes &dir, const Bytes &name, const Bytes &data)
{
    RecordingTransport transport(std::ref(card));
    TestCard context(transport);
    uint32_t rv = QVMD_WriteFile(context.get(), dir.data(), name.data(), data.data(), data.size());
    return {rv, transport.commands};
}

std::string Head(const Bytes &command, size_t n = 5)
{
    return ToHex(command.data(), std::min(n, command.size()));
}

} // namespace

TEST(FileWrite, TheRootFileIsWrittenInPlaceWhenItFits)
{
    const Bytes counters = Hex("00 01 02 03 04 05");
    struct Row {
        const char *name;
        unsigned long fileSize;
        const char *init;
    } const rows[] = {
        {"room for 7 bytes", 7, "B0 A0 01 08 17"},
        {"room for 6 bytes", 6, "B0 A0 01 04 17"},
        {"no such file", 0, "B0 A0 01 04 17"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        WriteCard card;
        card.fileSize = row.fileSize;
        WriteResult r = WriteWith(card, ROOT, CARDCF, counters);
        ASSERT_EQ(QV_OK, r.rv);
        ASSERT_EQ(3u, r.commands.size());
        EXPECT_EQ(row.init, Head(r.commands[1]));
        EXPECT_EQ(ToHex(Concat(Hex("B0 A2 01 00 07"), Stored(counters))), ToHex(r.commands[2]));
    }
    // any other file is a new write, with no information asked
    WriteResult r = WriteWith(WriteCard{}, MSCP, CMAPFILE, counters);
    ASSERT_EQ(2u, r.commands.size());
    EXPECT_EQ("B0 A0 01 04 17", Head(r.commands[0]));
}

TEST(FileWrite, ChunksCarryThePayloadThenTheCrcAndTheLastIsConfirmed)
{
    Bytes data = RandomBytes(300, 2);
    WriteResult r = WriteWith(WriteCard{}, MSCP, CMAPFILE, data);
    ASSERT_EQ(QV_OK, r.rv);
    ASSERT_EQ(3u, r.commands.size());
    EXPECT_EQ(Concat(Hex("B0 A2 00 00 FF"), Slice(data, 0, 255)), r.commands[1]);
    EXPECT_EQ(Concat(Hex("B0 A2 01 00 2E"), Slice(Stored(data), 255, 46)), r.commands[2]);
    EXPECT_EQ(ToHex(Len3(301)) + " " + ToHex(Len3(300)), ToHex(Slice(r.commands[0], 22, 6)));

    struct Row {
        const char *name;
        std::string lastReply;
        uint32_t rv;
    } const rows[] = {
        {"90 00 without the byte", "90 00", QV_E_UNEXPECTED},
        {"02 90 00", "02 90 00", QV_E_UNEXPECTED},
        {"01 01 90 00", "01 01 90 00", QV_E_UNEXPECTED},
        {"wrong length", "6A 80", QV_E_UNEXPECTED},
        {"no memory", "6A 84", QV_E_WRITE_TOO_MANY},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        WriteCard card;
        card.lastReply = row.lastReply;
        EXPECT_EQ(row.rv, WriteWith(card, MSCP, CMAPFILE, data).rv);
    }
}

TEST(FileWrite, AFileTooLargeForTheChunksIsRefusedBeforeAnythingIsSent)
{
    // 511 chunks of 255 bytes hold 130305 stored bytes: the payload and its CRC
    Bytes fits = RandomBytes(QVMD_FILE_MAX_WRITE - 1, 3);
    WriteResult r = WriteWith(WriteCard{}, MSCP, CMAPFILE, fits);
    EXPECT_EQ(QV_OK, r.rv);
    EXPECT_EQ(1u + QVMD_FILE_MAX_CHUNKS, r.commands.size());

    for (const auto &[dir, name] : {std::make_pair(MSCP, CMAPFILE), std::make_pair(ROOT, CARDCF),
                                    std::make_pair(QV_P11, Name("data00"))}) {
        SCOPED_TRACE(ToHex(name));
        Bytes tooMany = RandomBytes(QVMD_FILE_MAX_WRITE, 4); // random data does not shrink
        WriteResult refused = WriteWith(WriteCard{130000}, dir, name, tooMany);
        EXPECT_EQ(QV_E_WRITE_TOO_MANY, refused.rv);
        EXPECT_TRUE(refused.commands.empty()) << "nothing may go out";
    }
    // large data that compresses into the chunks is written
    Bytes compressible(1000000, 'z');
    EXPECT_EQ(QV_OK, WriteWith(WriteCard{}, QV_P11, Name("data00"), compressible).rv);
}

TEST(FileDelete, ACompressedFileOutsideQvP11TakesItsTwin)
{
    struct Row {
        const char *name;
        Bytes dir, file;
        std::vector<std::string> replies;
        uint32_t rv;
        size_t commands;
    } const rows[] = {
        {"a certificate alone", MSCP, Name("ksc01"), {"90 00"}, 0, 1},
        {"a certificate not found", MSCP, Name("ksc01"), {"6A 83"}, QV_E_FILE_NOT_FOUND, 1},
        {"the map alone", MSCP, CMAPFILE, {"90 00"}, 0, 1},
        {"msroots and its twin", MSCP, Name("msroots"), {"90 00", "90 00"}, 0, 2},
        {"msroots without a twin", MSCP, Name("msroots"), {"90 00", "6A 83"}, 0, 2},
        {"the twin refused", MSCP, Name("msroots"), {"90 00", "69 85"}, QV_W_SECURITY_VIOLATION, 2},
        {"msroots refused keeps its twin",
         MSCP,
         Name("msroots"),
         {"69 85"},
         QV_W_SECURITY_VIOLATION,
         1},
        {"a data file alone", QV_P11, Name("data02"), {"90 00"}, 0, 1},
        {"a container file alone", QV_P11, Name("cont02"), {"90 00"}, 0, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        RecordingTransport transport;
        for (const auto &reply : row.replies)
            transport.Queue(reply);
        TestCard card(transport);
        EXPECT_EQ(row.rv, QVMD_DeleteFile(card.get(), row.dir.data(), row.file.data()));
        ASSERT_EQ(row.commands, transport.commands.size());
        if (row.commands == 2) {
            EXPECT_EQ(ToHex(Concat(Concat(Hex("B0 A8 01 02 10"), QV_P11), row.file)),
                      ToHex(transport.commands[1]));
        }
    }
}

TEST(ChangeCounters, RaisedWithWrapAndCopiedAsSixBytes)
{
    struct Row {
        const char *name;
        unsigned long flags;
        Bytes before, after;
    } const rows[] = {
        {"containers and files", 6, Hex("09 07 FF FF 0A 00"), Hex("09 07 00 00 0B 00")},
        {"PIN wraps", 1, Hex("00 FF 01 00 02 00"), Hex("00 00 01 00 02 00")},
        {"low byte carries", 4, Hex("00 00 00 00 FF 01"), Hex("00 00 00 00 00 02")},
        {"bytes past six stay", 2, Hex("00 00 00 00 00 00 AA BB"), Hex("00 00 01 00 00 00 AA BB")},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Bytes stored = Stored(row.before);
        FileCard file{stored, stored.size(), row.before.size()};
        WriteCard writer;
        writer.fileSize = 64;
        RecordingTransport transport(
            [&](const Bytes &c) { return c[1] == 0xA4 || c[1] == 0xC0 ? file(c) : writer(c); });
        TestCard card(transport);
        ASSERT_EQ(QV_OK, QVMD_OperationChangeCache(card.get(), row.flags));
        EXPECT_EQ(ToHex(Concat(Hex("B0 A2 01 00"),
                               Concat({static_cast<unsigned char>(row.after.size() + 1)},
                                      Stored(row.after)))),
                  ToHex(transport.commands.back()));

        // a file longer than the record fills exactly the caller's 6 bytes
        file.position = 0;
        auto out = std::make_unique<unsigned char[]>(QVMD_CACHE_RECORD);
        ASSERT_EQ(QV_OK, QVMD_GetCurrentCache(card.get(), out.get()));
        EXPECT_EQ(Slice(row.before, 0, 6), Bytes(out.get(), out.get() + 6));
    }
    RecordingTransport transport;
    TestCard card(transport);
    EXPECT_EQ(QV_OK, QVMD_OperationChangeCache(card.get(), 0));
    EXPECT_TRUE(transport.commands.empty());
    EXPECT_EQ(QV_E_INVALID_PARAMETER, QVMD_GetCurrentCache(card.get(), nullptr));
    FileCard shortFile{Stored(Hex("01 02 03 04 05")), 6, 5};
    RecordingTransport shortTransport(std::ref(shortFile));
    TestCard shortCard(shortTransport);
    unsigned char out[6];
    EXPECT_EQ(QV_E_UNEXPECTED, QVMD_GetCurrentCache(shortCard.get(), out));
}
