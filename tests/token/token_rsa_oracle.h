// OpenSSL as the independent judge of the card's RSA: the card's key pair from
// the simulator's DER, a signature checked by mechanism, the raw public
// operation and PKCS#1 v1.5 encryption.
#pragma once

#include <memory>
#include <vector>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <p11-kit/pkcs11.h>

namespace token_test
{

struct PKeyFree {
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyFree>;
struct PKeyCtxFree {
    void operator()(EVP_PKEY_CTX *ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PKeyCtx = std::unique_ptr<EVP_PKEY_CTX, PKeyCtxFree>;

// A key pair in the simulator's form (DER of the private key).
inline PKey KeyFromDer(std::vector<unsigned char> const &der)
{
    unsigned char const *p = der.data();
    return PKey(d2i_AutoPrivateKey(nullptr, &p, (long)der.size()));
}

// A public key from its modulus and exponent (big-endian bytes).
inline PKey PublicKey(std::vector<unsigned char> const &n, std::vector<unsigned char> const &e)
{
    BIGNUM *bn = BN_bin2bn(n.data(), (int)n.size(), nullptr);
    BIGNUM *be = BN_bin2bn(e.data(), (int)e.size(), nullptr);
    OSSL_PARAM_BLD *build = OSSL_PARAM_BLD_new();
    OSSL_PARAM *params = nullptr;
    EVP_PKEY *key = nullptr;
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    if (bn != nullptr && be != nullptr && build != nullptr && ctx != nullptr &&
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, bn) == 1 &&
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, be) == 1 &&
        (params = OSSL_PARAM_BLD_to_param(build)) != nullptr && EVP_PKEY_fromdata_init(ctx) == 1)
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    BN_free(bn);
    BN_free(be);
    return PKey(key);
}

inline EVP_MD const *DigestOf(CK_MECHANISM_TYPE mechanism)
{
    switch (mechanism) {
    case CKM_SHA1_RSA_PKCS:
        return EVP_sha1();
    case CKM_SHA224_RSA_PKCS:
        return EVP_sha224();
    case CKM_SHA256_RSA_PKCS:
        return EVP_sha256();
    case CKM_SHA384_RSA_PKCS:
        return EVP_sha384();
    case CKM_SHA512_RSA_PKCS:
        return EVP_sha512();
    default:
        return nullptr;
    }
}

// signature ^ e mod n, as a block of the key's length.
inline std::vector<unsigned char> RawPublic(EVP_PKEY *key, std::vector<unsigned char> const &in)
{
    PKeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    std::vector<unsigned char> out((size_t)EVP_PKEY_get_size(key));
    size_t length = out.size();
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1 ||
        EVP_PKEY_verify_recover(ctx.get(), out.data(), &length, in.data(), in.size()) != 1)
        return {};
    out.resize(length);
    return out;
}

// True when signature is data's signature by the mechanism.
inline bool Verifies(EVP_PKEY *key, CK_MECHANISM_TYPE mechanism,
                     std::vector<unsigned char> const &data,
                     std::vector<unsigned char> const &signature)
{
    if (mechanism == CKM_RSA_X_509) {
        std::vector<unsigned char> block((size_t)EVP_PKEY_get_size(key), 0);
        if (data.size() > block.size())
            return false;
        std::copy(data.begin(), data.end(), block.end() - data.size());
        return RawPublic(key, signature) == block;
    }
    PKeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return false;
    if (mechanism == CKM_RSA_PKCS)
        return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), data.data(),
                               data.size()) == 1;
    EVP_MD const *md = DigestOf(mechanism);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (md == nullptr || EVP_PKEY_CTX_set_signature_md(ctx.get(), md) != 1 ||
        EVP_Digest(data.data(), data.size(), digest, &digestLength, md, nullptr) != 1)
        return false;
    return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), digest, digestLength) ==
           1;
}

// PKCS#1 v1.5 encryption; with padded false the block is taken as it is.
inline std::vector<unsigned char> Encrypt(EVP_PKEY *key, std::vector<unsigned char> const &plain,
                                          bool padded = true)
{
    PKeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    std::vector<unsigned char> out((size_t)EVP_PKEY_get_size(key));
    size_t length = out.size();
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padded ? RSA_PKCS1_PADDING : RSA_NO_PADDING) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), out.data(), &length, plain.data(), plain.size()) != 1)
        return {};
    out.resize(length);
    return out;
}

} // namespace token_test
