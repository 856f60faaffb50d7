// The card files' LZH codec: round trips, its failure paths, its byte streams, and the
// same bytes as the card simulator's independent codec in both directions.
#include "card/lzh.h"
#include "card/lzh_stream.h"

#include "lzh.h" // the simulator's codec

#include "card_file_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

namespace
{

// A source over a byte vector that may fail on one call.
struct Source {
    Bytes const *data;
    size_t position = 0;
    int calls = 0;
    int failOnCall = 0; // 1-based; 0: never
    int failWith = -7;
};

int readSource(void *bytes, int count, void *user)
{
    Source *s = static_cast<Source *>(user);
    if (++s->calls == s->failOnCall)
        return s->failWith;
    if (count < 1 || s->position >= s->data->size())
        return 0;
    *static_cast<unsigned char *>(bytes) = (*s->data)[s->position++];
    return 1;
}

struct Sink {
    Bytes out;
    int flushes = 0;
    int calls = 0;
    int failOnCall = 0;
};

int writeSink(void *bytes, int count, void *user)
{
    Sink *s = static_cast<Sink *>(user);
    if (++s->calls == s->failOnCall)
        return -9;
    if (bytes == nullptr) {
        s->flushes++;
        return 0;
    }
    auto *b = static_cast<unsigned char *>(bytes);
    s->out.insert(s->out.end(), b, b + count);
    return count;
}

struct Codec {
    std::unique_ptr<lzhcontext> context{new lzhcontext};

    int pack(Bytes const &plain, Bytes &packed)
    {
        Source source{&plain};
        Sink sink;
        int result = LZHPack(context.get(), readSource, &source, writeSink, &sink);
        packed = sink.out;
        return result;
    }
    int unpack(Bytes const &packed, uint32_t length, Bytes &plain)
    {
        Source source{&packed};
        Sink sink;
        int result = LZHUnPack(context.get(), length, readSource, &source, writeSink, &sink);
        plain = sink.out;
        return result;
    }
};

Bytes everyByteValue(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>(i * 7 + i / 256);
    return b;
}

Bytes certificateLike(size_t lines)
{
    std::string text;
    for (size_t i = 0; i < lines; ++i)
        text += "CN=Holder " + std::to_string(i % 13) + ", O=Issuer, serial " +
                std::to_string(i * 7919 % 1000) + "\n";
    return Bytes(text.begin(), text.end());
}

struct Case {
    char const *name;
    Bytes data;
};

std::vector<Case> roundTripCases()
{
    Bytes mixed = card_test::RandomBytes(3000, 7);
    mixed.insert(mixed.end(), 5000, 0x00);
    return {
        {"one byte", Bytes{0x42}},
        {"spaces like the initial window", Bytes(300, ' ')},
        {"1000 equal bytes", Bytes(1000, 'x')},
        {"random 2 KB", card_test::RandomBytes(2048, 1)},
        {"certificate-like text", certificateLike(60)},
        {"random then zeros", mixed},
        // past the tree rebuild: more than 32768 coded symbols
        {"random 64 KB", card_test::RandomBytes(65536, 2)},
        {"repetitive 200 KB", certificateLike(4000)},
        {"every byte value 70 KB", everyByteValue(70000)},
    };
}

} // namespace

TEST(Lzh, EveryKindOfDataRoundTrips)
{
    Codec codec;
    for (auto const &c : roundTripCases()) {
        SCOPED_TRACE(c.name);
        Bytes packed, back;
        ASSERT_EQ(static_cast<int>(c.data.size()), codec.pack(c.data, packed));
        ASSERT_EQ(0, codec.unpack(packed, c.data.size(), back));
        ASSERT_GE(back.size(), c.data.size());
        back.resize(c.data.size());
        EXPECT_EQ(c.data, back);
    }
}

TEST(Lzh, TheSameBytesAsTheSimulatorsCodecInBothDirections)
{
    Codec codec;
    for (auto const &c : roundTripCases()) {
        SCOPED_TRACE(c.name);
        Bytes ours;
        codec.pack(c.data, ours);
        EXPECT_EQ(cardsim::LzhPack(c.data), ours);

        Bytes theirs;
        ASSERT_TRUE(cardsim::LzhUnpack(ours.data(), ours.size(), c.data.size(), theirs));
        EXPECT_EQ(c.data, theirs);
        Bytes back;
        Bytes simulated = cardsim::LzhPack(c.data);
        ASSERT_EQ(0, codec.unpack(simulated, c.data.size(), back));
        back.resize(c.data.size());
        EXPECT_EQ(c.data, back);
    }
}

TEST(Lzh, RepetitiveDataShrinksAndNoDataWritesNothing)
{
    Codec codec;
    Bytes packed;
    codec.pack(Bytes(1000, 'x'), packed);
    EXPECT_LT(packed.size(), 100u);

    Sink sink;
    Bytes none;
    Source source{&none};
    EXPECT_EQ(0, LZHPack(codec.context.get(), readSource, &source, writeSink, &sink));
    EXPECT_TRUE(sink.out.empty());
}

