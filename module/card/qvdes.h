// The card layer's DES: single DES and two- or three-key triple DES (EDE) in ECB,
// CBC or CBC-MAC over whole 8-byte blocks, with the chaining value kept in the
// context so that consecutive calls continue one chain. The block cipher is mbed
// TLS's; parity bits of the keys are ignored. This is the cipher of the DES key
// storage (qvdes_prov.h); it is separate from the module's software crypto.
#pragma once

#include <mbedtls/des.h>

#include <cstdint>

enum : uint32_t {
    ODES_MODE_ECB = 0,
    ODES_MODE_CBC = 1,
    ODES_MODE_CBC_MAC = 2, // CBC encryption that keeps only the last block, the MAC
};

constexpr uint32_t ODES_FAILED = 0xFFFFFFFF;

struct odes_context {
    uint32_t keys; // 1 single DES; 2 or 3 triple DES (2: K3 = K1)
    uint32_t mode;
    mbedtls_des_context des[2];   // single DES: encryption and decryption schedules
    mbedtls_des3_context des3[2]; // triple DES: encryption and decryption schedules
    // the chaining value: IV bytes 0-3 and 4-7, each half little-endian
    uint32_t ivLeft, ivRight;
};

// keys 1, 2 or 3 (8, 16 or 24 key bytes), mode 0-2; clears the chaining value.
// 0, or ODES_FAILED for another count or mode or a null key or context.
uint32_t des_init(uint32_t keys, const unsigned char *key, uint32_t mode, odes_context *context);
// The chaining value as 8 bytes. 0, or ODES_FAILED for a null context.
uint32_t des_set_iv(odes_context *context, const unsigned char iv[8]);
uint32_t des_get_iv(odes_context *context, unsigned char iv[8]);
// des_init, then des_set_iv.
uint32_t des_init_iv(uint32_t keys, const unsigned char *key, uint32_t mode,
                     const unsigned char iv[8], odes_context *context);

// Processes length bytes (direction non-zero encrypts; CBC-MAC always encrypts).
// Input and output may be the same buffer. In CBC-MAC mode the output (when given)
// receives the MAC and *outputLength 8; otherwise the output grows by 8 bytes per
// block. 0; -1 null context; -2 null input or a length that is not a multiple of
// 8; -3 (outside CBC-MAC) a null output or output length.
int odes_encrypt(odes_context *context, int direction, unsigned long length,
                 const unsigned char *input, unsigned long *outputLength, unsigned char *output);
