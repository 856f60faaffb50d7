#include "certificate_file.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace certificate_file
{

namespace
{

constexpr qint64 kLargestFile = 64 * 1024;

// The number of a big-endian field, leading zero bytes allowed.
BignumPtr number(const uint8_t *bytes, uint32_t length, size_t capacity)
{
    return BignumPtr(BN_bin2bn(bytes, int(qMin<size_t>(length, capacity)), nullptr));
}

} // namespace

X509Ptr read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestFile)
        return nullptr;
    const QByteArray content = file.readAll();
    if (content.isEmpty())
        return nullptr;
    const auto *der = reinterpret_cast<const unsigned char *>(content.constData());
    const unsigned char *p = der;
    X509Ptr certificate(d2i_X509(nullptr, &p, long(content.size())));
    if (certificate != nullptr)
        return p == der + content.size() ? std::move(certificate) : nullptr;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(content.constData(), int(content.size())), &BIO_free);
    if (bio == nullptr)
        return nullptr;
    return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

bool matches(X509 *certificate, const key_info &key)
{
    EVP_PKEY *publicKey = X509_get0_pubkey(certificate);
    if (publicKey == nullptr || EVP_PKEY_get_base_id(publicKey) != EVP_PKEY_RSA)
        return false;
    BignumPtr n = RsaComponent(publicKey, OSSL_PKEY_PARAM_RSA_N);
    BignumPtr e = RsaComponent(publicKey, OSSL_PKEY_PARAM_RSA_E);
    BignumPtr keyN = number(key.modulus, key.modulusLen, sizeof key.modulus);
    BignumPtr keyE = number(key.exponent, key.exponentLen, sizeof key.exponent);
    return n && e && keyN && keyE && BN_cmp(n.get(), keyN.get()) == 0 &&
           BN_cmp(e.get(), keyE.get()) == 0;
}

bool certifies(const cert_info &certificate, const key_info &key)
{
    const unsigned char *der = certificate.value.data();
    X509Ptr x509(d2i_X509(nullptr, &der, long(certificate.value.size())));
    EVP_PKEY *publicKey = x509 ? X509_get0_pubkey(x509.get()) : nullptr;
    if (publicKey == nullptr || EVP_PKEY_get_base_id(publicKey) != EVP_PKEY_RSA)
        return false;
    BignumPtr n = RsaComponent(publicKey, OSSL_PKEY_PARAM_RSA_N);
    BignumPtr keyN = number(key.modulus, key.modulusLen, sizeof key.modulus);
    return n && keyN && BN_cmp(n.get(), keyN.get()) == 0;
}

bool sameKey(const key_info &a, const key_info &b)
{
    return a.modulusLen == b.modulusLen &&
           std::equal(a.modulus, a.modulus + qMin<size_t>(a.modulusLen, sizeof a.modulus),
                      b.modulus);
}

} // namespace certificate_file
