#include "rsa_key.h"

#include "openssl_handles.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>

namespace cardsim
{

namespace
{

Pkey ReadKey(const Bytes &der, bool publicOnly)
{
    const unsigned char *p = der.data();
    long length = static_cast<long>(der.size());
    return Pkey(publicOnly ? d2i_PUBKEY(nullptr, &p, length)
                           : d2i_AutoPrivateKey(nullptr, &p, length));
}

Bn ToBn(const Bytes &b)
{
    return Bn(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr));
}

Bytes FromBn(const BIGNUM *b)
{
    Bytes out(static_cast<size_t>(BN_num_bytes(b)));
    BN_bn2bin(b, out.data());
    return out;
}

Bn Param(EVP_PKEY *key, const char *name)
{
    BIGNUM *b = nullptr;
    EVP_PKEY_get_bn_param(key, name, &b);
    return Bn(b);
}

bool Fail(std::string *why, const char *what)
{
    if (why)
        *why = what;
    return false;
}

} // namespace

bool GenerateRsaKey(int bits, unsigned long e, Bytes &privateDer)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    Bn exponent(BN_new());
    EVP_PKEY *raw = nullptr;
    if (!ctx || !exponent || BN_set_word(exponent.get(), e) != 1 ||
        EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) != 1 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), exponent.get()) != 1 ||
        EVP_PKEY_keygen(ctx.get(), &raw) != 1)
        return false;
    Pkey key(raw);
    int length = i2d_PrivateKey(key.get(), nullptr);
    if (length <= 0)
        return false;
    privateDer.resize(static_cast<size_t>(length));
    unsigned char *p = privateDer.data();
    return i2d_PrivateKey(key.get(), &p) == length;
}

bool RsaPublicParts(const Bytes &der, bool publicOnly, Bytes &modulus, Bytes &exponent)
{
    Pkey key = ReadKey(der, publicOnly);
    if (!key)
        return false;
    Bn n = Param(key.get(), OSSL_PKEY_PARAM_RSA_N), e = Param(key.get(), OSSL_PKEY_PARAM_RSA_E);
    if (!n || !e)
        return false;
    modulus = FromBn(n.get());
    exponent = FromBn(e.get());
    return true;
}

bool RsaPublicDer(const Bytes &privateDer, Bytes &publicDer)
{
    Pkey key = ReadKey(privateDer, false);
    int length = key ? i2d_PUBKEY(key.get(), nullptr) : 0;
    if (length <= 0)
        return false;
    publicDer.resize(static_cast<size_t>(length));
    unsigned char *p = publicDer.data();
    return i2d_PUBKEY(key.get(), &p) == length;
}

int RsaBits(const Bytes &der, bool publicOnly)
{
    Pkey key = ReadKey(der, publicOnly);
    return key && EVP_PKEY_is_a(key.get(), "RSA") ? EVP_PKEY_get_bits(key.get()) : 0;
}

bool RsaPrivateRaw(const Bytes &privateDer, const Bytes &block, Bytes &result)
{
    Pkey key = ReadKey(privateDer, false);
    if (!key)
        return false;
    Bn n = Param(key.get(), OSSL_PKEY_PARAM_RSA_N), x = ToBn(block);
    if (!n || !x)
        return false;
    size_t length = static_cast<size_t>(BN_num_bytes(n.get()));
    if (block.size() != length || BN_cmp(x.get(), n.get()) >= 0)
        return false;
    PkeyCtx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    size_t outLength = length;
    result.assign(length, 0x00);
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) != 1 ||
        EVP_PKEY_decrypt(ctx.get(), result.data(), &outLength, block.data(), block.size()) != 1)
        return false;
    // keep the full length: a result with leading zero bytes is left-padded
    result.resize(outLength);
    result.insert(result.begin(), length - outLength, 0x00);
    return true;
}

bool AssembleRsaKey(const Bytes &n, const Bytes &e, const Bytes &p, const Bytes &q, const Bytes &dp,
                    const Bytes &dq, const Bytes &qinv, Bytes &privateDer, std::string *why)
{
    OpenSslHandle<BN_CTX> bc(BN_CTX_new());
    Bn bn = ToBn(n), be = ToBn(e), bp = ToBn(p), bq = ToBn(q), bdp = ToBn(dp), bdq = ToBn(dq),
       bqinv = ToBn(qinv);
    Bn product(BN_new()), p1(BN_new()), q1(BN_new()), phi(BN_new()), d(BN_new()), check(BN_new());
    if (!bc || !bn || !be || !bp || !bq || !bdp || !bdq || !bqinv || !product || !p1 || !q1 ||
        !phi || !d || !check)
        return Fail(why, "out of memory");
    if (BN_is_zero(bp.get()) || BN_is_zero(bq.get()) || BN_is_one(bp.get()) || BN_is_one(bq.get()))
        return Fail(why, "a prime is 0 or 1");
    if (BN_mul(product.get(), bp.get(), bq.get(), bc.get()) != 1 ||
        BN_cmp(product.get(), bn.get()) != 0)
        return Fail(why, "the modulus is not P times Q");
    if (BN_sub(p1.get(), bp.get(), BN_value_one()) != 1 ||
        BN_sub(q1.get(), bq.get(), BN_value_one()) != 1 ||
        BN_mul(phi.get(), p1.get(), q1.get(), bc.get()) != 1 ||
        !BN_mod_inverse(d.get(), be.get(), phi.get(), bc.get()))
        return Fail(why, "the public exponent has no inverse");
    if (BN_mod(check.get(), d.get(), p1.get(), bc.get()) != 1 ||
        BN_cmp(check.get(), bdp.get()) != 0 ||
        BN_mod(check.get(), d.get(), q1.get(), bc.get()) != 1 ||
        BN_cmp(check.get(), bdq.get()) != 0)
        return Fail(why, "a CRT exponent does not follow from the primes");
    if (!BN_mod_inverse(check.get(), bq.get(), bp.get(), bc.get()) ||
        BN_cmp(check.get(), bqinv.get()) != 0)
        return Fail(why, "the coefficient is not the inverse of Q modulo P");

    OpenSslHandle<OSSL_PARAM_BLD> bld(OSSL_PARAM_BLD_new());
    if (!bld || !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, bn.get()) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, be.get()) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_D, d.get()) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_FACTOR1, bp.get()) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_FACTOR2, bq.get()) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1, bdp.get()) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2, bdq.get()) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1, bqinv.get()))
        return Fail(why, "out of memory");
    OpenSslHandle<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY *raw = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_KEYPAIR, params.get()) != 1)
        return Fail(why, "OpenSSL refused the key");
    Pkey key(raw);
    int length = i2d_PrivateKey(key.get(), nullptr);
    if (length <= 0)
        return Fail(why, "OpenSSL cannot encode the key");
    privateDer.resize(static_cast<size_t>(length));
    unsigned char *out = privateDer.data();
    i2d_PrivateKey(key.get(), &out);
    return true;
}

} // namespace cardsim
