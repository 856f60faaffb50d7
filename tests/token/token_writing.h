// What the tests of the token's writes share, in process against the simulated
// card: the token with the user logged in on a read-write session, key-pair
// templates, RSA keys and certificates made by OpenSSL, what the card holds apart
// from its change counters, and a card that refuses its nth file write midway.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include "card_files.h"
#include "rsa_key.h"
#include "token_sim_support.h"

namespace token_test
{

inline unsigned char USER_PIN[] = {'1', '2', '3', '4', '5', '6'};
inline unsigned char SO_PIN[] = {'1', '2', '3', '4', '5', '6', '7', '8'};

// The token on a card, a read-write session and the user logged in.
struct Writing {
    explicit Writing(cardsim::Personalisation const &p = {}) : sim(p)
    {
        EXPECT_TRUE(sim.Insert());
        s = sim.Open(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        sim.token->Login(s, CKU_USER, USER_PIN, sizeof(USER_PIN));
    }

    // The visible objects of a class, with a label when one is given.
    std::vector<CK_OBJECT_HANDLE> Objects(CK_OBJECT_CLASS cls, std::string const &label = "")
    {
        std::vector<CK_ATTRIBUTE> templ = {{CKA_CLASS, &cls, sizeof(cls)}};
        if (!label.empty())
            templ.push_back({CKA_LABEL, (void *)label.data(), label.size()});
        return sim.Find(s, templ);
    }
    // Every session closed, then a new one logged in: what the card holds now.
    void Reload()
    {
        sim.token->CloseAllSessions();
        s = sim.Open(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        sim.token->Login(s, CKU_USER, USER_PIN, sizeof(USER_PIN));
    }
    CK_RV Create(std::vector<CK_ATTRIBUTE> templ, CK_OBJECT_HANDLE *handle = nullptr)
    {
        CK_OBJECT_HANDLE h = 0;
        CK_RV rv = Rv([&] { sim.token->CreateObject(s, templ.data(), templ.size(), &h); });
        if (handle != nullptr)
            *handle = h;
        return rv;
    }

    SimToken sim;
    CK_SESSION_HANDLE s = 0;
};

// The templates of a key pair: an RSA key of bits with what is added to each.
struct KeyPairTemplates {
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ULONG bits;
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY, privateClass = CKO_PRIVATE_KEY;
    std::vector<CK_ATTRIBUTE> publicKey, privateKey;

    explicit KeyPairTemplates(CK_ULONG modulusBits, bool token = true) : bits(modulusBits)
    {
        publicKey = {{CKA_CLASS, &publicClass, sizeof(publicClass)},
                     {CKA_TOKEN, token ? &yes : &no, 1},
                     {CKA_MODULUS_BITS, &bits, sizeof(bits)}};
        privateKey = {{CKA_CLASS, &privateClass, sizeof(privateClass)},
                      {CKA_TOKEN, token ? &yes : &no, 1},
                      {CKA_PRIVATE, &yes, 1}};
    }
    KeyPairTemplates(KeyPairTemplates const &) = delete;
    KeyPairTemplates &operator=(KeyPairTemplates const &) = delete;

    CK_RV Generate(CP11Token_eiD &token, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE *pub,
                   CK_OBJECT_HANDLE *priv)
    {
        CK_MECHANISM m = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        return Rv([&] {
            token.GenerateKeyPair(session, &m, publicKey.data(), publicKey.size(),
                                  privateKey.data(), privateKey.size(), pub, priv);
        });
    }
};

// What the card keeps apart from its change counters: every file but "cardcf"
// and every key.
inline std::string CardContents(cardsim::CardState const &state)
{
    std::string out;
    for (auto const &dir : state.dirs)
        for (auto const &file : dir.second.files)
            if (!(dir.first.empty() && file.first == "cardcf"))
                out += dir.first + "/" + file.first + " " + std::to_string(file.second.access) +
                       " " + cardsim::ToHex(file.second.stored) + "\n";
    for (auto const &key : state.keys)
        out += "key " + std::to_string(key.first.first) + "." + std::to_string(key.first.second) +
               " " + std::to_string((int)key.second.form) + " " + cardsim::ToHex(key.second.der) +
               "\n";
    return out;
}

// The card refuses its nth file write from now (1: the next one) midway.
inline void RefuseWrite(SimToken &sim, int n)
{
    auto seen = std::make_shared<int>(0);
    cardsim::Card *card = sim.card.get();
    sim.channel->refuse = [card, seen, n](Bytes const &c) {
        if (IsFileWrite(c) && ++*seen == n)
            card->SetFault(cardsim::Fault::RefuseWrite);
        return false;
    };
}

// The exchange fails as if the card had gone for the first command with that
// class and instruction, once a command with after's has passed (0: at once).
inline void FailCommand(SimToken &sim, unsigned char cla, unsigned char ins,
                        unsigned char after = 0)
{
    auto armed = std::make_shared<bool>(after == 0);
    sim.channel->refuse = [armed, cla, ins, after](Bytes const &c) {
        if (c.size() < 2)
            return false;
        if (*armed && c[0] == cla && c[1] == ins) {
            *armed = false;
            return true;
        }
        if (c[1] == after)
            *armed = true;
        return false;
    };
}

// An RSA key of OpenSSL's: its private-key DER and its eight components by type.
struct OpenSslKey {
    Bytes der;
    std::map<CK_ATTRIBUTE_TYPE, Bytes> parts;

    explicit OpenSslKey(int bits)
    {
        EXPECT_TRUE(cardsim::GenerateRsaKey(bits, 65537, der));
        unsigned char const *p = der.data();
        EVP_PKEY *key = d2i_AutoPrivateKey(nullptr, &p, (long)der.size());
        struct Part {
            CK_ATTRIBUTE_TYPE type;
            char const *name;
        } const names[] = {{CKA_MODULUS, OSSL_PKEY_PARAM_RSA_N},
                           {CKA_PUBLIC_EXPONENT, OSSL_PKEY_PARAM_RSA_E},
                           {CKA_PRIVATE_EXPONENT, OSSL_PKEY_PARAM_RSA_D},
                           {CKA_PRIME_1, OSSL_PKEY_PARAM_RSA_FACTOR1},
                           {CKA_PRIME_2, OSSL_PKEY_PARAM_RSA_FACTOR2},
                           {CKA_EXPONENT_1, OSSL_PKEY_PARAM_RSA_EXPONENT1},
                           {CKA_EXPONENT_2, OSSL_PKEY_PARAM_RSA_EXPONENT2},
                           {CKA_COEFFICIENT, OSSL_PKEY_PARAM_RSA_COEFFICIENT1}};
        for (Part const &part : names) {
            BIGNUM *n = nullptr;
            EXPECT_EQ(EVP_PKEY_get_bn_param(key, part.name, &n), 1) << part.name;
            Bytes &value = parts[part.type];
            value.resize((size_t)BN_num_bytes(n));
            BN_bn2bin(n, value.data());
            BN_free(n);
        }
        EVP_PKEY_free(key);
    }

    Bytes Certificate(std::string const &name = "imported") const
    {
        Bytes cert;
        EXPECT_TRUE(cardsim::MakeCertificate(der, name, 7, false, cert));
        return cert;
    }
};

// The template of an RSA private key of the token from OpenSSL's key, with the
// entries given after its components.
struct PrivateKeyTemplate {
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_KEY_TYPE type = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    std::vector<CK_ATTRIBUTE> entries;

    PrivateKeyTemplate(OpenSslKey const &key, std::vector<CK_ATTRIBUTE> more = {})
    {
        entries = {{CKA_CLASS, &cls, sizeof(cls)},
                   {CKA_KEY_TYPE, &type, sizeof(type)},
                   {CKA_TOKEN, &yes, 1},
                   {CKA_PRIVATE, &yes, 1}};
        for (auto const &part : key.parts)
            entries.push_back(
                {part.first, (void *)part.second.data(), (CK_ULONG)part.second.size()});
        entries.insert(entries.end(), more.begin(), more.end());
    }
    PrivateKeyTemplate(PrivateKeyTemplate const &) = delete;
    PrivateKeyTemplate &operator=(PrivateKeyTemplate const &) = delete;
};

// Whether OpenSSL finds the signature of data (SHA-256, PKCS#1 v1.5) made by
// the key of the private-key DER.
inline bool VerifiedBy(Bytes const &privateDer, Bytes const &data, Bytes const &signature)
{
    unsigned char const *p = privateDer.data();
    EVP_PKEY *key = d2i_AutoPrivateKey(nullptr, &p, (long)privateDer.size());
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    bool ok =
        key != nullptr && EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestVerify(ctx, signature.data(), signature.size(), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    return ok;
}

// A SHA-256 PKCS#1 v1.5 signature of data by the token's key.
inline Bytes Signed(CP11Token_eiD &token, CK_SESSION_HANDLE s, CK_OBJECT_HANDLE key, Bytes data)
{
    CK_MECHANISM m = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    Bytes signature(512);
    CK_ULONG length = signature.size();
    CK_RV rv = Rv([&] {
        token.SignInit(s, &m, key);
        token.Sign(s, data.data(), data.size(), signature.data(), &length);
    });
    EXPECT_EQ(rv, CKR_OK);
    signature.resize(rv == CKR_OK ? length : 0);
    return signature;
}

} // namespace token_test
