#include "card/qvdes_prov.h"

#include "card/qvdes.h"
#include "card/qvdes_scramble.h"

#include <mbedtls/platform_util.h>

#include <cstring>

namespace
{

bool storableLength(unsigned long length)
{
    return length == 16 || length == 24 || length == QVDES_SCRAMBLED_LENGTH;
}

// Names are compared as stored: cut at 63 characters.
bool holds(const _qv_md_des_key_slot &slot, const char *name)
{
    return slot.inUse != 0 && strncmp(slot.name, name, QVDES_KEY_NAME_SIZE - 1) == 0;
}

void wipe(_qv_md_des_key_slot *slot)
{
    mbedtls_platform_zeroize(slot, sizeof(*slot));
}

QVDES_KEY_HANDLE store(_qv_md_des_key_storage *storage, const char *name, const unsigned char *key,
                       unsigned long length)
{
    for (unsigned long i = 0; i < storage->slotCount; i++) {
        _qv_md_des_key_slot *slot = &storage->slots[i];
        if (slot->inUse != 0)
            continue;
        slot->inUse = 1;
        strncpy(slot->name, name, QVDES_KEY_NAME_SIZE - 1);
        slot->name[QVDES_KEY_NAME_SIZE - 1] = '\0';
        slot->storedLength = length;
        slot->scrambled = length % 8 != 0;
        slot->keyLength =
            slot->scrambled ? static_cast<unsigned long>(QVDES_SCRAMBLED_KEY_LENGTH) : length;
        memcpy(slot->key, key, length);
        return slot;
    }
    return nullptr;
}

void rebuild(const _qv_md_des_key_slot *slot, unsigned char *out)
{
    for (unsigned k = 0; k < QVDES_SCRAMBLED_KEY_LENGTH; k++)
        out[k] = slot->key[QVDES_ScrambledOffset(k)] ^ QVDES_ScrambleMask(k);
}

// The slot's usable key in a buffer that wipes itself.
class SlotKey
{
  public:
    explicit SlotKey(const _qv_md_des_key_slot *slot) : m_length(slot->keyLength)
    {
        if (slot->scrambled != 0)
            rebuild(slot, m_key);
        else
            memcpy(m_key, slot->key, m_length);
    }
    ~SlotKey() { mbedtls_platform_zeroize(m_key, sizeof(m_key)); }
    SlotKey(const SlotKey &) = delete;
    SlotKey &operator=(const SlotKey &) = delete;

    const unsigned char *Bytes() const { return m_key; }
    unsigned long Length() const { return m_length; }

  private:
    unsigned char m_key[24];
    unsigned long m_length;
};

// The common cipher step of the raw-key operations.
uint32_t crypt(const unsigned char *key, unsigned long keyLength, uint32_t mode,
               const unsigned char *iv, unsigned char *data, unsigned long *length, int direction)
{
    if (data == nullptr || length == nullptr || *length % 8 != 0 ||
        (keyLength != 8 && keyLength != 16 && keyLength != 24))
        return QV_E_INVALID_VALUE;
    odes_context ctx;
    uint32_t rv = QV_E_UNEXPECTED;
    bool ready = des_init(static_cast<uint32_t>(keyLength / 8), key, mode, &ctx) == 0 &&
                 (mode != ODES_MODE_CBC || (iv != nullptr && des_set_iv(&ctx, iv) == 0));
    unsigned long processed = 0;
    if (ready && odes_encrypt(&ctx, direction, *length, data, &processed, data) == 0 &&
        processed == *length)
        rv = QV_OK;
    mbedtls_platform_zeroize(&ctx, sizeof(ctx));
    return rv;
}

// The raw-key operations: triple DES takes a 16- or 24-byte key, DES an 8-byte one.
uint32_t rawCrypt(bool triple, const unsigned char *key, unsigned long keyLength, uint32_t mode,
                  const unsigned char *iv, unsigned char *data, unsigned long *length,
                  int direction)
{
    bool fits = key != nullptr && (triple ? keyLength == 16 || keyLength == 24 : keyLength == 8);
    return fits ? crypt(key, keyLength, mode, iv, data, length, direction) : QV_E_UNEXPECTED;
}

} // namespace

