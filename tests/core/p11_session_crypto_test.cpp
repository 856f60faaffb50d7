// The session's operation contexts, key loading and software key pairs, end
// to end through the fake token, with OpenSSL as the independent judge.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include "crypto/digest.h"
#include "crypto/rsa.h"
#include "fake_token_fixture.h"
#include "objects/p11_data_object.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"

using namespace core_test;
using Bytes = std::vector<unsigned char>;

namespace
{

bool opensslVerifySha256(Bytes const &n, Bytes const &e, Bytes const &data, Bytes const &sig)
{
    BIGNUM *bn = BN_bin2bn(n.data(), (int)n.size(), nullptr);
    BIGNUM *be = BN_bin2bn(e.data(), (int)e.size(), nullptr);
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, be);
    OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY *pkey = nullptr;
    bool ok = EVP_PKEY_fromdata_init(pctx) == 1 &&
              EVP_PKEY_fromdata(pctx, &pkey, EVP_PKEY_PUBLIC_KEY, params) == 1;
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    ok = ok && EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, pkey) == 1 &&
         EVP_DigestVerify(md, sig.data(), sig.size(), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_free(pkey);
    EVP_PKEY_CTX_free(pctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(bn);
    BN_free(be);
    return ok;
}

// An RSA key made by OpenSSL, as the components a caller hands to C_CreateObject.
struct OpenSslKey {
    Bytes n, e, d, p, q, dp, dq, qinv;

    explicit OpenSslKey(unsigned bits)
    {
        EVP_PKEY *pkey = EVP_RSA_gen(bits);
        struct {
            char const *name;
            Bytes *out;
        } const parts[] = {
            {OSSL_PKEY_PARAM_RSA_N, &n},          {OSSL_PKEY_PARAM_RSA_E, &e},
            {OSSL_PKEY_PARAM_RSA_D, &d},          {OSSL_PKEY_PARAM_RSA_FACTOR1, &p},
            {OSSL_PKEY_PARAM_RSA_FACTOR2, &q},    {OSSL_PKEY_PARAM_RSA_EXPONENT1, &dp},
            {OSSL_PKEY_PARAM_RSA_EXPONENT2, &dq}, {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, &qinv},
        };
        for (auto const &part : parts) {
            BIGNUM *bn = nullptr;
            if (pkey != nullptr && EVP_PKEY_get_bn_param(pkey, part.name, &bn) == 1) {
                part.out->resize(BN_num_bytes(bn));
                BN_bn2bin(bn, part.out->data());
            }
            BN_free(bn);
        }
        EVP_PKEY_free(pkey);
    }
};

// A key context that records what is loaded into it and when it dies.
class RecordingCtx : public CKeyAsymetric
{
  public:
    explicit RecordingCtx(int *destroyed = nullptr, unsigned refuseAt = ~0u)
        : m_destroyed(destroyed), m_refuseAt(refuseAt)
    {
    }
    ~RecordingCtx() override
    {
        if (m_destroyed != nullptr)
            ++*m_destroyed;
    }
    bool SetAttribute(unsigned int id, void const *, unsigned long) override
    {
        if (loaded.size() == m_refuseAt) {
            m_lastError = CKR_ATTRIBUTE_VALUE_INVALID;
            return false;
        }
        loaded.push_back(id);
        return true;
    }
    using CKeyAsymetric::SetAttribute;
    bool CheckPrivateKey() override { return true; }
    bool CheckPublicKey() override { return true; }
    bool Generate() override { return false; }
    unsigned long Get(void *) override { return 0; }

    std::vector<unsigned int> loaded;

  private:
    int *m_destroyed;
    unsigned m_refuseAt;
};

class CountedDigest : public CSHA1
{
  public:
    explicit CountedDigest(int *destroyed) : m_destroyed(destroyed) {}
    ~CountedDigest() override { ++*m_destroyed; }

  private:
    int *m_destroyed;
};

struct Crypto : FakeTokenFixture {
    CK_MECHANISM keyGen = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_MECHANISM sha256Rsa = {CKM_SHA256_RSA_PKCS, nullptr, 0};

    // Generates a session key pair; the private key is private and sensitive.
    unsigned long generate(unsigned long h, unsigned long bits, unsigned long *pub,
                           unsigned long *priv, bool withExponent = true)
    {
        CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
        unsigned char exponent[] = {0x01, 0x00, 0x01};
        CK_ATTRIBUTE pubT[] = {
            {CKA_TOKEN, &no, 1},
            {CKA_VERIFY, &yes, 1},
            {CKA_MODULUS_BITS, &bits, sizeof(bits)},
            {CKA_PUBLIC_EXPONENT, exponent, sizeof(exponent)},
        };
        CK_ATTRIBUTE privT[] = {
            {CKA_TOKEN, &no, 1},
            {CKA_PRIVATE, &yes, 1},
            {CKA_SIGN, &yes, 1},
            {CKA_SENSITIVE, &yes, 1},
        };
        return codeOf([&] {
            token->GenerateKeyPair(h, &keyGen, pubT, withExponent ? 4 : 3, privT, 4, pub, priv);
        });
    }

    Bytes attribute(unsigned long h, unsigned long object, unsigned long type)
    {
        CK_ATTRIBUTE a = {type, nullptr, 0};
        EXPECT_EQ(codeOf([&] { token->GetAttributeValue(h, object, &a, 1); }), NO_ERROR);
        Bytes value(a.ulValueLen);
        a.pValue = value.data();
        EXPECT_EQ(codeOf([&] { token->GetAttributeValue(h, object, &a, 1); }), NO_ERROR);
        return value;
    }

    Bytes sign(unsigned long h, unsigned long key, Bytes data)
    {
        EXPECT_EQ(codeOf([&] { token->SignInit(h, &sha256Rsa, key); }), NO_ERROR);
        unsigned long length = 0;
        EXPECT_EQ(codeOf([&] { token->Sign(h, data.data(), data.size(), nullptr, &length); }),
                  NO_ERROR);
        Bytes sig(length);
        EXPECT_EQ(codeOf([&] { token->Sign(h, data.data(), data.size(), sig.data(), &length); }),
                  NO_ERROR);
        sig.resize(length);
        return sig;
    }

    unsigned long verify(unsigned long h, unsigned long key, Bytes data, Bytes sig)
    {
        EXPECT_EQ(codeOf([&] { token->VerifyInit(h, &sha256Rsa, key); }), NO_ERROR);
        return codeOf([&] { token->Verify(h, data.data(), data.size(), sig.data(), sig.size()); });
    }
};

} // namespace

