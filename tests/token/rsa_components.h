// The eight PKCS#11 components of an RSA private key in DER, by attribute type,
// as OpenSSL reads them: what a template that imports the key carries.
#pragma once

#include <map>
#include <vector>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <p11-kit/pkcs11.h>

namespace token_test
{

// False when the DER is no RSA private key or a component cannot be read.
inline bool RsaComponents(std::vector<unsigned char> const &der,
                          std::map<CK_ATTRIBUTE_TYPE, std::vector<unsigned char>> &parts)
{
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
    bool ok = key != nullptr;
    for (Part const &part : names) {
        BIGNUM *n = nullptr;
        if (!ok || EVP_PKEY_get_bn_param(key, part.name, &n) != 1) {
            ok = false;
            break;
        }
        std::vector<unsigned char> &value = parts[part.type];
        value.resize((size_t)BN_num_bytes(n));
        BN_bn2bin(n, value.data());
        BN_free(n);
    }
    EVP_PKEY_free(key);
    return ok;
}

} // namespace token_test
