// Card names and card numbers as text. Every directory and file name on the card
// is 8 bytes: the characters followed by zero bytes; eight zero bytes is the root.
#pragma once

#include <cstdint>

enum : unsigned { QVMD_NAME_LENGTH = 8 };

// Zeroes every byte after the first zero byte.
void CorrectName(unsigned char name[QVMD_NAME_LENGTH]);
// The 8 bytes of dir, corrected; a null dir is the root.
void CorrectDirName(unsigned char out[QVMD_NAME_LENGTH], const unsigned char *dir);
// Both names corrected; the file name must be given.
void CorrectDirFileName(unsigned char dirOut[QVMD_NAME_LENGTH], const unsigned char *dir,
                        unsigned char fileOut[QVMD_NAME_LENGTH], const unsigned char *file);

// The 32 upper-case hex digits of a 16-byte card number, zero-terminated, and the
// part shown to people: from digit 16, or from the digit that byte 1 names when
// byte 0 is F0 and byte 1 is below 32. The sizes must be 16 and 33, else
// QV_E_INVALID_VALUE.
uint32_t QVMD_GetVisibleCLN(const unsigned char *number, unsigned long numberLength, char *text,
                            unsigned long textLength, char **visible, unsigned long *visibleLength);
