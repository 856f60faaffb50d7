// Selecting the card application and reading what the card reports about itself:
// the information kinds 1 to 11 into the card's information record, the card data
// read in pieces, the applet version gates and the provider flags. Every command
// here is sent plainly (no secure messaging).
#pragma once

#include "card/qvmd_card.h"

#include <cstdint>

enum : unsigned char {
    QVMD_INFO_KEY_CAPACITY = 1,
    QVMD_INFO_FREE_MEMORY = 2,
    QVMD_INFO_CARD_DATA = 3,
    QVMD_INFO_SERIAL = 4,
    QVMD_INFO_APPLET = 5,
    QVMD_INFO_AUTH_STATE = 6,
    QVMD_INFO_PROVIDER_FLAGS = 7,
    QVMD_INFO_PIN_PROPERTIES = 8,
    QVMD_INFO_CARD_ID = 9,
    QVMD_INFO_MEMORY_LAYOUT = 10,
    QVMD_INFO_IMPORTED_KEY = 11,
};

// Applet versions (major, minor) at which commands change: older than 1.0 is an
// older applet.
extern const unsigned char QVMD_VERSION_PINPAD[2]; // 1.0
extern const unsigned char QVMD_VERSION_SKI[2];    // 1.2

// SELECT of the first application identifier; any status but 90 00 tries the
// second (QVMD_SelectApplet). A transport error of the first is returned as it is.
uint32_t QVMD_CheckAppletSelection(_qv_md_card_struct *card);
// SELECT of the second application identifier; 90 00 required.
uint32_t QVMD_SelectApplet(_qv_md_card_struct *card);

// lower = 1 when the applet is older than version; reads kind 5 first when it is
// not yet valid.
uint32_t QVMD_IsAppletVersionLowerThan(_qv_md_card_struct *card, const unsigned char version[2],
                                       int *lower);
// true for an older applet (before 1.0), whose commands take their older forms; a
// failure to read the version is in *rv (and the answer false).
bool QVMD_IsOlderApplet(_qv_md_card_struct *card, uint32_t *rv);
// L"SKI" (1.2) or L"PINPAD" (1.0): 0 when the applet has it, QV_E_UNEXPECTED when
// it is older, QV_E_INVALID_VALUE for another name.
uint32_t QVMD_IsSupported(_qv_md_card_struct *card, const wchar_t *feature);

// Asks the card for one kind (always; callers skip it when the kind is valid)
// and fills its region of info.
uint32_t QVMD_GetInfo(_qv_md_card_struct *card, _qv_md_info_struct *info, unsigned char kind);
// The same with a selector for kind 3 (5 bytes: tag, offset, length; or 1 byte:
// tag). Kind 8 reads kind 5 first when that is not valid. QV_E_INVALID_VALUE for
// a null info or a kind outside 1-11; QV_E_UNEXPECTED for a kind 3 selector of
// another length.
uint32_t QVMD_GetInfoParam(_qv_md_card_struct *card, _qv_md_info_struct *info, unsigned char kind,
                           const unsigned char *selector, unsigned long selectorLength);
// Checks the reply in the transport (90 00 and the kind's length rule) and fills
// the kind's region. QV_E_UNEXPECTED for a reply that breaks a rule (nothing
// changes); QV_E_NO_MEMORY when a table cannot be allocated (the kind's table is
// then empty and not valid).
uint32_t QVMD_ProcessInfo(_qv_md_card_struct *card, _qv_md_info_struct *info, unsigned char kind);

// Reads a card data object whole, in pieces: tag selector[0] (0: all card data).
// data comes from the context's alloc hook (free with QVMD_Free); on any failure
// it is null and length 0. selectorLength must be 5 or 1 (else
// QV_E_INVALID_VALUE); a piece that overruns the announced rest, or more than 255
// follow-up requests, give QV_E_UNEXPECTED.
uint32_t QVMD_GetInfoCardDataTag(_qv_md_card_struct *card, void *reserved,
                                 const unsigned char *selector, unsigned long selectorLength,
                                 unsigned char **data, unsigned long *length);

// Provider flags of info: selector 1 gives byte 1 bits 0-2 as an unsigned long
// (outLength at least 8), selector 0 bit 3 as a 16-bit boolean (at least 2).
// QV_E_INVALID_VALUE otherwise.
uint32_t QVMD_GetCSPInfo(_qv_md_card_struct *card, _qv_md_info_struct *info, unsigned long selector,
                         void *out, unsigned long *outLength);
// Edits a 2-byte provider-flags image: selector 0 sets or clears bit 3 of byte 1
// from a 16-bit boolean (valueLength 2); selector 1 replaces bits 0-2 by an
// unsigned long below 8 (valueLength at least 8). QV_E_INVALID_VALUE otherwise.
uint32_t QVMD_SetCSPFlags(unsigned char *buffer, unsigned long bufferLength, unsigned long selector,
                          const void *value, unsigned long valueLength);

// The 24 bytes that diversify the master key: card data tag 2 (exactly 24 bytes)
// bytes 8-23, then the 8-byte card identifier (kind 9, read when not yet valid).
// QV_E_INVALID_PARAMETER for a null out or *length below 24.
uint32_t QVMD_GetMKDiversificationData(_qv_md_card_struct *card, unsigned char *out,
                                       unsigned long *length);