TEST_F(Crypto, GeneratedKeyPairSignsWhatOpenSslVerifies)
{
    unsigned long a = open();
    unsigned long b = open(RO);
    ASSERT_EQ(login(a), NO_ERROR);
    unsigned long pub = 0, priv = 0;
    ASSERT_EQ(generate(a, 2048, &pub, &priv), NO_ERROR);
    EXPECT_EQ(pub, 0x80000001UL);
    EXPECT_EQ(priv, 0x80000002UL);

    Bytes n = attribute(a, pub, CKA_MODULUS);
    Bytes e = attribute(a, pub, CKA_PUBLIC_EXPONENT);
    ASSERT_EQ(n.size(), 256u);
    EXPECT_EQ(n, attribute(a, priv, CKA_MODULUS));
    EXPECT_EQ(e, Bytes({1, 0, 1}));
    CK_ATTRIBUTE d = {CKA_PRIVATE_EXPONENT, nullptr, 0};
    EXPECT_EQ(codeOf([&] { token->GetAttributeValue(a, priv, &d, 1); }), CKR_ATTRIBUTE_SENSITIVE);

    // Signed in the other session with the key made in the first one.
    Bytes data = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};
    Bytes sig = sign(b, priv, data);
    ASSERT_EQ(sig.size(), 256u);
    EXPECT_TRUE(opensslVerifySha256(n, e, data, sig));
    EXPECT_EQ(verify(a, pub, data, sig), NO_ERROR);
    sig[10] ^= 1;
    EXPECT_EQ(verify(a, pub, data, sig), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(token->GetSession(a)->VerifyCtxGet(), nullptr) << "a failed verify ends it";

    // Multi-part signing gives the same PKCS#1 v1.5 signature.
    sig[10] ^= 1;
    ASSERT_EQ(codeOf([&] { token->SignInit(a, &sha256Rsa, priv); }), NO_ERROR);
    ASSERT_EQ(codeOf([&] { token->SignUpdate(a, data.data(), 4); }), NO_ERROR);
    ASSERT_EQ(codeOf([&] { token->SignUpdate(a, data.data() + 4, data.size() - 4); }), NO_ERROR);
    Bytes parts(256);
    unsigned long length = 10;
    EXPECT_EQ(codeOf([&] { token->SignFinal(a, parts.data(), &length); }), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 256u);
    ASSERT_EQ(codeOf([&] { token->SignFinal(a, parts.data(), &length); }), NO_ERROR);
    EXPECT_EQ(parts, sig);

    // The keys go with the session that made them.
    token->CloseSession(a);
    EXPECT_EQ(codeOf([&] { token->SignInit(b, &sha256Rsa, priv); }), CKR_KEY_HANDLE_INVALID);
}

