// Key containers of the simulated card: create, key information and delete, key import
// under secure messaging, and the private-key operation in single commands and in
// pieces, with every result checked by OpenSSL against the public key the card reports.
#include "card_fixture.h"
#include "sm_host.h"

#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <random>

using namespace cardsim_test;
using cardsim::CardState;

namespace
{

using Pkey = std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY *)>;
using Bn = std::unique_ptr<BIGNUM, void (*)(BIGNUM *)>;

Bn ToBn(const Bytes &b)
{
    return Bn(BN_bin2bn(b.data(), int(b.size()), nullptr), BN_free);
}

// An RSA public key from its modulus and exponent.
Pkey PublicKey(const Bytes &n, const Bytes &e)
{
    Bn bn = ToBn(n), be = ToBn(e);
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn.get());
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, be.get());
    OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY *key = nullptr;
    if (EVP_PKEY_fromdata_init(ctx) == 1)
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    return Pkey(key, EVP_PKEY_free);
}

Bytes BnParam(EVP_PKEY *key, const char *name, size_t width = 0)
{
    BIGNUM *b = nullptr;
    EVP_PKEY_get_bn_param(key, name, &b);
    Bytes out(std::max<size_t>(width, size_t(BN_num_bytes(b))));
    BN_bn2binpad(b, out.data(), int(out.size()));
    BN_free(b);
    return out;
}

// The public key of a container as the card's key information gives it.
Pkey CardPublicKey(const Transmit &tx, unsigned char index, unsigned char spec)
{
    Bytes n = Data(SendFollowing(tx, {0xB0, 0x74, index, spec, 0x00}));
    Bytes e = Data(tx({0xB0, 0x74, index, static_cast<unsigned char>(0x10 | spec)}));
    return PublicKey(n, e);
}

// m^e mod n, for a block m below the modulus.
Bytes RawPublic(EVP_PKEY *key, const Bytes &m)
{
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
    Bytes out(m.size());
    size_t length = out.size();
    if (EVP_PKEY_encrypt_init(ctx) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) != 1 ||
        EVP_PKEY_encrypt(ctx, out.data(), &length, m.data(), m.size()) != 1)
        out.clear();
    EVP_PKEY_CTX_free(ctx);
    return out;
}

Bytes RandomBlock(size_t k)
{
    Bytes m(k);
    RAND_bytes(m.data(), int(k));
    m[0] = 0x00; // below any modulus of k bytes
    return m;
}

// The P2 flags of each command of an operation.
std::vector<unsigned> Flags(const std::vector<Bytes> &commands)
{
    std::vector<unsigned> out;
    for (const Bytes &c : commands)
        out.push_back(c[3] >> 4);
    return out;
}

// Container 0: a 1024-bit signature key and a 2048-bit exchange key; container 1: a
// 2560-bit signature key; container 2: only the public half of a key. Made once.
const CardState &KeyCard()
{
    static const CardState state = [] {
        cardsim::Personalisation p;
        p.largerKeys = true;
        p.containers.resize(3);
        p.containers[0].keys[0].bits = 1024;
        p.containers[0].keys[1].bits = 2048;
        p.containers[1].keys[0].bits = 2560;
        p.containers[2].keys[1].bits = 1024;
        p.containers[2].keys[1].publicOnly = true;
        return NewCard(p);
    }();
    return state;
}

class KeysTest : public CardTest
{
  protected:
    void SetUp() override
    {
        Make(KeyCard());
        ASSERT_EQ(0x9000, Send(kSelectFirst));
    }
    void OpenAsUser(unsigned char level = 0x11)
    {
        ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
        ASSERT_EQ(0x9000, OpenSession(tx, true, level, session));
    }
    HostSession session;
};

} // namespace

