// Status-word checks of the card's command families. Each reads SW1, SW2 and the
// received length (status included) that QVCAAPI_RunAPDU left in the card's
// transport, and maps them through one table (qvmd_sw.cpp); a status the family
// does not list is QV_E_UNEXPECTED, never success.
#pragma once

#include "card/qvmd_card.h"

// Files and directories: 90 00 with the expected received length (0: any).
uint32_t QVMD_VerifySWFile(_qv_md_card_struct *card, unsigned long expected);
// As the file check, but 61 xx counts as 90 00, and the length is a minimum (0: none).
uint32_t QVMD_VerifySWFileMin(_qv_md_card_struct *card, unsigned long minimum);
// Settings writes: 90 00, or 69 85 as a security violation.
uint32_t QVMD_VerifySWSetSettings(_qv_md_card_struct *card);
// Key containers: 90 00 with the expected received length (0: any).
uint32_t QVMD_VerifySWKeyContainer(_qv_md_card_struct *card, unsigned long expected);
// 90 00 with at least minimum bytes received; anything else QV_E_UNEXPECTED.
uint32_t QVMD_VerifySWMin(_qv_md_card_struct *card, unsigned long minimum);