QVDES_KEY_HANDLE QVDES_DESProv_SetKey(_qv_md_des_key_storage *storage, const char *name,
                                      _qv_md_des_prov_key_type, const unsigned char *key,
                                      unsigned long length)
{
    if (storage == nullptr || name == nullptr || key == nullptr || !storableLength(length))
        return nullptr;
    QVDES_DESProv_RemoveKeyByName(storage, name);
    return store(storage, name, key, length);
}

QVDES_KEY_HANDLE QVDES_DESProv_AddKey(_qv_md_des_key_storage *storage, const char *name,
                                      _qv_md_des_prov_key_type, const unsigned char *key,
                                      unsigned long length)
{
    if (storage == nullptr || name == nullptr || key == nullptr || !storableLength(length))
        return nullptr;
    return store(storage, name, key, length);
}

QVDES_KEY_HANDLE QVDES_DESProv_GetKey(_qv_md_des_key_storage *storage, const char *name)
{
    if (storage == nullptr || name == nullptr)
        return nullptr;
    for (unsigned long i = 0; i < storage->slotCount; i++)
        if (holds(storage->slots[i], name))
            return &storage->slots[i];
    return nullptr;
}

uint32_t QVDES_DESProv_FillKey(QVDES_KEY_HANDLE slot, unsigned char *out, unsigned long room)
{
    if (slot == nullptr || out == nullptr)
        return QV_E_UNEXPECTED;
    if (slot->scrambled != 0) {
        if (room < QVDES_SCRAMBLED_KEY_LENGTH)
            return QV_E_UNEXPECTED;
        rebuild(slot, out);
        return QV_OK;
    }
    if (room != slot->storedLength)
        return QV_E_UNEXPECTED;
    memcpy(out, slot->key, slot->storedLength);
    return QV_OK;
}

uint32_t QVDES_DESProv_FillKeyByName(_qv_md_des_key_storage *storage, const char *name,
                                     unsigned char *out, unsigned long room)
{
    return QVDES_DESProv_FillKey(QVDES_DESProv_GetKey(storage, name), out, room);
}

uint32_t QVDES_DESProv_RemoveKey(_qv_md_des_key_storage *storage, QVDES_KEY_HANDLE slot)
{
    if (storage == nullptr || slot == nullptr)
        return QV_E_UNEXPECTED;
    wipe(slot);
    return QV_OK;
}

uint32_t QVDES_DESProv_RemoveKeyByName(_qv_md_des_key_storage *storage, const char *name)
{
    if (storage == nullptr || name == nullptr)
        return QV_E_UNEXPECTED;
    for (unsigned long i = 0; i < storage->slotCount; i++)
        if (holds(storage->slots[i], name))
            wipe(&storage->slots[i]);
    return QV_OK;
}

uint32_t QVDES_DESProv_Crypt3DES_ECB(QVDES_KEY_HANDLE slot, unsigned char *data,
                                     unsigned long *length, int direction)
{
    if (slot == nullptr)
        return QV_E_UNEXPECTED;
    SlotKey key(slot);
    return QVDES_Crypt3DES_ECB(key.Bytes(), key.Length(), data, length, direction);
}

uint32_t QVDES_DESProv_Crypt3DES_CBC(QVDES_KEY_HANDLE slot, unsigned char *data,
                                     unsigned long *length, const unsigned char *iv,
                                     unsigned long ivLength, int direction)
{
    if (slot == nullptr)
        return QV_E_UNEXPECTED;
    SlotKey key(slot);
    return QVDES_Crypt3DES_CBC(key.Bytes(), key.Length(), data, length, iv, ivLength, direction);
}

