#ifndef VOK_CRYPTO_RSA_PKCS1_H
#define VOK_CRYPTO_RSA_PKCS1_H

#include <cstddef>

#include <mbedtls/rsa.h>

// PKCS#1 v1.5 block functions over an RSA key context. Beside the public- and
// private-key forms, each has a mode that leaves the raw RSA step out, for
// keys whose RSA operation the card performs: signing and encryption then
// return the padded block, verification and decryption take the recovered
// block. The hash ids below are the module's own and are never handed to the
// crypto library.

// Hash ids: the DigestInfo that follows the padding.
enum {
    PKCS1_HASH_NONE = 0, // the given bytes as they are
    PKCS1_HASH_MD2 = 2,
    PKCS1_HASH_MD4 = 3,
    PKCS1_HASH_MD5 = 4,
    PKCS1_HASH_SHA1 = 5,
    PKCS1_HASH_SHA256 = 6,
    PKCS1_HASH_SHA224 = 7,
    PKCS1_HASH_SHA384 = 8,
    PKCS1_HASH_SHA512 = 9,
};

// Modes.
enum {
    PKCS1_MODE_PUBLIC = 0,
    PKCS1_MODE_PRIVATE = 1,
    PKCS1_MODE_NO_RSA = 2,
};

// Results besides 0 and the RSA operation's own codes.
enum {
    PKCS1_ERR_BAD_INPUT = -0x400,
    PKCS1_ERR_INVALID_PADDING = -0x410,
    PKCS1_ERR_VERIFY_FAILED = -0x460,
    PKCS1_ERR_OUTPUT_TOO_LARGE = -0x470,
};

// sig receives key-length bytes.
int rsa_pkcs1_sign(mbedtls_rsa_context *ctx, int mode, int hash_id, size_t hash_length,
                   unsigned char const *hash, unsigned char *sig);

// sig holds key-length bytes (mode 2: the recovered block). 0 when valid.
int rsa_pkcs1_verify(mbedtls_rsa_context *ctx, int mode, int hash_id, size_t hash_length,
                     unsigned char const *hash, unsigned char const *sig);

// output receives key-length bytes.
int rsa_pkcs1_encrypt(mbedtls_rsa_context *ctx, int mode, size_t input_length,
                      unsigned char const *input, unsigned char *output);

// input holds key-length bytes (mode 2: the raw block); the message goes to
// output (capacity output_capacity) and its length to *output_length.
int rsa_pkcs1_decrypt(mbedtls_rsa_context *ctx, int mode, size_t *output_length,
                      unsigned char const *input, unsigned char *output, size_t output_capacity);

#endif
