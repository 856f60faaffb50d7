// OpenSSL as the oracle of the card's RSA work: the public-key operation with a key
// the test knows, so that a result of the card's private key can be checked, and
// keys made for import with their CryptoAPI PRIVATEKEYBLOB.
#pragma once

#include "card_test_support.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace card_test
{

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bn = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

// A key pair from private-key DER, or a public key from SubjectPublicKeyInfo DER.
inline PKey KeyFromDer(const Bytes &der, bool publicOnly)
{
    const unsigned char *p = der.data();
    EVP_PKEY *key = publicOnly ? d2i_PUBKEY(nullptr, &p, static_cast<long>(der.size()))
                               : d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size()));
    return PKey(key, EVP_PKEY_free);
}

inline Bn Param(EVP_PKEY *key, const char *name)
{
    BIGNUM *bn = nullptr;
    EVP_PKEY_get_bn_param(key, name, &bn);
    return Bn(bn, BN_free);
}

inline Bytes BigEndian(const BIGNUM *bn, int length)
{
    Bytes out(static_cast<size_t>(length));
    BN_bn2binpad(bn, out.data(), length);
    return out;
}

// block^e mod n, as many bytes as the modulus.
inline Bytes PublicRaw(EVP_PKEY *key, const Bytes &block)
{
    Bn n = Param(key, OSSL_PKEY_PARAM_RSA_N), e = Param(key, OSSL_PKEY_PARAM_RSA_E);
    Bn x(BN_bin2bn(block.data(), static_cast<int>(block.size()), nullptr), BN_free);
    Bn y(BN_new(), BN_free);
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    BN_mod_exp(y.get(), x.get(), e.get(), n.get(), ctx.get());
    return BigEndian(y.get(), BN_num_bytes(n.get()));
}

inline PKey NewRsaKey(unsigned bits)
{
    return PKey(EVP_RSA_gen(bits), EVP_PKEY_free);
}

// The key as a PRIVATEKEYBLOB: BLOBHEADER, "RSA2", bit length, public exponent, then
// modulus, P, Q, dP, dQ, coefficient and private exponent, little-endian.
inline Bytes PrivateKeyBlob(EVP_PKEY *key)
{
    unsigned bits = static_cast<unsigned>(EVP_PKEY_get_bits(key));
    auto le = [](Bytes b) {
        std::reverse(b.begin(), b.end());
        return b;
    };
    auto u32 = [](uint32_t v) {
        return Bytes{static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                     static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    };
    Bytes blob = {0x07, 0x02, 0x00, 0x00, 0x00, 0xA4, 0x00, 0x00, 'R', 'S', 'A', '2'};
    blob = Concat(blob, u32(bits));
    Bn e = Param(key, OSSL_PKEY_PARAM_RSA_E);
    blob = Concat(blob, u32(static_cast<uint32_t>(BN_get_word(e.get()))));
    blob = Concat(blob, le(BigEndian(Param(key, OSSL_PKEY_PARAM_RSA_N).get(), int(bits / 8))));
    for (const char *part :
         {OSSL_PKEY_PARAM_RSA_FACTOR1, OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1,
          OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1})
        blob = Concat(blob, le(BigEndian(Param(key, part).get(), int(bits / 16))));
    return Concat(blob, le(BigEndian(Param(key, OSSL_PKEY_PARAM_RSA_D).get(), int(bits / 8))));
}

} // namespace card_test