TEST_F(KeysTest, SignAndDecryptInSingleCommandsAndPieces)
{
    struct Case {
        unsigned char index, spec;
        size_t bytes;
        std::vector<unsigned> flags; // of the commands, as the host splits the block
    } cases[] = {
        {0, 0, 128, {0x5}},
        {0, 1, 256, {0x9, 0xC}},
        {1, 0, 320, {0x9, 0x8, 0x4}},
    };
    OpenAsUser();
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.bytes * 8) + " bits");
        Pkey key = CardPublicKey(tx, c.index, c.spec);
        ASSERT_NE(nullptr, key);
        ASSERT_EQ(c.bytes, size_t(EVP_PKEY_get_size(key.get())));

        auto sign = RsaCommands(0x78, c.index, c.spec, SignatureBlock("signed text", c.bytes));
        EXPECT_EQ(c.flags, Flags(sign));
        SecureReply r = SendAllSecure(tx, session, sign);
        ASSERT_EQ(0x9000, r.sw);
        EXPECT_TRUE(r.verified) << "R-MAC over the whole result";
        EXPECT_EQ(c.bytes, r.data.size());
        EXPECT_TRUE(VerifiesSha256(key.get(), "signed text", r.data));
        EXPECT_EQ(c.bytes + 8 > 256, r.wireLength > c.bytes + 8 + 2) << "61 xx past 256 bytes";

        Bytes plain = RandomBlock(c.bytes);
        r = SendAllSecure(tx, session,
                          RsaCommands(0x7A, c.index, c.spec, RawPublic(key.get(), plain)));
        ASSERT_EQ(0x9000, r.sw);
        EXPECT_TRUE(r.verified);
        EXPECT_EQ(plain, r.data) << "decryption";

        r = SendAllSecure(tx, session,
                          RsaCommands(0x7A, c.index, c.spec, RawPublic(key.get(), plain), true));
        EXPECT_EQ(0x9000, r.sw);
        EXPECT_EQ(2u, r.wireLength) << "a result kept on the card: a bare status word";
    }
}

TEST_F(KeysTest, ResultsLeftPaddedToTheKeyLength)
{
    OpenAsUser();
    // 1^d = 1: a result of one significant byte still comes at the key's length
    Bytes one(128, 0x00);
    one.back() = 0x01;
    SecureReply r = SendAllSecure(tx, session, RsaCommands(0x7A, 0, 0, one));
    ASSERT_EQ(0x9000, r.sw);
    EXPECT_EQ(one, r.data);
}

TEST_F(KeysTest, OperationRefusals)
{
    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    Bytes block = RandomBlock(128);
    Bytes modulus = Data(card->Apdu({0xB0, 0x74, 0x00, 0x00, 0x00}));
    auto single = [&](const Bytes &b, unsigned char index = 0, unsigned char p2 = 0x50) {
        return Cat({0xB0, 0x78, index, p2, static_cast<unsigned char>(b.size())}, b);
    };
    Bytes piece0 = Cat({0x00, 0x00}, Bytes(block.begin(), block.begin() + 128));
    struct Case {
        const char *name;
        unsigned char level; // 0: no session
        std::vector<Bytes> commands;
        uint16_t sw;
    } cases[] = {
        {"the block is the modulus", 0x11, {single(modulus)}, 0x6A80},
        {"all FF", 0x11, {single(Bytes(128, 0xFF))}, 0x6A80},
        {"a short block", 0x11, {single(Bytes(block.begin(), block.end() - 1))}, 0x6A80},
        {"no session", 0, {single(block)}, 0x6982},
        {"a session without C-MAC", 0x10, {single(block)}, 0x6982},
        {"a container without keys", 0x11, {single(block, 5)}, 0x6A83},
        {"a container past the last", 0x11, {single(block, 8)}, 0x6A82},
        {"key spec 2", 0x11, {single(block, 0, 0x52)}, 0x6A86},
        {"only the public key", 0x11, {single(block, 2, 0x51)}, 0x6A83},
        {"a last command without a first", 0x11, {single(block, 0, 0x40)}, 0x6A80},
        {"a second piece first", 0x11, {single(Cat({0x80, 0x01}, block), 0, 0x90)}, 0x6A80},
        {"two first pieces", 0x11, {single(piece0, 0, 0x90), single(piece0, 0, 0x80)}, 0x6A80},
        {"another key midway", 0x11, {single(piece0, 0, 0x91), single(piece0, 0, 0xC0)}, 0x6A80},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        uint16_t sw = 0;
        if (c.level == 0) {
            sw = Send(c.commands[0]);
        } else {
            ASSERT_EQ(0x9000, OpenSession(tx, true, c.level, session));
            sw = SendAllSecure(tx, session, c.commands).sw;
        }
        EXPECT_EQ(c.sw, sw);
    }
    // the role in the key's first access byte
    card->Apdu({0xB0, 0x26, 0x06, 0x00});
    ASSERT_EQ(0x9000, OpenSession(tx, true, 0x11, session));
    EXPECT_EQ(0x6985, SendSecure(tx, session, single(block)).sw) << "nobody authenticated";
    ASSERT_EQ(0x9000, Send(VerifyCommand(1, "12345678")));
    ASSERT_EQ(0x9000, OpenSession(tx, true, 0x11, session));
    EXPECT_EQ(0x6985, SendSecure(tx, session, single(block)).sw) << "the PUK has role 4, not 2";
}

