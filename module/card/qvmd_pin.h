// PINs (authenticators) on the card: finding the PIN that serves a role, verifying,
// logging out, changing and unblocking in the command forms of each applet version,
// the challenge modes, property updates and the provider PIN-info bytes.
//
// The records come from the card information (kinds 5 and 8, qvmd_info.h); the
// callers read them first. PIN bytes are never logged, go into the command buffer
// only (never into a built command) and are wiped from it after the exchange.
#pragma once

#include "card/qvmd_card.h"

#include <cstdint>

// Roles are bit masks.
enum : uint32_t {
    QVMD_ROLE_NOBODY = 1,
    QVMD_ROLE_USER = 2,
    QVMD_ROLE_PUK = 4, // the security officer
    QVMD_ROLE_USER_AND_PUK = 6,
};

// Authentication modes: which record serves a role, and the command's form.
enum : unsigned char {
    QVMD_AUTH_PIN = 1,           // a PIN (padded for type 4)
    QVMD_AUTH_CHALLENGE = 2,     // an 8-byte response to a challenge
    QVMD_AUTH_RESPONSE = 16,     // the response length of kind 5; P1 | 0x10
    QVMD_AUTH_PIN_RESPONSE = 32, // a PIN, answered with a response; P1 | 0x20
    QVMD_AUTH_LOOKUP = 255,      // any record (lookup only)
};

constexpr unsigned char QVMD_NO_PIN = 255;

// Tries reported by a failed PIN command besides the count the card gives.
enum : long {
    QVMD_TRIES_UNKNOWN = -1,      // 63 FF
    QVMD_TRIES_WRONG_LENGTH = -2, // 67 xx
};

// A property update: provider PIN-info bytes, the limit byte t (at most 15), the
// further byte u, and which of them are sent (bit 0 the info bytes, 1 t, 2 u).
struct _qv_md_pin_properties_update {
    unsigned char cspInfo[3];
    unsigned char limit;
    unsigned char further;
    unsigned char mask;
};

// ---- records ----
uint32_t QVMD_GetRoles(const _qv_md_info_struct *info);
uint8_t QVMD_GetPinsCanUpdatePin(const _qv_md_info_struct *info, unsigned long pin);
// 1 when x is 0 or not below the PIN count, else bit x of record y's updaters (0
// for a record y that does not exist).
int QVMD_CanPinXUunblockPinY(const _qv_md_info_struct *info, unsigned long x, unsigned long y);
// The first record whose role mask shares a bit with role and that serves mode;
// *index QVMD_NO_PIN when none does (still 0).
uint32_t QVMD_GetPinIndexForAuth(_qv_md_card_struct *card, uint32_t role, unsigned char mode,
                                 unsigned char *index);

// ---- verify ----
// Verifies the PIN of role by mode. The token passes mode 1, no out and level 0.
// tries (may be null) as QVMD_VerifySWAuthenticate reports them.
uint32_t QVMD_Authenticate(_qv_md_card_struct *card, uint32_t role, unsigned char mode,
                           const unsigned char *pin, unsigned long length, unsigned char **out,
                           unsigned long *outLength, long *tries, uint32_t level);
// The same for PIN index. Mode 32 returns the card's response (exactly the kind 5
// response length, else QV_E_UNEXPECTED) from the context's alloc hook.
uint32_t QVMD_AuthenticatePinIndex(_qv_md_card_struct *card, unsigned char index,
                                   unsigned char mode, const unsigned char *pin,
                                   unsigned long length, unsigned char **out,
                                   unsigned long *outLength, long *tries, uint32_t level);
// Builds the verify command into the transport. QV_E_INVALID_VALUE for index 255 or
// 8 and above (the records are 0-7).
uint32_t QVMD_PrepareAuthenticatePinIndex(_qv_md_card_struct *card, unsigned char index,
                                          unsigned char mode, const unsigned char *pin,
                                          unsigned long length, uint32_t level);
// Builds the verify command into buffer: B0 20 P1 00 Lc and the PIN followed by FF
// bytes up to its padded length. QV_W_WRONG_CHV for a PIN the record cannot take
// (too long for type 4, not 8 bytes in mode 2), QV_E_INVALID_PARAMETER for a mode-16
// response of the wrong length, QV_E_INVALID_VALUE for another mode or no room.
uint32_t QVMD_PrepareForAuthenticate(_qv_md_card_struct *card, unsigned char index,
                                     unsigned char mode, const unsigned char *pin,
                                     unsigned long length, unsigned char *buffer,
                                     unsigned long *bufferLength, unsigned long capacity,
                                     uint32_t level);
