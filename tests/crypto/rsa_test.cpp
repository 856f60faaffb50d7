#include "crypto/rsa.h"

#include "crypto/digest.h"
#include "openssl_oracle.h"

#include <p11-kit/pkcs11.h>

#include <cstring>
#include <memory>

using oracle::Bytes;

namespace
{

const unsigned long EXT = CKeyAsymetric::OP_EXTERNAL;

class RsaTest : public ::testing::Test
{
  protected:
    static void SetUpTestSuite() { key = oracle::generateKey(1024).release(); }
    static void TearDownTestSuite() { EVP_PKEY_free(key); }

    // A key object with the whole key (or only N and E) and a mechanism.
    static std::unique_ptr<CRSA> make(unsigned long mechanism, bool withPrivate = true)
    {
        auto rsa = std::make_unique<CRSA>();
        oracle::loadKey(*rsa, key, withPrivate);
        EXPECT_TRUE(rsa->SetAttribute(CKeyAsymetric::ATTR_MECHANISM, mechanism));
        return rsa;
    }
    static Bytes result(CRSA &rsa)
    {
        Bytes out(rsa.Get(nullptr));
        rsa.Get(out.data());
        return out;
    }
    static Bytes sign(CRSA &rsa, unsigned long op, Bytes const &data)
    {
        EXPECT_TRUE(rsa.Init(op)) << std::hex << rsa.GetLastError();
        EXPECT_TRUE(rsa.Update(data.data(), data.size())) << std::hex << rsa.GetLastError();
        EXPECT_TRUE(rsa.Final(nullptr, 0)) << std::hex << rsa.GetLastError();
        return result(rsa);
    }
    static bool verify(CRSA &rsa, Bytes const &data, Bytes const &sig)
    {
        EXPECT_TRUE(rsa.Init(CKeyAsymetric::OP_VERIFY));
        return rsa.Do(data.data(), data.size(), sig.data(), sig.size());
    }

