// The host side of a secure-messaging session without the card: binding, the session
// keys, the opening's commands and cryptograms, and wrapping and unwrapping.
#include "card/qvmd_sm.h"

#include "card/qvmd_sm_commands.h"

#include "crypto/crypto_random.h"

#include <mbedtls/platform_util.h>

#include <cstring>

const char QVMD_SM_SESSION_KEY_NAME[] = "SK";

namespace
{

const unsigned char ZERO_IV[8] = {};

enum : unsigned char {
    CLA_SECURED = 0x04,   // or-ed into the class byte of a wrapped command
    PADDING_MARK = 0x80,  // ends the data before its zero padding
    DERIVE_ENC_V2 = 0x82, // the derivation constants of the second generation
    DERIVE_MAC_V2 = 0x81,
};

enum : unsigned long {
    MAC_LENGTH = 8,
    BLOCK = 8,
    MAX_LC = 255,
    HEADER = 5, // CLA INS P1 P2 Lc
};

bool bound(const _qv_md_sm_context *sm)
{
    return sm != nullptr && sm->state != nullptr && sm->provider != nullptr &&
           sm->provider->provider != nullptr && sm->provider->storage != nullptr;
}

// Triple-DES CBC in place over whole blocks with a slot's key.
uint32_t cbc(_qv_md_sm_context *sm, QVDES_KEY_HANDLE key, unsigned char *data, unsigned long length,
             const unsigned char iv[8], int encrypt)
{
    unsigned long n = length;
    uint32_t rv = sm->provider->provider->Crypt3DES_CBC(key, data, &n, iv, BLOCK, encrypt);
    if (rv != QV_OK)
        return rv;
    return n == length ? QV_OK : QV_E_UNEXPECTED;
}

// The last block of the CBC encryption of message || 80 || zero bytes up to a whole
// block, from iv; any message length, in chunks.
uint32_t mac(_qv_md_sm_context *sm, QVDES_KEY_HANDLE key, const unsigned char *message,
             unsigned long length, const unsigned char iv[8], unsigned char out[8])
{
    unsigned char chunk[256];
    unsigned char chain[BLOCK];
    memcpy(chain, iv, BLOCK);
    uint32_t rv = QV_OK;
    for (unsigned long at = 0;;) {
        unsigned long n = length - at;
        bool last = n < sizeof(chunk) - BLOCK; // room for the padding
        if (!last)
            n = sizeof(chunk) - BLOCK;
        if (n != 0)
            memcpy(chunk, message + at, n);
        at += n;
        if (last) {
            chunk[n++] = PADDING_MARK;
            while (n % BLOCK != 0)
                chunk[n++] = 0;
        }
        rv = cbc(sm, key, chunk, n, chain, 1);
        if (rv != QV_OK)
            break;
        memcpy(chain, chunk + n - BLOCK, BLOCK);
        if (last)
            break;
    }
    if (rv == QV_OK)
        memcpy(out, chain, BLOCK);
    mbedtls_platform_zeroize(chunk, sizeof(chunk));
    mbedtls_platform_zeroize(chain, sizeof(chain));
    return rv;
}

// A cryptogram: the MAC of first || second under S-ENC from a zero IV.
uint32_t cryptogram(_qv_md_sm_context *sm, const unsigned char first[8],
                    const unsigned char second[8], unsigned char out[8])
{
    unsigned char message[16];
    memcpy(message, first, 8);
    memcpy(message + 8, second, 8);
    return mac(sm, sm->state->sessionEncryption, message, sizeof(message), ZERO_IV, out);
}

// A session key: the block encrypted under the master key, stored as "SK". The
// key bytes are wiped as soon as the storage holds them.
uint32_t deriveKey(_qv_md_sm_context *sm, QVDES_KEY_HANDLE base, unsigned char block[16],
                   QVDES_KEY_HANDLE *key)
{
    uint32_t rv = cbc(sm, base, block, 16, ZERO_IV, 1);
    if (rv == QV_OK) {
        *key = sm->provider->provider->AddKey(sm->provider->storage, QVMD_SM_SESSION_KEY_NAME,
                                              QVDES_KEY_TYPE_DES3, block, 16);
        if (*key == nullptr)
            rv = QV_E_UNEXPECTED;
    }
    mbedtls_platform_zeroize(block, 16);
    return rv;
}

// The first generation's derivation blocks: 01 01 (MAC) or 01 02 (ENC), then the
// card's sequence counter (the card challenge's first two bytes), then zero bytes.
uint32_t deriveKeysV1(_qv_md_sm_context *sm)
{
    _qv_md_sm_state *st = sm->state;
    unsigned char block[16] = {0x01, 0x01, st->cardChallenge[0], st->cardChallenge[1]};
    uint32_t rv = deriveKey(sm, st->macBase, block, &st->sessionMac);
    if (rv != QV_OK)
        return rv;
    unsigned char encBlock[16] = {0x01, 0x02, st->cardChallenge[0], st->cardChallenge[1]};
    return deriveKey(sm, st->encryptionBase, encBlock, &st->sessionEncryption);
}

// The second generation's blocks: R4 R5 R6 K H0-H3 R0-R3 H4-H7.
void blockV2(const _qv_md_sm_state *st, unsigned char k, unsigned char block[16])
{
    const unsigned char *r = st->cardChallenge, *h = st->hostChallenge;
    memcpy(block, r + 4, 3);
    block[3] = k;
    memcpy(block + 4, h, 4);
    memcpy(block + 8, r, 4);
    memcpy(block + 12, h + 4, 4);
}

uint32_t deriveKeysV2(_qv_md_sm_context *sm)
{
    _qv_md_sm_state *st = sm->state;
    unsigned char block[16];
    blockV2(st, DERIVE_MAC_V2, block);
    uint32_t rv = deriveKey(sm, st->macBase, block, &st->sessionMac);
    if (rv != QV_OK)
        return rv;
    blockV2(st, DERIVE_ENC_V2, block);
    return deriveKey(sm, st->encryptionBase, block, &st->sessionEncryption);
}

// C-MAC over the whole command as it stands (a 4-byte command gets Lc 00 first),
// from the chaining value, which the MAC replaces.
uint32_t commandMac(_qv_md_sm_context *sm, unsigned char *command, unsigned long *length,
                    unsigned long capacity)
{
    if (*length == HEADER - 1 && capacity >= HEADER) {
        command[HEADER - 1] = 0;
        *length = HEADER;
    }
    if (*length < HEADER || command[4] != *length - HEADER)
        return QV_E_INVALID_VALUE;
    if (*length + MAC_LENGTH > capacity || command[4] + MAC_LENGTH > MAX_LC)
        return QV_E_INSUFFICIENT_BUFFER;
    _qv_md_sm_state *st = sm->state;
    uint32_t rv = mac(sm, st->sessionMac, command, *length, st->chain, st->chain);
    if (rv != QV_OK)
        return rv;
    command[0] |= CLA_SECURED;
    command[4] = static_cast<unsigned char>(command[4] + MAC_LENGTH);
    memcpy(command + *length, st->chain, MAC_LENGTH);
    *length += MAC_LENGTH;
    return QV_OK;
}

// The data (before a C-MAC, which stays plain after it) padded and encrypted under
// S-ENC from a zero IV.
uint32_t encryptData(_qv_md_sm_context *sm, unsigned char *command, unsigned long *length,
                     unsigned long capacity)
{
    unsigned long macLength = 0;
    if ((sm->state->level & QVMD_SM_COMMAND_MAC) != 0)
        macLength = MAC_LENGTH;
    if (*length == HEADER - 1 && capacity >= HEADER) {
        command[HEADER - 1] = 0;
        *length = HEADER;
    }
    if (*length < HEADER || command[4] != *length - HEADER || command[4] < macLength)
        return QV_E_INVALID_VALUE;
    unsigned long dataLength = command[4] - macLength;
    unsigned long padding = (BLOCK - (dataLength + 1) % BLOCK) % BLOCK;
    unsigned long encrypted = dataLength + 1 + padding;
    if (*length + padding + 2 > capacity || encrypted + macLength > MAX_LC)
        return QV_E_INSUFFICIENT_BUFFER;
    unsigned char *data = command + HEADER;
    unsigned char commandMacBytes[MAC_LENGTH];
    memcpy(commandMacBytes, data + dataLength, macLength);
    data[dataLength] = PADDING_MARK;
    memset(data + dataLength + 1, 0, padding);
    uint32_t rv = cbc(sm, sm->state->sessionEncryption, data, encrypted, ZERO_IV, 1);
    if (rv != QV_OK)
        return rv;
    memcpy(data + encrypted, commandMacBytes, macLength);
    *length = HEADER + encrypted + macLength;
    command[4] = static_cast<unsigned char>(encrypted + macLength);
    command[0] |= CLA_SECURED;
    return QV_OK;
}

// Decrypts the data before the R-MAC (when the level has one) and the status, and
// keeps the plain data up to its padding mark.
uint32_t decryptData(_qv_md_sm_context *sm, unsigned char *response, unsigned long *length)
{
    if (*length <= MAC_LENGTH + 1)
        return QV_E_UNEXPECTED;
    unsigned long tail = 2; // the status
    if ((sm->state->level & QVMD_SM_RESPONSE_MAC) != 0)
        tail += MAC_LENGTH;
    unsigned long dataLength = *length - tail;
    if (dataLength == 0)
        return QV_OK;
    if (dataLength > QVMD_SM_MAX_RESPONSE_DATA)
        return QV_E_UNEXPECTED;
    if (dataLength % BLOCK != 0)
        return QV_E_INVALID_VALUE;
    uint32_t rv = cbc(sm, sm->state->sessionEncryption, response, dataLength, ZERO_IV, 0);
    if (rv != QV_OK)
        return rv;
    // the padding is the mark and zero bytes, within the last block
    unsigned long plain = dataLength;
    while (plain > dataLength - BLOCK && response[plain - 1] == 0)
        plain--;
    if (plain == dataLength - BLOCK || response[plain - 1] != PADDING_MARK)
        return QV_E_UNEXPECTED;
    plain--;
    memmove(response + plain, response + dataLength, tail);
    *length = plain + tail;
    return QV_OK;
}

// Checks the R-MAC after the data and removes it; the computed MAC becomes the
// chaining value either way.
uint32_t verifyResponseMac(_qv_md_sm_context *sm, unsigned char *response, unsigned long *length)
{
    if (*length <= MAC_LENGTH + 1)
        return QV_E_UNEXPECTED;
    unsigned long dataLength = *length - MAC_LENGTH - 2;
    _qv_md_sm_state *st = sm->state;
    uint32_t rv = mac(sm, st->sessionMac, response, dataLength, st->chain, st->chain);
    if (rv != QV_OK)
        return rv;
    unsigned char differ = 0;
    for (unsigned long i = 0; i < MAC_LENGTH; i++)
        differ |= static_cast<unsigned char>(st->chain[i] ^ response[dataLength + i]);
    memmove(response + dataLength, response + dataLength + MAC_LENGTH, 2);
    *length -= MAC_LENGTH;
    return differ == 0 ? QV_OK : QV_E_UNEXPECTED;
}

// Encodes a built command into the caller's buffer (*length: its capacity in).
uint32_t encode(const CApdu &apdu, unsigned char *command, unsigned long *length)
{
    unsigned long n = apdu.Encode(command, *length);
    if (n == 0)
        return QV_E_INVALID_VALUE;
    *length = n;
    return QV_OK;
}

// The opening's response command: data built, then always C-MAC'd from the host
// cryptogram, whatever the level.
uint32_t responseCommand(_qv_md_sm_context *sm, unsigned char p2, const unsigned char *data,
                         unsigned long dataLength, unsigned char *command, unsigned long *length)
{
    _qv_md_sm_state *st = sm->state;
    unsigned long capacity = *length;
    uint32_t rv =
        encode(qvapdu::SmResponse(static_cast<unsigned char>(st->level), p2, data, dataLength),
               command, length);
    return rv != QV_OK ? rv : commandMac(sm, command, length, capacity);
}

uint32_t drawChallenge(unsigned char out[8])
{
    return crypto_random(nullptr, out, 8) == 0 ? QV_OK : QV_E_UNEXPECTED;
}

} // namespace