// The PIN commands' status family: 90 00 success; 62 xx blocked (tries 0); 63 FF
// wrong (tries unknown); 63 xx wrong (tries xx); 67 xx wrong (tries -2); 69 85
// wrong; 6B 00 QV_E_INVALID_PARAMETER; anything else QV_E_UNEXPECTED. tries may be
// null; it is left alone where no count is given.
uint32_t QVMD_VerifySWAuthenticate(_qv_md_card_struct *card, long *tries);

// ---- log out ----
// Logs the roles out (the token passes 6), in the applet version's command.
uint32_t QVMD_Deauthenticate(_qv_md_card_struct *card, uint32_t role);

// ---- change and unblock ----
uint32_t QVMD_ChangeAuthenticator(_qv_md_card_struct *card, uint32_t role, unsigned char mode,
                                  const unsigned char *oldPin, unsigned long oldLength,
                                  const unsigned char *newPin, unsigned long newLength,
                                  unsigned char tryLimit, long *tries, uint32_t level);
// Sets target role's PIN with the PIN (PUK) of role. The token passes (4, 1, PUK,
// 2, 1, new PIN, the user PIN's try limit, level 0).
uint32_t QVMD_Unblock(_qv_md_card_struct *card, uint32_t role, unsigned char mode,
                      const unsigned char *puk, unsigned long pukLength, uint32_t targetRole,
                      unsigned char targetMode, const unsigned char *newPin,
                      unsigned long newLength, unsigned char tryLimit, long *tries, uint32_t level);
// Either one: QV_E_INVALID_VALUE when the PIN of role or of target role is not found.
uint32_t QVMD_ChangeAuthenticatorUnblock(_qv_md_card_struct *card, uint32_t role,
                                         unsigned char mode, const unsigned char *oldPin,
                                         unsigned long oldLength, uint32_t targetRole,
                                         unsigned char targetMode, const unsigned char *newPin,
                                         unsigned long newLength, unsigned char tryLimit,
                                         long *tries, uint32_t level, int unblock);
// Builds the change or unblock command into the transport: header and padding
// (QVMD_PrepareForChangeAuthenticatorFill), then both values.
uint32_t QVMD_PrepareForChangeAuthenticator(_qv_md_card_struct *card, unsigned char index,
                                            unsigned char mode, const unsigned char *oldPin,
                                            unsigned long oldLength, unsigned char targetIndex,
                                            unsigned char targetMode, const unsigned char *newPin,
                                            unsigned long newLength, unsigned char tryLimit,
                                            int unblock);
// Marks the PIN properties stale and builds the command with the values' room:
// *oldPadded and *newPadded are the rooms (the old value's at offset 7, the new one
// right after it). QV_W_WRONG_CHV for an old value the record cannot take,
// QV_E_INVALID_PARAMETER for a new type-4 PIN over the maximum, QV_W_WRONG_CHV for a
// challenge PIN not 24 bytes, QV_E_INVALID_VALUE for another mode or no room.
uint32_t QVMD_PrepareForChangeAuthenticatorFill(_qv_md_card_struct *card, unsigned char index,
                                                unsigned char mode, unsigned long oldLength,
                                                unsigned char targetIndex, unsigned char targetMode,
                                                unsigned long newLength, unsigned char tryLimit,
                                                int unblock, unsigned long *oldPadded,
                                                unsigned long *newPadded);

// ---- challenge modes and properties ----
// An 8-byte challenge for the PIN of role (which must be a challenge PIN).
uint32_t QVMD_GetChallenge(_qv_md_card_struct *card, uint32_t role, unsigned char mode,
                           unsigned char *out, unsigned long capacity);
uint32_t QVMD_CancelChallenge(_qv_md_card_struct *card, unsigned char index);
// Sent at level 1; marks the PIN properties stale.
uint32_t QVMD_UpdatePinProperties(_qv_md_card_struct *card, unsigned char index,
                                  const _qv_md_pin_properties_update *update);

// Provider PIN-info of record index: selectors 0, 1, 4 are bits 1, 0, 2 of the
// second byte as 16-bit booleans (outLength at least 2); 2 and 3 the high and low
// nibble of the third byte as unsigned longs (at least 8).
uint32_t QVMD_GetCSPPinInfo(const _qv_md_info_struct *info, unsigned long index,
                            unsigned long selector, void *out, unsigned long *outLength);
// The same selectors written into a 3-byte PIN-info image.
uint32_t QVMD_SetCSPPinFlag(unsigned char *buffer, unsigned long bufferLength,
                            unsigned long selector, const void *value, unsigned long valueLength);

// ---- administration cards (applet 1.0 and later, level 1) ----
// Writes the card's 8-byte response over the challenge.
uint32_t QVMD_AdminCardComputeResponse(_qv_md_card_struct *card, unsigned char keyRef,
                                       unsigned char challenge[8], const unsigned char *extra24,
                                       int withExtra);
uint32_t QVMD_AdminCardActivatePIN(_qv_md_card_struct *card, unsigned char index, int second);
