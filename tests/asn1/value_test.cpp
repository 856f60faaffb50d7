// Value codecs, one table per codec, and the string and time checks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "asn1/asn.h"
#include "test_certs.h"

using asn1test::Bytes;
using asn1test::hex;
using asn1test::to_hex;

namespace
{

// Runs an encoder for the size and then into a buffer; returns the result and the content
// (the buffer must get exactly as many octets as the size call promised).
struct Encoded {
    int32_t result;
    std::string content;
};

Encoded encode(asn_encoder_t encoder, const void *value, uint32_t length)
{
    int32_t size = encoder(value, length, nullptr);
    if (size < 0)
        return {size, ""};
    Bytes out(static_cast<size_t>(size) + 4, 0xCC);
    int32_t written = encoder(value, length, out.data());
    EXPECT_EQ(written, size);
    for (size_t i = static_cast<size_t>(size); i < out.size(); i++)
        EXPECT_EQ(out[i], 0xCC) << "wrote past its size";
    return {written, to_hex(out.data(), static_cast<size_t>(size))};
}

Encoded encode(asn_encoder_t encoder, const Bytes &value, bool null_value = false)
{
    return encode(encoder, null_value ? nullptr : value.data(),
                  static_cast<uint32_t>(value.size()));
}

Encoded encode_text(asn_encoder_t encoder, const char *text)
{
    return encode(encoder, text, static_cast<uint32_t>(strlen(text)));
}

// Runs a decoder for the size and then into a buffer of that capacity.
struct Decoded {
    int32_t result;
    uint32_t size;
    Bytes out;
};

Decoded decode(asn_decoder_t decoder, const Bytes &content)
{
    const unsigned char *data = content.empty() ? nullptr : content.data();
    uint32_t length = static_cast<uint32_t>(content.size());
    uint32_t size = 0;
    int32_t result = decoder(data, length, nullptr, &size);
    if (result < 0)
        return {result, 0, {}};
    Bytes out(size + 4, 0xCC);
    uint32_t capacity = size;
    EXPECT_EQ(decoder(data, length, out.data(), &capacity), result);
    EXPECT_EQ(capacity, size);
    for (size_t i = size; i < out.size(); i++)
        EXPECT_EQ(out[i], 0xCC) << "wrote past its size";
    out.resize(size);
    return {result, size, out};
}

// A decoder given a buffer one byte smaller than it needs must fail.
int32_t decode_short(asn_decoder_t decoder, const Bytes &content)
{
    uint32_t size = 0;
    if (decoder(content.data(), static_cast<uint32_t>(content.size()), nullptr, &size) < 0 ||
        size == 0)
        return -2;
    Bytes out(size);
    uint32_t capacity = size - 1;
    return decoder(content.data(), static_cast<uint32_t>(content.size()), out.data(), &capacity);
}

Bytes bytes(const char *text)
{
    return Bytes(text, text + strlen(text));
}

} // namespace

TEST(AsnCodecBool, Table)
{
    struct Row {
        Bytes value;
        bool null_value;
        int32_t result;
        const char *content;
    } enc[] = {
        {hex("01"), false, 1, "FF"}, {hex("00"), false, 1, "00"}, {hex("7F00"), false, 1, "FF"},
        {{}, true, -1, ""},          {hex("01"), true, -1, ""}, // NULL with a length
    };
    for (const Row &r : enc) {
        Encoded e = r.null_value ? encode(asn_v_encode_bool, nullptr, r.value.size())
                                 : encode(asn_v_encode_bool, r.value);
        EXPECT_EQ(e.result, r.result) << to_hex(r.value);
        EXPECT_EQ(e.content, r.content) << to_hex(r.value);
    }
    struct DecRow {
        const char *content;
        int32_t result;
        int value;
    } dec[] = {{"FF", 1, 1}, {"00", 1, 0}, {"01", 1, 1}, {"", -1, 0}};
    for (const DecRow &r : dec) {
        Decoded d = decode(asn_v_decode_bool, hex(r.content));
        EXPECT_EQ(d.result, r.result) << r.content;
        if (r.result > 0) {
            ASSERT_EQ(d.size, 1u);
            EXPECT_EQ(d.out[0], r.value);
        }
    }
    EXPECT_EQ(decode_short(asn_v_decode_bool, hex("FF")), -1);
    unsigned char b = 0xFF;
    EXPECT_EQ(asn_v_decode_bool(&b, 1, nullptr, nullptr), -1) << "size word required";
}