TEST_F(Crypto, CreatedKeysKeepTheirClassAndSignLikeGeneratedOnes)
{
    OpenSslKey made(1024);
    ASSERT_EQ(made.n.size(), 128u);
    unsigned long h = open();
    ASSERT_EQ(login(h), NO_ERROR);
    CK_OBJECT_CLASS pubClass = CKO_PUBLIC_KEY, privClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE rsa = CKK_RSA;
    CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
    auto entry = [](CK_ATTRIBUTE_TYPE type, Bytes &value) {
        return CK_ATTRIBUTE{type, value.data(), value.size()};
    };
    CK_ATTRIBUTE pubT[] = {
        {CKA_CLASS, &pubClass, sizeof(pubClass)}, {CKA_KEY_TYPE, &rsa, sizeof(rsa)},
        {CKA_TOKEN, &no, 1},                      {CKA_VERIFY, &yes, 1},
        entry(CKA_MODULUS, made.n),               entry(CKA_PUBLIC_EXPONENT, made.e),
    };
    CK_ATTRIBUTE privT[] = {
        {CKA_CLASS, &privClass, sizeof(privClass)},
        {CKA_KEY_TYPE, &rsa, sizeof(rsa)},
        {CKA_TOKEN, &no, 1},
        {CKA_PRIVATE, &yes, 1},
        {CKA_SIGN, &yes, 1},
        entry(CKA_MODULUS, made.n),
        entry(CKA_PUBLIC_EXPONENT, made.e),
        entry(CKA_PRIVATE_EXPONENT, made.d),
        entry(CKA_PRIME_1, made.p),
        entry(CKA_PRIME_2, made.q),
        entry(CKA_EXPONENT_1, made.dp),
        entry(CKA_EXPONENT_2, made.dq),
        entry(CKA_COEFFICIENT, made.qinv),
    };
    unsigned long pub = 0, priv = 0;
    ASSERT_EQ(codeOf([&] { token->CreateObject(h, pubT, 6, &pub); }), NO_ERROR);
    ASSERT_EQ(codeOf([&] { token->CreateObject(h, privT, 13, &priv); }), NO_ERROR);
    EXPECT_NE(dynamic_cast<CP11RSAPublicKey *>(token->findObject(pub)), nullptr);
    EXPECT_NE(dynamic_cast<CP11RSAPrivateKey *>(token->findObject(priv)), nullptr);
    unsigned long bits = 1024;
    EXPECT_EQ(attribute(h, pub, CKA_MODULUS_BITS),
              Bytes((unsigned char *)&bits, (unsigned char *)&bits + sizeof(bits)));

    Bytes data = {'c', 'r', 'e', 'a', 't', 'e', 'd'};
    Bytes sig = sign(h, priv, data);
    EXPECT_TRUE(opensslVerifySha256(made.n, made.e, data, sig));
    EXPECT_EQ(verify(h, pub, data, sig), NO_ERROR);
    sig[3] ^= 1;
    EXPECT_EQ(verify(h, pub, data, sig), CKR_SIGNATURE_INVALID);
}