TEST_F(KeysTest, CreateKeyInformationAndDelete)
{
    auto create = [](unsigned char index, unsigned char spec, uint16_t bits, Bytes exponent,
                     unsigned char usage = 0x07) {
        Bytes d = {usage,
                   static_cast<unsigned char>(bits >> 8),
                   static_cast<unsigned char>(bits),
                   static_cast<unsigned char>(exponent.empty()),
                   0x02,
                   0x06};
        d = Cat(d, exponent);
        return Cat({0xB0, 0x70, index, spec, static_cast<unsigned char>(d.size())}, d);
    };
    auto freeMemory = [&] {
        return cardsim::LengthFromWire(Data(card->Apdu({0xB0, 0x10, 0x02, 0x00, 0x04})).data());
    };
    const Bytes f4 = {0x01, 0x00, 0x01};
    EXPECT_EQ(0x6985, Send(create(3, 1, 1024, f4))) << "creating needs a role";
    ASSERT_EQ(0x9000, Send(VerifyCommand(1, "12345678")));
    struct Refusal {
        const char *name;
        Bytes command;
        uint16_t sw;
    } refusals[] = {
        {"a size the card does not list", create(3, 1, 1536, f4), 0x6A80},
        {"a container past the last", create(8, 1, 1024, f4), 0x6A82},
        {"an exponent other than 3 and 65537", create(3, 1, 1024, {0x05}), 0x6A80},
        {"key spec 2", create(3, 2, 1024, f4), 0x6A86},
        {"short data", {0xB0, 0x70, 0x03, 0x01, 0x03, 0x07, 0x04, 0x00}, 0x6700},
    };
    for (const auto &r : refusals)
        EXPECT_EQ(r.sw, Send(r.command)) << r.name;
    EXPECT_EQ(0u, card->Snapshot().keys.count({3, 1}));

    uint32_t before = freeMemory();
    ASSERT_EQ(0x9000, Send(create(3, 1, 1024, {0x00, 0x00, 0x01, 0x00, 0x01}, 0x06)));
    EXPECT_LT(freeMemory(), before) << "the key takes card memory";
    struct Info {
        unsigned char what;
        Bytes expected; // empty: only the length is known
        size_t length;
    } infos[] = {
        {0, {}, 128},
        {1, {0x00, 0x01, 0x00, 0x01}, 4},
        {2, {0x02, 0x06, 0x04, 0x00, 0x01, 0x06}, 6},
        {3, {0x02, 0x06}, 2},
    };
    for (const auto &i : infos) {
        SCOPED_TRACE(int(i.what));
        Bytes r = card->Apdu({0xB0, 0x74, 0x03, static_cast<unsigned char>(i.what << 4 | 1)});
        ASSERT_EQ(0x9000, Sw(r));
        EXPECT_EQ(i.length, Data(r).size());
        if (!i.expected.empty()) {
            EXPECT_EQ(i.expected, Data(r));
        }
    }
    Bytes modulus = Data(card->Apdu({0xB0, 0x74, 0x03, 0x01, 0x00}));
    EXPECT_NE(0, modulus[0] & 0x80) << "a full 1024-bit modulus";
    EXPECT_EQ(0x6A86, Send({0xB0, 0x74, 0x03, 0x41})) << "no information 4";
    EXPECT_EQ(0x6A83, Send({0xB0, 0x74, 0x03, 0x00})) << "no signature key in container 3";

    ASSERT_EQ(0x9000, Send(create(3, 1, 1024, {0x03})));
    EXPECT_EQ((Bytes{0x00, 0x00, 0x00, 0x03}), Data(card->Apdu({0xB0, 0x74, 0x03, 0x11})));
    EXPECT_NE(modulus, Data(card->Apdu({0xB0, 0x74, 0x03, 0x01, 0x00}))) << "the key replaced";

    ASSERT_EQ(0x9000, Send(create(4, 0, 2048, {})));
    EXPECT_EQ(0x6A83, Send({0xB0, 0x74, 0x04, 0x00})) << "a slot kept for an import has no key";

    EXPECT_EQ(0x9000, Send({0xB0, 0x72, 0x03, 0x00}));
    EXPECT_EQ(0x9000, Send({0xB0, 0x72, 0x04, 0x00}));
    EXPECT_EQ(0x6A83, Send({0xB0, 0x74, 0x03, 0x11}));
    EXPECT_EQ(before, freeMemory()) << "deleting gives the memory back";
    EXPECT_EQ(0x6A82, Send({0xB0, 0x72, 0x03, 0x00})) << "nothing left to delete";
    EXPECT_EQ(0x6A82, Send({0xB0, 0x72, 0x09, 0x00}));
    card->Apdu({0xB0, 0x26, 0x06, 0x00});
    EXPECT_EQ(0x6985, Send({0xB0, 0x72, 0x00, 0x00})) << "deleting needs a role";
}