    static EVP_PKEY *key;
};

EVP_PKEY *RsaTest::key = nullptr;

struct DigestMechanism {
    unsigned long digestId;
    EVP_MD const *(*md)();
};

const DigestMechanism DIGESTS[] = {
    {CKeyAsymetric::DIGEST_MD5, EVP_md5},       {CKeyAsymetric::DIGEST_SHA1, EVP_sha1},
    {CKeyAsymetric::DIGEST_SHA224, EVP_sha224}, {CKeyAsymetric::DIGEST_SHA256, EVP_sha256},
    {CKeyAsymetric::DIGEST_SHA384, EVP_sha384}, {CKeyAsymetric::DIGEST_SHA512, EVP_sha512},
};

TEST_F(RsaTest, HashAndSignAgreesWithOpenSslBothWays)
{
    Bytes data = oracle::randomBytes(1000, 3);
    for (DigestMechanism const &d : DIGESTS) {
        SCOPED_TRACE(d.digestId);
        unsigned long mech = CKeyAsymetric::MECH_RSA_PKCS | d.digestId;
        Bytes hash = oracle::digest(d.md(), data);

        auto signer = make(mech);
        // fed in pieces
        ASSERT_TRUE(signer->Init(CKeyAsymetric::OP_SIGN));
        EXPECT_EQ(signer->GetFlags(), CKeyAsymetric::FLAG_INITIALISED);
        for (size_t i = 0; i < data.size(); i += 100)
            ASSERT_TRUE(signer->Update(data.data() + i, 100));
        EXPECT_EQ(signer->GetFlags(), 0u);
        ASSERT_TRUE(signer->Final(nullptr, 0));
        EXPECT_EQ(signer->GetFlags(), CKeyAsymetric::FLAG_FINISHED);
        Bytes sig = result(*signer);
        ASSERT_EQ(sig.size(), 128u);
        EXPECT_TRUE(oracle::verify(key, hash, sig, d.md()));

        Bytes theirs = oracle::run(key, oracle::Op::Sign, hash, d.md());
        auto verifier = make(mech, false);
        EXPECT_TRUE(verify(*verifier, data, theirs)) << std::hex << verifier->GetLastError();

        Bytes forged = theirs;
        forged[64] ^= 0x10;
        auto rejecter = make(mech, false);
        EXPECT_FALSE(verify(*rejecter, data, forged));
        EXPECT_EQ(rejecter->GetLastError(), CKR_SIGNATURE_INVALID);
    }
}

TEST_F(RsaTest, SecondInitDiscardsGatheredData)
{
    Bytes data = {'d', 'a', 't', 'a'};
    for (unsigned long mech : {CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA1,
                               static_cast<unsigned long>(CKeyAsymetric::MECH_RSA_PKCS)}) {
        SCOPED_TRACE(mech);
        auto rsa = make(mech);
        ASSERT_TRUE(rsa->Init(CKeyAsymetric::OP_SIGN));
        ASSERT_TRUE(rsa->Update("junk", 4));
        Bytes sig = sign(*rsa, CKeyAsymetric::OP_SIGN, data);
        Bytes expected =
            mech == CKeyAsymetric::MECH_RSA_PKCS
                ? oracle::run(key, oracle::Op::Sign, data)
                : oracle::run(key, oracle::Op::Sign, oracle::digest(EVP_sha1(), data), EVP_sha1());
        EXPECT_EQ(sig, expected);
    }
}

TEST_F(RsaTest, SignOfGivenDigestInfoAgreesWithOpenSsl)
{
    CSHA1 sha1("abc", 3);
    Bytes info(35);
    sha1.Get(info.data(), CDigest::FORM_DIGEST_INFO);
    auto signer = make(CKeyAsymetric::MECH_RSA_PKCS);
    Bytes sig = sign(*signer, CKeyAsymetric::OP_SIGN, info);
    EXPECT_EQ(sig, oracle::run(key, oracle::Op::Sign, info));
    auto verifier = make(CKeyAsymetric::MECH_RSA_PKCS, false);
    EXPECT_TRUE(verify(*verifier, info, sig));
}

// With the external flag only the padding is done: the block must be what
// the card's raw RSA step turns into OpenSSL's signature.
TEST_F(RsaTest, ExternalSignGivesTheBlockOpenSslRecovers)
{
    Bytes data = oracle::randomBytes(77, 5);
    for (DigestMechanism const &d : DIGESTS) {
        SCOPED_TRACE(d.digestId);
        auto signer = make(CKeyAsymetric::MECH_RSA_PKCS | d.digestId);
        Bytes block = sign(*signer, CKeyAsymetric::OP_SIGN | EXT, data);
        Bytes sig = oracle::run(key, oracle::Op::Sign, oracle::digest(d.md(), data), d.md());
        EXPECT_EQ(block, oracle::run(key, oracle::Op::VerifyRecover, sig, nullptr, RSA_NO_PADDING));
    }
    // a modulus alone is enough without the RSA step
    CRSA card;
    Bytes n = oracle::bnParam(key, OSSL_PKEY_PARAM_RSA_N);
    ASSERT_TRUE(card.SetAttribute(CRSA::ATTR_MODULUS, n.data(), n.size()));
    ASSERT_TRUE(card.SetAttribute(CKeyAsymetric::ATTR_MECHANISM,
                                  CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA1));
    Bytes block = sign(card, CKeyAsymetric::OP_SIGN | EXT, Bytes{'a', 'b', 'c'});
    ASSERT_EQ(block.size(), 128u);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x01);
    EXPECT_EQ(block[128 - 36], 0x00);
}

