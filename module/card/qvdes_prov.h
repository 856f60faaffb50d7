// The software DES provider: a store of named keys in a fixed array of slots,
// triple DES in ECB and CBC over those keys, and plain DES and triple-DES entry
// points over raw keys. Secure messaging reaches it through the provider table
// and sees only slots, never key bytes. A 35-byte value is a 16-byte key in the
// scrambled form of qvdes_scramble.h: it is rebuilt into a temporary buffer for
// each use and wiped right after.
//
// Data is processed in place; direction non-zero encrypts, 0 decrypts.
#pragma once

#include "card/qv_result.h"

#include <cstdint>

enum : unsigned { QVDES_KEY_NAME_SIZE = 64, QVDES_KEY_BYTES = 54 };

struct _qv_md_des_key_slot {
    uint16_t inUse;
    char name[QVDES_KEY_NAME_SIZE]; // zero-terminated, cut at 63 characters
    unsigned long storedLength;     // 16, 24 or 35
    unsigned long keyLength;        // 16 or 24 (16 for a scrambled value)
    uint16_t scrambled;             // the stored value is in the scrambled form
    unsigned char key[QVDES_KEY_BYTES];
};

// A key handle is a pointer to its slot.
typedef _qv_md_des_key_slot *QVDES_KEY_HANDLE;

struct _qv_md_des_key_storage {
    uint16_t context;
    unsigned long slotCount;
    _qv_md_des_key_slot *slots; // the caller's array of slotCount slots
};

// Accepted with a key and not stored.
enum _qv_md_des_prov_key_type { QVDES_KEY_TYPE_DES3 = 1 };

struct _qv_md_des_provider {
    unsigned long context[3];
    QVDES_KEY_HANDLE(*SetKey)
    (_qv_md_des_key_storage *, const char *, _qv_md_des_prov_key_type, const unsigned char *,
     unsigned long);
    uint32_t (*FillKey)(QVDES_KEY_HANDLE, unsigned char *, unsigned long);
    uint32_t (*FillKeyByName)(_qv_md_des_key_storage *, const char *, unsigned char *,
                              unsigned long);
    QVDES_KEY_HANDLE(*AddKey)
    (_qv_md_des_key_storage *, const char *, _qv_md_des_prov_key_type, const unsigned char *,
     unsigned long);
    QVDES_KEY_HANDLE (*GetKey)(_qv_md_des_key_storage *, const char *);
    uint32_t (*RemoveKey)(_qv_md_des_key_storage *, QVDES_KEY_HANDLE);
    uint32_t (*RemoveKeyByName)(_qv_md_des_key_storage *, const char *);
    uint32_t (*Crypt3DES_ECB)(QVDES_KEY_HANDLE, unsigned char *, unsigned long *, int);
    uint32_t (*Crypt3DES_CBC)(QVDES_KEY_HANDLE, unsigned char *, unsigned long *,
                              const unsigned char *, unsigned long, int);
    uint32_t (*CryptDES_ECB)(QVDES_KEY_HANDLE, unsigned char *, unsigned long *, int);
    uint32_t (*CryptDES_CBC)(QVDES_KEY_HANDLE, unsigned char *, unsigned long *,
                             const unsigned char *, unsigned long, int);
};

// What secure messaging is bound to: a provider and its key storage.
struct _qv_md_crypto_provider_handle {
    _qv_md_des_provider *provider;
    _qv_md_des_key_storage *storage;
};

// ---- the provider's operations ----

// Removes every slot of that name, then stores the key (16, 24 or 35 bytes) in the
// first free slot. Null for null arguments, another length or a full storage.
QVDES_KEY_HANDLE QVDES_DESProv_SetKey(_qv_md_des_key_storage *storage, const char *name,
                                      _qv_md_des_prov_key_type type, const unsigned char *key,
                                      unsigned long length);