uint32_t QVMD_CryptoSWProviderInit(_qv_md_sm_context *sm, _qv_md_sm_state *state,
                                   _qv_md_crypto_provider_handle *handle)
{
    if (sm == nullptr || state == nullptr || handle == nullptr || handle->provider == nullptr ||
        handle->storage == nullptr)
        return QV_E_INVALID_VALUE;
    memset(state, 0, sizeof(*state));
    sm->state = state;
    sm->provider = handle;
    return QV_OK;
}

uint32_t QVMD_CryptoSWProviderClose(void *, _qv_md_crypto_provider_handle *handle)
{
    if (handle != nullptr && handle->provider != nullptr && handle->storage != nullptr) {
        handle->provider = nullptr;
        handle->storage = nullptr;
    }
    return QV_OK;
}

uint32_t QVMD_CryptoSWProviderSetKey(_qv_md_sm_context *sm, const char *name,
                                     const unsigned char *key, unsigned long length)
{
    if (!bound(sm))
        return QV_E_INVALID_VALUE;
    return sm->provider->provider->SetKey(sm->provider->storage, name, QVDES_KEY_TYPE_DES3, key,
                                          length) != nullptr
               ? QV_OK
               : QV_E_UNEXPECTED;
}

uint32_t QVMD_CryptoSMOpen(_qv_md_sm_context *sm, const char *keyName, unsigned char p1,
                           unsigned char p2, uint32_t level)
{
    if (!bound(sm) || keyName == nullptr)
        return QV_E_INVALID_VALUE;
    _qv_md_sm_state *st = sm->state;
    mbedtls_platform_zeroize(st, sizeof(*st));
    st->level = level & 0xFF;
    st->p1 = p1;
    st->p2 = p2;
    _qv_md_des_provider *provider = sm->provider->provider;
    st->masterKey = provider->GetKey(sm->provider->storage, keyName);
    if (st->masterKey == nullptr)
        return QV_E_UNEXPECTED;
    st->encryptionBase = st->masterKey;
    st->macBase = st->masterKey;
    provider->RemoveKeyByName(sm->provider->storage, QVMD_SM_SESSION_KEY_NAME);
    return QV_OK;
}

