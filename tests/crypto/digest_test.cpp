#include "crypto/digest.h"

#include "openssl_oracle.h"

#include <openssl/x509.h>

#include <cstring>
#include <functional>
#include <memory>

using oracle::Bytes;

namespace
{

struct Algorithm {
    char const *name;
    unsigned long id;
    EVP_MD const *(*md)();
    std::function<CDigest *()> make;
    std::function<CDigest *(void const *, unsigned long)> makeOver;
};

const Algorithm ALGORITHMS[] = {
    {"MD5", CDigest::ALG_MD5, EVP_md5, [] { return new CMD5; },
     [](void const *d, unsigned long n) { return new CMD5(d, n); }},
    {"SHA1", CDigest::ALG_SHA1, EVP_sha1, [] { return new CSHA1; },
     [](void const *d, unsigned long n) { return new CSHA1(d, n); }},
    {"SHA224", CDigest::ALG_SHA224, EVP_sha224, [] { return new CSHA224; },
     [](void const *d, unsigned long n) { return new CSHA224(d, n); }},
    {"SHA256", CDigest::ALG_SHA256, EVP_sha256, [] { return new CSHA256; },
     [](void const *d, unsigned long n) { return new CSHA256(d, n); }},
    {"SHA384", CDigest::ALG_SHA384, EVP_sha384, [] { return new CSHA384; },
     [](void const *d, unsigned long n) { return new CSHA384(d, n); }},
    {"SHA512", CDigest::ALG_SHA512, EVP_sha512, [] { return new CSHA512; },
     [](void const *d, unsigned long n) { return new CSHA512(d, n); }},
};

// The DER DigestInfo as OpenSSL encodes it.
Bytes digestInfo(EVP_MD const *md, Bytes const &hash)
{
    X509_SIG *sig = X509_SIG_new();
    X509_ALGOR *alg = nullptr;
    ASN1_OCTET_STRING *octets = nullptr;
    X509_SIG_getm(sig, &alg, &octets);
    X509_ALGOR_set0(alg, OBJ_nid2obj(EVP_MD_get_type(md)), V_ASN1_NULL, nullptr);
    ASN1_OCTET_STRING_set(octets, hash.data(), static_cast<int>(hash.size()));
    unsigned char *der = nullptr;
    int n = i2d_X509_SIG(sig, &der);
    Bytes out(der, der + n);
    OPENSSL_free(der);
    X509_SIG_free(sig);
    return out;
}

class DigestTest : public ::testing::TestWithParam<Algorithm>
{
};

std::string algorithmName(::testing::TestParamInfo<Algorithm> const &info)
{
    return info.param.name;
}

// Every Get form of every algorithm against OpenSSL, over inputs that cross
// the block sizes, fed whole, in pieces and through the data constructor.
TEST_P(DigestTest, AllFormsMatchOpenSsl)
{
    Algorithm const &a = GetParam();
    for (size_t size : {0, 1, 3, 55, 56, 64, 111, 112, 128, 1000, 65537}) {
        SCOPED_TRACE(size);
        Bytes data = oracle::randomBytes(size, static_cast<unsigned>(size) + 7);
        Bytes expected = oracle::digest(a.md(), data);

        std::unique_ptr<CDigest> whole(a.make());
        whole->Hash(data.data(), data.size());
        std::unique_ptr<CDigest> pieces(a.make());
        for (size_t i = 0; i < size; i += 17)
            pieces->Update(data.data() + i, std::min<size_t>(17, size - i));
        pieces->Final();
        std::unique_ptr<CDigest> constructed(a.makeOver(data.data(), data.size()));

        for (CDigest *d : {whole.get(), pieces.get(), constructed.get()}) {
            EXPECT_EQ(d->GetAlgorithmId(), a.id);
            Bytes raw(CDigest::MAX_DIGEST_LENGTH);
            ASSERT_EQ(d->Get(raw.data(), CDigest::FORM_RAW), expected.size());
            raw.resize(expected.size());
            EXPECT_EQ(raw, expected);

            std::string text(2 * expected.size() + 1, 'x');
            EXPECT_EQ(d->Get(nullptr, CDigest::FORM_HEX), text.size());
            EXPECT_EQ(d->Get(&text[0], CDigest::FORM_HEX), text.size() - 1);
            EXPECT_STREQ(text.c_str(), oracle::hex(expected).c_str());

            std::string colons(3 * expected.size(), 'x');
            EXPECT_EQ(d->Get(nullptr, CDigest::FORM_HEX_COLON), colons.size());
            EXPECT_EQ(d->Get(&colons[0], CDigest::FORM_HEX_COLON), colons.size() - 1);
            EXPECT_STREQ(colons.c_str(), oracle::hex(expected, ":").c_str());

            Bytes info = digestInfo(a.md(), expected);
            Bytes ours(info.size() + 1, 0xEE);
            EXPECT_EQ(d->Get(nullptr, CDigest::FORM_DIGEST_INFO), info.size());
            ASSERT_EQ(d->Get(ours.data(), CDigest::FORM_DIGEST_INFO), info.size());
            EXPECT_EQ(ours.back(), 0xEE);
            ours.pop_back();
            EXPECT_EQ(ours, info);
        }
    }
}

TEST_P(DigestTest, ResetStartsOverAndStateWordFollowsTheCalls)
{
    Algorithm const &a = GetParam();
    std::unique_ptr<CDigest> d(a.make());
    EXPECT_EQ(d->GetFlags(), CDigest::STATE_RESET);
    d->Update("junk", 4);
    EXPECT_EQ(d->GetFlags(), CDigest::STATE_UPDATED);
    d->Reset();
    EXPECT_EQ(d->GetFlags(), CDigest::STATE_RESET);
    d->Update("abc", 3);
    d->Final();
    EXPECT_EQ(d->GetFlags(), CDigest::STATE_FINAL);
    Bytes raw(CDigest::MAX_DIGEST_LENGTH);
    raw.resize(d->Get(raw.data(), CDigest::FORM_RAW));
    EXPECT_EQ(raw, oracle::digest(a.md(), Bytes{'a', 'b', 'c'}));
    d->Update("x", 1);
    EXPECT_EQ(d->GetFlags(), CDigest::STATE_UPDATED);
    d->Hash("abc", 3);
    EXPECT_EQ(d->GetFlags(), CDigest::STATE_FINAL);
    Bytes again(CDigest::MAX_DIGEST_LENGTH);
    again.resize(d->Get(again.data(), CDigest::FORM_RAW));
    EXPECT_EQ(again, raw);
}

TEST_P(DigestTest, UnknownFormWritesNothing)
{
    std::unique_ptr<CDigest> d(GetParam().makeOver("abc", 3));
    unsigned char buf[8] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
    EXPECT_EQ(d->Get(buf, 4), 0u);
    EXPECT_EQ(d->Get(nullptr, 4), 0u);
    for (unsigned char c : buf)
        EXPECT_EQ(c, 0x55);
}

INSTANTIATE_TEST_SUITE_P(Algorithms, DigestTest, ::testing::ValuesIn(ALGORITHMS), algorithmName);

TEST(Digest, KnownVectorsAndSizes)
{
    CSHA1 sha1("abc", 3);
    char text[41];
    EXPECT_EQ(sha1.Get(text, CDigest::FORM_HEX), 40u);
    EXPECT_STREQ(text, "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(sha1.Get(nullptr, CDigest::FORM_HEX), 41u);

    CMD5 md5;
    EXPECT_EQ(md5.Get(nullptr, CDigest::FORM_HEX_COLON), 48u);

    CSHA256 sha256("abc", 3);
    unsigned char info[51];
    ASSERT_EQ(sha256.Get(info, CDigest::FORM_DIGEST_INFO), 51u);
    const unsigned char prefix[] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                    0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    EXPECT_EQ(0, memcmp(info, prefix, sizeof(prefix)));
}

TEST(Digest, ToHex)
{
    const unsigned char bytes[] = {0x00, 0xAB, 0x7F};
    char out[16];
    struct Case {
        unsigned long count;
        char const *sep;
        char const *text;
    } cases[] = {
        {3, nullptr, "00AB7F"}, {3, ":", "00:AB:7F"}, {3, ", ", "00, AB, 7F"},
        {1, ":", "00"},         {0, ":", ""},
    };
    for (Case const &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CDigest::toHex(bytes, c.count, c.sep, nullptr), strlen(c.text) + 1);
        EXPECT_EQ(CDigest::toHex(bytes, c.count, c.sep, out), strlen(c.text));
        EXPECT_STREQ(out, c.text);
    }
}

} // namespace
