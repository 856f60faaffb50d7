// CryptoAPI PRIVATEKEYBLOB of RSA private keys, against OpenSSL's own writer,
// with the layout's edge cases and the refusal of components that do not fit.
#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <memory>
#include <vector>

#include "objects/p11_rsa_private_key.h"
#include "objects_test_util.h"

using namespace objtest;

namespace
{

unsigned long const PARTS[] = {CKA_MODULUS,    CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT,
                               CKA_PRIME_1,    CKA_PRIME_2,         CKA_EXPONENT_1,
                               CKA_EXPONENT_2, CKA_COEFFICIENT};

// A key of modulus length n with recognisable, well-sized components.
std::unique_ptr<CP11RSAPrivateKey> syntheticKey(size_t n)
{
    auto key = std::make_unique<CP11RSAPrivateKey>();
    size_t h = n / 2;
    size_t const sizes[] = {n, 3, n, h, h, h, h, h};
    for (int i = 0; i < 8; ++i) {
        Bytes v(sizes[i]);
        for (size_t j = 0; j < v.size(); ++j)
            v[j] = (unsigned char)(0x10 * (i + 1) + j);
        set(*key, PARTS[i], v);
    }
    set(*key, CKA_PUBLIC_EXPONENT, hex("01 00 01"));
    return key;
}

Bytes blobOf(CP11RSAPrivateKey &key)
{
    unsigned long size = key.ToCApi(nullptr, 0);
    Bytes out(size, 0xEE);
    EXPECT_EQ(key.ToCApi(out.data(), out.size()), size);
    return out;
}

Bytes bnParam(EVP_PKEY *pkey, char const *name)
{
    BIGNUM *bn = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(pkey, name, &bn), 1);
    Bytes out((size_t)BN_num_bytes(bn));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
}

} // namespace

