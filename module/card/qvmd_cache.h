// The change counters in the root file "cardcf", which tell every reader of the card
// what another application changed: byte 0 is left alone, byte 1 counts PIN changes
// (8 bits), bytes 2-3 container changes and bytes 4-5 file changes (16 bits,
// little-endian). Each counter wraps to 0 after its largest value; bytes past the
// sixth are kept as they are.
#pragma once

#include "card/qvmd_card.h"

enum : unsigned long {
    QVMD_CACHE_RECORD = 6,
    QVMD_CACHE_PIN = 1,
    QVMD_CACHE_CONTAINERS = 2,
    QVMD_CACHE_FILES = 4,
};

// Copies the first 6 bytes of "cardcf" to out (QV_E_INVALID_PARAMETER for a null
// out; a shorter file is QV_E_UNEXPECTED).
uint32_t QVMD_GetCurrentCache(_qv_md_card_struct *card, unsigned char *out);
// Raises the counters that flags names (QVMD_CACHE_*) and writes "cardcf" back; no
// flags sends nothing.
uint32_t QVMD_OperationChangeCache(_qv_md_card_struct *card, unsigned long flags);
