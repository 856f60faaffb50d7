// The card layer's DES against the published example vectors (FIPS 81 for DES
// ECB and CBC, the ANSI X9.9 / FIPS 113 MAC example, SP 800-67 for three-key
// triple DES), the two-key rule K3 = K1, chaining across calls, and argument
// errors.
#include "card_test_support.h"

#include "card/qvdes.h"

#include <gtest/gtest.h>

namespace
{

using namespace card_test;

struct Vector {
    const char *name;
    uint32_t keys;
    std::string key;
    uint32_t mode;
    std::string iv;
    std::string plain;
    std::string cipher; // for CBC-MAC: the MAC
};

const std::string NOW_IS_THE_TIME = "4E6F772069732074 68652074696D6520 666F7220616C6C20";
const std::string FOX = "5468652071756663 6B2062726F776E20 666F78206A756D70";
const std::string K123 = "0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123";

const Vector VECTORS[] = {
    {"DES ECB", 1, "0123456789ABCDEF", ODES_MODE_ECB, "", "4E6F772069732074", "3FA40E8A984D4815"},
    {"DES CBC", 1, "0123456789ABCDEF", ODES_MODE_CBC, "1234567890ABCDEF", NOW_IS_THE_TIME,
     "E5C7CDDE872BF27C 43E934008C389C0F 683788499A7C05F6"},
    {"DES CBC-MAC", 1, "0123456789ABCDEF", ODES_MODE_CBC_MAC, "0000000000000000",
     "37363534333231204E6F77206973207468652074696D6520666F722000000000", "F1D30F6849312CA4"},
    {"3-key ECB", 3, K123, ODES_MODE_ECB, "", FOX,
     "A826FD8CE53B855F CCE21C8112256FE6 68D5C05DD9B6B900"},
    {"3-key CBC", 3, K123, ODES_MODE_CBC, "F69F2445DF4F9B17", FOX,
     "A5C282BAD0DE3774 BECD2E04386B589F B5057D8552FC4336"},
    {"2-key ECB", 2, "0123456789ABCDEF 23456789ABCDEF01", ODES_MODE_ECB, "", FOX,
     "C44862F70CF2FBDC 9077D0909FA91B88 4CABD61FC58E0CBB"},
    // parity bits are ignored: the same key with every low bit flipped
    {"DES ECB, parity ignored", 1, "0022446688AACCEE", ODES_MODE_ECB, "", "4E6F772069732074",
     "3FA40E8A984D4815"},
};

Bytes Crypt(const Vector &v, int direction, const Bytes &input)
{
    odes_context ctx;
    Bytes key = Hex(v.key);
    Bytes iv = v.iv.empty() ? Bytes(8, 0) : Hex(v.iv);
    EXPECT_EQ(des_init_iv(v.keys, key.data(), v.mode, iv.data(), &ctx), 0u);
    Bytes out(input.size() + 8, 0xEE);
    unsigned long length = 99;
    EXPECT_EQ(odes_encrypt(&ctx, direction, input.size(), input.data(), &length, out.data()), 0);
    out.resize(length);
    return out;
}

TEST(Des, PublishedVectorsEncryptAndDecrypt)
{
    for (const Vector &v : VECTORS) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(ToHex(Crypt(v, 1, Hex(v.plain))), ToHex(Hex(v.cipher)));
        if (v.mode != ODES_MODE_CBC_MAC) {
            EXPECT_EQ(ToHex(Crypt(v, 0, Hex(v.cipher))), ToHex(Hex(v.plain)));
        }
    }
}

Bytes Ecb(uint32_t keys, const Bytes &key, int direction, const Bytes &data)
{
    odes_context ctx;
    des_init(keys, key.data(), ODES_MODE_ECB, &ctx);
    Bytes out(data.size());
    unsigned long length = 0;
    odes_encrypt(&ctx, direction, data.size(), data.data(), &length, out.data());
    return out;
}

