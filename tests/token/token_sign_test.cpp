// Signing and decryption on the identity-card token in process, against the
// simulated card and judged by OpenSSL: the refusals of the Init calls, which
// failures end an operation, the blocks the card is given, what the card step
// leaves behind on success and failure, and session keys done in software.
#include "token_rsa_oracle.h"
#include "token_sim_support.h"

#include "card/qvdes_prov.h"
#include "objects/p11_container.h"
#include "objects/p11_private_key.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"

using namespace token_test;

namespace
{

CK_FLAGS const RW = CKF_SERIAL_SESSION | CKF_RW_SESSION;

Bytes text(std::string const &s)
{
    return Bytes(s.begin(), s.end());
}

// A logged-in session on a card with a container of two 2048-bit keys (and,
// when asked, a second one of two 512-bit keys).
struct Signer {
    explicit Signer(bool small = false) : sim(personalisation(small))
    {
        EXPECT_TRUE(sim.Insert());
        h = sim.Open(RW);
        unsigned char pin[] = {'1', '2', '3', '4', '5', '6'};
        sim.token->Login(h, CKU_USER, pin, sizeof(pin));
    }
    static cardsim::Personalisation personalisation(bool small)
    {
        cardsim::Personalisation p;
        cardsim::ContainerSpec c;
        c.keys[0].bits = c.keys[1].bits = 2048;
        p.containers = {c};
        if (small) {
            c.keys[0].bits = c.keys[1].bits = 512;
            p.containers.push_back(c);
        }
        return p;
    }

    // A member of container index's container of the type (22 signs, 21 decrypts).
    CP11Object *member(int index, unsigned long type, CK_OBJECT_CLASS cls)
    {
        for (auto it = sim.token->Containers().begin(); it != sim.token->Containers().end(); ++it) {
            CP11Container *c = *it;
            if (c->FindByteAttribute(CKA_CONTAINER_ID) != index ||
                c->FindLongAttribute(CKA_CONTAINER_TYPE) != type)
                continue;
            return cls == CKO_PRIVATE_KEY  ? (CP11Object *)c->GetKeyPrivate()
                   : cls == CKO_PUBLIC_KEY ? (CP11Object *)c->GetKeyPublic()
                                           : (CP11Object *)c->GetCertificate();
        }
        return nullptr;
    }
    CK_OBJECT_HANDLE key(int index = 0, bool signs = true)
    {
        return member(index, signs ? CONTAINER_TYPE_SIGNATURE : CONTAINER_TYPE_EXCHANGE,
                      CKO_PRIVATE_KEY)
            ->GetHandle();
    }
    PKey cardKey(int index = 0, int spec = 0)
    {
        return KeyFromDer(sim.card->Snapshot().keys.at({index, spec}).der);
    }

    CK_RV init(CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE k, bool signs = true)
    {
        CK_MECHANISM mechanism = {type, nullptr, 0};
        return Rv([&] {
            if (signs)
                sim.token->SignInit(h, &mechanism, k);
            else
                sim.token->DecryptInit(h, &mechanism, k);
        });
    }
    CK_RV sign(Bytes const &data, Bytes &signature, unsigned long room = 256)
    {
        signature.assign(room, 0);
        unsigned long length = room;
        CK_RV rv = Rv([&] {
            sim.token->Sign(h, (unsigned char *)data.data(), data.size(), signature.data(),
                            &length);
        });
        signature.resize(rv == CKR_OK ? length : 0);
        return rv;
    }
    CK_RV decrypt(Bytes const &in, Bytes &out)
    {
        out.assign(256, 0);
        unsigned long length = out.size();
        CK_RV rv = Rv([&] {
            sim.token->Decrypt(h, (unsigned char *)in.data(), in.size(), out.data(), &length);
        });
        out.resize(rv == CKR_OK ? length : 0);
        return rv;
    }
    // The signing operation still there: a size query answers.
    bool signing()
    {
        unsigned long length = 0;
        unsigned char data[] = {1};
        return Rv([&] { sim.token->Sign(h, data, 1, nullptr, &length); }) == CKR_OK;
    }

