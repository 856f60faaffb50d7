// Secure messaging: a session between the module and the card, opened by a mutual
// challenge exchange that derives two session keys (S-ENC, S-MAC) from a master key
// of the DES key storage, after which commands carry a chained C-MAC (and may carry
// encrypted data) and responses a chained R-MAC (and may carry encrypted data).
//
// All cryptography is two-key triple DES in CBC mode done by the bound provider over
// key slots; the session keys live in the storage under "SK" and are removed at
// close. Key bytes pass through this layer only while a session key is derived, in a
// buffer wiped right after.
//
// The MAC chaining value runs through the whole session: the opening's response
// command, then every wrapped command and every verified response in turn. Commands
// are wrapped and responses unwrapped by the secure sender (qvmd_secure.h), so that
// PIN, file and key code never sees a MAC.
#pragma once

#include "card/qvdes_prov.h"
#include "card/qvmd_card.h"

#include <cstdint>

// Level bits: what a session applies to commands and responses.
constexpr uint32_t QVMD_SM_COMMAND_MAC = 0x01;
constexpr uint32_t QVMD_SM_COMMAND_ENCRYPTION = 0x02;
constexpr uint32_t QVMD_SM_RESPONSE_MAC = 0x10;
constexpr uint32_t QVMD_SM_RESPONSE_ENCRYPTION = 0x20;
// the levels the token opens: MACs both ways for RSA, MAC and encrypted data for a
// key import
constexpr uint32_t QVMD_SM_LEVEL_RSA = QVMD_SM_COMMAND_MAC | QVMD_SM_RESPONSE_MAC;
constexpr uint32_t QVMD_SM_LEVEL_IMPORT = QVMD_SM_COMMAND_MAC | QVMD_SM_COMMAND_ENCRYPTION;

enum : unsigned long {
    QVMD_SM_MAX_RESPONSE_DATA = 512, // encrypted response data beyond this is refused
};

// The session key slots' name in the key storage.
extern const char QVMD_SM_SESSION_KEY_NAME[]; // "SK"

// One session's state; zero while no session is open. The caller owns it and binds
// it with QVMD_CryptoSWProviderInit.
struct _qv_md_sm_state {
    QVDES_KEY_HANDLE masterKey;
    QVDES_KEY_HANDLE encryptionBase; // the keys the session keys are derived from
    QVDES_KEY_HANDLE macBase;
    QVDES_KEY_HANDLE sessionEncryption; // S-ENC
    QVDES_KEY_HANDLE sessionMac;        // S-MAC
    unsigned char chain[8];             // the MAC chaining value
    unsigned long reserved;
    unsigned char hostChallenge[8];
    unsigned char cardChallenge[8];
    uint8_t p1, p2;
    uint32_t level;
};

// ---- binding ----
// Zeroes the state and binds it and the provider handle. QV_E_INVALID_VALUE for a
// null argument or a handle without provider or storage.
uint32_t QVMD_CryptoSWProviderInit(_qv_md_sm_context *sm, _qv_md_sm_state *state,
                                   _qv_md_crypto_provider_handle *handle);
// Clears both words of the handle when both are set; nothing else.
uint32_t QVMD_CryptoSWProviderClose(void *reserved, _qv_md_crypto_provider_handle *handle);
// Stores a key by name (QVDES_DESProv_SetKey). QV_E_INVALID_VALUE unbound,
// QV_E_UNEXPECTED when the storage refuses it.
uint32_t QVMD_CryptoSWProviderSetKey(_qv_md_sm_context *sm, const char *name,
                                     const unsigned char *key, unsigned long length);

// ---- session ----
// Zeroes the state, keeps level (its low byte), p1 and p2, finds the master key by
// name (none: QV_E_UNEXPECTED) and removes earlier session keys. QV_E_INVALID_VALUE
// unbound or without a name.
uint32_t QVMD_CryptoSMOpen(_qv_md_sm_context *sm, const char *keyName, unsigned char p1,
                           unsigned char p2, uint32_t level);
// Removes the session keys (S-MAC first) and zeroes the state. QV_E_INVALID_VALUE
// unbound.
uint32_t QVMD_CryptoSMClose(_qv_md_sm_context *sm);

// The opening exchange of the applet's generation (challenge and response before
// applet 1.2, initialize update and response from 1.2): 0 or the first error. A
// failed opening leaves the state as far as it got; close it in every case.
uint32_t QVMD_OpenSM(_qv_md_card_struct *card, const char *keyName, unsigned char p1,
                     unsigned char p2, uint32_t level);
