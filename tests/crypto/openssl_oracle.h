// OpenSSL as the independent oracle of the crypto tests: keys, signatures,
// ciphertexts and digests computed outside the module.
#pragma once

#include "crypto/rsa.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace oracle
{

using Bytes = std::vector<unsigned char>;

struct PkeyFree {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
};
struct CtxFree {
    void operator()(EVP_PKEY_CTX *p) const { EVP_PKEY_CTX_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

inline Pkey generateKey(unsigned bits)
{
    return Pkey(EVP_RSA_gen(bits));
}

inline Bytes bnParam(EVP_PKEY *key, char const *name)
{
    BIGNUM *bn = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &bn) != 1)
        return {};
    Bytes out(BN_num_bytes(bn));
    BN_bn2bin(bn, out.data());
    BN_free(bn);
    return out;
}

struct Component {
    unsigned int id;
    char const *name;
};

inline std::vector<Component> const &components()
{
    static const std::vector<Component> list = {
        {CRSA::ATTR_MODULUS, OSSL_PKEY_PARAM_RSA_N},
        {CRSA::ATTR_PUBLIC_EXPONENT, OSSL_PKEY_PARAM_RSA_E},
        {CRSA::ATTR_PRIVATE_EXPONENT, OSSL_PKEY_PARAM_RSA_D},
        {CRSA::ATTR_PRIME_1, OSSL_PKEY_PARAM_RSA_FACTOR1},
        {CRSA::ATTR_PRIME_2, OSSL_PKEY_PARAM_RSA_FACTOR2},
        {CRSA::ATTR_EXPONENT_1, OSSL_PKEY_PARAM_RSA_EXPONENT1},
        {CRSA::ATTR_EXPONENT_2, OSSL_PKEY_PARAM_RSA_EXPONENT2},
        {CRSA::ATTR_COEFFICIENT, OSSL_PKEY_PARAM_RSA_COEFFICIENT1},
    };
    return list;
}

// Loads the public half (N, E) or the whole key into an RSA object.
inline void loadKey(CRSA &rsa, EVP_PKEY *key, bool withPrivate)
{
    for (Component const &c : components()) {
        if (!withPrivate && c.id != CRSA::ATTR_MODULUS && c.id != CRSA::ATTR_PUBLIC_EXPONENT)
            continue;
        Bytes v = bnParam(key, c.name);
        ASSERT_FALSE(v.empty()) << c.name;
        ASSERT_TRUE(rsa.SetAttribute(c.id, v.data(), v.size())) << c.name;
    }
}

// Builds an OpenSSL key from the components an RSA object holds.
inline Pkey keyFromObject(CRSA &rsa)
{
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    std::vector<BIGNUM *> bns;
    for (Component const &c : components()) {
        unsigned long n = 0;
        if (!rsa.GetAttribute(c.id, nullptr, &n) || n == 0)
            continue;
        Bytes v(n);
        if (!rsa.GetAttribute(c.id, v.data(), &n))
            continue;
        BIGNUM *bn = BN_bin2bn(v.data(), static_cast<int>(v.size()), nullptr);
        bns.push_back(bn);
        OSSL_PARAM_BLD_push_BN(bld, c.name, bn);
    }
    OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(bld);
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY *key = nullptr;
    if (EVP_PKEY_fromdata_init(ctx.get()) == 1)
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_KEYPAIR, params);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    for (BIGNUM *bn : bns)
        BN_free(bn);
    return Pkey(key);
}

// One PKCS#1 v1.5 operation of OpenSSL on an RSA key; md NULL: the input as
// it stands. Empty on failure.
enum class Op { Sign, VerifyRecover, Encrypt, Decrypt };

inline Bytes run(EVP_PKEY *key, Op op, Bytes const &in, EVP_MD const *md = nullptr,
                 int padding = RSA_PKCS1_PADDING)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    int ok = 0;
    switch (op) {
    case Op::Sign:
        ok = EVP_PKEY_sign_init(ctx.get());
        break;
    case Op::VerifyRecover:
        ok = EVP_PKEY_verify_recover_init(ctx.get());
        break;
    case Op::Encrypt:
        ok = EVP_PKEY_encrypt_init(ctx.get());
        break;
    case Op::Decrypt:
        ok = EVP_PKEY_decrypt_init(ctx.get());
        break;
    }
    if (ok != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1)
        return {};
    if (md != nullptr && EVP_PKEY_CTX_set_signature_md(ctx.get(), md) != 1)
        return {};
    size_t n = EVP_PKEY_get_size(key);
    Bytes out(n);
    switch (op) {
    case Op::Sign:
        ok = EVP_PKEY_sign(ctx.get(), out.data(), &n, in.data(), in.size());
        break;
    case Op::VerifyRecover:
        ok = EVP_PKEY_verify_recover(ctx.get(), out.data(), &n, in.data(), in.size());
        break;
    case Op::Encrypt:
        ok = EVP_PKEY_encrypt(ctx.get(), out.data(), &n, in.data(), in.size());
        break;
    case Op::Decrypt:
        ok = EVP_PKEY_decrypt(ctx.get(), out.data(), &n, in.data(), in.size());
        break;
    }
    if (ok != 1)
        return {};
    out.resize(n);
    return out;
}

inline bool verify(EVP_PKEY *key, Bytes const &digest, Bytes const &sig, EVP_MD const *md)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    return EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
           EVP_PKEY_CTX_set_signature_md(ctx.get(), md) == 1 &&
           EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size()) == 1;
}

inline Bytes digest(EVP_MD const *md, Bytes const &data)
{
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
    out.resize(n);
    return out;
}

inline Bytes randomBytes(size_t n, unsigned seed)
{
    Bytes out(n);
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<unsigned char>(seed >> 16);
    }
    return out;
}

inline std::string hex(Bytes const &b, char const *sep = "")
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < b.size(); i++) {
        if (i > 0)
            s += sep;
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

} // namespace oracle