uint32_t QVDES_DESProv_CryptDES_ECB(QVDES_KEY_HANDLE, unsigned char *, unsigned long *, int)
{
    return QV_E_UNEXPECTED;
}

uint32_t QVDES_DESProv_CryptDES_CBC(QVDES_KEY_HANDLE, unsigned char *, unsigned long *,
                                    const unsigned char *, unsigned long, int)
{
    return QV_E_UNEXPECTED;
}

uint32_t QVDES_Crypt3DES_ECB(const unsigned char *key, unsigned long keyLength, unsigned char *data,
                             unsigned long *length, int direction)
{
    return rawCrypt(true, key, keyLength, ODES_MODE_ECB, nullptr, data, length, direction);
}

// The iv is always 8 bytes; its length is not examined.
uint32_t QVDES_Crypt3DES_CBC(const unsigned char *key, unsigned long keyLength, unsigned char *data,
                             unsigned long *length, const unsigned char *iv, unsigned long,
                             int direction)
{
    return rawCrypt(true, key, keyLength, ODES_MODE_CBC, iv, data, length, direction);
}

uint32_t QVDES_CryptDES_ECB(const unsigned char *key, unsigned long keyLength, unsigned char *data,
                            unsigned long *length, int direction)
{
    return rawCrypt(false, key, keyLength, ODES_MODE_ECB, nullptr, data, length, direction);
}

uint32_t QVDES_CryptDES_CBC(const unsigned char *key, unsigned long keyLength, unsigned char *data,
                            unsigned long *length, const unsigned char *iv, unsigned long,
                            int direction)
{
    return rawCrypt(false, key, keyLength, ODES_MODE_CBC, iv, data, length, direction);
}

uint32_t QVMD_DESSWProv_InitCryptoProvider(_qv_md_des_provider *provider, unsigned long word1,
                                           unsigned long word2, unsigned long word3)
{
    if (provider == nullptr)
        return QV_E_INVALID_VALUE;
    provider->context[0] = word1;
    provider->context[1] = word2;
    provider->context[2] = word3;
    provider->SetKey = QVDES_DESProv_SetKey;
    provider->FillKey = QVDES_DESProv_FillKey;
    provider->FillKeyByName = QVDES_DESProv_FillKeyByName;
    provider->AddKey = QVDES_DESProv_AddKey;
    provider->GetKey = QVDES_DESProv_GetKey;
    provider->RemoveKey = QVDES_DESProv_RemoveKey;
    provider->RemoveKeyByName = QVDES_DESProv_RemoveKeyByName;
    provider->Crypt3DES_ECB = QVDES_DESProv_Crypt3DES_ECB;
    provider->Crypt3DES_CBC = QVDES_DESProv_Crypt3DES_CBC;
    provider->CryptDES_ECB = QVDES_DESProv_CryptDES_ECB;
    provider->CryptDES_CBC = QVDES_DESProv_CryptDES_CBC;
    return QV_OK;
}

uint32_t QVMD_DESSWProv_CloseCryptoProvider(_qv_md_des_provider *provider)
{
    if (provider == nullptr)
        return QV_E_INVALID_VALUE;
    memset(provider, 0, sizeof(*provider));
    return QV_OK;
}

uint32_t QVMD_DESSWProv_InitDESKeyStorage(_qv_md_des_provider *provider,
                                          _qv_md_des_key_storage *storage)
{
    if (provider == nullptr || storage == nullptr)
        return QV_E_INVALID_VALUE;
    for (unsigned long i = 0; i < storage->slotCount; i++)
        wipe(&storage->slots[i]);
    return QV_OK;
}

uint32_t QVMD_DESSWProv_CloseDESKeyStorage(_qv_md_des_provider *provider,
                                           _qv_md_des_key_storage *storage)
{
    return QVMD_DESSWProv_InitDESKeyStorage(provider, storage);
}
