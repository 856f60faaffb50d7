// A certificate file chosen for import: one X.509 certificate in DER (the whole file)
// or in PEM, and whether it belongs to a key the card holds.
#pragma once

#include <QString>

#include "client/client_records.h"
#include "client/openssl_key_files.h"

namespace certificate_file
{

// The certificate of the file; null when it cannot be read, is larger than any
// certificate a card holds, or holds anything but one certificate.
X509Ptr read(const QString &path);
// True when the certificate's public key is the RSA key of the record (same modulus
// and public exponent).
bool matches(X509 *certificate, const key_info &key);
// True when the record's certificate has an RSA public key with the key record's
// modulus (a key's certificate among the certificates of its container).
bool certifies(const cert_info &certificate, const key_info &key);
// True when both key records hold the same modulus: the two halves of one key pair, or
// one key read twice.
bool sameKey(const key_info &a, const key_info &b);

} // namespace certificate_file