TEST(PrivateKeyBlob, EqualsOpenSslsBlobForAGenerated2048BitKey)
{
    EVP_PKEY *pkey = EVP_RSA_gen(2048);
    ASSERT_NE(pkey, nullptr);
    char const *names[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                           OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                           OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                           OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    CP11RSAPrivateKey key;
    for (int i = 0; i < 8; ++i)
        set(key, PARTS[i], bnParam(pkey, names[i]));
    key.SetAttribute(CKA_DECRYPT, (unsigned char)1);

    BIO *bio = BIO_new(BIO_s_mem());
    ASSERT_GT(i2b_PrivateKey_bio(bio, pkey), 0);
    unsigned char *p = nullptr;
    long length = BIO_get_mem_data(bio, &p);
    Bytes expected(p, p + length);
    BIO_free(bio);
    EVP_PKEY_free(pkey);

    Bytes blob = blobOf(key);
    EXPECT_EQ(blob.size(), 1172u);
    EXPECT_EQ(toHex(blob), toHex(expected));
}

TEST(PrivateKeyBlob, HeaderAndLayoutOfA1024BitKey)
{
    auto key = syntheticKey(128);
    EXPECT_EQ(key->ToCApi(nullptr, 0), 596u);
    Bytes blob = blobOf(*key);
    ASSERT_EQ(blob.size(), 596u);
    EXPECT_EQ(toHex(Bytes(blob.begin(), blob.begin() + 20)),
              "07 02 00 00 00 A4 00 00 52 53 41 32 00 04 00 00 01 00 01 00");
    // modulus reversed: its first stored byte ends the field
    EXPECT_EQ(blob[20], 0x10 + 127);
    EXPECT_EQ(blob[20 + 128 - 1], 0x10);
    // each half-size field, then the private exponent at 20 + n + 5h
    unsigned long const order[] = {CKA_PRIME_1, CKA_PRIME_2, CKA_EXPONENT_1, CKA_EXPONENT_2,
                                   CKA_COEFFICIENT};
    for (int i = 0; i < 5; ++i) {
        Bytes stored = valueOf(*key, order[i]);
        EXPECT_EQ(blob[20 + 128 + 64 * i], stored.back()) << i;
        EXPECT_EQ(blob[20 + 128 + 64 * i + 63], stored.front()) << i;
    }
    EXPECT_EQ(blob[20 + 128 + 5 * 64], valueOf(*key, CKA_PRIVATE_EXPONENT).back());
}

TEST(PrivateKeyBlob, AlgorithmFollowsTheUsageFlags)
{
    struct Case {
        unsigned char sign, decrypt, unwrap;
        char const *alg;
    } const cases[] = {
        {1, 0, 0, "00 24 00 00"}, {1, 1, 0, "00 A4 00 00"},
        {0, 1, 0, "00 A4 00 00"}, {0, 0, 1, "00 A4 00 00"},
        {0, 0, 0, "00 00 00 00"}, {2, 0, 0, "00 00 00 00"}, // flags must read exactly 1
    };
    for (Case const &c : cases) {
        auto key = syntheticKey(64);
        key->SetAttribute(CKA_SIGN, c.sign);
        key->SetAttribute(CKA_DECRYPT, c.decrypt);
        key->SetAttribute(CKA_UNWRAP, c.unwrap);
        Bytes blob = blobOf(*key);
        EXPECT_EQ(toHex(Bytes(blob.begin() + 4, blob.begin() + 8)), c.alg)
            << (int)c.sign << (int)c.decrypt << (int)c.unwrap;
    }
}

TEST(PrivateKeyBlob, ShortComponentsLeaveTheirHighBytesZero)
{
    auto key = syntheticKey(128);
    set(*key, CKA_EXPONENT_1, Bytes(63, 0x77));
    set(*key, CKA_PUBLIC_EXPONENT, hex("03"));
    Bytes blob = blobOf(*key);
    EXPECT_EQ(toHex(Bytes(blob.begin() + 16, blob.begin() + 20)), "03 00 00 00");
    size_t e1 = 20 + 128 + 2 * 64;
    EXPECT_EQ(blob[e1 + 62], 0x77);
    EXPECT_EQ(blob[e1 + 63], 0x00);
    EXPECT_EQ(blob[e1 + 64], valueOf(*key, CKA_EXPONENT_2).back());
}

TEST(PrivateKeyBlob, LeadingZerosAreNotPartOfAComponent)
{
    auto plain = syntheticKey(128);
    auto padded = syntheticKey(128);
    for (unsigned long type : PARTS) {
        Bytes v = valueOf(*plain, type);
        v.insert(v.begin(), 0x00);
        set(*padded, type, v);
    }
    EXPECT_EQ(padded->ToCApi(nullptr, 0), 596u);
    EXPECT_EQ(toHex(blobOf(*padded)), toHex(blobOf(*plain)));
}

// Components that do not fit their field are refused before anything is written.
TEST(PrivateKeyBlob, ComponentsThatDoNotFitAreRefused)
{
    struct Case {
        char const *name;
        size_t n;
        unsigned long type;
        Bytes value;
        unsigned long code;
    } const cases[] = {
        {"prime over n/2", 128, CKA_PRIME_1, Bytes(65, 0x81), CKR_ATTRIBUTE_VALUE_INVALID},
        {"coefficient over n/2", 128, CKA_COEFFICIENT, Bytes(65, 0x81),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"private exponent over n", 128, CKA_PRIVATE_EXPONENT, Bytes(129, 0x81),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"odd modulus with its larger prime", 129, CKA_PRIME_2, Bytes(65, 0x81),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"five-byte public exponent", 128, CKA_PUBLIC_EXPONENT, hex("01 00 00 00 01"),
         CKR_DATA_INVALID},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.name);
        auto key = syntheticKey(c.n);
        set(*key, c.type, c.value);
        unsigned long size = key->ToCApi(nullptr, 0);
        Bytes out(size, 0xEE);
        EXPECT_EQ(codeOf([&] { key->ToCApi(out.data(), out.size()); }), c.code);
        EXPECT_EQ(out, Bytes(size, 0xEE));
    }
}

TEST(PrivateKeyBlob, BufferSmallerThanTheBlobIsRefused)
{
    auto key = syntheticKey(128);
    Bytes out(595, 0xEE);
    EXPECT_EQ(codeOf([&] { key->ToCApi(out.data(), out.size()); }), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(out, Bytes(595, 0xEE));
}
