// The module's card keys, generated at build time (never kept in the sources) from
// the key files the build is given: VOK_CARD_MK_FILE, the secure-messaging master
// key "MK" as 32 hex digits, and VOK_CARD_ISSUER_MODULUS_FILE, the card issuer's
// RSA-1536 public modulus as 384 hex digits. The defaults are test-only fixtures.
#pragma once

// "MK" in the DES key storage's scrambled form (qvdes_scramble.h): store it with
// QVDES_DESProv_SetKey(storage, "MK", QVDES_KEY_TYPE_DES3, QVMD_MK_STORED, 35).
extern const unsigned char QVMD_MK_STORED[35];

// The public key that signs the card data: modulus big-endian, exponent 65537.
extern const unsigned char QVMD_ISSUER_MODULUS[192];
extern const unsigned char QVMD_ISSUER_EXPONENT[3];