uint32_t QVMD_CryptoSMClose(_qv_md_sm_context *sm)
{
    if (!bound(sm))
        return QV_E_INVALID_VALUE;
    _qv_md_sm_state *st = sm->state;
    _qv_md_des_provider *provider = sm->provider->provider;
    if (st->sessionMac != nullptr)
        provider->RemoveKey(sm->provider->storage, st->sessionMac);
    if (st->sessionEncryption != nullptr)
        provider->RemoveKey(sm->provider->storage, st->sessionEncryption);
    mbedtls_platform_zeroize(st, sizeof(*st));
    return QV_OK;
}

uint32_t QVMD_CryptoSMWrap(_qv_md_sm_context *sm, unsigned char *command, unsigned long *length,
                           unsigned long capacity)
{
    if (!bound(sm) || command == nullptr || length == nullptr || *length > capacity)
        return QV_E_INVALID_VALUE;
    uint32_t level = sm->state->level;
    uint32_t rv = QV_OK;
    if ((level & QVMD_SM_COMMAND_MAC) != 0)
        rv = commandMac(sm, command, length, capacity);
    if (rv == QV_OK && (level & QVMD_SM_COMMAND_ENCRYPTION) != 0)
        rv = encryptData(sm, command, length, capacity);
    return rv;
}