TEST_F(RsaTest, RawSignPlacesInputRightAligned)
{
    Bytes input = {0x0A, 0x0B, 0x0C};
    auto ext = make(CKeyAsymetric::MECH_RSA_RAW);
    Bytes block = sign(*ext, CKeyAsymetric::OP_SIGN | EXT, input);
    Bytes expected(128, 0);
    memcpy(expected.data() + 125, input.data(), 3);
    EXPECT_EQ(block, expected);

    auto signer = make(CKeyAsymetric::MECH_RSA_RAW);
    Bytes sig = sign(*signer, CKeyAsymetric::OP_SIGN, input);
    EXPECT_EQ(oracle::run(key, oracle::Op::VerifyRecover, sig, nullptr, RSA_NO_PADDING), expected);
    // raw verification ignores leading zeros on both sides
    auto verifier = make(CKeyAsymetric::MECH_RSA_RAW, false);
    EXPECT_TRUE(verify(*verifier, Bytes{0x00, 0x0A, 0x0B, 0x0C}, sig));
    auto rejecter = make(CKeyAsymetric::MECH_RSA_RAW, false);
    EXPECT_FALSE(verify(*rejecter, Bytes{0x0A, 0x0B, 0x0D}, sig));
    EXPECT_EQ(rejecter->GetLastError(), CKR_SIGNATURE_INVALID);

    auto tooLong = make(CKeyAsymetric::MECH_RSA_RAW);
    Bytes big(129, 1);
    ASSERT_TRUE(tooLong->Init(CKeyAsymetric::OP_SIGN));
    ASSERT_TRUE(tooLong->Update(big.data(), big.size()));
    EXPECT_FALSE(tooLong->Final(nullptr, 0));
    EXPECT_EQ(tooLong->GetLastError(), CKR_DATA_LEN_RANGE);
}

TEST_F(RsaTest, EncryptionAgreesWithOpenSslBothWays)
{
    Bytes message = oracle::randomBytes(40, 9);
    auto encryptor = make(CKeyAsymetric::MECH_RSA_PKCS, false);
    ASSERT_TRUE(encryptor->Init(CKeyAsymetric::OP_ENCRYPT));
    ASSERT_TRUE(encryptor->Do(message.data(), message.size(), nullptr, 0));
    Bytes ct = result(*encryptor);
    EXPECT_EQ(oracle::run(key, oracle::Op::Decrypt, ct), message);

    Bytes theirs = oracle::run(key, oracle::Op::Encrypt, message);
    auto decryptor = make(CKeyAsymetric::MECH_RSA_PKCS);
    ASSERT_TRUE(decryptor->Init(CKeyAsymetric::OP_DECRYPT));
    EXPECT_FALSE(decryptor->Update(theirs.data(), theirs.size()));
    EXPECT_EQ(decryptor->GetLastError(), CKR_FUNCTION_NOT_SUPPORTED);
    ASSERT_TRUE(decryptor->Do(theirs.data(), theirs.size(), nullptr, 0));
    EXPECT_EQ(result(*decryptor), message);

    // the card recovers the raw block; the padding is removed here
    Bytes block = oracle::run(key, oracle::Op::Decrypt, theirs, nullptr, RSA_NO_PADDING);
    auto external = make(CKeyAsymetric::MECH_RSA_PKCS, false);
    ASSERT_TRUE(external->Init(CKeyAsymetric::OP_DECRYPT | EXT));
    ASSERT_TRUE(external->Do(block.data(), block.size(), nullptr, 0));
    EXPECT_EQ(result(*external), message);
}

TEST_F(RsaTest, RawEncryptionAgreesWithOpenSsl)
{
    Bytes message = oracle::randomBytes(100, 11);
    auto encryptor = make(CKeyAsymetric::MECH_RSA_RAW, false);
    ASSERT_TRUE(encryptor->Init(CKeyAsymetric::OP_ENCRYPT));
    ASSERT_TRUE(encryptor->Do(message.data(), message.size(), nullptr, 0));
    Bytes ct = result(*encryptor);
    Bytes padded(128, 0);
    memcpy(padded.data() + 28, message.data(), message.size());
    EXPECT_EQ(oracle::run(key, oracle::Op::Decrypt, ct, nullptr, RSA_NO_PADDING), padded);

    auto decryptor = make(CKeyAsymetric::MECH_RSA_RAW);
    ASSERT_TRUE(decryptor->Init(CKeyAsymetric::OP_DECRYPT));
    ASSERT_TRUE(decryptor->Do(ct.data(), ct.size(), nullptr, 0));
    EXPECT_EQ(result(*decryptor), padded);
}