TEST(AsnCodecInt32, Table)
{
    struct Row {
        int32_t value;
        const char *content;
    } rows[] = {
        {0, "00"},
        {127, "7F"},
        {128, "0080"},
        {-1, "FF"},
        {-128, "80"},
        {-129, "FF7F"},
        {256, "0100"},
        {0x7FFFFFFF, "7FFFFFFF"},
        {static_cast<int32_t>(0x80000001), "80000001"},
        {static_cast<int32_t>(0x80001000), "80001000"},
        {INT32_MIN, "80000000"},
        {0x00800000, "00800000"},
        {-0x800000, "800000"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.content);
        _asn_t *item = asn_encode(0, 2, &r.value, 4, nullptr);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(to_hex(static_cast<unsigned char *>(item->data), item->length), r.content);
        int32_t back = 0;
        EXPECT_EQ(asn_decode(item, &back, nullptr), 4);
        EXPECT_EQ(back, r.value);
        asn_item_free(item);
    }
    // Eight-byte values: the first four bytes count.
    int64_t wide = 0;
    int32_t v = -129;
    memcpy(&wide, &v, 4);
    EXPECT_EQ(encode(asn_v_encode_int32, &wide, 8).content, "FF7F");
    // Rejections and the empty value.
    EXPECT_EQ(encode(asn_v_encode_int32, &v, 3).result, -1);
    EXPECT_EQ(encode(asn_v_encode_int32, &v, 5).result, -1);
    EXPECT_EQ(encode(asn_v_encode_int32, nullptr, 4).result, -1);
    EXPECT_EQ(encode(asn_v_encode_int32, nullptr, 0).result, 0);

    struct DecRow {
        const char *content;
        int32_t result;
        int32_t value;
    } dec[] = {
        {"0102030405", 5, 0x02030405}, // longer than four octets: low 32 bits
        {"FF", 1, -1},
        {"0080", 2, 128},
        {"", -1, 0},
    };
    for (const DecRow &r : dec) {
        Decoded d = decode(asn_v_decode_int32, hex(r.content));
        EXPECT_EQ(d.result, r.result) << r.content;
        if (r.result > 0) {
            int32_t value;
            ASSERT_EQ(d.size, 4u);
            memcpy(&value, d.out.data(), 4);
            EXPECT_EQ(value, r.value) << r.content;
        }
    }
    EXPECT_EQ(decode_short(asn_v_decode_int32, hex("01")), -1);
}

TEST(AsnCodecBigInt, Table)
{
    struct Row {
        const char *value;
        int32_t result;
        const char *content;
    } enc[] = {
        {"0102", 2, "0102"}, {"80", 2, "0080"}, {"FFFF", 3, "00FFFF"},
        {"00", 1, "00"},     {"", -1, ""},
    };
    for (const Row &r : enc) {
        Encoded e = encode(asn_v_encode_int, hex(r.value));
        EXPECT_EQ(e.result, r.result) << r.value;
        EXPECT_EQ(e.content, r.content) << r.value;
    }
    struct DecRow {
        const char *content;
        int32_t result;
        const char *value;
    } dec[] = {
        {"0080", 2, "80"}, {"00F301", 3, "F301"},   {"007F", 2, "007F"}, {"00", 1, "00"},
        {"80", 1, "80"},   {"000080", 3, "000080"}, {"", -1, ""},
    };
    for (const DecRow &r : dec) {
        Decoded d = decode(asn_v_decode_int, hex(r.content));
        EXPECT_EQ(d.result, r.result) << r.content;
        EXPECT_EQ(to_hex(d.out), r.value) << r.content;
    }
    EXPECT_EQ(decode_short(asn_v_decode_int, hex("00F301")), -1);
}

