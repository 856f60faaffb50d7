#include "card/qvmd_atr.h"

const unsigned char QVMD_ATR_HIST_BYTES[13] = {0x80, 0x25, 0xD2, 0x03, 0x10, 0x01, 0x00,
                                               0x56, 0x00, 0x00, 0x00, 0x01, 0x01};
const unsigned char QVMD_ATR_HIST_BYTES_MASK[13] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

uint32_t QVMD_GetHistBytesForATR(const unsigned char *atr, unsigned long length,
                                 const unsigned char **historical, unsigned long *count)
{
    if (atr == nullptr || length < 2)
        return 1;
    if (atr[0] != 0x3B && atr[0] != 0x3F)
        return 2;
    unsigned long k = atr[1] & 0x0F;
    unsigned indicator = atr[1] >> 4; // which of TAi, TBi, TCi, TDi follow
    unsigned long at = 2;
    // interface bytes that the ATR announces but does not hold make it fail, also
    // when the missing bytes are its last ones
    while (indicator != 0) {
        at += (indicator & 1) + (indicator >> 1 & 1) + (indicator >> 2 & 1); // TA, TB, TC
        if ((indicator & 8) == 0)
            break;
        if (at >= length)
            return 4;
        indicator = atr[at++] >> 4; // TD
    }
    if (length != at + k && length != at + k + 1)
        return 3;
    *historical = atr + at;
    *count = k;
    return 0;
}
