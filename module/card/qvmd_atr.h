// The answer-to-reset of a card: where its historical bytes are, and the
// historical bytes of the card family with their mask.
#pragma once

#include <cstdint>

// 80 25 D2 03 10 01 00 56 00 00 00 01 01, every byte significant.
extern const unsigned char QVMD_ATR_HIST_BYTES[13];
extern const unsigned char QVMD_ATR_HIST_BYTES_MASK[13];

// Points historical at the ATR's historical bytes and sets count. 0; 1 for an ATR
// shorter than 2 bytes; 2 when TS is neither 3B nor 3F; 3 when the length does not
// match the interface bytes and K historical bytes (a check byte may follow);
// 4 when the ATR ends where an interface byte TDi should be.
uint32_t QVMD_GetHistBytesForATR(const unsigned char *atr, unsigned long length,
                                 const unsigned char **historical, unsigned long *count);