    SimToken sim;
    CK_SESSION_HANDLE h = 0;
};

} // namespace

TEST(TokenSign, InitRefusals)
{
    Signer s;
    unsigned char parameter[4] = {};
    CK_OBJECT_HANDLE const sigKey = s.key(), exchangeKey = s.key(0, false);
    CK_OBJECT_HANDLE const publicKey =
        s.member(0, CONTAINER_TYPE_SIGNATURE, CKO_PUBLIC_KEY)->GetHandle();
    CK_OBJECT_HANDLE const certificate =
        s.member(0, CONTAINER_TYPE_SIGNATURE, CKO_CERTIFICATE)->GetHandle();
    struct Row {
        char const *what;
        bool signs;
        CK_MECHANISM mechanism;
        CK_OBJECT_HANDLE key;
        CK_RV rv;
    };
    Row const rows[] = {
        {"a digest", true, {CKM_SHA256, nullptr, 0}, sigKey, CKR_MECHANISM_INVALID},
        {"key pair generation",
         true,
         {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0},
         sigKey,
         CKR_MECHANISM_INVALID},
        {"a mechanism not listed, with a parameter",
         true,
         {CKM_AES_ECB, parameter, 4},
         sigKey,
         CKR_MECHANISM_INVALID},
        {"a parameter", true, {CKM_RSA_PKCS, parameter, 4}, sigKey, CKR_MECHANISM_PARAM_INVALID},
        {"a public key",
         true,
         {CKM_RSA_PKCS, nullptr, 0},
         publicKey,
         CKR_KEY_FUNCTION_NOT_PERMITTED},
        {"a certificate", true, {CKM_RSA_PKCS, nullptr, 0}, certificate, CKR_KEY_HANDLE_INVALID},
        {"a key that does not sign",
         true,
         {CKM_RSA_PKCS, nullptr, 0},
         exchangeKey,
         CKR_KEY_FUNCTION_NOT_PERMITTED},
        {"an unknown handle", true, {CKM_RSA_PKCS, nullptr, 0}, 0x777, CKR_OBJECT_HANDLE_INVALID},
        {"a hash mechanism to decrypt",
         false,
         {CKM_SHA256_RSA_PKCS, nullptr, 0},
         exchangeKey,
         CKR_MECHANISM_INVALID},
        {"a parameter to decrypt",
         false,
         {CKM_RSA_X_509, parameter, 4},
         exchangeKey,
         CKR_MECHANISM_PARAM_INVALID},
        {"a key that does not decrypt",
         false,
         {CKM_RSA_PKCS, nullptr, 0},
         sigKey,
         CKR_KEY_FUNCTION_NOT_PERMITTED},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        CK_MECHANISM mechanism = row.mechanism;
        EXPECT_EQ(Rv([&] {
                      if (row.signs)
                          s.sim.token->SignInit(s.h, &mechanism, row.key);
                      else
                          s.sim.token->DecryptInit(s.h, &mechanism, row.key);
                  }),
                  row.rv);
        EXPECT_FALSE(s.signing());
    }
    EXPECT_EQ(Rv([&] { s.sim.token->SignInit(s.h, nullptr, sigKey); }), CKR_ARGUMENTS_BAD);

    // a key whose allowed mechanisms lack the one asked for
    CK_MECHANISM_TYPE only = CKM_RSA_X_509;
    CK_ATTRIBUTE allowed = {CKA_ALLOWED_MECHANISMS, &only, sizeof(only)};
    s.member(0, CONTAINER_TYPE_SIGNATURE, CKO_PRIVATE_KEY)->SetAttribute(&allowed, P11_OP_INTERNAL);
    EXPECT_EQ(s.init(CKM_RSA_PKCS, sigKey), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(s.init(CKM_RSA_X_509, sigKey), CKR_OK);

    // a second Init leaves the first operation as it was
    EXPECT_EQ(s.init(CKM_RSA_X_509, sigKey), CKR_OPERATION_ACTIVE);
    Bytes signature;
    EXPECT_EQ(s.sign(text("kept"), signature), CKR_OK);
    PKey key = s.cardKey();
    EXPECT_TRUE(Verifies(key.get(), CKM_RSA_X_509, text("kept"), signature));
}

TEST(TokenSign, LengthsAndWhichFailuresEndTheOperation)
{
    Signer s(true);
    PKey key = s.cardKey();
    struct Row {
        char const *what;
        CK_MECHANISM_TYPE mechanism;
        int container;
        Bytes data;
        CK_RV rv;
    };
    Row const rows[] = {
        {"245 bytes to pad", CKM_RSA_PKCS, 0, Bytes(245, 7), CKR_OK},
        {"246 bytes to pad", CKM_RSA_PKCS, 0, Bytes(246, 7), CKR_FUNCTION_FAILED},
        {"257 bytes to pad", CKM_RSA_PKCS, 0, Bytes(257, 7), CKR_DATA_LEN_RANGE},
        {"ten raw bytes", CKM_RSA_X_509, 0, text("ten bytes!"), CKR_OK},
        {"257 raw bytes", CKM_RSA_X_509, 0, Bytes(257, 7), CKR_DATA_LEN_RANGE},
        {"SHA-512 with a 512-bit key", CKM_SHA512_RSA_PKCS, 1, text("data"), CKR_FUNCTION_FAILED},
        {"SHA-256 with a 512-bit key", CKM_SHA256_RSA_PKCS, 1, text("data"), CKR_OK},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(s.init(row.mechanism, s.key(row.container)), CKR_OK);
        Bytes signature;
        EXPECT_EQ(s.sign(row.data, signature), row.rv);
        EXPECT_FALSE(s.signing()) << "delivered or failed, the operation is over";
        if (row.rv == CKR_OK) {
            PKey k = s.cardKey(row.container);
            EXPECT_TRUE(Verifies(k.get(), row.mechanism, row.data, signature));
        }
    }

    // a buffer too small keeps the operation and its padding
    ASSERT_EQ(s.init(CKM_SHA256_RSA_PKCS, s.key()), CKR_OK);
    Bytes signature;
    EXPECT_EQ(s.sign(text("data"), signature, 255), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(s.sign(text("data"), signature), CKR_OK);
    EXPECT_TRUE(Verifies(key.get(), CKM_SHA256_RSA_PKCS, text("data"), signature));

    // no data: refused, and the operation ends
    ASSERT_EQ(s.init(CKM_SHA256_RSA_PKCS, s.key()), CKR_OK);
    EXPECT_EQ(s.sign(Bytes(), signature), CKR_ARGUMENTS_BAD);
    EXPECT_FALSE(s.signing());
    ASSERT_EQ(s.init(CKM_SHA256_RSA_PKCS, s.key()), CKR_OK);
    unsigned long length = 256;
    EXPECT_EQ(Rv([&] { s.sim.token->SignFinal(s.h, signature.data(), &length); }),
              CKR_OPERATION_ACTIVE);
    EXPECT_FALSE(s.signing());

    // in parts; once the padding is made no part is taken
    ASSERT_EQ(s.init(CKM_SHA256_RSA_PKCS, s.key()), CKR_OK);
    unsigned char ab[] = {'a', 'b'}, cd[] = {'c', 'd'};
    s.sim.token->SignUpdate(s.h, ab, 2);
    s.sim.token->SignUpdate(s.h, cd, 2);
    length = 0;
    s.sim.token->SignFinal(s.h, nullptr, &length);
    EXPECT_EQ(length, 256u);
    EXPECT_EQ(Rv([&] { s.sim.token->SignUpdate(s.h, ab, 2); }), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_FALSE(s.signing()) << "a failed part ends the operation";
}

TEST(TokenSign, TheCardStepLeavesNothingBehind)
{
    struct Row {
        char const *what;
        std::function<void(SimToken &)> spoil;
        CK_RV rv;
    };
    Row const rows[] = {
        {"a signature", nullptr, CKR_OK},
        {"a spoilt R-MAC", [](SimToken &s) { s.card->SetFault(cardsim::Fault::FlipRmac); },
         CKR_DEVICE_ERROR},
        {"the card pulled at the signing command",
         [](SimToken &s) {
             SimChannel *channel = s.channel.get();
             channel->refuse = [channel](Bytes const &c) {
                 channel->present = channel->present && !(c[0] == 0xB4 && c[1] == 0x78);
                 return !channel->present;
             };
         },
         CKR_DEVICE_REMOVED},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        Signer s;
        ASSERT_EQ(s.init(CKM_SHA256_RSA_PKCS, s.key()), CKR_OK);
        if (row.spoil)
            row.spoil(s.sim);
        Bytes signature;
        EXPECT_EQ(s.sign(text("data"), signature), row.rv);
        EXPECT_FALSE(s.signing());
        EXPECT_TRUE(s.sim.token->CryptoClear()) << "no key left in the provider set";
        EXPECT_EQ(s.sim.channel->open, 0) << "the exclusive access is given back";
        if (s.sim.channel->present) {
            EXPECT_EQ(s.sim.card->AuthenticatedRoles(), 0u);
            EXPECT_FALSE(s.sim.card->SessionOpen());
        }
    }
}

TEST(TokenDecrypt, TheCardsBlockIsUnpaddedInTheTokensOwnBuffer)
{
    Signer s;
    PKey key = s.cardKey(0, 1);
    Bytes plain = text("for the card's eyes");
    struct Row {
        char const *what;
        CK_MECHANISM_TYPE mechanism;
        Bytes ciphertext;
        CK_RV rv;
        Bytes expected;
    };
    Bytes raw(256, 0x11);
    raw[0] = 0;
    Row const rows[] = {
        {"PKCS#1 v1.5", CKM_RSA_PKCS, Encrypt(key.get(), plain), CKR_OK, plain},
        {"raw", CKM_RSA_X_509, Encrypt(key.get(), raw, false), CKR_OK, raw},
        {"a block without its padding",
         CKM_RSA_PKCS,
         Encrypt(key.get(), raw, false),
         CKR_FUNCTION_FAILED,
         {}},
        {"a block one byte short", CKM_RSA_PKCS, Bytes(255, 1), CKR_DATA_LEN_RANGE, {}},
    };
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(s.init(row.mechanism, s.key(0, false), false), CKR_OK);
        Bytes in = row.ciphertext, out;
        EXPECT_EQ(s.decrypt(in, out), row.rv);
        EXPECT_EQ(out, row.expected);
        EXPECT_EQ(in, row.ciphertext) << "the caller's input is left alone";
        EXPECT_EQ(s.decrypt(in, out), CKR_OPERATION_NOT_INITIALIZED);
    }
    EXPECT_TRUE(s.sim.token->CryptoClear());
}

TEST(TokenSign, SessionKeysSignAndDecryptInSoftware)
{
    Signer s;
    CP11Session *session = s.sim.token->GetSession(s.h);
    CP11RSAPublicKey publicTemplate;
    CP11RSAPrivateKey privateTemplate;
    publicTemplate.SetAttribute(CKA_MODULUS_BITS, 1024UL);
    CK_MECHANISM_TYPE allowed[] = {CKM_SHA256_RSA_PKCS, CKM_RSA_PKCS};
    CK_ATTRIBUTE list = {CKA_ALLOWED_MECHANISMS, allowed, sizeof(allowed)};
    privateTemplate.SetAttribute(&list, P11_OP_INTERNAL);
    privateTemplate.SetAttribute(CKA_SIGN, (unsigned char)1);
    privateTemplate.SetAttribute(CKA_DECRYPT, (unsigned char)1);
    unsigned long publicHandle = 0, privateHandle = 0;
    session->GenerateKeyPair(&publicTemplate, &privateTemplate, &publicHandle, &privateHandle);
    CP11Object *pub = s.sim.token->findObject(publicHandle);
    ASSERT_NE(pub, nullptr);
    unsigned long nLength = 0, eLength = 0;
    auto n = static_cast<unsigned char const *>(pub->FindBinaryAttribute(CKA_MODULUS, &nLength));
    auto e =
        static_cast<unsigned char const *>(pub->FindBinaryAttribute(CKA_PUBLIC_EXPONENT, &eLength));
    PKey key = PublicKey(Bytes(n, n + nLength), Bytes(e, e + eLength));
    ASSERT_TRUE(key);

    int apdus = s.sim.channel->apdus;
    ASSERT_EQ(s.init(CKM_SHA256_RSA_PKCS, privateHandle), CKR_OK);
    Bytes signature;
    ASSERT_EQ(s.sign(text("in software"), signature, 128), CKR_OK);
    EXPECT_TRUE(Verifies(key.get(), CKM_SHA256_RSA_PKCS, text("in software"), signature));

    ASSERT_EQ(s.init(CKM_RSA_PKCS, privateHandle, false), CKR_OK);
    Bytes plain;
    ASSERT_EQ(s.decrypt(Encrypt(key.get(), text("secret")), plain), CKR_OK);
    EXPECT_EQ(plain, text("secret"));
    EXPECT_EQ(s.sim.channel->apdus, apdus) << "the card is not asked";
}

namespace
{

// The simulated card, its replies passed through a change of the test's.
class ChangedCard : public cardsim::Card
{
  public:
    using cardsim::Card::Card;
    Bytes Apdu(Bytes const &command) override
    {
        Bytes reply = cardsim::Card::Apdu(command);
        return change ? change(command, reply) : reply;
    }
    std::function<Bytes(Bytes const &, Bytes const &)> change;
};

// The R-MAC the card gives data in the token's open session.
Bytes responseMac(CCardCryptoSet const &crypto, Bytes data)
{
    data.push_back(0x80);
    while (data.size() % 8 != 0)
        data.push_back(0);
    unsigned long length = data.size();
    QVDES_DESProv_Crypt3DES_CBC(crypto.state.sessionMac, data.data(), &length, crypto.state.chain,
                                8, 1);
    return Bytes(data.end() - 8, data.end());
}

} // namespace

TEST(TokenCardStep, AResultShorterThanTheKeyIsRefused)
{
    // the card answers with one byte less than the key's length, properly
    // protected: nothing is read past the card's reply, and nothing is delivered
    struct Row {
        char const *what;
        bool signs;
        unsigned char ins;
    };
    Row const rows[] = {{"a signature", true, 0x78}, {"a decryption", false, 0x7A}};
    for (Row const &row : rows) {
        SCOPED_TRACE(row.what);
        Signer s(true);
        auto *card = new ChangedCard(s.sim.card->Snapshot());
        s.sim.card.reset(card);
        card->PowerOn();
        ASSERT_EQ(card->Apdu(Hex("00 A4 04 00 0A A0 00 00 00 28 80 10 30 01 FF")),
                  (Bytes{0x90, 0}));
        card->change = [&](Bytes const &c, Bytes const &reply) {
            if (c.size() < 2 || c[0] != 0xB4 || c[1] != row.ins || reply.size() != 64 + 8 + 2)
                return reply;
            Bytes data(reply.begin() + 1, reply.begin() + 64);
            Bytes out = data, mac = responseMac(s.sim.token->Crypto(), data);
            out.insert(out.end(), mac.begin(), mac.end());
            out.insert(out.end(), {0x90, 0x00});
            return out;
        };
        PKey key = s.cardKey(1, row.signs ? 0 : 1);
        Bytes plain(64, 0x22);
        Bytes in = row.signs ? plain : Encrypt(key.get(), plain, false);
        auto run = [&](Bytes &out) {
            EXPECT_EQ(s.init(CKM_RSA_X_509, s.key(1, row.signs), row.signs), CKR_OK);
            return row.signs ? s.sign(in, out) : s.decrypt(in, out);
        };
        Bytes out;
        EXPECT_EQ(run(out), CKR_DEVICE_ERROR);
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(s.signing());
        EXPECT_TRUE(s.sim.token->CryptoClear());

        card->change = nullptr;
        ASSERT_EQ(run(out), CKR_OK);
        if (row.signs)
            EXPECT_TRUE(Verifies(key.get(), CKM_RSA_X_509, plain, out));
        else
            EXPECT_EQ(out, plain);
    }
}
