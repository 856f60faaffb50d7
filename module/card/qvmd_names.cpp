#include "card/qvmd_names.h"

#include "card/qv_result.h"

#include <cstring>

void CorrectName(unsigned char name[QVMD_NAME_LENGTH])
{
    unsigned end = 0;
    while (end < QVMD_NAME_LENGTH && name[end] != 0)
        end++;
    memset(name + end, 0, QVMD_NAME_LENGTH - end);
}

void CorrectDirName(unsigned char out[QVMD_NAME_LENGTH], const unsigned char *dir)
{
    if (dir == nullptr) {
        memset(out, 0, QVMD_NAME_LENGTH);
        return;
    }
    memcpy(out, dir, QVMD_NAME_LENGTH);
    CorrectName(out);
}

void CorrectDirFileName(unsigned char dirOut[QVMD_NAME_LENGTH], const unsigned char *dir,
                        unsigned char fileOut[QVMD_NAME_LENGTH], const unsigned char *file)
{
    CorrectDirName(dirOut, dir);
    memcpy(fileOut, file, QVMD_NAME_LENGTH);
    CorrectName(fileOut);
}

uint32_t QVMD_GetVisibleCLN(const unsigned char *number, unsigned long numberLength, char *text,
                            unsigned long textLength, char **visible, unsigned long *visibleLength)
{
    if (number == nullptr || numberLength != 16 || text == nullptr || textLength != 33)
        return QV_E_INVALID_VALUE;
    static const char DIGITS[] = "0123456789ABCDEF";
    for (unsigned i = 0; i < 16; i++) {
        text[2 * i] = DIGITS[number[i] >> 4];
        text[2 * i + 1] = DIGITS[number[i] & 0x0F];
    }
    text[32] = '\0';
    unsigned start = number[0] == 0xF0 && number[1] < 32 ? number[1] : 16;
    if (visible != nullptr)
        *visible = text + start;
    if (visibleLength != nullptr)
        *visibleLength = 32 - start;
    return QV_OK;
}
