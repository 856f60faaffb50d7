#include "crypto/rsa_pkcs1.h"

#include "openssl_oracle.h"

#include <cstring>

using oracle::Bytes;

namespace
{

// An RSA key context loaded from an OpenSSL key.
class Pkcs1Test : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        key512 = oracle::generateKey(512).release();
        key1024 = oracle::generateKey(1024).release();
    }
    static void TearDownTestSuite()
    {
        EVP_PKEY_free(key512);
        EVP_PKEY_free(key1024);
    }
    void SetUp() override
    {
        mbedtls_rsa_init(&ctx512, MBEDTLS_RSA_PKCS_V15, 0);
        mbedtls_rsa_init(&ctx1024, MBEDTLS_RSA_PKCS_V15, 0);
        load(ctx512, key512);
        load(ctx1024, key1024);
    }
    void TearDown() override
    {
        mbedtls_rsa_free(&ctx512);
        mbedtls_rsa_free(&ctx1024);
    }
    static void load(mbedtls_rsa_context &ctx, EVP_PKEY *key)
    {
        Bytes n = oracle::bnParam(key, OSSL_PKEY_PARAM_RSA_N);
        Bytes e = oracle::bnParam(key, OSSL_PKEY_PARAM_RSA_E);
        Bytes d = oracle::bnParam(key, OSSL_PKEY_PARAM_RSA_D);
        Bytes p = oracle::bnParam(key, OSSL_PKEY_PARAM_RSA_FACTOR1);
        Bytes q = oracle::bnParam(key, OSSL_PKEY_PARAM_RSA_FACTOR2);
        ASSERT_EQ(0, mbedtls_rsa_import_raw(&ctx, n.data(), n.size(), p.data(), p.size(), q.data(),
                                            q.size(), d.data(), d.size(), e.data(), e.size()));
        ASSERT_EQ(0, mbedtls_rsa_complete(&ctx));
    }

    static EVP_PKEY *key512;
    static EVP_PKEY *key1024;
    mbedtls_rsa_context ctx512;
    mbedtls_rsa_context ctx1024;
};

EVP_PKEY *Pkcs1Test::key512 = nullptr;
EVP_PKEY *Pkcs1Test::key1024 = nullptr;

struct HashCase {
    int hashId;
    EVP_MD const *(*md)();
    size_t infoLength;
};

const HashCase HASHES[] = {
    {PKCS1_HASH_MD5, EVP_md5, 34},       {PKCS1_HASH_SHA1, EVP_sha1, 35},
    {PKCS1_HASH_SHA224, EVP_sha224, 47}, {PKCS1_HASH_SHA256, EVP_sha256, 51},
    {PKCS1_HASH_SHA384, EVP_sha384, 67}, {PKCS1_HASH_SHA512, EVP_sha512, 83},
};

TEST_F(Pkcs1Test, SignaturesAgreeWithOpenSslBothWays)
{
    Bytes data = oracle::randomBytes(300, 1);
    for (HashCase const &h : HASHES) {
        SCOPED_TRACE(h.hashId);
        Bytes hash = oracle::digest(h.md(), data);

        Bytes sig(128);
        ASSERT_EQ(0, rsa_pkcs1_sign(&ctx1024, PKCS1_MODE_PRIVATE, h.hashId, hash.size(),
                                    hash.data(), sig.data()));
        EXPECT_TRUE(oracle::verify(key1024, hash, sig, h.md()));
        // PKCS#1 v1.5 signing is deterministic
        EXPECT_EQ(sig, oracle::run(key1024, oracle::Op::Sign, hash, h.md()));

        Bytes theirs = oracle::run(key1024, oracle::Op::Sign, hash, h.md());
        EXPECT_EQ(0, rsa_pkcs1_verify(&ctx1024, PKCS1_MODE_PUBLIC, h.hashId, hash.size(),
                                      hash.data(), theirs.data()));
        hash[0] ^= 1;
        EXPECT_EQ(PKCS1_ERR_VERIFY_FAILED,
                  rsa_pkcs1_verify(&ctx1024, PKCS1_MODE_PUBLIC, h.hashId, hash.size(), hash.data(),
                                   theirs.data()));
    }
}