TEST_F(Crypto, KeyPairHandlesFollowSessionObjects)
{
    unsigned long h = open();
    ASSERT_EQ(login(h), NO_ERROR);
    EXPECT_EQ(createData(h, "first"), 0x80000001UL);
    unsigned long pub = 0, priv = 0;
    ASSERT_EQ(generate(h, 1024, &pub, &priv, false), NO_ERROR);
    EXPECT_EQ(pub, 0x80000002UL);
    EXPECT_EQ(priv, 0x80000003UL);
    EXPECT_EQ(attribute(h, pub, CKA_PUBLIC_EXPONENT), Bytes({1, 0, 1})) << "default exponent";

    CP11Session *session = token->GetSession(h);
    EXPECT_NE(dynamic_cast<CP11RSAPublicKey *>(session->GetObject(pub)), nullptr);
    EXPECT_NE(dynamic_cast<CP11RSAPrivateKey *>(session->GetObject(priv)), nullptr);
    EXPECT_EQ(session->FindLongAttribute(SESSION_A_LAST_OBJ_ID), priv);
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE byClass = {CKA_CLASS, &cls, sizeof(cls)};
    EXPECT_EQ(pages(h, 5, &byClass, 1), std::vector<std::vector<unsigned long>>({{priv}, {}}));

    token->DestroyObject(h, 0x80000001UL);
    EXPECT_EQ(createData(h, "next"), 0x80000004UL);
}