// The same, keeping slots of the same name.
QVDES_KEY_HANDLE QVDES_DESProv_AddKey(_qv_md_des_key_storage *storage, const char *name,
                                      _qv_md_des_prov_key_type type, const unsigned char *key,
                                      unsigned long length);
// The first slot in use with that name, or null.
QVDES_KEY_HANDLE QVDES_DESProv_GetKey(_qv_md_des_key_storage *storage, const char *name);
// Copies the usable key: 16 rebuilt bytes of a scrambled slot (room at least 16),
// else the stored bytes (room equal to their length). QV_E_UNEXPECTED otherwise.
uint32_t QVDES_DESProv_FillKey(QVDES_KEY_HANDLE slot, unsigned char *out, unsigned long room);
uint32_t QVDES_DESProv_FillKeyByName(_qv_md_des_key_storage *storage, const char *name,
                                     unsigned char *out, unsigned long room);
// Zero the slot, or every slot in use with the name.
uint32_t QVDES_DESProv_RemoveKey(_qv_md_des_key_storage *storage, QVDES_KEY_HANDLE slot);
uint32_t QVDES_DESProv_RemoveKeyByName(_qv_md_des_key_storage *storage, const char *name);
// Triple DES with the slot's key; QV_E_UNEXPECTED for a null slot.
uint32_t QVDES_DESProv_Crypt3DES_ECB(QVDES_KEY_HANDLE slot, unsigned char *data,
                                     unsigned long *length, int direction);
uint32_t QVDES_DESProv_Crypt3DES_CBC(QVDES_KEY_HANDLE slot, unsigned char *data,
                                     unsigned long *length, const unsigned char *iv,
                                     unsigned long ivLength, int direction);
// Single DES over a slot is not offered: always QV_E_UNEXPECTED.
uint32_t QVDES_DESProv_CryptDES_ECB(QVDES_KEY_HANDLE slot, unsigned char *data,
                                    unsigned long *length, int direction);
uint32_t QVDES_DESProv_CryptDES_CBC(QVDES_KEY_HANDLE slot, unsigned char *data,
                                    unsigned long *length, const unsigned char *iv,
                                    unsigned long ivLength, int direction);

// ---- raw keys ----
// Key length 16 or 24 for triple DES, 8 for DES (else QV_E_UNEXPECTED); data a
// multiple of 8 bytes (else QV_E_INVALID_VALUE). Each CBC call starts from the
// 8-byte iv; the final chaining value is not returned.
uint32_t QVDES_Crypt3DES_ECB(const unsigned char *key, unsigned long keyLength, unsigned char *data,
                             unsigned long *length, int direction);
uint32_t QVDES_Crypt3DES_CBC(const unsigned char *key, unsigned long keyLength, unsigned char *data,
                             unsigned long *length, const unsigned char *iv, unsigned long ivLength,
                             int direction);
uint32_t QVDES_CryptDES_ECB(const unsigned char *key, unsigned long keyLength, unsigned char *data,
                            unsigned long *length, int direction);
uint32_t QVDES_CryptDES_CBC(const unsigned char *key, unsigned long keyLength, unsigned char *data,
                            unsigned long *length, const unsigned char *iv, unsigned long ivLength,
                            int direction);

// ---- lifecycle ----
// Stores the three words and the operations. QV_E_INVALID_VALUE for a null provider.
uint32_t QVMD_DESSWProv_InitCryptoProvider(_qv_md_des_provider *provider, unsigned long word1,
                                           unsigned long word2, unsigned long word3);
// Zeroes the table.
uint32_t QVMD_DESSWProv_CloseCryptoProvider(_qv_md_des_provider *provider);
// Zeroes every slot. QV_E_INVALID_VALUE when either is null.
uint32_t QVMD_DESSWProv_InitDESKeyStorage(_qv_md_des_provider *provider,
                                          _qv_md_des_key_storage *storage);
// Wipes every slot.
uint32_t QVMD_DESSWProv_CloseDESKeyStorage(_qv_md_des_provider *provider,
                                           _qv_md_des_key_storage *storage);
