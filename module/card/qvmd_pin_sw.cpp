// The status family of the PIN commands, with the tries each status reports.
#include "card/qvmd_pin.h"

namespace
{

enum Tries {
    KEEP,         // no count given: the caller's value stays
    NONE_LEFT,    // the PIN is blocked
    UNKNOWN,      // the card gives no count
    FROM_SW2,     // SW2 is the count
    WRONG_LENGTH, // the PIN had a length the card does not take
};

struct Family {
    unsigned char sw1, sw2;
    bool anySw2;
    uint32_t result;
    Tries tries;
};

// One row per family, first match wins; anything not listed is QV_E_UNEXPECTED.
// clang-format off
const Family FAMILIES[] = {
    {0x90, 0x00, false, QV_OK,                  KEEP},         // verified
    {0x90, 0x00, true,  QV_E_UNEXPECTED,        KEEP},         // success with a stray SW2
    {0x62, 0x00, true,  QV_W_CHV_BLOCKED,       NONE_LEFT},    // blocked
    {0x63, 0xFF, false, QV_W_WRONG_CHV,         UNKNOWN},      // wrong, count unknown
    {0x63, 0x00, true,  QV_W_WRONG_CHV,         FROM_SW2},     // wrong, SW2 tries left
    {0x67, 0x00, true,  QV_W_WRONG_CHV,         WRONG_LENGTH}, // wrong length
    {0x69, 0x85, false, QV_W_WRONG_CHV,         KEEP},         // conditions not met
    {0x6B, 0x00, false, QV_E_INVALID_PARAMETER, KEEP},         // no such PIN, or no right
};
// clang-format on

} // namespace

uint32_t QVMD_VerifySWAuthenticate(_qv_md_card_struct *card, long *tries)
{
    const _qv_caapi_card_struct *t = card->transport;
    for (const Family &f : FAMILIES) {
        if (f.sw1 != t->sw1 || (!f.anySw2 && f.sw2 != t->sw2))
            continue;
        if (tries != nullptr && f.tries != KEEP) {
            const long counts[] = {0, 0, QVMD_TRIES_UNKNOWN, t->sw2, QVMD_TRIES_WRONG_LENGTH};
            *tries = counts[f.tries];
        }
        return f.result;
    }
    return QV_E_UNEXPECTED;
}
