// The client's own result codes, beside 0 and the PKCS#11 codes it passes on
// from the module unchanged.
#pragma once

namespace client_code
{

constexpr int NO_MODULE = -1;     // no module could be loaded
constexpr int NO_SESSION = -1;    // GetState: the slot's session information could not be read
constexpr int NO_MEMORY = 2;      // a buffer of the client could not be had (CKR_HOST_MEMORY)
constexpr int KEY_FILE = 1;       // key import: the file cannot be read or is not PKCS#12
constexpr int KEY_TYPE = 3;       // key import: the key is not RSA
constexpr int KEY_SIZE = 98;      // key import: the key is not 2048 bits long
constexpr int KEY_PASSWORD = 514; // key import: the file does not open with the password
constexpr int CERT_FILE = 1;      // certificate import: the file cannot be read
constexpr int NO_KEY_PAIR = 513;  // key test: the key pair was not found
constexpr int CERT_GONE = 515;    // certificate deletion: the card no longer holds it

} // namespace client_code