namespace
{

struct KeyParts {
    Bytes n, e, p, q, dp, dq, qinv;
};

KeyParts PartsOf(EVP_PKEY *key, size_t half)
{
    KeyParts k;
    k.n = BnParam(key, OSSL_PKEY_PARAM_RSA_N);
    k.e = BnParam(key, OSSL_PKEY_PARAM_RSA_E, 4);
    k.p = BnParam(key, OSSL_PKEY_PARAM_RSA_FACTOR1, half);
    k.q = BnParam(key, OSSL_PKEY_PARAM_RSA_FACTOR2, half);
    k.dp = BnParam(key, OSSL_PKEY_PARAM_RSA_EXPONENT1, half);
    k.dq = BnParam(key, OSSL_PKEY_PARAM_RSA_EXPONENT2, half);
    k.qinv = BnParam(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, half);
    return k;
}

Bytes Import(unsigned char code, const Bytes &data)
{
    return Cat({0xB0, 0x76, code, 0x00, static_cast<unsigned char>(data.size())}, data);
}

// The import commands as the host sends them: the modulus in one command below 1920
// bits, else in two pieces; then P, Q, dP, dQ, the coefficient and the exponent.
std::vector<Bytes> ImportCommands(const KeyParts &k)
{
    std::vector<Bytes> out;
    if (k.n.size() * 8 < 1920) {
        out.push_back(Import(0, k.n));
    } else {
        out.push_back(Import(7, Cat({0x00, 0x00}, Bytes(k.n.begin(), k.n.begin() + 128))));
        out.push_back(Import(7, Cat({0x80, 0x01}, Bytes(k.n.begin() + 128, k.n.end()))));
    }
    unsigned char code = 1;
    for (const Bytes *part : {&k.p, &k.q, &k.dp, &k.dq, &k.qinv})
        out.push_back(Import(code++, *part));
    out.push_back(Import(6, k.e));
    return out;
}

} // namespace

