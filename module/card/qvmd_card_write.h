// Writing what the card says about itself, and the two whole-card clean-ups. All of
// them, from applet 1.0, go under the caller's secure-messaging session (level 1);
// before it the clean-ups are plain commands.
#pragma once

#include "card/qvmd_card.h"

#include <cstdint>

enum : unsigned long {
    QVMD_CARD_DATA_RECORD_MAX = 239,
    QVMD_CARD_DATA_ONE_TAG_MAX = 236,
};
constexpr unsigned char QVMD_CARD_DATA_TAG_PROVIDER_FLAGS = 0x80;

// One card-data tag's whole value.
struct _qv_md_card_data_record {
    unsigned char tag;
    unsigned long length;
    unsigned char value[QVMD_CARD_DATA_RECORD_MAX];
};

// Writes the record's tag whole. QV_E_INVALID_VALUE for a null record or a length
// of 240 or more.
uint32_t QVMD_SetCardData(_qv_md_card_struct *card, const _qv_md_card_data_record *record);
// Writes one entry (tag, attribute, length, value) of at most 236 bytes; replace 0
// adds it, anything else replaces the tag's value.
uint32_t QVMD_SetCardDataOneTag(_qv_md_card_struct *card, unsigned char tag,
                                const unsigned char *value, unsigned long length, int replace,
                                unsigned char attribute);
// The two provider-flag bytes as card-data tag 0x80 (length must be 2).
uint32_t QVMD_UpdateCSPFlags(_qv_md_card_struct *card, const unsigned char *flags,
                             unsigned long length);
// Frees the card's memory.
uint32_t QVMD_FreeMemory(_qv_md_card_struct *card);
// Frees every key container: before applet 1.0 one delete per container of kind 1
// (a container or key already absent is passed over), from 1.0 one command.
uint32_t QVMD_FreeContainers(_qv_md_card_struct *card);
