// Keys, certificates and PKCS#12 files made with OpenSSL for the client's
// tests. The older ciphers are taken from a library context of their own, so
// that whatever the client needs it must load itself.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "client/openssl_key_files.h"

namespace client_test
{

using Bytes = std::vector<unsigned char>;

EvpPkeyPtr RsaKey(int bits);
EvpPkeyPtr EcKey();
// Self-signed, with the key's public half and this common name; with a
// non-critical extension holding that many random bytes when not 0 (to make a
// certificate of the length a test needs).
X509Ptr Certificate(EVP_PKEY *key, std::string const &commonName, size_t extensionBytes = 0);
Bytes Der(X509 *certificate);
// A component of an RSA key (OSSL_PKEY_PARAM_RSA_*), big-endian.
Bytes RsaPart(EVP_PKEY const *key, char const *name);

enum class Pkcs12Kind {
    MODERN,      // AES-256 for key and certificate, HMAC-SHA256 check
    LEGACY,      // triple DES for the key, RC2-40 for the certificate
    NO_MAC,      // modern, without an integrity check
    UNKNOWN_MAC, // modern, its check's digest an algorithm nobody has
};
// The DER PKCS#12 of a key and a certificate (null: left out). A null
// password makes a file of no password.
Bytes Pkcs12(EVP_PKEY *key, X509 *certificate, char const *password, Pkcs12Kind kind);

// The SHA-1 of the bytes in upper-case hexadecimal.
std::string Sha1Hex(Bytes const &value);

void WriteBytes(std::string const &path, Bytes const &bytes);
Bytes ReadBytes(std::string const &path);

// A directory of the test's own, removed with everything in it at the end.
class TempDir
{
  public:
    TempDir();
    ~TempDir();
    TempDir(TempDir const &) = delete;
    TempDir &operator=(TempDir const &) = delete;
    std::string File(std::string const &name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

} // namespace client_test