TEST_F(KeysTest, ImportedKeySignsForItsPublicKey)
{
    for (unsigned bits : {1024u, 2048u}) {
        SCOPED_TRACE(bits);
        Pkey generated(EVP_RSA_gen(bits), EVP_PKEY_free);
        KeyParts parts = PartsOf(generated.get(), bits / 16);
        std::vector<Bytes> commands = ImportCommands(parts);
        EXPECT_EQ(bits == 2048 ? 8u : 7u, commands.size());

        ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
        ASSERT_EQ(0x9000, Send({0xB0, 0x70, 0x05, 0x00, 0x06, 0x01,
                                static_cast<unsigned char>(bits >> 8), 0x00, 0x01, 0x02, 0x06}))
            << "a slot for the key";
        ASSERT_EQ(0x9000, OpenSession(tx, true, 0x03, session));
        for (const Bytes &c : commands) {
            SecureReply r = SendSecure(tx, session, c);
            ASSERT_EQ(0x9000, r.sw) << cardsim::ToHex(c).substr(0, 12);
            EXPECT_EQ(2u, r.wireLength) << "no R-MAC on a bare status word";
        }
        ASSERT_EQ(0x9000, Send({0xB0, 0x54, 0x00, 0x00}));
        EXPECT_EQ(parts.n, Data(card->Apdu({0xB0, 0x74, 0x05, 0x00, 0x00})));
        EXPECT_EQ((Bytes{0x02, 0x06, static_cast<unsigned char>(bits >> 8), 0x00, 0x01, 0x01}),
                  Data(card->Apdu({0xB0, 0x74, 0x05, 0x20})))
            << "size, usage and access of the slot";

        ASSERT_EQ(0x9000, OpenSession(tx, true, 0x11, session));
        SecureReply r = SendAllSecure(
            tx, session, RsaCommands(0x78, 5, 0, SignatureBlock("imported", bits / 8)));
        ASSERT_EQ(0x9000, r.sw);
        EXPECT_TRUE(VerifiesSha256(generated.get(), "imported", r.data));
    }
}

TEST_F(KeysTest, ImportRefusalsInstallNothing)
{
    Pkey generated(EVP_RSA_gen(2048), EVP_PKEY_free);
    KeyParts k = PartsOf(generated.get(), 128);
    std::vector<Bytes> right = ImportCommands(k); // 7 / 7 / 1 2 3 4 5 / 6
    KeyParts swapped = k;
    std::swap(swapped.dp, swapped.dq);
    KeyParts otherPrime = k;
    otherPrime.p.back() ^= 0x02;
    struct Case {
        const char *name;
        unsigned char level;
        std::vector<Bytes> commands;
        uint16_t sw; // of the last command
    } cases[] = {
        {"P before the modulus", 0x03, {right[2]}, 0x6A80},
        {"Q before P", 0x03, {right[0], right[1], right[3]}, 0x6A80},
        {"the second piece first", 0x03, {right[1]}, 0x6A80},
        {"the exponent early", 0x03, {right[0], right[1], right[7]}, 0x6A80},
        {"the modulus in one command of the wrong length",
         0x03,
         {Import(0, Bytes(k.n.begin(), k.n.begin() + 128))},
         0x6A80},
        {"CRT exponents swapped", 0x03, ImportCommands(swapped), 0x6A80},
        {"a prime that does not divide", 0x03, ImportCommands(otherPrime), 0x6A80},
        {"no encryption", 0x11, {right[0]}, 0x6982},
    };
    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    const Bytes slot = {0xB0, 0x70, 0x06, 0x01, 0x06, 0x06, 0x08, 0x00, 0x01, 0x02, 0x06};
    EXPECT_EQ(0x6A82, [&] {
        EXPECT_EQ(0x9000, OpenSession(tx, true, 0x03, session));
        return SendSecure(tx, session, right[0]).sw;
    }()) << "no target before a container is created";
    ASSERT_EQ(0x9000, Send(slot));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(0x9000, OpenSession(tx, true, c.level, session));
        SecureReply r;
        for (const Bytes &command : c.commands)
            r = SendSecure(tx, session, command);
        EXPECT_EQ(c.sw, r.sw);
        EXPECT_EQ(0x6A83, Send({0xB0, 0x74, 0x06, 0x01})) << "nothing installed";
    }
    EXPECT_EQ(0x6982, Send(right[0])) << "outside a session";
    // the target stays: a whole import in the right order still goes in
    ASSERT_EQ(0x9000, OpenSession(tx, true, 0x03, session));
    SecureReply r = SendAllSecure(tx, session, right);
    EXPECT_EQ(0x9000, r.sw);
    EXPECT_EQ(k.n, Data(card->Apdu({0xB0, 0x74, 0x06, 0x01, 0x00})));
    // a staged import ends with close-and-clear
    ASSERT_EQ(0x9000, Send(slot));
    ASSERT_EQ(0x9000, OpenSession(tx, true, 0x03, session));
    ASSERT_EQ(0x9000, SendSecure(tx, session, right[0]).sw);
    ASSERT_EQ(0x9000, Send({0xB0, 0x54, 0x01, 0x00}));
    ASSERT_EQ(0x9000, OpenSession(tx, true, 0x03, session));
    EXPECT_EQ(0x6A80, SendSecure(tx, session, right[1]).sw) << "the first piece was dropped";
}

