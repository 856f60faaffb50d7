#include "card/qvmd_cache.h"

#include "card/qvmd_file_io.h"

#include <cstring>

namespace
{

const unsigned char CARDCF[8] = {'c', 'a', 'r', 'd', 'c', 'f', 0, 0};

// "cardcf" of the root, at least QVMD_CACHE_RECORD bytes.
uint32_t readCounters(_qv_md_card_struct *card, unsigned char **data, unsigned long *length)
{
    uint32_t rv = QVMD_ReadFile(card, nullptr, CARDCF, data, length);
    if (rv == QV_OK && *length < QVMD_CACHE_RECORD) {
        QVMD_Free(card, *data);
        *data = nullptr;
        rv = QV_E_UNEXPECTED;
    }
    return rv;
}

void bump16(unsigned char *p)
{
    unsigned value = (p[0] | p[1] << 8) + 1;
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}

void bump(unsigned char *counters, unsigned long flags)
{
    if (flags & QVMD_CACHE_PIN)
        counters[1] = static_cast<unsigned char>(counters[1] + 1);
    if (flags & QVMD_CACHE_CONTAINERS)
        bump16(counters + 2);
    if (flags & QVMD_CACHE_FILES)
        bump16(counters + 4);
}

} // namespace

uint32_t QVMD_GetCurrentCache(_qv_md_card_struct *card, unsigned char *out)
{
    if (out == nullptr)
        return QV_E_INVALID_PARAMETER;
    unsigned char *data = nullptr;
    unsigned long length = 0;
    uint32_t rv = readCounters(card, &data, &length);
    if (rv != QV_OK)
        return rv;
    // the caller's record is 6 bytes, whatever the card's file holds
    memcpy(out, data, QVMD_CACHE_RECORD);
    QVMD_Free(card, data);
    return QV_OK;
}

uint32_t QVMD_OperationChangeCache(_qv_md_card_struct *card, unsigned long flags)
{
    if (flags == 0)
        return QV_OK;
    unsigned char *data = nullptr;
    unsigned long length = 0;
    uint32_t rv = readCounters(card, &data, &length);
    if (rv != QV_OK)
        return rv;
    bump(data, flags);
    rv = QVMD_WriteFile(card, nullptr, CARDCF, data, length);
    QVMD_Free(card, data);
    return rv;
}