TEST(Lzh, DecodingPastTheEndOfTheCodeFails)
{
    Codec codec;
    Bytes plain = certificateLike(10), packed, back;
    codec.pack(plain, packed);
    EXPECT_EQ(-1, codec.unpack(packed, plain.size() + 100, back));
    EXPECT_EQ(-1, codec.unpack(Bytes{}, 1, back));
}

TEST(Lzh, CallbackErrorsEndEitherDirectionWithTheirValue)
{
    Codec codec;
    Bytes plain = card_test::RandomBytes(500, 3), packed;
    codec.pack(plain, packed);
    struct Row {
        char const *name;
        bool pack;
        int sourceFail, sinkFail, expected;
    } const rows[] = {
        {"source fails on its fifth call (pack)", true, 5, 0, -7},
        {"sink fails (pack)", true, 0, 3, -9},
        {"source fails (unpack)", false, 5, 0, -7},
        {"sink fails (unpack)", false, 0, 3, -9},
    };
    for (auto const &row : rows) {
        SCOPED_TRACE(row.name);
        Source source{row.pack ? &plain : &packed};
        source.failOnCall = row.sourceFail;
        Sink sink;
        sink.failOnCall = row.sinkFail;
        int result = row.pack ? LZHPack(codec.context.get(), readSource, &source, writeSink, &sink)
                              : LZHUnPack(codec.context.get(), plain.size(), readSource, &source,
                                          writeSink, &sink);
        EXPECT_EQ(row.expected, result);
    }
    Source source{&plain};
    EXPECT_EQ(-2, LZHPack(nullptr, nullptr, &source, writeSink, nullptr));
    EXPECT_EQ(-2, LZHUnPack(nullptr, 1, readSource, &source, nullptr, nullptr));
}

TEST(Lzh, TheSinkIsFlushedOnceAfterTheLastByte)
{
    Codec codec;
    Bytes plain = certificateLike(5);
    Source source{&plain};
    Sink sink;
    LZHPack(codec.context.get(), readSource, &source, writeSink, &sink);
    EXPECT_EQ(1, sink.flushes);
    EXPECT_EQ(sink.out.size() + 1, static_cast<size_t>(sink.calls));
}

TEST(LzhStreams, MemoryStreamsCountRefuseAndCheckTheirRecord)
{
    Bytes plain = certificateLike(20);
    lzhsmstream in, count, out;
    lzhsmInit(&in, plain.data(), plain.size());
    lzhsmInit(&count, nullptr, 0);
    ASSERT_EQ(static_cast<int>(plain.size()),
              LZHPack(nullptr, lzhsmGetBytes, &in, lzhsmPutBytes, &count));
    EXPECT_EQ(cardsim::LzhPack(plain).size(), count.position);

    Bytes small(count.position - 1);
    lzhsmInit(&in, plain.data(), plain.size());
    lzhsmInit(&out, small.data(), small.size());
    EXPECT_EQ(-1, LZHPack(nullptr, lzhsmGetBytes, &in, lzhsmPutBytes, &out));

    lzhsmInit(&in, plain.data(), plain.size());
    in.size = 23;
    EXPECT_EQ(-2, LZHPack(nullptr, lzhsmGetBytes, &in, lzhsmPutBytes, &count));
}

TEST(LzhStreams, FileStreamsRoundTripAcrossBlocks)
{
    Bytes plain = card_test::RandomBytes(10000, 4); // the code is larger than two blocks
    std::unique_ptr<FILE, int (*)(FILE *)> packed(std::tmpfile(), std::fclose);
    std::unique_ptr<FILE, int (*)(FILE *)> restored(std::tmpfile(), std::fclose);
    ASSERT_TRUE(packed && restored);

    lzhsmstream in;
    lzhsmInit(&in, plain.data(), plain.size());
    auto file = std::make_unique<lzhsfstream>();
    lzhsfInit(file.get(), packed.get());
    ASSERT_EQ(10000, LZHPack(nullptr, lzhsmGetBytes, &in, lzhsfPutBytes, file.get()));
    EXPECT_EQ(cardsim::LzhPack(plain).size(), static_cast<size_t>(std::ftell(packed.get())));

    std::rewind(packed.get());
    lzhsfInit(file.get(), packed.get());
    auto sink = std::make_unique<lzhsfstream>();
    lzhsfInit(sink.get(), restored.get());
    ASSERT_EQ(0, LZHUnPack(nullptr, 10000, lzhsfGetBytes, file.get(), lzhsfPutBytes, sink.get()));
    Bytes back(10000);
    std::rewind(restored.get());
    ASSERT_EQ(back.size(), std::fread(back.data(), 1, back.size(), restored.get()));
    EXPECT_EQ(plain, back);
}