TEST(AsnCodecBitStringBytes, Table)
{
    EXPECT_EQ(encode(asn_v_encode_bitstring_bin, hex("AABB")).content, "00AABB");
    EXPECT_EQ(encode(asn_v_encode_bitstring_bin, nullptr, 0).content, "00");
    EXPECT_EQ(encode(asn_v_encode_bitstring_bin, hex("AA").data(), 0).result, -1);
    EXPECT_EQ(encode(asn_v_encode_bitstring_bin, nullptr, 2).result, -1);
    struct DecRow {
        const char *content;
        int32_t result;
        const char *value;
    } dec[] = {
        {"00AABB", 3, "AABB"}, {"00", 1, ""},
        {"0680", 2, "80"},     {"", -1, ""},   // empty: no unused-bits octet
        {"08FF", -1, ""},                      // more than seven unused bits
        {"FF00", -1, ""},      {"07", -1, ""}, // unused bits but no octet to hold them
    };
    for (const DecRow &r : dec) {
        Decoded d = decode(asn_v_decode_bitstring_bin, hex(r.content));
        EXPECT_EQ(d.result, r.result) << r.content;
        EXPECT_EQ(to_hex(d.out), r.value) << r.content;
    }
    EXPECT_EQ(decode_short(asn_v_decode_bitstring_bin, hex("00AABB")), -1);
}

TEST(AsnCodecBitStringBits, Table)
{
    struct Row {
        Bytes bits;
        int32_t result;
        const char *content;
    } enc[] = {
        {{1, 0, 1}, 2, "05A0"},
        {{1, 1, 1, 1, 1, 1, 1, 1}, 2, "00FF"},
        {{1, 0, 0, 0, 0, 0, 0, 0, 1}, 3, "078080"},
        {{0}, 2, "0700"},
        {{1, 2}, -1, ""}, // only 0 and 1 are bits
    };
    for (const Row &r : enc) {
        Encoded e = encode(asn_v_encode_bitstring, r.bits);
        EXPECT_EQ(e.result, r.result) << to_hex(r.bits);
        EXPECT_EQ(e.content, r.content) << to_hex(r.bits);
    }
    EXPECT_EQ(encode(asn_v_encode_bitstring, nullptr, 0).content, "00");
    EXPECT_EQ(encode(asn_v_encode_bitstring, nullptr, 3).result, -1);

    struct DecRow {
        const char *content;
        int32_t result;
        Bytes bits;
    } dec[] = {
        {"05A0", 2, {1, 0, 1}}, {"078080", 3, {1, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"00", 1, {}},          {"", -1, {}},
        {"0880", -1, {}},       {"01", -1, {}}, // one unused bit of no octet: a negative count
    };
    for (const DecRow &r : dec) {
        Decoded d = decode(asn_v_decode_bitstring, hex(r.content));
        EXPECT_EQ(d.result, r.result) << r.content;
        EXPECT_EQ(to_hex(d.out), to_hex(r.bits)) << r.content;
    }
    EXPECT_EQ(decode_short(asn_v_decode_bitstring, hex("05A0")), -1);
}

TEST(AsnCodecOctetString, Table)
{
    EXPECT_EQ(encode(asn_v_encode_octetstring, hex("0001FF")).content, "0001FF");
    EXPECT_EQ(encode(asn_v_encode_octetstring, nullptr, 0).result, 0);
    EXPECT_EQ(encode(asn_v_encode_octetstring, hex("00").data(), 0).result, -1);
    EXPECT_EQ(encode(asn_v_encode_octetstring, nullptr, 1).result, -1);

    Decoded d = decode(asn_v_decode_octetstring, hex("0001FF"));
    EXPECT_EQ(d.result, 3);
    EXPECT_EQ(to_hex(d.out), "0001FF");
    EXPECT_EQ(decode_short(asn_v_decode_octetstring, hex("0001FF")), -1);
    unsigned char b = 1;
    EXPECT_EQ(asn_v_decode_octetstring(&b, 0, nullptr, nullptr), -1);
    EXPECT_EQ(asn_v_decode_octetstring(nullptr, 1, nullptr, nullptr), -1);
    EXPECT_EQ(asn_v_decode_octetstring(&b, 1, nullptr, nullptr), -1) << "size word required";
}

TEST(AsnCodecOid, Table)
{
    struct Row {
        const char *text;
        const char *content; // nullptr: refused
    } rows[] = {
        {"1.2.840.113549.1.1.1", "2A864886F70D010101"},
        {"2.5.29.15", "551D0F"},
        {"0.0", "00"},
        {"1.3.6.1.4.1.311.20.2.2", "2B0601040182371402 02"},
        {"2.999.3", "883703"}, // first subidentifier of two octets
        {"1.2.2147483647", "2A87FFFFFF7F"},
        {"", nullptr},
        {"1", nullptr},
        {"1.", nullptr},
        {".1.2", nullptr},
        {"1..2", nullptr},
        {"3.1", nullptr},
        {"1.40", nullptr},
        {"1.2.x", nullptr},
        {"1.2 ", nullptr},
        {"1.2.2147483648", nullptr},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        Encoded e = encode_text(asn_v_encode_oid, r.text);
        if (!r.content) {
            EXPECT_EQ(e.result, -1);
            continue;
        }
        Bytes expected = hex(r.content);
        EXPECT_EQ(e.content, to_hex(expected));
        Decoded d = decode(asn_v_decode_oid, expected);
        EXPECT_EQ(d.result, static_cast<int32_t>(expected.size()));
        EXPECT_EQ(d.size, strlen(r.text) + 1);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(d.out.data())), r.text);
    }
    struct DecRow {
        const char *why;
        std::string content;
    } bad[] = {
        {"empty", ""},
        {"subidentifier cut short", "2A86"},
        {"subidentifier beyond 32 bits", "2A9080808000"},
    };
    for (const DecRow &r : bad)
        EXPECT_EQ(decode(asn_v_decode_oid, hex(r.content)).result, -1) << r.why;

    // A buffer too small for the text is an error, not a silent success.
    EXPECT_EQ(decode_short(asn_v_decode_oid, hex("2A864886F70D010101")), -1);

    // The longest text the decoder gives fits its limit; one arc more is refused.
    Bytes content = hex("2A");
    while (true) {
        content.push_back(0x01);
        uint32_t size = 0;
        if (asn_v_decode_oid(content.data(), static_cast<uint32_t>(content.size()), nullptr,
                             &size) < 0)
            break;
        ASSERT_LE(size, static_cast<uint32_t>(ASN_OID_TEXT_MAX));
        Decoded d = decode(asn_v_decode_oid, content);
        ASSERT_EQ(d.out.size(), size);
        ASSERT_EQ(d.out.back(), 0);
    }
    EXPECT_GT(content.size(), 120u);
}

