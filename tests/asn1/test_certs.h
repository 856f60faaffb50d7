// Certificates made with OpenSSL for the ASN.1 tests, and small byte helpers.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace asn1test
{

using Bytes = std::vector<unsigned char>;

inline Bytes hex(const std::string &text)
{
    Bytes out;
    std::string digits;
    for (char c : text)
        if (!isspace(static_cast<unsigned char>(c)))
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string to_hex(const unsigned char *data, size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; i++) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

inline std::string to_hex(const Bytes &b)
{
    return to_hex(b.data(), b.size());
}

struct X509Deleter {
    void operator()(X509 *x) const { X509_free(x); }
};
struct PkeyDeleter {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

inline void check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(std::string("openssl: ") + what);
}

// What a test certificate holds.
struct CertSpec {
    int version = 2;          // 0 v1, 2 v3
    Bytes serial = hex("01"); // magnitude
    std::string not_before = "20240101000000Z";
    std::string not_after = "20341231235959Z";
    bool ec_key = false;
    // (name, value) pairs as for the openssl command's extension config, "critical," allowed
    std::vector<std::pair<std::string, std::string>> extensions;
};

inline EVP_PKEY *rsa_key()
{
    static EVP_PKEY *key = EVP_RSA_gen(1024);
    return key;
}

inline EVP_PKEY *ec_key()
{
    static EVP_PKEY *key = EVP_EC_gen("P-256");
    return key;
}

inline X509Ptr make_cert(const CertSpec &spec)
{
    EVP_PKEY *key = spec.ec_key ? ec_key() : rsa_key();
    check(key != nullptr, "key");
    X509Ptr x(X509_new());
    check(X509_set_version(x.get(), spec.version) == 1, "version");
    BIGNUM *bn = BN_bin2bn(spec.serial.data(), static_cast<int>(spec.serial.size()), nullptr);
    ASN1_INTEGER *serial = BN_to_ASN1_INTEGER(bn, nullptr);
    check(X509_set_serialNumber(x.get(), serial) == 1, "serial");
    ASN1_INTEGER_free(serial);
    BN_free(bn);
    X509_NAME *subject = X509_NAME_new();
    X509_NAME_add_entry_by_txt(subject, "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("CZ"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char *>("Zkušební s.r.o."), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("Test Holder"), -1, -1, 0);
    X509_NAME *issuer = X509_NAME_new();
    X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("Test Issuing CA"), -1, -1,
                               0);
    X509_set_subject_name(x.get(), subject);
    X509_set_issuer_name(x.get(), issuer);
    X509_NAME_free(subject);
    X509_NAME_free(issuer);
    check(ASN1_TIME_set_string_X509(X509_getm_notBefore(x.get()), spec.not_before.c_str()) == 1,
          "notBefore");
    check(ASN1_TIME_set_string_X509(X509_getm_notAfter(x.get()), spec.not_after.c_str()) == 1,
          "notAfter");
    check(X509_set_pubkey(x.get(), key) == 1, "pubkey");
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, x.get(), x.get(), nullptr, nullptr, 0);
    for (const auto &ext : spec.extensions) {
        X509_EXTENSION *e = X509V3_EXT_conf(nullptr, &ctx, ext.first.c_str(), ext.second.c_str());
        check(e != nullptr, ext.first.c_str());
        X509_add_ext(x.get(), e, -1);
        X509_EXTENSION_free(e);
    }
    check(X509_sign(x.get(), key, EVP_sha256()) > 0, "sign");
    return x;
}

inline Bytes der_of(X509 *x)
{
    int n = i2d_X509(x, nullptr);
    check(n > 0, "i2d_X509");
    Bytes out(static_cast<size_t>(n));
    unsigned char *p = out.data();
    i2d_X509(x, &p);
    return out;
}

inline Bytes make_der(const CertSpec &spec)
{
    X509Ptr x = make_cert(spec);
    return der_of(x.get());
}

inline X509Ptr parse(const Bytes &der)
{
    const unsigned char *p = der.data();
    X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (x && p != der.data() + der.size())
        return nullptr;
    return x;
}

// A v3 certificate with every extension the certificate context reads.
inline CertSpec full_v3_spec()
{
    CertSpec spec;
    spec.serial = hex("F301");
    spec.not_after = "20501231235959Z";
    spec.extensions = {
        {"keyUsage", "critical,digitalSignature,nonRepudiation,keyEncipherment"},
        {"extendedKeyUsage", "clientAuth,emailProtection,1.3.6.1.4.1.311.20.2.2"},
        {"subjectAltName", "email:holder@example.test,DNS:holder.example.test,IP:127.0.0.1"},
        {"subjectKeyIdentifier", "hash"},
        {"authorityKeyIdentifier", "keyid:always"},
        {"nsCertType", "client,email"},
    };
    return spec;
}

} // namespace asn1test