TEST(Des, TwoKeysAreEncryptDecryptEncryptWithTheFirstKeyTwice)
{
    Bytes k1 = Hex("0123456789ABCDEF"), k2 = Hex("FEDCBA9876543210");
    Bytes data = Hex(FOX);
    Bytes ede = Ecb(1, k1, 1, Ecb(1, k2, 0, Ecb(1, k1, 1, data)));
    EXPECT_EQ(ToHex(Ecb(2, Concat(k1, k2), 1, data)), ToHex(ede));
    EXPECT_EQ(ToHex(Ecb(3, Concat(Concat(k1, k2), k1), 1, data)), ToHex(ede));
    // and with K1 = K2 it is single DES
    EXPECT_EQ(ToHex(Ecb(2, Concat(k1, k1), 1, data)), ToHex(Ecb(1, k1, 1, data)));
}

TEST(Des, ChainingValueCarriesAcrossCalls)
{
    const Vector &v = VECTORS[1];
    odes_context ctx;
    Bytes key = Hex(v.key), iv = Hex(v.iv), plain = Hex(v.plain);
    ASSERT_EQ(des_init_iv(1, key.data(), ODES_MODE_CBC, iv.data(), &ctx), 0u);
    Bytes out(24);
    unsigned long length = 0;
    ASSERT_EQ(odes_encrypt(&ctx, 1, 8, plain.data(), &length, out.data()), 0);
    ASSERT_EQ(odes_encrypt(&ctx, 1, 16, plain.data() + 8, &length, out.data() + 8), 0);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(ToHex(out), ToHex(Hex(v.cipher)));
    unsigned char last[8];
    des_get_iv(&ctx, last);
    EXPECT_EQ(ToHex(last, 8), "68 37 88 49 9A 7C 05 F6");
}

TEST(Des, InPlaceAndMacWithoutOutput)
{
    const Vector &v = VECTORS[1];
    odes_context ctx;
    Bytes key = Hex(v.key), iv = Hex(v.iv), data = Hex(v.plain);
    des_init_iv(1, key.data(), ODES_MODE_CBC, iv.data(), &ctx);
    unsigned long length = 0;
    ASSERT_EQ(odes_encrypt(&ctx, 1, data.size(), data.data(), &length, data.data()), 0);
    EXPECT_EQ(ToHex(data), ToHex(Hex(v.cipher)));

    // CBC-MAC needs no output: the MAC stays as the chaining value
    const Vector &m = VECTORS[2];
    Bytes mkey = Hex(m.key), zero(8, 0), text = Hex(m.plain);
    des_init_iv(1, mkey.data(), ODES_MODE_CBC_MAC, zero.data(), &ctx);
    ASSERT_EQ(odes_encrypt(&ctx, 0, text.size(), text.data(), nullptr, nullptr), 0);
    unsigned char mac[8];
    des_get_iv(&ctx, mac);
    EXPECT_EQ(ToHex(mac, 8), ToHex(Hex(m.cipher)));
}

TEST(Des, ArgumentErrors)
{
    odes_context ctx;
    Bytes key(24, 0x11), data(16, 0);
    unsigned long length = 77;
    EXPECT_EQ(des_init(4, key.data(), ODES_MODE_ECB, &ctx), 0xFFFFFFFFu);
    EXPECT_EQ(des_init(0, key.data(), ODES_MODE_ECB, &ctx), 0xFFFFFFFFu);
    EXPECT_EQ(des_init(1, nullptr, ODES_MODE_ECB, &ctx), 0xFFFFFFFFu);
    EXPECT_EQ(des_init(1, key.data(), ODES_MODE_ECB, nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(des_set_iv(nullptr, key.data()), 0xFFFFFFFFu);
    ASSERT_EQ(des_init(3, key.data(), ODES_MODE_ECB, &ctx), 0u);
    EXPECT_EQ(odes_encrypt(&ctx, 1, 0, data.data(), &length, data.data()), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(odes_encrypt(&ctx, 1, 12, data.data(), &length, data.data()), -2);
    EXPECT_EQ(odes_encrypt(&ctx, 1, 8, nullptr, &length, data.data()), -2);
    EXPECT_EQ(odes_encrypt(&ctx, 1, 8, data.data(), nullptr, data.data()), -3);
    EXPECT_EQ(odes_encrypt(&ctx, 1, 8, data.data(), &length, nullptr), -3);
    EXPECT_EQ(odes_encrypt(nullptr, 1, 8, data.data(), &length, data.data()), -1);
}

} // namespace