// Signatures and ciphertexts go through buffers of the key length; anything
// shorter or longer is refused before it is touched.
TEST_F(RsaTest, WrongLengthSignaturesAndCiphertextsAreRefused)
{
    Bytes data = {1, 2, 3};
    struct Case {
        unsigned long mechanism;
        unsigned long op;
        size_t length;
        CK_RV expected;
    } cases[] = {
        {CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA256, CKeyAsymetric::OP_VERIFY, 129,
         CKR_SIGNATURE_LEN_RANGE},
        {CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA256, CKeyAsymetric::OP_VERIFY, 127,
         CKR_SIGNATURE_LEN_RANGE},
        {CKeyAsymetric::MECH_RSA_PKCS, CKeyAsymetric::OP_VERIFY | EXT, 1, CKR_SIGNATURE_LEN_RANGE},
        {CKeyAsymetric::MECH_RSA_RAW, CKeyAsymetric::OP_VERIFY, 1, CKR_SIGNATURE_LEN_RANGE},
        {CKeyAsymetric::MECH_RSA_RAW, CKeyAsymetric::OP_VERIFY, 4096, CKR_SIGNATURE_LEN_RANGE},
        {CKeyAsymetric::MECH_RSA_PKCS, CKeyAsymetric::OP_DECRYPT, 127,
         CKR_ENCRYPTED_DATA_LEN_RANGE},
        {CKeyAsymetric::MECH_RSA_PKCS, CKeyAsymetric::OP_DECRYPT | EXT, 4096,
         CKR_ENCRYPTED_DATA_LEN_RANGE},
        {CKeyAsymetric::MECH_RSA_RAW, CKeyAsymetric::OP_DECRYPT, 1, CKR_ENCRYPTED_DATA_LEN_RANGE},
        {CKeyAsymetric::MECH_RSA_RAW, CKeyAsymetric::OP_DECRYPT | EXT, 129,
         CKR_ENCRYPTED_DATA_LEN_RANGE},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << std::hex << c.mechanism << " " << c.op << " " << std::dec << c.length);
        auto rsa = make(c.mechanism);
        Bytes blob(c.length, 0x5A);
        ASSERT_TRUE(rsa->Init(c.op));
        bool ok = (c.op & 0xFFFF) == CKeyAsymetric::OP_VERIFY
                      ? rsa->Do(data.data(), data.size(), blob.data(), blob.size())
                      : rsa->Do(blob.data(), blob.size(), nullptr, 0);
        EXPECT_FALSE(ok);
        EXPECT_EQ(rsa->GetLastError(), c.expected);
        EXPECT_EQ(rsa->Get(nullptr), 0u);
    }
}