TEST_F(Pkcs1Test, BlockLayoutWithoutRsaStep)
{
    Bytes hash = oracle::digest(EVP_sha256(), Bytes{'a', 'b', 'c'});
    Bytes block(128);
    ASSERT_EQ(0, rsa_pkcs1_sign(&ctx1024, PKCS1_MODE_NO_RSA, PKCS1_HASH_SHA256, hash.size(),
                                hash.data(), block.data()));
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x01);
    for (size_t i = 2; i < 2 + 74; i++)
        ASSERT_EQ(block[i], 0xFF) << i;
    EXPECT_EQ(block[76], 0x00);
    EXPECT_EQ(0, memcmp(block.data() + 128 - 32, hash.data(), 32));
    // the block is what OpenSSL's signature recovers to
    Bytes sig = oracle::run(key1024, oracle::Op::Sign, hash, EVP_sha256());
    EXPECT_EQ(block, oracle::run(key1024, oracle::Op::VerifyRecover, sig, nullptr, RSA_NO_PADDING));

    EXPECT_EQ(0, rsa_pkcs1_verify(&ctx1024, PKCS1_MODE_NO_RSA, PKCS1_HASH_SHA256, hash.size(),
                                  hash.data(), block.data()));
    // a SHA-256 DigestInfo is no SHA-1 one
    Bytes sha1(20);
    EXPECT_EQ(PKCS1_ERR_INVALID_PADDING,
              rsa_pkcs1_verify(&ctx1024, PKCS1_MODE_NO_RSA, PKCS1_HASH_SHA1, sha1.size(),
                               sha1.data(), block.data()));
}

TEST_F(Pkcs1Test, MalformedBlocksAreRefused)
{
    Bytes hash(20, 0x42);
    Bytes good(128);
    ASSERT_EQ(0, rsa_pkcs1_sign(&ctx1024, PKCS1_MODE_NO_RSA, PKCS1_HASH_SHA1, hash.size(),
                                hash.data(), good.data()));
    struct Case {
        char const *what;
        size_t at;
        unsigned char value;
    } cases[] = {
        {"leading octet", 0, 0x01},
        {"block type 2", 1, 0x02},
        {"padding octet not FF", 10, 0xFE},
        {"separator missing", 128 - 36, 0xFF},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bad = good;
        bad[c.at] = c.value;
        EXPECT_EQ(PKCS1_ERR_INVALID_PADDING,
                  rsa_pkcs1_verify(&ctx1024, PKCS1_MODE_NO_RSA, PKCS1_HASH_SHA1, hash.size(),
                                   hash.data(), bad.data()));
    }
    Bytes bad = good;
    bad[128 - 25] ^= 1; // inside the DigestInfo prefix
    EXPECT_EQ(PKCS1_ERR_VERIFY_FAILED,
              rsa_pkcs1_verify(&ctx1024, PKCS1_MODE_NO_RSA, PKCS1_HASH_SHA1, hash.size(),
                               hash.data(), bad.data()));
    // all FF up to the end: no separator before the last octet
    Bytes noSeparator(128, 0xFF);
    noSeparator[0] = 0;
    noSeparator[1] = 1;
    noSeparator[127] = 0;
    EXPECT_EQ(PKCS1_ERR_INVALID_PADDING,
              rsa_pkcs1_verify(&ctx1024, PKCS1_MODE_NO_RSA, PKCS1_HASH_NONE, 0, nullptr,
                               noSeparator.data()));
}

TEST_F(Pkcs1Test, SignRefusesWhatDoesNotFit)
{
    Bytes sha512(64), sig(128);
    EXPECT_EQ(PKCS1_ERR_BAD_INPUT, rsa_pkcs1_sign(&ctx512, PKCS1_MODE_PRIVATE, PKCS1_HASH_SHA512,
                                                  sha512.size(), sha512.data(), sig.data()));
    // a hash id outside the table, and a hash of the wrong size for its id
    EXPECT_EQ(PKCS1_ERR_BAD_INPUT,
              rsa_pkcs1_sign(&ctx1024, PKCS1_MODE_PRIVATE, 1, 20, sha512.data(), sig.data()));
    EXPECT_EQ(PKCS1_ERR_BAD_INPUT, rsa_pkcs1_sign(&ctx1024, PKCS1_MODE_PRIVATE, PKCS1_HASH_SHA1, 19,
                                                  sha512.data(), sig.data()));
    // raw input: at least eight padding octets
    Bytes raw(128 - 11, 0x33);
    EXPECT_EQ(0, rsa_pkcs1_sign(&ctx1024, PKCS1_MODE_NO_RSA, PKCS1_HASH_NONE, raw.size(),
                                raw.data(), sig.data()));
    raw.push_back(0x33);
    EXPECT_EQ(PKCS1_ERR_BAD_INPUT, rsa_pkcs1_sign(&ctx1024, PKCS1_MODE_NO_RSA, PKCS1_HASH_NONE,
                                                  raw.size(), raw.data(), sig.data()));
    mbedtls_rsa_set_padding(&ctx1024, MBEDTLS_RSA_PKCS_V21, MBEDTLS_MD_SHA256);
    EXPECT_EQ(PKCS1_ERR_INVALID_PADDING,
              rsa_pkcs1_sign(&ctx1024, PKCS1_MODE_PRIVATE, PKCS1_HASH_SHA1, 20, sha512.data(),
                             sig.data()));
}