TEST(AsnCodecStrings, Table)
{
    struct Row {
        const char *codec;
        asn_encoder_t encoder;
        asn_decoder_t decoder;
        std::string value;
        bool ok;
    } rows[] = {
        {"printable", asn_v_encode_printablestring, asn_v_decode_printablestring,
         "Test Holder (CZ) 1:2=3?", true},
        {"printable", asn_v_encode_printablestring, asn_v_decode_printablestring, "a@b", false},
        {"printable", asn_v_encode_printablestring, asn_v_decode_printablestring, "a*b", false},
        {"printable", asn_v_encode_printablestring, asn_v_decode_printablestring,
         std::string("a\0b", 3), true},
        {"numeric", asn_v_encode_numericstring, asn_v_decode_numericstring, "123 45", true},
        {"numeric", asn_v_encode_numericstring, asn_v_decode_numericstring, "12a", false},
        {"ia5", asn_v_encode_ia5string, asn_v_decode_ia5string, "holder@example.test\t", true},
        {"ia5", asn_v_encode_ia5string, asn_v_decode_ia5string, "\x80", false},
        {"visible", asn_v_encode_visiblestring, asn_v_decode_visiblestring, " ~", true},
        {"visible", asn_v_encode_visiblestring, asn_v_decode_visiblestring, "\x7F", false},
        {"visible", asn_v_encode_visiblestring, asn_v_decode_visiblestring, "a\tb", false},
        {"utf8", asn_v_encode_utf8string, asn_v_decode_utf8string, "Zkušební ěščřžýáíé", true},
        {"utf8", asn_v_encode_utf8string, asn_v_decode_utf8string, "\xF0\x9F\x98\x80", true},
        {"utf8", asn_v_encode_utf8string, asn_v_decode_utf8string, "\xC0\x80", false},
        {"utf8", asn_v_encode_utf8string, asn_v_decode_utf8string, "\xE0\x80\xAF", false},
        {"utf8", asn_v_encode_utf8string, asn_v_decode_utf8string, "\xE2\x82", false},
        {"utf8", asn_v_encode_utf8string, asn_v_decode_utf8string, "\x80", false},
        {"utf8", asn_v_encode_utf8string, asn_v_decode_utf8string, "\xFE", false},
        {"utf8", asn_v_encode_utf8string, asn_v_decode_utf8string, "\xF8\x88\x80\x80\x80", true},
        {"utf8", asn_v_encode_utf8string, asn_v_decode_utf8string, "\xF8\x87\xBF\xBF\xBF", false},
        {"utf8", asn_v_encode_utf8string, asn_v_decode_utf8string, "\xFC\x84\x80\x80\x80\x80",
         true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.codec) + " " + asn1test::to_hex(bytes(r.value.c_str())));
        Bytes value(r.value.begin(), r.value.end());
        Encoded e = encode(r.encoder, value);
        Decoded d = decode(r.decoder, value);
        if (r.ok) {
            EXPECT_EQ(e.content, to_hex(value));
            EXPECT_EQ(d.result, static_cast<int32_t>(value.size()));
            EXPECT_EQ(to_hex(d.out), to_hex(value));
            EXPECT_EQ(decode_short(r.decoder, value), -1);
        } else {
            EXPECT_EQ(e.result, -1);
            EXPECT_EQ(d.result, -1);
        }
        // Empty strings are given as NULL with length 0; data with length 0 is refused.
        EXPECT_EQ(encode(r.encoder, nullptr, 0).result, 0);
        EXPECT_EQ(encode(r.encoder, "x", 0).result, -1);
    }
}