// Sends the close command (plain; 90 00 without data), then closes locally even when
// the card failed; the card's result.
uint32_t QVMD_CloseSM(_qv_md_card_struct *card);
// The same with the close command that also clears an imported key.
uint32_t QVMD_CloseSMClearImportedKey(_qv_md_card_struct *card);

// ---- wrapping ----
// C-MAC (level bit 0), then data encryption (bit 1), on a whole command in place.
// The command is CLA INS P1 P2 [Lc data] (a 4-byte command counts as Lc 00).
// QV_E_INSUFFICIENT_BUFFER past the capacity or past a one-byte Lc,
// QV_E_INVALID_VALUE unbound or for a command whose Lc does not match its length.
uint32_t QVMD_CryptoSMWrap(_qv_md_sm_context *sm, unsigned char *command, unsigned long *length,
                           unsigned long capacity);
// Data decryption (bit 5), then R-MAC verification (bit 4), on a whole response
// (data, then SW1 SW2) in place; *length shrinks to the plain data and the status.
// A response of 2 to 9 bytes, encrypted data over QVMD_SM_MAX_RESPONSE_DATA or
// without its 80 padding, and a wrong R-MAC are QV_E_UNEXPECTED; encrypted data
// that is not whole blocks is QV_E_INVALID_VALUE. Nothing is read outside *length.
uint32_t QVMD_CryptoSMUnwrap(_qv_md_sm_context *sm, unsigned char *response, unsigned long *length,
                             unsigned long capacity);

// ---- the opening's commands (*length: the capacity in, the command's length out) ----
// B0 50 p1 p2 08 and a host challenge from the module's random generator (13 bytes).
uint32_t QVMD_CryptoSMPrepareChallengeAPDU(_qv_md_sm_context *sm, unsigned char *command,
                                           unsigned long *length);
uint32_t QVMD_CryptoSMPrepareChallengeAPDUPrecomputedChallenge(_qv_md_sm_context *sm,
                                                               unsigned char *command,
                                                               unsigned long *length,
                                                               const unsigned char challenge[8]);
// From the card's 8-byte challenge (or its 16-byte reply: challenge and card
// cryptogram, which is checked: QV_E_CARD_UNSUPPORTED on a mismatch): derives the
// session keys and builds the C-MAC'd response command B4 52 level 00 10 (21 bytes).
uint32_t QVMD_CryptoSMPrepareResponseAPDU(_qv_md_sm_context *sm, const unsigned char *reply,
                                          unsigned long replyLength, unsigned char *command,
                                          unsigned long *length);
// B0 50 00 00 08 (5 bytes).
uint32_t QVMD_CryptoSMPrepareInitUpdateAPDUv2(_qv_md_sm_context *sm, unsigned char *command,
                                              unsigned long *length);
// Draws the host challenge, derives the session keys from both challenges and builds
// the C-MAC'd response command B4 52 level p1 18 (29 bytes; withCardChallenge adds
// the card challenge to the data: 37 bytes).
uint32_t QVMD_CryptoSMPrepareResponseAPDUv2(_qv_md_sm_context *sm,
                                            const unsigned char *cardChallenge,
                                            unsigned long cardChallengeLength,
                                            unsigned char *command, unsigned long *length,
                                            int withCardChallenge);
uint32_t QVMD_CryptoSMPrepareResponseAPDUv2PrecomputedChallenge(
    _qv_md_sm_context *sm, const unsigned char *cardChallenge, unsigned long cardChallengeLength,
    const unsigned char *hostChallenge, unsigned long hostChallengeLength, unsigned char *command,
    unsigned long *length, int withCardChallenge);
// The second generation's card cryptogram over the session's challenges, and its
// check (length must be 10; a mismatch is QV_E_CARD_UNSUPPORTED).
uint32_t QVMD_CryptoSMComputeCardCryptogramv2(_qv_md_sm_context *sm, unsigned char out[8]);
uint32_t QVMD_CryptoSMVerifyCryptogramv2(_qv_md_sm_context *sm, const unsigned char *cryptogram,
                                         unsigned long length);

// ---- imported key parameters ----
// Reads information kind 11 (not valid: QV_E_UNEXPECTED) and, unless its first three
// bytes are a, b, c already, sets them with QVMD_ManageImportedSMKeyParam.
uint32_t QVMD_ChangeImportedSMKeyParamIfNeeded(_qv_md_card_struct *card, unsigned char a,
                                               unsigned char b, unsigned char c);
// The 8-byte command B0 54 a b c 00 00 00, plain; 90 00 without data.
uint32_t QVMD_ManageImportedSMKeyParam(_qv_md_card_struct *card, unsigned char a, unsigned char b,
                                       unsigned char c);