TEST_F(Crypto, RefusedModulusSizeCreatesNothing)
{
    unsigned long h = open();
    CP11Session *session = token->GetSession(h);
    unsigned long last = session->FindLongAttribute(SESSION_A_LAST_OBJ_ID);
    struct Row {
        char const *what;
        bool setBits;
        unsigned long bits;
        unsigned long keyType;
        unsigned long rv;
    } const rows[] = {
        {"bits absent", false, 0, CKK_RSA, CKR_TEMPLATE_INCOMPLETE},
        {"bits 0", true, 0, CKK_RSA, CKR_KEY_SIZE_RANGE},
        {"below the token's range", true, 512, CKK_RSA, CKR_KEY_SIZE_RANGE},
        {"above the token's range", true, 8192, CKK_RSA, CKR_KEY_SIZE_RANGE},
        {"not RSA", true, 1024, CKK_DSA, CKR_KEY_TYPE_INCONSISTENT},
    };
    for (Row const &row : rows) {
        CP11RSAPublicKey pub;
        CP11RSAPrivateKey priv;
        if (row.setBits)
            pub.SetAttribute(CKA_MODULUS_BITS, row.bits);
        pub.CP11Base::SetAttribute(CKA_KEY_TYPE, row.keyType);
        unsigned long pubHandle = 7, privHandle = 7;
        EXPECT_EQ(codeOf([&] { session->GenerateKeyPair(&pub, &priv, &pubHandle, &privHandle); }),
                  row.rv)
            << row.what;
        EXPECT_EQ(pubHandle, 0u) << row.what;
        EXPECT_EQ(privHandle, 0u) << row.what;
        EXPECT_EQ(session->GetObjects().Count(), 0u) << row.what;
        EXPECT_EQ(session->FindLongAttribute(SESSION_A_LAST_OBJ_ID), last) << row.what;
    }

    // Through the token: the object rules refuse 0, the token its range.
    ASSERT_EQ(login(h), NO_ERROR);
    unsigned long pub = 0, priv = 0;
    EXPECT_EQ(generate(h, 0, &pub, &priv), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_EQ(generate(h, 512, &pub, &priv), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(session->GetObjects().Count(), 0u);
}

TEST_F(Crypto, WriteKeyToCtxLoadsTheComponentsOfItsClass)
{
    CP11Session *session = token->GetSession(open());
    unsigned char n[] = {0xC1, 0x02, 0x03}, e[] = {3}, d[] = {7}, p[] = {5}, q[] = {11};

    CP11RSAPublicKey pub;
    pub.SetAttribute(CKA_MODULUS, (void const *)n, sizeof(n));
    pub.SetAttribute(CKA_PUBLIC_EXPONENT, (void const *)e, sizeof(e));
    RecordingCtx ctx;
    ASSERT_EQ(codeOf([&] { session->WriteKeyToCtx(&pub, &ctx); }), NO_ERROR);
    EXPECT_EQ(ctx.loaded,
              std::vector<unsigned int>({CRSA::ATTR_MODULUS, CRSA::ATTR_PUBLIC_EXPONENT}));

    // A private key without its first prime stops after three components.
    CP11RSAPrivateKey priv;
    priv.SetAttribute(CKA_MODULUS, (void const *)n, sizeof(n));
    priv.SetAttribute(CKA_PUBLIC_EXPONENT, (void const *)e, sizeof(e));
    priv.SetAttribute(CKA_PRIVATE_EXPONENT, (void const *)d, sizeof(d));
    priv.SetAttribute(CKA_PRIME_2, (void const *)q, sizeof(q));
    RecordingCtx partial;
    EXPECT_EQ(codeOf([&] { session->WriteKeyToCtx(&priv, &partial); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(partial.loaded.size(), 3u);

    priv.SetAttribute(CKA_PRIME_1, (void const *)p, sizeof(p));
    RecordingCtx refusing(nullptr, 4);
    EXPECT_EQ(codeOf([&] { session->WriteKeyToCtx(&priv, &refusing); }),
              CKR_ATTRIBUTE_VALUE_INVALID)
        << "the context's own code";

    pub.CP11Base::SetAttribute(CKA_CLASS, (unsigned long)CKO_DATA);
    RecordingCtx none;
    EXPECT_EQ(codeOf([&] { session->WriteKeyToCtx(&pub, &none); }), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_TRUE(none.loaded.empty());
}

TEST_F(Crypto, ContextSettersFreeWhatTheyReplace)
{
    int destroyed = 0;
    {
        CP11Session *session = token->GetSession(open());
        session->SignCtxSet(nullptr); // nothing held: nothing happens
        session->SignCtxSet(new RecordingCtx(&destroyed));
        session->SignCtxSet(new RecordingCtx(&destroyed));
        EXPECT_EQ(destroyed, 1);
        session->SignCtxSet(nullptr);
        EXPECT_EQ(destroyed, 2);
        EXPECT_EQ(session->SignCtxGet(), nullptr);

        // Whatever is still held goes with the session.
        session->DigestCtxSet(new CountedDigest(&destroyed));
        session->VerifyCtxSet(new RecordingCtx(&destroyed));
        session->EncryptCtxSet(new RecordingCtx(&destroyed));
        session->DecryptCtxSet(new RecordingCtx(&destroyed));
        session->SignCtxSet(new RecordingCtx(&destroyed));
        EXPECT_EQ(destroyed, 2);
        token->CloseAllSessions();
    }
    EXPECT_EQ(destroyed, 7);
}

TEST_F(Crypto, OperationActiveAndNotInitialised)
{
    unsigned long h = open();
    ASSERT_EQ(login(h), NO_ERROR);
    unsigned long pub = 0, priv = 0;
    ASSERT_EQ(generate(h, 1024, &pub, &priv), NO_ERROR);
    CK_MECHANISM sha256 = {CKM_SHA256, nullptr, 0};
    unsigned char data[4] = {1, 2, 3, 4};
    unsigned char out[512];
    unsigned long length = sizeof(out);

    struct Op {
        char const *what;
        std::function<void()> call;
    };
    std::vector<Op> const notInitialised = {
        {"Digest", [&] { token->Digest(h, data, 4, out, &length); }},
        {"DigestUpdate", [&] { token->DigestUpdate(h, data, 4); }},
        {"DigestFinal", [&] { token->DigestFinal(h, out, &length); }},
        {"Sign", [&] { token->Sign(h, data, 4, out, &length); }},
        {"SignUpdate", [&] { token->SignUpdate(h, data, 4); }},
        {"SignFinal", [&] { token->SignFinal(h, out, &length); }},
        {"Verify", [&] { token->Verify(h, data, 4, out, 128); }},
        {"VerifyUpdate", [&] { token->VerifyUpdate(h, data, 4); }},
        {"VerifyFinal", [&] { token->VerifyFinal(h, out, 128); }},
    };
    for (Op const &op : notInitialised)
        EXPECT_EQ(codeOf(op.call), CKR_OPERATION_NOT_INITIALIZED) << op.what;

    std::vector<Op> const inits = {
        {"DigestInit", [&] { token->DigestInit(h, &sha256); }},
        {"SignInit", [&] { token->SignInit(h, &sha256Rsa, priv); }},
        {"VerifyInit", [&] { token->VerifyInit(h, &sha256Rsa, pub); }},
    };
    for (Op const &op : inits) {
        EXPECT_EQ(codeOf(op.call), NO_ERROR) << op.what;
        EXPECT_EQ(codeOf(op.call), CKR_OPERATION_ACTIVE) << op.what;
    }
    // The running operations are untouched by the refusals and end normally.
    EXPECT_EQ(codeOf([&] { token->Sign(h, data, 4, out, &length); }), NO_ERROR);
    EXPECT_EQ(codeOf([&] { token->Verify(h, data, 4, out, length); }), NO_ERROR);
    EXPECT_EQ(codeOf([&] { token->SignUpdate(h, data, 4); }), CKR_OPERATION_NOT_INITIALIZED);

    // Keys of the wrong class or usage never start an operation.
    EXPECT_EQ(codeOf([&] { token->SignInit(h, &sha256Rsa, pub); }), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(codeOf([&] { token->VerifyInit(h, &sha256Rsa, priv); }), CKR_KEY_TYPE_INCONSISTENT);
    length = sizeof(out);
    EXPECT_EQ(codeOf([&] { token->DigestFinal(h, out, &length); }), NO_ERROR);
    CK_MECHANISM md5 = {CKM_MD5, nullptr, 0};
    EXPECT_EQ(codeOf([&] { token->DigestInit(h, &md5); }), CKR_MECHANISM_INVALID);
    EXPECT_EQ(token->GetSession(h)->SignCtxGet(), nullptr);
}

TEST_F(Crypto, DigestMatchesOpenSsl)
{
    unsigned long h = open(RO);
    CK_MECHANISM sha256 = {CKM_SHA256, nullptr, 0};
    std::string text = "The quick brown fox jumps over the lazy dog";
    unsigned char expected[SHA256_DIGEST_LENGTH];
    SHA256((unsigned char const *)text.data(), text.size(), expected);
    Bytes want(expected, expected + sizeof(expected));

    ASSERT_EQ(codeOf([&] { token->DigestInit(h, &sha256); }), NO_ERROR);
    unsigned long length = 0;
    ASSERT_EQ(codeOf([&] {
                  token->Digest(h, (unsigned char *)text.data(), text.size(), nullptr, &length);
              }),
              NO_ERROR);
    EXPECT_EQ(length, 32u);
    Bytes got(32);
    length = 31;
    EXPECT_EQ(codeOf([&] {
                  token->Digest(h, (unsigned char *)text.data(), text.size(), got.data(), &length);
              }),
              CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 32u);
    ASSERT_EQ(codeOf([&] {
                  token->Digest(h, (unsigned char *)text.data(), text.size(), got.data(), &length);
              }),
              NO_ERROR);
    EXPECT_EQ(got, want);

    ASSERT_EQ(codeOf([&] { token->DigestInit(h, &sha256); }), NO_ERROR);
    token->DigestUpdate(h, (unsigned char *)text.data(), 10);
    token->DigestUpdate(h, (unsigned char *)text.data() + 10, text.size() - 10);
    Bytes parts(32);
    length = 32;
    ASSERT_EQ(codeOf([&] { token->DigestFinal(h, parts.data(), &length); }), NO_ERROR);
    EXPECT_EQ(parts, want);
    EXPECT_EQ(token->GetSession(h)->DigestCtxGet(), nullptr);
}

TEST_F(Crypto, SeedDataSetTable)
{
    CP11Session *session = token->GetSession(open());
    unsigned char seed[] = {9, 8, 7};
    struct Row {
        unsigned char *p;
        unsigned long n;
        unsigned size;
    } const rows[] = {
        {seed, 3, 3},
        {seed, 0, 3},    // ignored
        {nullptr, 2, 3}, // ignored
        {nullptr, 0, 0}, // emptied
    };
    for (Row const &row : rows) {
        session->SeedDataSet(row.p, row.n);
        EXPECT_EQ(session->SeedGet().GetSize(), row.size) << row.n;
    }
}
