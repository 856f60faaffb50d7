// The provider PIN-info bytes of a PIN record: three flags in the second byte, two
// values in the nibbles of the third.
#include "card/qvmd_pin.h"

#include <cstring>

namespace
{

struct Selector {
    bool flag;      // a 16-bit boolean, else an unsigned long nibble
    unsigned byte;  // of the three info bytes
    unsigned shift; // of the bit or nibble
};

// By selector number.
const Selector SELECTORS[] = {
    {true, 1, 1},  // 0
    {true, 1, 0},  // 1
    {false, 2, 4}, // 2: high nibble
    {false, 2, 0}, // 3: low nibble
    {true, 1, 2},  // 4
};

const Selector *selectorOf(unsigned long selector)
{
    return selector < sizeof(SELECTORS) / sizeof(SELECTORS[0]) ? &SELECTORS[selector] : nullptr;
}

} // namespace

uint32_t QVMD_GetCSPPinInfo(const _qv_md_info_struct *info, unsigned long index,
                            unsigned long selector, void *out, unsigned long *outLength)
{
    const Selector *s = selectorOf(selector);
    if (info == nullptr || s == nullptr || out == nullptr || outLength == nullptr ||
        index >= QVMD_MAX_PINS)
        return QV_E_INVALID_VALUE;
    unsigned char byte = info->pins[index].cspInfo[s->byte];
    if (s->flag) {
        if (*outLength < sizeof(uint16_t))
            return QV_E_INVALID_VALUE;
        uint16_t set = (byte >> s->shift) & 1;
        memcpy(out, &set, sizeof(set));
        *outLength = sizeof(set);
        return QV_OK;
    }
    if (*outLength < sizeof(unsigned long))
        return QV_E_INVALID_VALUE;
    unsigned long value = (byte >> s->shift) & 0x0F;
    memcpy(out, &value, sizeof(value));
    *outLength = sizeof(value);
    return QV_OK;
}

uint32_t QVMD_SetCSPPinFlag(unsigned char *buffer, unsigned long bufferLength,
                            unsigned long selector, const void *value, unsigned long valueLength)
{
    const Selector *s = selectorOf(selector);
    if (buffer == nullptr || bufferLength < 3 || value == nullptr || s == nullptr)
        return QV_E_INVALID_VALUE;
    unsigned char &byte = buffer[s->byte];
    if (s->flag) {
        if (valueLength != sizeof(uint16_t))
            return QV_E_INVALID_VALUE;
        uint16_t set;
        memcpy(&set, value, sizeof(set));
        unsigned char bit = static_cast<unsigned char>(1u << s->shift);
        byte = static_cast<unsigned char>(set != 0 ? byte | bit : byte & ~bit);
        return QV_OK;
    }
    if (valueLength < sizeof(unsigned long))
        return QV_E_INVALID_VALUE;
    unsigned long v;
    memcpy(&v, value, sizeof(v));
    byte = static_cast<unsigned char>(byte & ~(0x0F << s->shift));
    if (v >= 16)
        return QV_E_INVALID_VALUE;
    byte = static_cast<unsigned char>(byte | v << s->shift);
    return QV_OK;
}
