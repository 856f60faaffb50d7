// Digests, signature verification and encryption on the identity-card token, all
// in software, checked against OpenSSL: results, the size convention, the order of
// the Init checks and when an operation stays active or ends.
#include "token_sim_support.h"

#include <openssl/x509.h>

#include "../crypto/openssl_oracle.h"
#include "base/p11_convert.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"

using namespace token_test;

namespace
{

using oracle::Pkey;

CK_MECHANISM Mechanism(CK_MECHANISM_TYPE type, void *parameter = nullptr, CK_ULONG length = 0)
{
    return {type, parameter, length};
}

// Container 0: a signature key the test knows (verify and encrypt allowed) and an
// exchange key (encrypt only); container 1: a signature key (verify only); a data
// object.
class SoftwareCrypto : public ::testing::Test
{
  protected:
    SoftwareCrypto() : sim(card()) {}

    static cardsim::Personalisation card()
    {
        cardsim::Personalisation p;
        cardsim::ContainerSpec both, signing;
        both.keys[0].bits = both.keys[1].bits = 2048;
        signing.keys[0].bits = 1024;
        p.containers = {both, signing};
        p.files = {QvP11File("data00", EncodedDataObject("data", {1}, false))};
        return p;
    }

    void SetUp() override
    {
        static Bytes der; // one key for every test: generated once
        cardsim::KeyOptions options;
        options.usage = 0x03;
        options.privateDer = der;
        std::string error;
        ASSERT_TRUE(sim.card->AddKey(0, 0, options, &error, &der)) << error;
        unsigned char const *p = der.data();
        key.reset(d2i_AutoPrivateKey(nullptr, &p, (long)der.size()));
        ASSERT_NE(key, nullptr);
        ASSERT_TRUE(sim.Insert());
        s = sim.Open(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        Bytes modulus = oracle::bnParam(key.get(), OSSL_PKEY_PARAM_RSA_N);
        CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
        for (CK_OBJECT_HANDLE h : sim.Find(s, {{CKA_CLASS, &cls, sizeof(cls)}})) {
            unsigned char verifies = sim.Attribute(s, h, CKA_VERIFY)[0];
            unsigned char encrypts = sim.Attribute(s, h, CKA_ENCRYPT)[0];
            if (sim.Attribute(s, h, CKA_MODULUS) == modulus)
                known = h;
            else if (encrypts && !verifies)
                encryptOnly = h;
            else if (verifies && !encrypts)
                verifyOnly = h;
        }
        CK_OBJECT_CLASS data = CKO_DATA;
        std::vector<CK_OBJECT_HANDLE> objects = sim.Find(s, {{CKA_CLASS, &data, sizeof(data)}});
        ASSERT_EQ(objects.size(), 1u);
        dataObject = objects[0];
        ASSERT_NE(known, 0u);
        ASSERT_NE(encryptOnly, 0u);
        ASSERT_NE(verifyOnly, 0u);
    }

    // A digest through DigestInit and Digest, or in parts through DigestUpdate.
    CK_RV Digest(CK_MECHANISM_TYPE type, std::vector<Bytes> const &parts, Bytes &out,
                 bool whole = true)
    {
        CK_MECHANISM m = Mechanism(type);
        out.assign(64, 0);
        CK_ULONG n = out.size();
        CK_RV rv = Rv([&] {
            sim.token->DigestInit(s, &m);
            if (whole) {
                Bytes all;
                for (Bytes const &p : parts)
                    all.insert(all.end(), p.begin(), p.end());
                sim.token->Digest(s, all.data(), all.size(), out.data(), &n);
                return;
            }
            for (Bytes p : parts)
                sim.token->DigestUpdate(s, p.data(), p.size());
            sim.token->DigestFinal(s, out.data(), &n);
        });
        out.resize(rv == CKR_OK ? n : 0);
        return rv;
    }

    // Verification in one call or in two parts.
    CK_RV Verify(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE h, Bytes data, Bytes signature,
                 bool parts = false)
    {
        CK_MECHANISM m = Mechanism(type);
        return Rv([&] {
            sim.token->VerifyInit(s, &m, h);
            if (!parts) {
                sim.token->Verify(s, data.data(), data.size(), signature.data(), signature.size());
                return;
            }
            size_t half = data.size() / 2;
            sim.token->VerifyUpdate(s, data.data(), half);
            sim.token->VerifyUpdate(s, data.data() + half, data.size() - half);
            sim.token->VerifyFinal(s, signature.data(), signature.size());
        });
    }

    // Whether an operation of the kind is active: a new Init is refused then. The
    // probe ends the operation it starts.
    bool Active(std::function<void(CK_MECHANISM *)> init, CK_MECHANISM_TYPE type)
    {
        CK_MECHANISM m = Mechanism(type);
        CK_RV rv = Rv([&] { init(&m); });
        if (rv == CKR_OK)
            EndAll();
        return rv == CKR_OPERATION_ACTIVE;
    }
    bool DigestActive()
    {
        return Active([&](CK_MECHANISM *m) { sim.token->DigestInit(s, m); }, CKM_SHA_1);
    }
    bool VerifyActive()
    {
        return Active([&](CK_MECHANISM *m) { sim.token->VerifyInit(s, m, known); },
                      CKM_SHA1_RSA_PKCS);
    }
    bool EncryptActive()
    {
        return Active([&](CK_MECHANISM *m) { sim.token->EncryptInit(s, m, known); }, CKM_RSA_PKCS);
    }
    // Ends every operation of the session by a refused call of its kind.
    void EndAll()
    {
        Rv([&] { sim.token->DigestUpdate(s, nullptr, 0); });
        Rv([&] { sim.token->VerifyUpdate(s, nullptr, 0); });
        Rv([&] { sim.token->Encrypt(s, nullptr, 0, nullptr, nullptr); });
    }

    SimToken sim;
    Pkey key;
    CK_SESSION_HANDLE s = 0;
    CK_OBJECT_HANDLE known = 0, encryptOnly = 0, verifyOnly = 0, dataObject = 0;
};

struct DigestRow {
    CK_MECHANISM_TYPE type;
    EVP_MD const *(*md)();
};
DigestRow const DIGESTS[] = {
    {CKM_MD5, EVP_md5},       {CKM_SHA_1, EVP_sha1},    {CKM_SHA224, EVP_sha224},
    {CKM_SHA256, EVP_sha256}, {CKM_SHA384, EVP_sha384}, {CKM_SHA512, EVP_sha512},
};

} // namespace

TEST_F(SoftwareCrypto, EveryDigestMatchesOpenSslWholeAndInPartsAndRefusesNoData)
{
    Bytes long1 = oracle::randomBytes(1000, 7);
    std::vector<std::vector<Bytes>> inputs = {
        {{}}, // refused, and the operation ends
        {{'a', 'b', 'c'}},
        {Bytes(long1.begin(), long1.begin() + 1), Bytes(long1.begin() + 1, long1.begin() + 600),
         Bytes(long1.begin() + 600, long1.end())},
    };
    for (DigestRow const &row : DIGESTS) {
        for (auto const &parts : inputs) {
            SCOPED_TRACE(CP11Convert::CKM2String(row.type));
            Bytes all;
            for (Bytes const &p : parts)
                all.insert(all.end(), p.begin(), p.end());
            CK_RV rv = all.empty() ? CKR_ARGUMENTS_BAD : CKR_OK;
            Bytes expected = rv == CKR_OK ? oracle::digest(row.md(), all) : Bytes();
            Bytes got;
            EXPECT_EQ(Digest(row.type, parts, got), rv);
            EXPECT_EQ(got, expected);
            EXPECT_FALSE(DigestActive()) << "a digest delivered or refused ends its operation";
            EXPECT_EQ(Digest(row.type, parts, got, false), rv);
            EXPECT_EQ(got, expected);
            EXPECT_FALSE(DigestActive());
        }
    }
}

TEST_F(SoftwareCrypto, DigestCallsKeepTheirOperationOnlyForSizeAnswers)
{
    Bytes abc = {'a', 'b', 'c'};
    Bytes out(64);
    CK_ULONG n = 0;
    auto init = [&](CK_MECHANISM_TYPE type) {
        CK_MECHANISM m = Mechanism(type);
        return Rv([&] { sim.token->DigestInit(s, &m); });
    };
    auto update = [&] { return Rv([&] { sim.token->DigestUpdate(s, abc.data(), 3); }); };
    auto final = [&](CK_ULONG room) {
        n = room;
        return Rv([&] { sim.token->DigestFinal(s, out.data(), &n); });
    };
    auto digest = [&](unsigned char *data, CK_ULONG length, unsigned char *to, CK_ULONG room) {
        n = room;
        return Rv([&] { sim.token->Digest(s, data, length, to, &n); });
    };
    Bytes sha1 = oracle::digest(EVP_sha1(), abc);
    Bytes sha256 = oracle::digest(EVP_sha256(), abc);

    struct Row {
        char const *what;
        std::function<void()> steps;
        bool activeAfter;
    };
    Row const rows[] = {
        {"no data is refused and ends the operation",
         [&] {
             EXPECT_EQ(init(CKM_SHA256), CKR_OK);
             EXPECT_EQ(digest(abc.data(), 0, out.data(), 64), CKR_ARGUMENTS_BAD);
         },
         false},
        {"a final without data is refused and ends the operation",
         [&] {
             EXPECT_EQ(init(CKM_SHA256), CKR_OK);
             EXPECT_EQ(final(64), CKR_OPERATION_ACTIVE);
         },
         false},
        {"a size query answers and keeps the operation",
         [&] {
             EXPECT_EQ(init(CKM_SHA256), CKR_OK);
             EXPECT_EQ(digest(abc.data(), 3, nullptr, 0), CKR_OK);
             EXPECT_EQ(n, 32u);
         },
         true},
        {"a short buffer keeps the digest computed for the next final",
         [&] {
             EXPECT_EQ(init(CKM_SHA_1), CKR_OK);
             EXPECT_EQ(update(), CKR_OK);
             EXPECT_EQ(final(10), CKR_BUFFER_TOO_SMALL);
             EXPECT_EQ(n, 20u);
             EXPECT_EQ(final(20), CKR_OK);
             EXPECT_EQ(Bytes(out.begin(), out.begin() + n), sha1);
         },
         false},
        {"an update after the digest was computed ends the operation",
         [&] {
             EXPECT_EQ(init(CKM_SHA_1), CKR_OK);
             EXPECT_EQ(update(), CKR_OK);
             EXPECT_EQ(final(10), CKR_BUFFER_TOO_SMALL);
             EXPECT_EQ(update(), CKR_OPERATION_NOT_INITIALIZED);
             EXPECT_EQ(final(20), CKR_OPERATION_NOT_INITIALIZED);
         },
         false},
        {"a second Init is refused and the first operation goes on",
         [&] {
             EXPECT_EQ(init(CKM_SHA256), CKR_OK);
             EXPECT_EQ(init(CKM_MD5), CKR_OPERATION_ACTIVE);
             EXPECT_EQ(digest(abc.data(), 3, out.data(), 64), CKR_OK);
             EXPECT_EQ(Bytes(out.begin(), out.begin() + n), sha256);
         },
         false},
        {"a NULL length is refused and ends the operation",
         [&] {
             EXPECT_EQ(init(CKM_SHA256), CKR_OK);
             EXPECT_EQ(Rv([&] { sim.token->DigestFinal(s, out.data(), nullptr); }),
                       CKR_ARGUMENTS_BAD);
         },
         false},
        {"no operation",
         [&] {
             EXPECT_EQ(digest(abc.data(), 3, out.data(), 64), CKR_OPERATION_NOT_INITIALIZED);
             EXPECT_EQ(update(), CKR_OPERATION_NOT_INITIALIZED);
         },
         false},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        row.steps();
        EXPECT_EQ(DigestActive(), row.activeAfter);
        EndAll();
    }

    int sha1Parameter = 0;
    struct InitRow {
        CK_SESSION_HANDLE session;
        CK_MECHANISM_TYPE type;
        void *parameter;
        CK_RV rv;
    };
    InitRow const inits[] = {
        {s, CKM_RSA_PKCS, nullptr, CKR_MECHANISM_INVALID},
        {s, CKM_SHA_1, &sha1Parameter, CKR_MECHANISM_PARAM_INVALID},
        {s, CKM_RSA_PKCS, &sha1Parameter, CKR_MECHANISM_PARAM_INVALID}, // the parameter first
        {s, CKM_SHA512_224, nullptr, CKR_MECHANISM_INVALID},
        {s + 9, CKM_SHA_1, nullptr, CKR_SESSION_HANDLE_INVALID},
    };
    for (InitRow const &row : inits) {
        SCOPED_TRACE(row.type);
        CK_MECHANISM m = Mechanism(row.type, row.parameter, row.parameter != nullptr ? 4 : 0);
        EXPECT_EQ(Rv([&] { sim.token->DigestInit(row.session, &m); }), row.rv);
        EXPECT_FALSE(DigestActive());
    }
    EXPECT_EQ(Rv([&] { sim.token->DigestInit(s, nullptr); }), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Rv([&] { sim.token->DigestKey(s, known); }), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(Rv([&] { sim.token->DigestKey(s + 9, known); }), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(SoftwareCrypto, SignaturesOfOpenSslVerifyAndBadOnesEndTheOperation)
{
    Bytes data = {'s', 'i', 'g', 'n', 'e', 'd', ' ', 't', 'e', 'x', 't'};
    // raw RSA: the data right-aligned in a block of the key's length
    Bytes block(256, 0);
    std::copy(data.begin(), data.end(), block.end() - data.size());
    struct Row {
        CK_MECHANISM_TYPE type;
        EVP_MD const *(*md)();
        int padding;
    };
    Row const rows[] = {
        {CKM_RSA_PKCS, nullptr, RSA_PKCS1_PADDING},
        {CKM_RSA_X_509, nullptr, RSA_NO_PADDING},
        {CKM_SHA1_RSA_PKCS, EVP_sha1, RSA_PKCS1_PADDING},
        {CKM_SHA224_RSA_PKCS, EVP_sha224, RSA_PKCS1_PADDING},
        {CKM_SHA256_RSA_PKCS, EVP_sha256, RSA_PKCS1_PADDING},
        {CKM_SHA384_RSA_PKCS, EVP_sha384, RSA_PKCS1_PADDING},
        {CKM_SHA512_RSA_PKCS, EVP_sha512, RSA_PKCS1_PADDING},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(CP11Convert::CKM2String(row.type));
        Bytes signed_ = row.md != nullptr               ? oracle::digest(row.md(), data)
                        : row.padding == RSA_NO_PADDING ? block
                                                        : data;
        Bytes signature = oracle::run(key.get(), oracle::Op::Sign, signed_,
                                      row.md != nullptr ? row.md() : nullptr, row.padding);
        ASSERT_EQ(signature.size(), 256u);
        EXPECT_EQ(Verify(row.type, known, data, signature), CKR_OK);
        EXPECT_FALSE(VerifyActive()) << "a verified signature ends its operation";
        if (row.md != nullptr) {
            EXPECT_EQ(Verify(row.type, known, data, signature, true), CKR_OK);
        }

        Bytes flipped = signature;
        flipped[100] ^= 0x01;
        EXPECT_EQ(Verify(row.type, known, data, flipped), CKR_SIGNATURE_INVALID);
        EXPECT_FALSE(VerifyActive());

        Bytes longer = signature;
        longer.push_back(0);
        EXPECT_EQ(Verify(row.type, known, data, longer), CKR_SIGNATURE_LEN_RANGE);
        Bytes shorter(signature.begin() + 1, signature.end());
        EXPECT_EQ(Verify(row.type, known, data, shorter), CKR_SIGNATURE_LEN_RANGE);
        EXPECT_FALSE(VerifyActive());
    }
}

TEST_F(SoftwareCrypto, VerificationAndEncryptionInitCheckInTheirOrder)
{
    int parameter = 0;
    auto verifyInit = [&](CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE h, void *p = nullptr) {
        CK_MECHANISM m = Mechanism(type, p, p != nullptr ? 4 : 0);
        return Rv([&] { sim.token->VerifyInit(s, &m, h); });
    };
    auto encryptInit = [&](CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE h, void *p = nullptr) {
        CK_MECHANISM m = Mechanism(type, p, p != nullptr ? 4 : 0);
        return Rv([&] { sim.token->EncryptInit(s, &m, h); });
    };
    struct Row {
        char const *what;
        std::function<CK_RV()> init;
        CK_RV rv;
    };
    Row const rows[] = {
        {"verify: the purpose before the parameter",
         [&] { return verifyInit(CKM_SHA_1, known, &parameter); }, CKR_MECHANISM_INVALID},
        {"verify: a parameter", [&] { return verifyInit(CKM_SHA1_RSA_PKCS, known, &parameter); },
         CKR_MECHANISM_PARAM_INVALID},
        {"verify: not a mechanism of the token",
         [&] { return verifyInit(CKM_RSA_PKCS_PSS, known); }, CKR_MECHANISM_INVALID},
        {"verify: no such object", [&] { return verifyInit(CKM_RSA_PKCS, known + 100); },
         CKR_OBJECT_HANDLE_INVALID},
        {"verify: not a key", [&] { return verifyInit(CKM_RSA_PKCS, dataObject); },
         CKR_KEY_HANDLE_INVALID},
        {"verify: a key that may not verify", [&] { return verifyInit(CKM_RSA_PKCS, encryptOnly); },
         CKR_KEY_FUNCTION_NOT_PERMITTED},
        {"encrypt: a mechanism without encryption",
         [&] { return encryptInit(CKM_SHA1_RSA_PKCS, known); }, CKR_MECHANISM_INVALID},
        {"encrypt: a parameter", [&] { return encryptInit(CKM_RSA_X_509, known, &parameter); },
         CKR_MECHANISM_PARAM_INVALID},
        {"encrypt: a key that may not encrypt",
         [&] { return encryptInit(CKM_RSA_PKCS, verifyOnly); }, CKR_KEY_FUNCTION_NOT_PERMITTED},
        {"encrypt: no session",
         [&] {
             CK_MECHANISM m = Mechanism(CKM_RSA_PKCS);
             return Rv([&] { sim.token->EncryptInit(s + 9, &m, known); });
         },
         CKR_SESSION_HANDLE_INVALID},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.init(), row.rv);
        EXPECT_FALSE(VerifyActive());
        EXPECT_FALSE(EncryptActive());
    }

    // a second Init leaves the first operation as it was; a final without data ends it
    Bytes data = {1, 2, 3};
    Bytes signature =
        oracle::run(key.get(), oracle::Op::Sign, oracle::digest(EVP_sha1(), data), EVP_sha1());
    EXPECT_EQ(verifyInit(CKM_SHA1_RSA_PKCS, known), CKR_OK);
    EXPECT_EQ(verifyInit(CKM_RSA_PKCS, known), CKR_OPERATION_ACTIVE);
    EXPECT_EQ(Rv([&] { sim.token->Verify(s, data.data(), 3, signature.data(), 256); }), CKR_OK);
    EXPECT_EQ(verifyInit(CKM_SHA1_RSA_PKCS, known), CKR_OK);
    EXPECT_EQ(Rv([&] { sim.token->VerifyFinal(s, signature.data(), 256); }), CKR_OPERATION_ACTIVE);
    EXPECT_FALSE(VerifyActive());

    // private keys are seen once the user is logged in, and verify nothing
    unsigned char pin[] = {'1', '2', '3', '4', '5', '6'};
    sim.token->Login(s, CKU_USER, pin, sizeof(pin));
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    std::vector<CK_OBJECT_HANDLE> privateKeys = sim.Find(s, {{CKA_CLASS, &cls, sizeof(cls)}});
    ASSERT_FALSE(privateKeys.empty());
    EXPECT_EQ(verifyInit(CKM_SHA1_RSA_PKCS, privateKeys[0]), CKR_KEY_FUNCTION_NOT_PERMITTED);
    EXPECT_EQ(encryptInit(CKM_RSA_PKCS, privateKeys[0]), CKR_KEY_FUNCTION_NOT_PERMITTED);
}

TEST_F(SoftwareCrypto, SignaturesOfTheCardAndOfASessionKeyVerify)
{
    unsigned char pin[] = {'1', '2', '3', '4', '5', '6'};
    sim.token->Login(s, CKU_USER, pin, sizeof(pin));
    Bytes modulus = oracle::bnParam(key.get(), OSSL_PKEY_PARAM_RSA_N);
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    std::vector<CK_OBJECT_HANDLE> onCard = sim.Find(
        s, {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_MODULUS, modulus.data(), modulus.size()}});
    ASSERT_EQ(onCard.size(), 1u);

    // a key pair of the session, made in software
    CP11RSAPublicKey publicTemplate;
    CP11RSAPrivateKey privateTemplate;
    CK_MECHANISM_TYPE allowed[] = {CKM_SHA1_RSA_PKCS};
    publicTemplate.SetAttribute(CKA_MODULUS_BITS, 1024UL);
    for (CP11Object *t : std::initializer_list<CP11Object *>{&publicTemplate, &privateTemplate})
        t->SetAttribute(CKA_ALLOWED_MECHANISMS, (void const *)allowed, sizeof(allowed));
    publicTemplate.SetAttribute(CKA_VERIFY, (unsigned char)CK_TRUE);
    privateTemplate.SetAttribute(CKA_SIGN, (unsigned char)CK_TRUE);
    CK_OBJECT_HANDLE sessionPublic = 0, sessionPrivate = 0;
    sim.token->GetSession(s)->GenerateKeyPair(&publicTemplate, &privateTemplate, &sessionPublic,
                                              &sessionPrivate);

    struct Row {
        char const *what;
        CK_OBJECT_HANDLE signing, verifying;
        CK_ULONG length;
    };
    Row const rows[] = {
        {"a card key", onCard[0], known, 256},
        {"a session key", sessionPrivate, sessionPublic, 128},
    };
    Bytes data = {'s', 'i', 'g', 'n', 'e', 'd'};
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        Bytes signature(256);
        CK_ULONG length = signature.size();
        CK_MECHANISM m = Mechanism(CKM_SHA1_RSA_PKCS);
        sim.token->SignInit(s, &m, row.signing);
        sim.token->Sign(s, data.data(), data.size(), signature.data(), &length);
        ASSERT_EQ(length, row.length);
        signature.resize(length);
        EXPECT_EQ(Verify(CKM_SHA1_RSA_PKCS, row.verifying, data, signature), CKR_OK);
        Bytes flipped = signature;
        flipped[length / 2] ^= 0x01;
        EXPECT_EQ(Verify(CKM_SHA1_RSA_PKCS, row.verifying, data, flipped), CKR_SIGNATURE_INVALID);
        EXPECT_FALSE(VerifyActive());
    }
}

TEST_F(SoftwareCrypto, EncryptionDecryptsWithOpenSslAndKeepsItsOperationForSizeAnswers)
{
    Bytes out(300);
    CK_ULONG n = 0;
    auto encrypt = [&](CK_MECHANISM_TYPE type, Bytes data, unsigned char *to, CK_ULONG room,
                       bool init = true) {
        CK_MECHANISM m = Mechanism(type);
        n = room;
        return Rv([&] {
            if (init)
                sim.token->EncryptInit(s, &m, known);
            sim.token->Encrypt(s, data.data(), data.size(), to, &n);
        });
    };
    struct Row {
        CK_MECHANISM_TYPE type;
        size_t length;
        CK_RV rv;
        int padding; // OpenSSL's decryption of the result
    };
    Row const rows[] = {
        {CKM_RSA_PKCS, 1, CKR_OK, RSA_PKCS1_PADDING},
        {CKM_RSA_PKCS, 245, CKR_OK, RSA_PKCS1_PADDING},
        {CKM_RSA_PKCS, 246, CKR_FUNCTION_FAILED, 0},
        {CKM_RSA_PKCS, 257, CKR_DATA_LEN_RANGE, 0},
        {CKM_RSA_X_509, 100, CKR_OK, RSA_NO_PADDING},
        {CKM_RSA_X_509, 257, CKR_DATA_LEN_RANGE, 0},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(std::to_string(row.type) + " " + std::to_string(row.length));
        Bytes data = oracle::randomBytes(row.length, (unsigned)row.length);
        EXPECT_EQ(encrypt(row.type, data, out.data(), out.size()), row.rv);
        EXPECT_FALSE(EncryptActive()) << "a result or a failure ends the operation";
        if (row.rv != CKR_OK)
            continue;
        ASSERT_EQ(n, 256u);
        Bytes plain = oracle::run(key.get(), oracle::Op::Decrypt,
                                  Bytes(out.begin(), out.begin() + n), nullptr, row.padding);
        if (row.padding == RSA_NO_PADDING) {
            ASSERT_EQ(plain.size(), 256u);
            EXPECT_TRUE(std::all_of(plain.begin(), plain.end() - row.length,
                                    [](unsigned char b) { return b == 0; }));
            plain.erase(plain.begin(), plain.end() - row.length);
        }
        EXPECT_EQ(plain, data);
    }

    // size answers keep the operation, the refused kinds leave it alone
    Bytes data = {4, 5, 6};
    EXPECT_EQ(encrypt(CKM_RSA_PKCS, data, nullptr, 0), CKR_OK);
    EXPECT_EQ(n, 256u);
    EXPECT_EQ(encrypt(CKM_RSA_PKCS, data, out.data(), 255, false), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(n, 256u);
    CK_ULONG length = 0;
    EXPECT_EQ(Rv([&] { sim.token->EncryptUpdate(s, data.data(), 3, out.data(), &length); }),
              CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(Rv([&] { sim.token->EncryptFinal(s, out.data(), &length); }),
              CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(Rv([&] { sim.token->EncryptUpdate(s + 9, data.data(), 3, out.data(), &length); }),
              CKR_SESSION_HANDLE_INVALID);
    EXPECT_TRUE(EncryptActive());
    EXPECT_EQ(encrypt(CKM_RSA_PKCS, data, out.data(), 256, false), CKR_OK);
    EXPECT_EQ(oracle::run(key.get(), oracle::Op::Decrypt, Bytes(out.begin(), out.begin() + n)),
              data);

    struct Refused {
        char const *what;
        std::function<void()> call;
        CK_RV rv;
    };
    Refused const refused[] = {
        {"DecryptUpdate", [&] { sim.token->DecryptUpdate(s, out.data(), 3, out.data(), &length); },
         CKR_FUNCTION_NOT_SUPPORTED},
        {"DecryptFinal", [&] { sim.token->DecryptFinal(s + 9, out.data(), &length); },
         CKR_SESSION_HANDLE_INVALID},
        {"GetOperationState", [&] { sim.token->GetOperationState(s + 9, out.data(), &length); },
         CKR_FUNCTION_NOT_SUPPORTED},
        {"SetOperationState", [&] { sim.token->SetOperationState(s + 9, out.data(), 3, 0, 0); },
         CKR_FUNCTION_NOT_SUPPORTED},
    };
    for (Refused const &row : refused) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Rv(row.call), row.rv);
    }
}