TEST_F(Pkcs1Test, EncryptionAgreesWithOpenSslBothWays)
{
    for (size_t size : {1, 16, 117}) {
        SCOPED_TRACE(size);
        Bytes message = oracle::randomBytes(size, static_cast<unsigned>(size));
        Bytes ct(128);
        ASSERT_EQ(0, rsa_pkcs1_encrypt(&ctx1024, PKCS1_MODE_PUBLIC, message.size(), message.data(),
                                       ct.data()));
        EXPECT_EQ(message, oracle::run(key1024, oracle::Op::Decrypt, ct));

        Bytes theirs = oracle::run(key1024, oracle::Op::Encrypt, message);
        Bytes plain(128);
        size_t plainLength = 0;
        ASSERT_EQ(0, rsa_pkcs1_decrypt(&ctx1024, PKCS1_MODE_PRIVATE, &plainLength, theirs.data(),
                                       plain.data(), plain.size()));
        plain.resize(plainLength);
        EXPECT_EQ(plain, message);
    }
    Bytes tooLong(118), ct(128);
    EXPECT_EQ(PKCS1_ERR_BAD_INPUT, rsa_pkcs1_encrypt(&ctx1024, PKCS1_MODE_PUBLIC, tooLong.size(),
                                                     tooLong.data(), ct.data()));
}

TEST_F(Pkcs1Test, EncryptionBlockHasNonZeroRandomPadding)
{
    Bytes message(17, 0x00);
    Bytes first(128), second(128);
    ASSERT_EQ(0, rsa_pkcs1_encrypt(&ctx1024, PKCS1_MODE_NO_RSA, message.size(), message.data(),
                                   first.data()));
    ASSERT_EQ(0, rsa_pkcs1_encrypt(&ctx1024, PKCS1_MODE_NO_RSA, message.size(), message.data(),
                                   second.data()));
    EXPECT_EQ(first[0], 0x00);
    EXPECT_EQ(first[1], 0x02);
    for (size_t i = 2; i < 128 - 18; i++)
        ASSERT_NE(first[i], 0x00) << i;
    EXPECT_EQ(first[128 - 18], 0x00);
    EXPECT_NE(first, second);

    // and decrypts in the mode without RSA step
    Bytes plain(17);
    size_t plainLength = 0;
    ASSERT_EQ(0, rsa_pkcs1_decrypt(&ctx1024, PKCS1_MODE_NO_RSA, &plainLength, first.data(),
                                   plain.data(), plain.size()));
    EXPECT_EQ(plainLength, 17u);
    EXPECT_EQ(PKCS1_ERR_OUTPUT_TOO_LARGE,
              rsa_pkcs1_decrypt(&ctx1024, PKCS1_MODE_NO_RSA, &plainLength, first.data(),
                                plain.data(), 16));

    Bytes bad = first;
    bad[1] = 0x01;
    EXPECT_EQ(PKCS1_ERR_INVALID_PADDING,
              rsa_pkcs1_decrypt(&ctx1024, PKCS1_MODE_NO_RSA, &plainLength, bad.data(), plain.data(),
                                plain.size()));
    Bytes noSeparator(128, 0x11);
    noSeparator[0] = 0;
    noSeparator[1] = 2;
    EXPECT_EQ(PKCS1_ERR_INVALID_PADDING,
              rsa_pkcs1_decrypt(&ctx1024, PKCS1_MODE_NO_RSA, &plainLength, noSeparator.data(),
                                plain.data(), plain.size()));
}

TEST_F(Pkcs1Test, KeyLengthOutsideTheSupportedRangeIsRefused)
{
    Bytes block(600), out(600);
    size_t n = 0;
    for (size_t len : {size_t(15), size_t(513)}) {
        SCOPED_TRACE(len);
        ctx1024.len = len;
        EXPECT_EQ(PKCS1_ERR_BAD_INPUT,
                  rsa_pkcs1_verify(&ctx1024, PKCS1_MODE_NO_RSA, PKCS1_HASH_NONE, 1, out.data(),
                                   block.data()));
        EXPECT_EQ(PKCS1_ERR_BAD_INPUT, rsa_pkcs1_decrypt(&ctx1024, PKCS1_MODE_NO_RSA, &n,
                                                         block.data(), out.data(), out.size()));
    }
    ctx1024.len = 128;
}

} // namespace
