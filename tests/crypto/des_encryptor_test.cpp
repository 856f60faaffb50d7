#include "crypto/des_encryptor.h"

#include "openssl_oracle.h"

#include <openssl/evp.h>

#include <cstring>

using oracle::Bytes;

namespace
{

const unsigned char KEY[24] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                               0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01,
                               0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23};
// The encryptor's fixed initialisation vector.
const unsigned char IV[8] = {0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x1E, 0x2D, 0x3C};

Bytes resultOf(CDesEncryptor &des)
{
    CBlob &r = des.Get();
    return Bytes(r.GetData(), r.GetData() + r.GetSize());
}

// Triple-DES CBC of whole blocks by OpenSSL, no padding of its own.
Bytes openSslCbc(Bytes const &in, bool encrypt)
{
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 8);
    int n = 0, tail = 0;
    EVP_CipherInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, KEY, IV, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size()));
    EVP_CipherFinal_ex(ctx, out.data() + n, &tail);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(n + tail);
    return out;
}

// Three-key known answer: with the chaining value folded into the plaintext,
// the CBC output equals the standard ECB ciphertext.
TEST(DesEncryptor, KnownAnswer)
{
    const char plain[] = "The qufck brown fox jump";
    const Bytes expected = {0xA8, 0x26, 0xFD, 0x8C, 0xE5, 0x3B, 0x85, 0x5F, 0xCC, 0xE2, 0x1C, 0x81,
                            0x12, 0x25, 0x6F, 0xE6, 0x68, 0xD5, 0xC0, 0x5D, 0xD9, 0xB6, 0xB9, 0x00};
    Bytes input(24);
    for (int i = 0; i < 24; i++) {
        unsigned char chain = i < 8 ? IV[i] : expected[i - 8];
        input[i] = static_cast<unsigned char>(plain[i]) ^ chain;
    }
    CDesEncryptor des(KEY);
    ASSERT_TRUE(des.Encrypt(input.data(), input.size()));
    Bytes ct = resultOf(des);
    ASSERT_EQ(ct.size(), 32u);
    EXPECT_EQ(Bytes(ct.begin(), ct.begin() + 24), expected);
}

TEST(DesEncryptor, RoundTripsAndMatchesOpenSslForLengthsOneToTwentyFour)
{
    CDesEncryptor des(KEY);
    for (size_t length = 1; length <= 24; length++) {
        SCOPED_TRACE(length);
        Bytes data = oracle::randomBytes(length, static_cast<unsigned>(length));
        ASSERT_TRUE(des.Encrypt(data.data(), data.size()));
        Bytes ct = resultOf(des);
        size_t pad = 8 - length % 8;
        ASSERT_EQ(ct.size(), length + pad);

        Bytes padded = data;
        padded.resize(length + pad, 0);
        padded.back() = static_cast<unsigned char>(pad);
        EXPECT_EQ(ct, openSslCbc(padded, true));

        ASSERT_TRUE(des.Decrypt(ct.data(), ct.size()));
        EXPECT_EQ(resultOf(des), data);
    }
}

TEST(DesEncryptor, BadInputIsRefused)
{
    CDesEncryptor des(KEY);
    Bytes twelve(12, 1);
    EXPECT_FALSE(des.Decrypt(twelve.data(), twelve.size()));
    EXPECT_FALSE(des.Decrypt(twelve.data(), 0));
    EXPECT_FALSE(des.Decrypt(nullptr, 8));
    EXPECT_FALSE(des.Encrypt(nullptr, 8));
    EXPECT_FALSE(des.Encrypt(twelve.data(), 0));
    EXPECT_EQ(des.Get().GetSize(), 0u);
}

TEST(DesEncryptor, PaddingRules)
{
    struct Case {
        char const *what;
        Bytes plain;
        bool ok;
        size_t resultSize;
    } cases[] = {
        {"three bytes of padding", {1, 2, 3, 4, 5, 0, 0, 3}, true, 5},
        {"non-zero byte inside the padding", {1, 2, 3, 4, 5, 1, 0, 3}, false, 8},
        {"last byte zero removes nothing", {1, 2, 3, 4, 5, 6, 7, 0}, true, 8},
        {"padding as long as the data", {0, 0, 0, 0, 0, 0, 0, 8}, false, 8},
        {"padding over a block", {7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9}, true, 7},
    };
    CDesEncryptor des(KEY);
    for (Case const &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes ct = openSslCbc(c.plain, true);
        EXPECT_EQ(des.Decrypt(ct.data(), ct.size()), c.ok);
        Bytes result = resultOf(des);
        EXPECT_EQ(result, Bytes(c.plain.begin(), c.plain.begin() + c.resultSize));
    }
}

} // namespace
