#include "client/openssl_key_files.h"

#include <QFile>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <cstring>

namespace
{

// No key file comes near this; a larger file is not read.
constexpr qint64 MAX_KEY_FILE = 1 << 24;

struct Pkcs12Free {
    void operator()(PKCS12 *p12) const { PKCS12_free(p12); }
};
struct EvpPkeyCtxFree {
    void operator()(EVP_PKEY_CTX *ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct ParamBldFree {
    void operator()(OSSL_PARAM_BLD *bld) const { OSSL_PARAM_BLD_free(bld); }
};
struct ParamFree {
    void operator()(OSSL_PARAM *params) const { OSSL_PARAM_free(params); }
};
struct EncoderCtxFree {
    void operator()(OSSL_ENCODER_CTX *ctx) const { OSSL_ENCODER_CTX_free(ctx); }
};

// Loaded once and kept for the life of the process, then unloaded (before
// the library's own clean-up, which was registered first). Loading one
// provider by name ends the automatic loading of "default", so both are
// loaded; a missing "legacy" leaves the older files unreadable, nothing more.
class Providers
{
  public:
    Providers()
        : m_legacy(OSSL_PROVIDER_load(nullptr, "legacy")),
          m_default(OSSL_PROVIDER_load(nullptr, "default"))
    {
    }
    ~Providers()
    {
        for (OSSL_PROVIDER *provider : {m_default, m_legacy})
            if (provider != nullptr)
                OSSL_PROVIDER_unload(provider);
    }
    Providers(Providers const &) = delete;
    Providers &operator=(Providers const &) = delete;

  private:
    OSSL_PROVIDER *m_legacy;
    OSSL_PROVIDER *m_default;
};

void loadProviders()
{
    static Providers const providers;
}

// Whether the password opens the file's integrity check. A check that cannot
// be computed at all (an algorithm OpenSSL does not have) raises an error,
// which a mere mismatch does not.
Pkcs12Outcome checkMac(PKCS12 *p12, char const *password)
{
    ERR_clear_error();
    size_t const length = std::strlen(password);
    bool opens = PKCS12_verify_mac(p12, password, static_cast<int>(length)) == 1 ||
                 (length == 0 && PKCS12_verify_mac(p12, nullptr, 0) == 1);
    if (opens)
        return Pkcs12Outcome::READ;
    bool const computed = ERR_peek_error() == 0;
    ERR_clear_error();
    return computed ? Pkcs12Outcome::WRONG_PASSWORD : Pkcs12Outcome::UNREADABLE;
}

} // namespace

void EvpPkeyFree::operator()(EVP_PKEY *key) const
{
    EVP_PKEY_free(key);
}

void X509Free::operator()(X509 *certificate) const
{
    X509_free(certificate);
}

void BignumClearFree::operator()(BIGNUM *number) const
{
    BN_clear_free(number);
}

Pkcs12Outcome ReadPkcs12(QString const &path, char const *password, EvpPkeyPtr &key,
                         X509Ptr &certificate)
{
    key.reset();
    certificate.reset();
    loadProviders();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MAX_KEY_FILE)
        return Pkcs12Outcome::NOT_PKCS12;
    QByteArray const der = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Pkcs12Outcome::NOT_PKCS12;
    unsigned char const *cursor = reinterpret_cast<unsigned char const *>(der.constData());
    std::unique_ptr<PKCS12, Pkcs12Free> p12(d2i_PKCS12(nullptr, &cursor, der.size()));
    if (p12 == nullptr) {
        ERR_clear_error();
        return Pkcs12Outcome::NOT_PKCS12;
    }
    if (PKCS12_mac_present(p12.get()) == 1) {
        Pkcs12Outcome const mac = checkMac(p12.get(), password);
        if (mac != Pkcs12Outcome::READ)
            return mac;
    }
    EVP_PKEY *parsedKey = nullptr;
    X509 *parsedCertificate = nullptr;
    int const parsed =
        PKCS12_parse(p12.get(), password, &parsedKey, &parsedCertificate, nullptr);
    key.reset(parsedKey);
    certificate.reset(parsedCertificate);
    ERR_clear_error();
    if (parsed == 1)
        return Pkcs12Outcome::READ;
    key.reset();
    certificate.reset();
    return Pkcs12Outcome::UNREADABLE;
}

BignumPtr RsaComponent(EVP_PKEY const *key, char const *name)
{
    BIGNUM *number = nullptr;
    if (key == nullptr || EVP_PKEY_get_bn_param(key, name, &number) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    return BignumPtr(number);
}

QByteArray RsaPublicKeyDer(unsigned char const *modulus, size_t modulusLength,
                           unsigned char const *exponent, size_t exponentLength)
{
    BignumPtr n(BN_bin2bn(modulus, static_cast<int>(modulusLength), nullptr));
    BignumPtr e(BN_bin2bn(exponent, static_cast<int>(exponentLength), nullptr));
    std::unique_ptr<OSSL_PARAM_BLD, ParamBldFree> build(OSSL_PARAM_BLD_new());
    if (n == nullptr || e == nullptr || BN_is_zero(n.get()) || BN_is_zero(e.get()) ||
        build == nullptr ||
        OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
        OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1)
        return QByteArray();
    std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(build.get()));
    std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxFree> ctx(
        EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY *made = nullptr;
    if (params == nullptr || ctx == nullptr || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        ERR_clear_error();
        return QByteArray();
    }
    EvpPkeyPtr key(made);
    // "type-specific" is PKCS#1's RSAPublicKey, not a SubjectPublicKeyInfo.
    std::unique_ptr<OSSL_ENCODER_CTX, EncoderCtxFree> encoder(OSSL_ENCODER_CTX_new_for_pkey(
        key.get(), EVP_PKEY_PUBLIC_KEY, "DER", "type-specific", nullptr));
    unsigned char *data = nullptr;
    size_t length = 0;
    if (encoder == nullptr || OSSL_ENCODER_CTX_get_num_encoders(encoder.get()) == 0 ||
        OSSL_ENCODER_to_data(encoder.get(), &data, &length) != 1) {
        ERR_clear_error();
        return QByteArray();
    }
    QByteArray der(reinterpret_cast<char const *>(data), static_cast<qsizetype>(length));
    OPENSSL_free(data);
    return der;
}