TEST_F(KeysTest, KeysAndCountersSurviveARestart)
{
    std::string path = TempPath("keys");
    Make(KeyCard(), {}, path);
    ASSERT_TRUE(card->Save());
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    ASSERT_EQ(0x9000, Send({0xB0, 0x70, 0x07, 0x01, 0x09, 0x06, 0x04, 0x00, 0x00, 0x02, 0x06, 0x01,
                            0x00, 0x01}));
    ASSERT_EQ(0x9000, Send({0xB0, 0x70, 0x06, 0x00, 0x06, 0x01, 0x08, 0x00, 0x01, 0x02, 0x06}));
    ASSERT_TRUE(card->BumpCounters(6));
    Bytes modulus = Data(card->Apdu({0xB0, 0x74, 0x07, 0x01, 0x00}));
    const std::string before = cardsim::SerializeState(card->Snapshot());
    card.reset();

    CardState loaded;
    std::string error;
    ASSERT_TRUE(cardsim::LoadStateFile(path, loaded, &error)) << error;
    EXPECT_EQ(before, cardsim::SerializeState(loaded));
    Make(loaded, {}, path);
    ASSERT_EQ(0x9000, Send(kSelectFirst));
    EXPECT_EQ(modulus, Data(card->Apdu({0xB0, 0x74, 0x07, 0x01, 0x00})));
    EXPECT_EQ(cardsim::CardKey::Form::Reserved, card->Snapshot().keys.at({6, 0}).form);
    cardsim::Card::Counters counters;
    ASSERT_TRUE(card->ReadCounters(counters));
    EXPECT_EQ(1u, counters.containers);
    EXPECT_EQ(1u, counters.files);
    std::remove(path.c_str());
}

TEST_F(KeysTest, RandomProtectedCommandsAlwaysGetAStatusWord)
{
    // wrapped the host's way, random container commands reach their handlers
    std::mt19937 rng(2024);
    const unsigned char instructions[] = {0x70, 0x72, 0x74, 0x76, 0x78, 0x7A,
                                          0x54, 0x7E, 0x1A, 0x1C, 0x2A, 0x2C};
    ASSERT_EQ(0x9000, Send(VerifyCommand(1, "12345678")));
    ASSERT_EQ(0x9000, Send(VerifyCommand(0, "123456")));
    for (int i = 0; i < 3000; ++i) {
        if (!card->SessionOpen()) {
            ASSERT_EQ(0x9000, OpenSession(tx, true, rng() % 2 ? 0x13 : 0x33, session));
        }
        unsigned char ins = instructions[rng() % sizeof instructions];
        Bytes data(ins == 0x70 ? 6 : rng() % 200);
        for (auto &b : data)
            b = static_cast<unsigned char>(rng() % 4 ? rng() % 3 : rng());
        if (data.size() >= 2 && rng() % 2)
            data[0] = rng() % 2 ? 0x00 : 0x80, data[1] = data[0] ? 0x01 : 0x00;
        Bytes command = {
            0xB0, ins, static_cast<unsigned char>(rng() % 4 ? rng() % 3 : rng()),
            static_cast<unsigned char>(rng() % 4 ? (rng() % 16) << 4 | rng() % 2 : rng()),
            static_cast<unsigned char>(data.size())};
        SecureReply r = SendSecure(tx, session, Cat(command, data));
        ASSERT_GE(r.wireLength, 2u) << cardsim::ToHex(command);
        if (r.sw == 0x9000 && r.wireLength > 2) {
            ASSERT_TRUE(r.verified) << cardsim::ToHex(command);
        }
    }
    std::string text = cardsim::SerializeState(card->Snapshot());
    CardState back;
    std::string error;
    ASSERT_TRUE(cardsim::ParseState(text, back, &error)) << error;
}
