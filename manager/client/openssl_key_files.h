// The client's key files through OpenSSL 3: PKCS#12 files read with their
// password, and RSA public keys written as PKCS#1 RSAPublicKey DER.
//
// PKCS#12 files of older programs encrypt with RC2-40 or triple DES, which
// OpenSSL 3 keeps in its "legacy" provider: reading loads it into the default
// library context, with the "default" provider beside it, once per process.
#pragma once

#include <QByteArray>
#include <QString>

#include <openssl/types.h>

#include <cstddef>
#include <memory>

struct EvpPkeyFree {
    void operator()(EVP_PKEY *key) const;
};
struct X509Free {
    void operator()(X509 *certificate) const;
};
struct BignumClearFree {
    void operator()(BIGNUM *number) const;
};
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using BignumPtr = std::unique_ptr<BIGNUM, BignumClearFree>; // wiped when freed

enum class Pkcs12Outcome {
    READ,
    // The file cannot be read or holds no DER PKCS#12 structure.
    NOT_PKCS12,
    // The file's integrity check cannot be computed, or its content cannot
    // be decoded: after the password proved right, or in a file without an
    // integrity check, which OpenSSL opens with no password but the empty one.
    UNREADABLE,
    // The password does not open the file.
    WRONG_PASSWORD,
};

// Reads a DER PKCS#12 file with a password (UTF-8, zero-terminated; an empty
// password is tried the two ways programs write it). The integrity check is
// made first, so that a wrong password is told apart from damaged content.
// On READ, key and certificate are the file's (each may be null: a file may
// hold no certificate). Further certificates of the file are not taken.
Pkcs12Outcome ReadPkcs12(QString const &path, char const *password, EvpPkeyPtr &key,
                         X509Ptr &certificate);

// An RSA key component of a key (an OSSL_PKEY_PARAM_RSA_* name); null when
// the key has none.
BignumPtr RsaComponent(EVP_PKEY const *key, char const *name);

// The PKCS#1 RSAPublicKey DER of the modulus and public exponent (big-endian
// bytes, leading zero bytes allowed); empty when they make no RSA key.
QByteArray RsaPublicKeyDer(unsigned char const *modulus, size_t modulusLength,
                           unsigned char const *exponent, size_t exponentLength);