TEST_F(RsaTest, MechanismAndOperationChecks)
{
    CRSA rsa;
    EXPECT_FALSE(rsa.SetAttribute(CKeyAsymetric::ATTR_MECHANISM, 0x1010007));
    EXPECT_EQ(rsa.GetLastError(), CKR_MECHANISM_INVALID);
    EXPECT_FALSE(rsa.SetAttribute(CKeyAsymetric::ATTR_MECHANISM, 0x1000001));
    EXPECT_EQ(rsa.GetLastError(), CKR_MECHANISM_INVALID);
    EXPECT_TRUE(rsa.SetAttribute(CKeyAsymetric::ATTR_MECHANISM, 0x1010006));
    EXPECT_FALSE(rsa.SetAttribute(0x77, 1));
    EXPECT_EQ(rsa.GetLastError(), CKR_ATTRIBUTE_TYPE_INVALID);
    unsigned long value = 0;
    EXPECT_TRUE(rsa.GetAttribute(CKeyAsymetric::ATTR_MECHANISM, value));
    EXPECT_EQ(value, 0x1010006u);

    // no key length yet
    EXPECT_FALSE(rsa.Init(CKeyAsymetric::OP_SIGN));
    EXPECT_EQ(rsa.GetLastError(), CKR_KEY_TYPE_INCONSISTENT);

    auto sha256 = make(CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA256);
    EXPECT_FALSE(sha256->Init(CKeyAsymetric::OP_ENCRYPT));
    EXPECT_EQ(sha256->GetLastError(), CKR_MECHANISM_INVALID);
    EXPECT_FALSE(sha256->Init(0x1005));
    EXPECT_EQ(sha256->GetLastError(), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_TRUE(sha256->Init(CKeyAsymetric::OP_SIGN));

    // sign takes no signature, verify needs one
    EXPECT_FALSE(sha256->Final("x", 1));
    EXPECT_EQ(sha256->GetLastError(), CKR_ARGUMENTS_BAD);
    ASSERT_TRUE(sha256->Init(CKeyAsymetric::OP_VERIFY));
    EXPECT_FALSE(sha256->Final(nullptr, 0));
    EXPECT_EQ(sha256->GetLastError(), CKR_ARGUMENTS_BAD);

    // nothing gathered
    auto raw = make(CKeyAsymetric::MECH_RSA_RAW);
    ASSERT_TRUE(raw->Init(CKeyAsymetric::OP_SIGN));
    EXPECT_FALSE(raw->Final(nullptr, 0));
    EXPECT_EQ(raw->GetLastError(), CKR_DATA_INVALID);

    // the bit size stands in for a missing modulus
    CRSA sized;
    EXPECT_TRUE(sized.SetAttribute(CRSA::ATTR_MODULUS_BITS, 2048));
    EXPECT_TRUE(sized.GetAttribute(CKeyAsymetric::ATTR_KEY_LENGTH, value));
    EXPECT_EQ(value, 256u);
    EXPECT_FALSE(sized.SetAttribute(CRSA::ATTR_MODULUS_BITS, 0UL));
    EXPECT_NE(sized.GetLastError(), static_cast<unsigned long>(CKR_OK));
}

TEST_F(RsaTest, ComponentsReadBackAndSmallBufferIsAnError)
{
    auto rsa = make(CKeyAsymetric::MECH_RSA_RAW);
    for (oracle::Component const &c : oracle::components()) {
        SCOPED_TRACE(c.name);
        Bytes expected = oracle::bnParam(key, c.name);
        unsigned long n = 0;
        ASSERT_TRUE(rsa->GetAttribute(c.id, nullptr, &n));
        ASSERT_EQ(n, expected.size());
        Bytes got(n);
        ASSERT_TRUE(rsa->GetAttribute(c.id, got.data(), &n));
        EXPECT_EQ(got, expected);

        unsigned long small = n - 1;
        EXPECT_FALSE(rsa->GetAttribute(c.id, got.data(), &small));
        EXPECT_EQ(small, n);
        EXPECT_EQ(rsa->GetLastError(), CKR_BUFFER_TOO_SMALL);
    }
    unsigned long value = 0;
    EXPECT_TRUE(rsa->GetAttribute(CKeyAsymetric::ATTR_KEY_LENGTH, value));
    EXPECT_EQ(value, 128u);
    EXPECT_FALSE(rsa->GetAttribute(CRSA::ATTR_MODULUS, nullptr, nullptr));
    EXPECT_EQ(rsa->GetLastError(), CKR_ARGUMENTS_BAD);
    EXPECT_TRUE(rsa->CheckPublicKey());
    EXPECT_TRUE(rsa->CheckPrivateKey());

    // the key goes with Reset
    EXPECT_TRUE(rsa->Reset());
    unsigned long n = 1;
    EXPECT_TRUE(rsa->GetAttribute(CRSA::ATTR_MODULUS, nullptr, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(rsa->CheckPublicKey());
    EXPECT_EQ(rsa->GetLastError(), CKR_KEY_TYPE_INCONSISTENT);
}

TEST_F(RsaTest, KeyCanBeReplacedAfterUse)
{
    auto rsa = make(CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA1);
    sign(*rsa, CKeyAsymetric::OP_SIGN, Bytes{1});
    oracle::Pkey other = oracle::generateKey(1024);
    oracle::loadKey(*rsa, other.get(), true);
    Bytes data = {1, 2, 3, 4};
    Bytes sig = sign(*rsa, CKeyAsymetric::OP_SIGN, data);
    EXPECT_TRUE(oracle::verify(other.get(), oracle::digest(EVP_sha1(), data), sig, EVP_sha1()));
}

TEST(RsaGenerate, GeneratedKeyPassesOpenSslCheck)
{
    CRSA rsa;
    const unsigned char e[] = {0x01, 0x00, 0x01};
    ASSERT_TRUE(rsa.SetAttribute(CRSA::ATTR_PUBLIC_EXPONENT, e, sizeof(e)));
    ASSERT_TRUE(rsa.SetAttribute(CRSA::ATTR_MODULUS_BITS, 2048));
    ASSERT_TRUE(rsa.Generate()) << std::hex << rsa.GetLastError();
    unsigned long length = 0;
    EXPECT_TRUE(rsa.GetAttribute(CKeyAsymetric::ATTR_KEY_LENGTH, length));
    EXPECT_EQ(length, 256u);

    oracle::Pkey key = oracle::keyFromObject(rsa);
    ASSERT_TRUE(key);
    EXPECT_EQ(EVP_PKEY_get_bits(key.get()), 2048);
    EXPECT_EQ(oracle::bnParam(key.get(), OSSL_PKEY_PARAM_RSA_E), Bytes(e, e + 3));
    oracle::PkeyCtx check(EVP_PKEY_CTX_new(key.get(), nullptr));
    EXPECT_EQ(EVP_PKEY_check(check.get()), 1);

    ASSERT_TRUE(rsa.SetAttribute(CKeyAsymetric::ATTR_MECHANISM,
                                 CKeyAsymetric::MECH_RSA_PKCS | CKeyAsymetric::DIGEST_SHA256));
    ASSERT_TRUE(rsa.Init(CKeyAsymetric::OP_SIGN));
    ASSERT_TRUE(rsa.Do("abc", 3, nullptr, 0));
    Bytes sig(rsa.Get(nullptr));
    rsa.Get(sig.data());
    EXPECT_TRUE(oracle::verify(key.get(), oracle::digest(EVP_sha256(), Bytes{'a', 'b', 'c'}), sig,
                               EVP_sha256()));
}

// An exponent without an inverse modulo the totient would keep the prime
// search going for ever.
TEST(RsaGenerate, UnusableExponentsAreRefused)
{
    struct Case {
        Bytes exponent;
        bool ok;
    } cases[] = {
        {{}, false},
        {{0x00}, false},
        {{0x01}, false},
        {{0x02}, false},
        {{0x01, 0x00, 0x00}, false},             // 65536
        {{0x01, 0x00, 0x00, 0x00, 0x01}, false}, // five bytes
        {{0x03}, true},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(oracle::hex(c.exponent));
        CRSA rsa;
        ASSERT_TRUE(
            rsa.SetAttribute(CRSA::ATTR_PUBLIC_EXPONENT, c.exponent.data(), c.exponent.size()));
        ASSERT_TRUE(rsa.SetAttribute(CRSA::ATTR_MODULUS_BITS, 512));
        EXPECT_EQ(rsa.Generate(), c.ok);
        EXPECT_EQ(rsa.GetLastError(), c.ok ? CKR_OK : CKR_ATTRIBUTE_TYPE_INVALID);
    }
    CRSA noBits;
    EXPECT_FALSE(noBits.Generate());
    EXPECT_EQ(noBits.GetLastError(), CKR_ATTRIBUTE_TYPE_INVALID);
    CRSA hugeBits;
    const unsigned char e[] = {0x01, 0x00, 0x01};
    hugeBits.SetAttribute(CRSA::ATTR_PUBLIC_EXPONENT, e, sizeof(e));
    hugeBits.SetAttribute(CRSA::ATTR_MODULUS_BITS, (1UL << 32) + 1024);
    EXPECT_FALSE(hugeBits.Generate());
    EXPECT_EQ(hugeBits.GetLastError(), CKR_KEY_TYPE_INCONSISTENT);
}

} // namespace