TEST(AsnCodecUtf8Cs, ChecksCapacityAndEncoding)
{
    Bytes text = bytes("Zkušební");
    Decoded d = decode(asn_v_decode_utf8string_cs, text);
    EXPECT_EQ(d.result, static_cast<int32_t>(text.size()));
    EXPECT_EQ(to_hex(d.out), to_hex(text));
    EXPECT_EQ(decode_short(asn_v_decode_utf8string_cs, text), -1);
    EXPECT_EQ(decode(asn_v_decode_utf8string_cs, hex("C080")).result, -1);
    EXPECT_EQ(encode(asn_v_encode_utf8string_cs, text).content, to_hex(text));
    EXPECT_EQ(encode(asn_v_encode_utf8string_cs, nullptr, 0).result, -1);
    EXPECT_EQ(encode(asn_v_encode_utf8string_wcs, text).result, 0);
    uint32_t size = 7;
    EXPECT_EQ(asn_v_decode_utf8string_wcs(text.data(), 3, nullptr, &size), 0);
}

TEST(AsnStringChecks, NullAndEmptyConventions)
{
    unsigned char b = 'a';
    using Check = int (*)(const unsigned char *, uint32_t);
    struct Row {
        const char *name;
        Check check;
        int null_nonzero, data_zero;
    } rows[] = {
        {"bit", is_str_bit, -1, -1},           {"ia5", is_str_ia5, -1, -1},
        {"utf8", is_str_utf8, -1, -1},         {"numerics", is_str_numerics, 0, 0},
        {"printable", is_str_printable, 0, 0}, {"visible", is_str_visible, 0, 0},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(r.check(nullptr, 0), 1) << r.name;
        EXPECT_EQ(r.check(nullptr, 1), r.null_nonzero) << r.name;
        EXPECT_EQ(r.check(&b, 0), r.data_zero) << r.name;
    }
    unsigned char bits[] = {0, 1, 1};
    EXPECT_EQ(is_str_bit(bits, 3), 1);
    bits[2] = 2;
    EXPECT_EQ(is_str_bit(bits, 3), 0);
}

