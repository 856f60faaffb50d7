#include "card/qvmd_sw.h"

namespace
{

enum Check { FILE_CHECK, FILE_MIN_CHECK, SETTINGS_CHECK, CONTAINER_CHECK, MIN_CHECK, CHECK_COUNT };

// Results that depend on the received length rather than being a code.
constexpr uint32_t EXACT = 1;    // 0 when the limit is 0 or equals the received length
constexpr uint32_t AT_LEAST = 2; // 0 when the received length is at least the limit

// Short names, so that the table reads one family a line.
constexpr uint32_t UNEXP = QV_E_UNEXPECTED;
constexpr uint32_t SECURITY = QV_W_SECURITY_VIOLATION;
constexpr uint32_t EXISTS = QV_ERROR_FILE_EXISTS;
constexpr uint32_t NOT_EMPTY = QV_ERROR_DIR_NOT_EMPTY;
constexpr uint32_t NO_DIR = QV_E_DIR_NOT_FOUND;
constexpr uint32_t NO_FILE = QV_E_FILE_NOT_FOUND;
constexpr uint32_t NO_ROOM = QV_E_WRITE_TOO_MANY;
constexpr uint32_t NO_CONT = QV_E_NO_KEY_CONTAINER;
constexpr uint32_t NO_KEY = QV_E_NO_FILE;

struct Family {
    unsigned char sw1, sw2;
    bool anySw2;
    uint32_t result[CHECK_COUNT];
};

// One row per status-word family; anything not listed is OTHER.
// clang-format off
const Family FAMILIES[] = {
    //  SW1  SW2   any   file       file-min   settings  container min
    {0x90, 0x00, false, {EXACT,     AT_LEAST,  0,        EXACT,    AT_LEAST}}, // success
    {0x61, 0x00, true,  {UNEXP,     AT_LEAST,  UNEXP,    UNEXP,    UNEXP}},    // more data waits
    {0x62, 0x01, false, {EXISTS,    EXISTS,    UNEXP,    UNEXP,    UNEXP}},    // exists already
    {0x62, 0x02, false, {NOT_EMPTY, NOT_EMPTY, UNEXP,    UNEXP,    UNEXP}},    // dir not empty
    {0x69, 0x85, false, {SECURITY,  SECURITY,  SECURITY, SECURITY, UNEXP}},    // access not granted
    {0x6A, 0x80, false, {UNEXP,     UNEXP,     UNEXP,    NO_CONT,  UNEXP}},    // wrong data
    {0x6A, 0x82, false, {NO_DIR,    NO_DIR,    UNEXP,    NO_CONT,  UNEXP}},    // no dir/container
    {0x6A, 0x83, false, {NO_FILE,   NO_FILE,   UNEXP,    NO_KEY,   UNEXP}},    // file/key absent
    {0x6A, 0x84, false, {NO_ROOM,   NO_ROOM,   UNEXP,    UNEXP,    UNEXP}},    // no memory left
};
const uint32_t OTHER[CHECK_COUNT] = {UNEXP, UNEXP, UNEXP, UNEXP, UNEXP};
// clang-format on

const uint32_t *resultsOf(unsigned char sw1, unsigned char sw2)
{
    for (const Family &f : FAMILIES)
        if (f.sw1 == sw1 && (f.anySw2 || f.sw2 == sw2))
            return f.result;
    return OTHER;
}

uint32_t verify(_qv_md_card_struct *card, Check check, unsigned long limit)
{
    const _qv_caapi_card_struct *t = card->transport;
    uint32_t result = resultsOf(t->sw1, t->sw2)[check];
    if (result == EXACT)
        return limit == 0 || t->receivedLength == limit ? QV_OK : QV_E_UNEXPECTED;
    if (result == AT_LEAST)
        return t->receivedLength >= limit ? QV_OK : QV_E_UNEXPECTED;
    return result;
}

} // namespace

uint32_t QVMD_VerifySWFile(_qv_md_card_struct *card, unsigned long expected)
{
    return verify(card, FILE_CHECK, expected);
}

uint32_t QVMD_VerifySWFileMin(_qv_md_card_struct *card, unsigned long minimum)
{
    return verify(card, FILE_MIN_CHECK, minimum);
}

uint32_t QVMD_VerifySWSetSettings(_qv_md_card_struct *card)
{
    return verify(card, SETTINGS_CHECK, 0);
}

uint32_t QVMD_VerifySWKeyContainer(_qv_md_card_struct *card, unsigned long expected)
{
    return verify(card, CONTAINER_CHECK, expected);
}

uint32_t QVMD_VerifySWMin(_qv_md_card_struct *card, unsigned long minimum)
{
    return verify(card, MIN_CHECK, minimum);
}