uint32_t QVMD_CryptoSMUnwrap(_qv_md_sm_context *sm, unsigned char *response, unsigned long *length,
                             unsigned long capacity)
{
    if (!bound(sm) || response == nullptr || length == nullptr || *length > capacity)
        return QV_E_INVALID_VALUE;
    uint32_t level = sm->state->level;
    uint32_t rv = QV_OK;
    if ((level & QVMD_SM_RESPONSE_ENCRYPTION) != 0)
        rv = decryptData(sm, response, length);
    if (rv == QV_OK && (level & QVMD_SM_RESPONSE_MAC) != 0)
        rv = verifyResponseMac(sm, response, length);
    return rv;
}

uint32_t QVMD_CryptoSMPrepareChallengeAPDU(_qv_md_sm_context *sm, unsigned char *command,
                                           unsigned long *length)
{
    unsigned char challenge[8];
    uint32_t rv = drawChallenge(challenge);
    return rv != QV_OK ? rv
                       : QVMD_CryptoSMPrepareChallengeAPDUPrecomputedChallenge(sm, command, length,
                                                                               challenge);
}

uint32_t QVMD_CryptoSMPrepareChallengeAPDUPrecomputedChallenge(_qv_md_sm_context *sm,
                                                               unsigned char *command,
                                                               unsigned long *length,
                                                               const unsigned char challenge[8])
{
    if (!bound(sm) || command == nullptr || length == nullptr || *length <= 12 ||
        challenge == nullptr)
        return QV_E_INVALID_VALUE;
    _qv_md_sm_state *st = sm->state;
    memcpy(st->hostChallenge, challenge, 8);
    return encode(qvapdu::SmChallenge(st->p1, st->p2, challenge), command, length);
}

