// Owning handles of the OpenSSL objects the simulator uses; secrets in big numbers are
// cleared when they are freed.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <memory>

namespace cardsim
{

struct OpenSslFree {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
    void operator()(EVP_PKEY_CTX *p) const { EVP_PKEY_CTX_free(p); }
    void operator()(EVP_MD_CTX *p) const { EVP_MD_CTX_free(p); }
    void operator()(EVP_CIPHER_CTX *p) const { EVP_CIPHER_CTX_free(p); }
    void operator()(BIGNUM *p) const { BN_clear_free(p); }
    void operator()(BN_CTX *p) const { BN_CTX_free(p); }
    void operator()(OSSL_PARAM_BLD *p) const { OSSL_PARAM_BLD_free(p); }
    void operator()(OSSL_PARAM *p) const { OSSL_PARAM_free(p); }
    void operator()(X509 *p) const { X509_free(p); }
    void operator()(X509_EXTENSION *p) const { X509_EXTENSION_free(p); }
    void operator()(ASN1_STRING *p) const { ASN1_STRING_free(p); }
    void operator()(ASN1_OBJECT *p) const { ASN1_OBJECT_free(p); }
};

template <class T> using OpenSslHandle = std::unique_ptr<T, OpenSslFree>;
using Pkey = OpenSslHandle<EVP_PKEY>;
using PkeyCtx = OpenSslHandle<EVP_PKEY_CTX>;
using Bn = OpenSslHandle<BIGNUM>;

} // namespace cardsim
