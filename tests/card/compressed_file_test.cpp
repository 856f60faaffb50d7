// Compressed card files: the class of compressed names, the CRC-8, and the payloads
// that the simulator's independent codec writes and reads.
#include "card/qvmd_compress.h"

#include "lzh.h" // the simulator's codec

#include "card_file_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

namespace
{

// A card context whose alloc hook fails from call number failFrom (1-based) on.
int g_allocCalls = 0;
int g_failFrom = 0;
void *countingAlloc(size_t size)
{
    ++g_allocCalls;
    return g_failFrom != 0 && g_allocCalls >= g_failFrom ? nullptr : malloc(size);
}

struct Context {
    _qv_md_card_struct card;
    explicit Context(int failFrom = 0)
    {
        g_allocCalls = 0;
        g_failFrom = failFrom;
        QVMD_CardInitStructNoCommunication(&card, 0, countingAlloc, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr);
    }
    ~Context() { QVMD_CardReleaseStruct(&card); }
};

Bytes text(size_t lines)
{
    std::string t;
    for (size_t i = 0; i < lines; ++i)
        t += "CN=Holder " + std::to_string(i % 11) + ", O=Issuer\n";
    return Bytes(t.begin(), t.end());
}

} // namespace

TEST(CompressedFile, TheClassOfCompressedNames)
{
    struct Row {
        char const *dir, *name;
        bool rootDir;
        int expected;
    } const rows[] = {
        {"qv_p11", "data03", false, 1}, {"qv_p11", "cont00", false, 1}, {"mscp", "kxc00", false, 1},
        {"mscp", "ksc17", false, 1},    {"mscp", "msroots", false, 1},  {"mscp", "kxc0a", false, 0},
        {"mscp", "ksc001", false, 0}, // no zero at byte 5
        {"mscp", "cmapfile", false, 0}, {"", "msroots", true, 0},       {"", "cardcf", true, 0},
        {"other", "kxc00", false, 0},
    };
    for (auto const &row : rows) {
        SCOPED_TRACE(std::string(row.dir) + "/" + row.name);
        Bytes dir = card_test::Name(row.dir), name = card_test::Name(row.name);
        EXPECT_EQ(row.expected,
                  QVMD_IsFileToCompress(row.rootDir ? nullptr : dir.data(), name.data()));
    }
    Bytes dir = card_test::Name("qv_p11");
    EXPECT_EQ(0, QVMD_IsFileToCompress(dir.data(), nullptr));
}

TEST(CompressedFile, CrcCheckValues)
{
    EXPECT_EQ(0x41u, MDQVD_CRCCheck(3, reinterpret_cast<const unsigned char *>("abc")));
    EXPECT_EQ(0x99u, MDQVD_CRCCheck(9, reinterpret_cast<const unsigned char *>("123456789")));
    EXPECT_EQ(0xC7u, MDQVD_CRCCheck(0, nullptr));
    Bytes random(1000);
    for (size_t i = 0; i < random.size(); ++i)
        random[i] = static_cast<unsigned char>(i * 131 + 7);
    EXPECT_EQ(cardsim::Crc8(random), MDQVD_CRCCheck(random.size(), random.data()));
}

TEST(CompressedFile, PayloadsAreTheSimulatorsStoredFormWithoutTheCrc)
{
    // 'x' codes in 8 bits: its payload is one byte, and the file must still read back
    for (Bytes const &plain : {Bytes{'x'}, Bytes{0x00}, text(3), text(400)}) {
        SCOPED_TRACE(plain.size());
        Context c;
        unsigned char *out = nullptr;
        unsigned long length = 0;
        ASSERT_EQ(QV_OK, QVMD_Compress(&c.card, plain.data(), plain.size(), &out, &length));
        Bytes stored = cardsim::PackCardFile(plain);
        EXPECT_EQ(Bytes(stored.begin(), stored.end() - 1), Bytes(out, out + length));
        QVMD_Free(&c.card, out);

        unsigned char *back = nullptr;
        ASSERT_EQ(QV_OK, QVMD_Decompress(&c.card, stored.data(), stored.size() - 1, &back, &length,
                                         plain.size()));
        EXPECT_EQ(plain, Bytes(back, back + length));
        QVMD_Free(&c.card, back);
    }
}

TEST(CompressedFile, EdgesOfCompressionAndDecompression)
{
    Context c;
    unsigned char *out = reinterpret_cast<unsigned char *>(&c);
    unsigned long length = 7;
    EXPECT_EQ(QV_OK, QVMD_Compress(&c.card, nullptr, 0, &out, &length));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0u, length);

    Bytes plain = text(20);
    Bytes payload = cardsim::LzhPack(plain);
    struct Row {
        char const *name;
        unsigned long payloadLength, plainLength;
        uint32_t expected;
    } const rows[] = {
        {"an empty payload", 0, 1, QV_E_INVALID_VALUE},
        {"one byte more than encoded", payload.size(), plain.size() + 1, QV_E_UNEXPECTED},
        {"fewer bytes than encoded", payload.size(), plain.size() - 5, QV_E_UNEXPECTED},
        {"a cut payload", payload.size() / 2, plain.size(), QV_E_UNEXPECTED},
    };
    for (auto const &row : rows) {
        SCOPED_TRACE(row.name);
        out = nullptr;
        EXPECT_EQ(row.expected, QVMD_Decompress(&c.card, payload.data(), row.payloadLength, &out,
                                                &length, row.plainLength));
        EXPECT_EQ(nullptr, out);
    }
}

TEST(CompressedFile, MemoryThatRunsOutFailsWithoutLeaks)
{
    std::mt19937 rng(3);
    Bytes random(5000);
    for (auto &b : random)
        b = static_cast<unsigned char>(rng());
    // 1: the codec, 2: the output, 3: the output's first growth (random data expands)
    for (int failFrom : {1, 2, 3}) {
        SCOPED_TRACE(failFrom);
        Context c(failFrom);
        unsigned char *out = nullptr;
        unsigned long length = 0;
        EXPECT_EQ(QV_E_NO_MEMORY,
                  QVMD_Compress(&c.card, random.data(), random.size(), &out, &length));
        EXPECT_EQ(nullptr, out);
    }
}