uint32_t QVMD_CryptoSMPrepareResponseAPDU(_qv_md_sm_context *sm, const unsigned char *reply,
                                          unsigned long replyLength, unsigned char *command,
                                          unsigned long *length)
{
    if (!bound(sm) || reply == nullptr || command == nullptr || length == nullptr ||
        *length <= 20 || (replyLength != 8 && replyLength != 16))
        return QV_E_INVALID_VALUE;
    _qv_md_sm_state *st = sm->state;
    memcpy(st->cardChallenge, reply, 8);
    uint32_t rv = deriveKeysV1(sm);
    if (rv != QV_OK)
        return rv;
    unsigned char check[8];
    if (replyLength == 16) {
        rv = cryptogram(sm, st->hostChallenge, st->cardChallenge, check);
        if (rv != QV_OK)
            return rv;
        if (memcmp(check, reply + 8, 8) != 0)
            return QV_E_CARD_UNSUPPORTED;
    }
    unsigned char hostCryptogram[8];
    rv = cryptogram(sm, st->cardChallenge, st->hostChallenge, hostCryptogram);
    if (rv != QV_OK)
        return rv;
    memcpy(st->chain, hostCryptogram, 8);
    return responseCommand(sm, 0x00, hostCryptogram, 8, command, length);
}

uint32_t QVMD_CryptoSMPrepareInitUpdateAPDUv2(_qv_md_sm_context *sm, unsigned char *command,
                                              unsigned long *length)
{
    if (!bound(sm) || command == nullptr || length == nullptr || *length < 13)
        return QV_E_INVALID_VALUE;
    return encode(qvapdu::SmInitializeUpdate(), command, length);
}

uint32_t QVMD_CryptoSMPrepareResponseAPDUv2(_qv_md_sm_context *sm,
                                            const unsigned char *cardChallenge,
                                            unsigned long cardChallengeLength,
                                            unsigned char *command, unsigned long *length,
                                            int withCardChallenge)
{
    unsigned char challenge[8];
    uint32_t rv = drawChallenge(challenge);
    return rv != QV_OK ? rv
                       : QVMD_CryptoSMPrepareResponseAPDUv2PrecomputedChallenge(
                             sm, cardChallenge, cardChallengeLength, challenge, 8, command, length,
                             withCardChallenge);
}

uint32_t QVMD_CryptoSMPrepareResponseAPDUv2PrecomputedChallenge(
    _qv_md_sm_context *sm, const unsigned char *cardChallenge, unsigned long cardChallengeLength,
    const unsigned char *hostChallenge, unsigned long hostChallengeLength, unsigned char *command,
    unsigned long *length, int withCardChallenge)
{
    if (!bound(sm) || cardChallenge == nullptr || hostChallenge == nullptr || command == nullptr ||
        length == nullptr || *length <= 36 || cardChallengeLength != 8 || hostChallengeLength != 8)
        return QV_E_INVALID_VALUE;
    _qv_md_sm_state *st = sm->state;
    memcpy(st->cardChallenge, cardChallenge, 8);
    memcpy(st->hostChallenge, hostChallenge, 8);
    uint32_t rv = deriveKeysV2(sm);
    if (rv != QV_OK)
        return rv;
    unsigned char data[24];
    memcpy(data, st->hostChallenge, 8);
    rv = cryptogram(sm, st->cardChallenge, st->hostChallenge, data + 8);
    if (rv != QV_OK)
        return rv;
    memcpy(st->chain, data + 8, 8);
    memcpy(data + 16, st->cardChallenge, 8);
    return responseCommand(sm, st->p1, data, withCardChallenge ? 24 : 16, command, length);
}

uint32_t QVMD_CryptoSMComputeCardCryptogramv2(_qv_md_sm_context *sm, unsigned char out[8])
{
    if (!bound(sm) || out == nullptr)
        return QV_E_INVALID_VALUE;
    return cryptogram(sm, sm->state->hostChallenge, sm->state->cardChallenge, out);
}

uint32_t QVMD_CryptoSMVerifyCryptogramv2(_qv_md_sm_context *sm, const unsigned char *given,
                                         unsigned long length)
{
    if (!bound(sm) || given == nullptr || length != 10)
        return QV_E_INVALID_VALUE;
    unsigned char expected[8];
    uint32_t rv = QVMD_CryptoSMComputeCardCryptogramv2(sm, expected);
    if (rv != QV_OK)
        return rv;
    return memcmp(expected, given, 8) == 0 ? QV_OK : QV_E_CARD_UNSUPPORTED;
}