TEST(AsnTimeChecks, UtcTable)
{
    struct Row {
        const char *text;
        int ok, year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, off_h = 0,
                off_m = 0;
    } rows[] = {
        {"991231235959Z", 1, 1999, 12, 31, 23, 59, 59, 0, 0},
        {"491231235959Z", 1, 2049, 12, 31, 23, 59, 59, 0, 0},
        {"500101000000Z", 1, 1950, 1, 1, 0, 0, 0, 0, 0},
        {"9912312359Z", 1, 1999, 12, 31, 23, 59, 0, 0, 0},
        {"9912312359+0100", 1, 1999, 12, 31, 23, 59, 0, 1, 0},
        {"991231235959-0530", 1, 1999, 12, 31, 23, 59, 59, -5, -30},
        {"9912312359+01", 1, 1999, 12, 31, 23, 59, 0, 1, 0},
        {"991231235959", 1, 1999, 12, 31, 23, 59, 59, 0, 0},
        {"240231000000Z", 1, 2024, 2, 31, 0, 0, 0, 0, 0}, // day 1-31 for every month
        {"991232000000Z", 0},
        {"991301000000Z", 0},
        {"990001000000Z", 0},
        {"991231240000Z", 0},
        {"991231236000Z", 0},
        {"991231235960Z", 0},
        {"9912312359", 0},     // too short
        {"991231235959Z0", 0}, // Z not last
        {"9912312359+013", 0},
        {"9912312359+1300", 0},
        {"9912312359+0160", 0},
        {"9912312359+", 0},
        {"991231235959X", 0},
        {"99123123595", 0},
        {"9912312359.5Z", 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        int y = -1, mo = -1, d = -1, h = -1, mi = -1, s = -1, oh = -1, om = -1;
        ASSERT_EQ(is_time_utc(r.text, static_cast<uint32_t>(strlen(r.text)), &y, &mo, &d, &h, &mi,
                              &s, &oh, &om),
                  r.ok);
        if (!r.ok)
            continue;
        EXPECT_EQ(y, r.year);
        EXPECT_EQ(mo, r.month);
        EXPECT_EQ(d, r.day);
        EXPECT_EQ(h, r.hour);
        EXPECT_EQ(mi, r.minute);
        EXPECT_EQ(s, r.second);
        EXPECT_EQ(oh, r.off_h);
        EXPECT_EQ(om, r.off_m);
    }
    EXPECT_EQ(is_time_utc(nullptr, 13, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr),
              0);
}

TEST(AsnTimeChecks, GeneralizedTable)
{
    struct Row {
        const char *text;
        int ok, year = 0, second = 0, fraction = 0, off_h = 0, off_m = 0;
    } rows[] = {
        {"20240229120000.5Z", 1, 2024, 0, 5, 0, 0},
        {"20240229120001.125Z", 1, 2024, 1, 125, 0, 0},
        {"202402291200", 1, 2024, 0, 0, 0, 0},
        {"20501231235959Z", 1, 2050, 59, 0, 0, 0},
        {"99991231235959Z", 1, 9999, 59, 0, 0, 0},
        {"202402291200-0130", 1, 2024, 0, 0, -1, -30},
        {"20240229120000.Z", 0},
        {"202402291200.5Z", 0}, // fraction without seconds
        {"20241329120000Z", 0},
        {"20240229120000Z ", 0},
        {"20240229120", 0},
        {"2024022912a0Z", 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        int y = -1, mo, d, h, mi, s = -1, f = -1, oh = -1, om = -1;
        ASSERT_EQ(is_time_gen(r.text, static_cast<uint32_t>(strlen(r.text)), &y, &mo, &d, &h, &mi,
                              &s, &f, &oh, &om),
                  r.ok);
        if (!r.ok)
            continue;
        EXPECT_EQ(y, r.year);
        EXPECT_EQ(s, r.second);
        EXPECT_EQ(f, r.fraction);
        EXPECT_EQ(oh, r.off_h);
        EXPECT_EQ(om, r.off_m);
    }
}

TEST(AsnCodecTimeText, Table)
{
    struct Row {
        asn_encoder_t encoder;
        asn_decoder_t decoder;
        const char *text;
        bool ok;
    } rows[] = {
        {asn_v_encode_utctime, asn_v_decode_utctime, "991231235959Z", true},
        {asn_v_encode_utctime, asn_v_decode_utctime, "991232235959Z", false},
        {asn_v_encode_gentime, asn_v_decode_gentime, "20501231235959Z", true},
        {asn_v_encode_gentime, asn_v_decode_gentime, "991231235959Z", false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        Encoded e = encode_text(r.encoder, r.text);
        Decoded d = decode(r.decoder, bytes(r.text));
        if (r.ok) {
            EXPECT_EQ(e.content, to_hex(bytes(r.text)));
            EXPECT_EQ(std::string(d.out.begin(), d.out.end()), r.text);
        } else {
            EXPECT_EQ(e.result, -1);
            EXPECT_EQ(d.result, -1);
        }
    }
    // From the clock: UTC text that the checks accept.
    Encoded now = encode(asn_v_encode_utctime, nullptr, 0);
    ASSERT_EQ(now.result, 13);
    Encoded now_gen = encode(asn_v_encode_gentime, nullptr, 0);
    ASSERT_EQ(now_gen.result, 15);
    Bytes text = hex(now_gen.content);
    EXPECT_EQ(is_time_gen(reinterpret_cast<char *>(text.data()), 15, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              1);
    EXPECT_EQ(text[14], 'Z');
}

namespace
{
// Runs the body with TZ set to a zone with daylight saving, so that any use of local time
// shows up.
class LocalZone : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char *tz = getenv("TZ");
        had_tz_ = tz != nullptr;
        if (had_tz_)
            old_tz_ = tz;
        setenv("TZ", "America/New_York", 1);
        tzset();
    }
    void TearDown() override
    {
        if (had_tz_)
            setenv("TZ", old_tz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    bool had_tz_ = false;
    std::string old_tz_;
};

struct tm make_tm(int year, int month, int day, int hour, int minute, int second)
{
    struct tm t;
    memset(&t, 0, sizeof(t));
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return t;
}
} // namespace

TEST_F(LocalZone, TimeRecordEncodersWritePlainUtc)
{
    struct Row {
        bool generalized;
        struct tm t;
        const char *text; // nullptr: refused
    } rows[] = {
        {false, make_tm(1999, 12, 31, 23, 59, 59), "991231235959Z"},
        {false, make_tm(2024, 7, 1, 12, 0, 0), "240701120000Z"}, // summer in the zone
        {false, make_tm(2000, 1, 1, 0, 0, 0), "000101000000Z"},
        {false, make_tm(1950, 1, 1, 0, 0, 0), "500101000000Z"},
        {false, make_tm(2049, 12, 31, 23, 59, 59), "491231235959Z"},
        {false, make_tm(2050, 1, 1, 0, 0, 0), nullptr},
        {false, make_tm(1949, 12, 31, 23, 59, 59), nullptr},
        {true, make_tm(1999, 12, 31, 23, 59, 59), "19991231235959Z"},
        {true, make_tm(2050, 3, 29, 2, 30, 0), "20500329023000Z"},
        {true, make_tm(2024, 12, 31, 24, 0, 0), "20250101000000Z"}, // normalised
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text ? r.text : "refused");
        asn_encoder_t encoder = r.generalized ? asn_v_encode_gentime_tm : asn_v_encode_utctime_tm;
        Encoded e = encode(encoder, &r.t, sizeof(r.t));
        if (!r.text) {
            EXPECT_EQ(e.result, -1);
            continue;
        }
        EXPECT_EQ(e.content, to_hex(bytes(r.text)));
    }
    struct tm t = make_tm(2000, 1, 1, 0, 0, 0);
    EXPECT_EQ(asn_v_encode_utctime_tm(&t, 4, nullptr), -1) << "record too small";
}

TEST_F(LocalZone, TimeRecordDecodersApplyOffsetsInUtc)
{
    struct Row {
        bool generalized;
        const char *text;
        int year, month, day, hour, minute, second;
    } rows[] = {
        {false, "991231235959Z", 1999, 12, 31, 23, 59, 59},
        {false, "9912312359+0100", 1999, 12, 31, 22, 59, 0},
        {false, "000101003000+0100", 1999, 12, 31, 23, 30, 0},
        {false, "240310063000-0500", 2024, 3, 10, 11, 30, 0}, // the zone's DST night
        {true, "20501231235959Z", 2050, 12, 31, 23, 59, 59},
        {true, "20240229230000-0130", 2024, 3, 1, 0, 30, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        _asn_t *item = asn_item_new(0, 0, r.generalized ? 24 : 23, r.text,
                                    static_cast<uint32_t>(strlen(r.text)));
        struct tm t;
        memset(&t, 0, sizeof(t));
        EXPECT_EQ(
            asn_decode(item, &t, r.generalized ? asn_v_decode_gentime_tm : asn_v_decode_utctime_tm),
            static_cast<int32_t>(sizeof(t)));
        EXPECT_EQ(t.tm_year + 1900, r.year);
        EXPECT_EQ(t.tm_mon + 1, r.month);
        EXPECT_EQ(t.tm_mday, r.day);
        EXPECT_EQ(t.tm_hour, r.hour);
        EXPECT_EQ(t.tm_min, r.minute);
        EXPECT_EQ(t.tm_sec, r.second);
        asn_item_free(item);
    }
    const char *text = "991231235959Z";
    struct tm t;
    uint32_t capacity = sizeof(t) - 1;
    EXPECT_EQ(
        asn_v_decode_utctime_tm(reinterpret_cast<const unsigned char *>(text), 13, &t, &capacity),
        -1);
    EXPECT_EQ(
        asn_v_decode_utctime_tm(reinterpret_cast<const unsigned char *>(text), 13, &t, nullptr),
        -1);
}

TEST(AsnCodecItems, DecodeAndEncodeThroughTheTable)
{
    // The class is not looked at: a context-specific tag 2 decodes as an INTEGER.
    Bytes content = hex("FF7F");
    _asn_t *ctx_int = asn_item_new(0x80, 0, 2, content.data(), 2);
    int32_t v = 0;
    EXPECT_EQ(asn_decode(ctx_int, nullptr, nullptr), 4);
    EXPECT_EQ(asn_decode(ctx_int, &v, nullptr), 4);
    EXPECT_EQ(v, -129);
    asn_item_free(ctx_int);

    _asn_t *empty = asn_item_new(0, 0, 2, nullptr, 0);
    EXPECT_EQ(asn_decode(empty, &v, nullptr), 0);
    asn_item_free(empty);
    _asn_t *seq = asn_item_new(0, 0x20, 16, nullptr, 0);
    EXPECT_EQ(asn_decode(seq, &v, nullptr), -1);
    asn_item_free(seq);
    _asn_t *no_codec = asn_item_new(0, 0, 7, content.data(), 2);
    EXPECT_EQ(asn_decode(no_codec, nullptr, nullptr), -1);
    asn_item_free(no_codec);
    EXPECT_EQ(asn_decode(nullptr, nullptr, nullptr), -1);
    _asn_t *bad_bool = asn_item_new(0, 0, 1, content.data(), 2);
    EXPECT_EQ(asn_decode(bad_bool, &v, asn_v_decode_int32), 4) << "explicit decoder wins";
    EXPECT_EQ(v, -129);
    asn_item_free(bad_bool);

    // Table rows for the string types without their own check.
    for (uint32_t tag : {20u, 21u, 25u, 27u, 28u, 30u}) {
        asn_encoder_t enc = nullptr;
        asn_decoder_t dec = nullptr;
        ASSERT_TRUE(asn_default_codec(tag, &enc, &dec)) << tag;
        EXPECT_EQ(enc, asn_v_encode_octetstring) << tag;
        EXPECT_EQ(dec, asn_v_decode_octetstring) << tag;
    }
    EXPECT_FALSE(asn_default_codec(16, nullptr, nullptr));

    _asn_t *null_item = asn_encode(0, 5, nullptr, 0, nullptr);
    ASSERT_NE(null_item, nullptr);
    EXPECT_EQ(null_item->length, 0);
    asn_item_free(null_item);
    EXPECT_EQ(asn_encode(0, 19, "a@b", 3, nullptr), nullptr) << "failed check, no item";
    EXPECT_EQ(asn_encode(0, 16, "a", 1, nullptr), nullptr) << "no codec for tag 16";
    EXPECT_EQ(asn_encode(0x33, 4, "a", 1, nullptr), nullptr) << "bad class";

    int32_t value = 0x1234;
    _asn_t *tagged = asn_encode_ex("81", &value, 4, asn_v_encode_int32);
    ASSERT_NE(tagged, nullptr);
    EXPECT_EQ(tagged->cls, 0x80u);
    EXPECT_EQ(tagged->tag, 1u);
    EXPECT_EQ(to_hex(static_cast<unsigned char *>(tagged->data), tagged->length), "1234");
    asn_item_free(tagged);
    EXPECT_EQ(asn_encode_ex("A1", &value, 4, asn_v_encode_int32), nullptr) << "constructed";
    EXPECT_EQ(asn_encode_ex("zz", &value, 4, asn_v_encode_int32), nullptr);
    _asn_t *oid = asn_encode_ex("06", "2.5.29.15", 9, nullptr);
    ASSERT_NE(oid, nullptr);
    EXPECT_EQ(to_hex(static_cast<unsigned char *>(oid->data), oid->length), "551D0F");
    asn_item_free(oid);
}
