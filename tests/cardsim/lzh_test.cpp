#include "lzh.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using cardsim::Bytes;

namespace
{

Bytes FromText(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

Bytes RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto &x : b)
        x = static_cast<unsigned char>(rng());
    return b;
}

} // namespace

TEST(Crc8, CheckValues)
{
    EXPECT_EQ(0x99, cardsim::Crc8(FromText("123456789")));
    EXPECT_EQ(0x41, cardsim::Crc8(FromText("abc")));
    EXPECT_EQ(0xC7, cardsim::Crc8(Bytes{}));
}

TEST(Lzh, RoundTrips)
{
    struct Case {
        const char *name;
        Bytes data;
    };
    Bytes text;
    for (int i = 0; i < 200; ++i) {
        std::string line = "line " + std::to_string(i % 17) + " of a certificate-like text\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    Bytes mixed = RandomBytes(3000, 7);
    mixed.insert(mixed.end(), 5000, 0x00);
    Bytes wide = RandomBytes(300, 9);
    for (int i = 0; i < 40; ++i) // repeats further back than the look-ahead, inside the window
        wide.insert(wide.end(), wide.begin(), wide.begin() + 200);
    const Case cases[] = {
        {"one byte", Bytes{0x42}},
        {"two bytes", Bytes{0x00, 0xFF}},
        {"spaces (match the initial window)", Bytes(100, ' ')},
        {"random 1 KiB", RandomBytes(1024, 1)},
        {"random 20 KiB", RandomBytes(20000, 2)},
        {"text", text},
        {"random then zeros", mixed},
        {"long-range repeats", wide},
        {"every byte value",
         [] {
             Bytes b;
             for (int i = 0; i < 256; ++i)
                 b.push_back(static_cast<unsigned char>(i));
             return b;
         }()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes packed = cardsim::LzhPack(c.data);
        Bytes back;
        ASSERT_TRUE(cardsim::LzhUnpack(packed.data(), packed.size(), c.data.size(), back));
        EXPECT_EQ(c.data, back);
    }
}

TEST(Lzh, RepetitiveDataShrinks)
{
    Bytes run(1000, 'x');
    Bytes packed = cardsim::LzhPack(run);
    EXPECT_LT(packed.size(), 100u);
    Bytes back;
    ASSERT_TRUE(cardsim::LzhUnpack(packed.data(), packed.size(), run.size(), back));
    EXPECT_EQ(run, back);
}

TEST(Lzh, SurvivesTreeRebuild)
{
    // more than 32768 coded symbols push the root frequency to the rebuild limit
    Bytes data = RandomBytes(60000, 3);
    for (size_t i = 0; i < data.size(); i += 3)
        data[i] = 'a';
    Bytes packed = cardsim::LzhPack(data);
    Bytes back;
    ASSERT_TRUE(cardsim::LzhUnpack(packed.data(), packed.size(), data.size(), back));
    EXPECT_EQ(data, back);
}

TEST(Lzh, EmptyInputPacksToNothing)
{
    EXPECT_TRUE(cardsim::LzhPack(Bytes{}).empty());
}

TEST(Lzh, ShortInputFails)
{
    Bytes data = RandomBytes(500, 4);
    Bytes packed = cardsim::LzhPack(data);
    Bytes back;
    EXPECT_FALSE(cardsim::LzhUnpack(packed.data(), packed.size(), data.size() + 200, back));
    EXPECT_FALSE(cardsim::LzhUnpack(packed.data(), packed.size() / 2, data.size(), back));
}

TEST(Lzh, PlainLengthShorterThanTheStreamIsRefused)
{
    // the stream ends in a long match: a shorter plain length would cut it
    Bytes data = RandomBytes(100, 5);
    data.insert(data.end(), data.begin(), data.end());
    Bytes packed = cardsim::LzhPack(data);
    Bytes back;
    for (size_t shorter : {1, 10}) {
        SCOPED_TRACE(shorter);
        EXPECT_FALSE(cardsim::LzhUnpack(packed.data(), packed.size(), data.size() - shorter, back));
    }
}

TEST(CardFile, StoredFormCarriesCrcOfPlainData)
{
    Bytes plain = FromText("a certificate, say, with some repeated repeated repeated text");
    Bytes stored = cardsim::PackCardFile(plain);
    EXPECT_EQ(cardsim::Crc8(plain), stored.back());
    Bytes back;
    ASSERT_TRUE(cardsim::UnpackCardFile(stored, plain.size(), back));
    EXPECT_EQ(plain, back);

    // a flipped CRC, a wrong plain length and an empty file are all refused
    Bytes bad = stored;
    bad.back() ^= 1;
    EXPECT_FALSE(cardsim::UnpackCardFile(bad, plain.size(), back));
    EXPECT_FALSE(cardsim::UnpackCardFile(stored, plain.size() + 1, back));
    EXPECT_FALSE(cardsim::UnpackCardFile(Bytes{}, 0, back));
}
