// Compressed card files: which files are kept LZH-compressed on the card, the
// conversion between plain data and the stored payload over growable buffers from
// the card context's hooks, and the CRC-8 that every card file carries after its
// payload (computed over the plain data).
//
// The stored form of a compressed file holds no length: the card keeps the plain
// length beside the file, and decompression must reproduce it exactly.
#pragma once

#include "card/qvmd_card.h"

#include <cstdint>

// 1 for a file kept compressed: any file of "qv_p11"; in "mscp" the certificate files
// ("ksc" or "kxc" and two decimal digits) and "msroots". 0 for everything else, the
// root's files included. Names are 8-byte card names; a null dir is the root.
int QVMD_IsFileToCompress(const unsigned char *dir, const unsigned char *name);
// "ksc" or "kxc", two decimal digits and a zero byte.
bool QVMD_IsCertFileName(const unsigned char *name8);
// "data" and two decimal digits.
bool QVMD_IsDataFileName(const unsigned char *name8);

// CRC-8: polynomial 0x1D, initial value 0xC7, most significant bit first, no final
// XOR ("123456789" gives 0x99, no data 0xC7).
unsigned MDQVD_CRCCheck(unsigned long length, const unsigned char *data);

// The byte source and sink of the codec: a buffer from the card context's hooks.
struct _qv_md_compression_buffer {
    _qv_md_card_struct *card;
    unsigned char *data;
    uint32_t capacity;
    uint32_t length;
    uint32_t position; // next byte to read
};

// Hands out up to count bytes from the read position; 0 at the end or without data.
int QVMD_ReadCompressionBuffer(void *bytes, int count, void *buffer);
// Appends count bytes, growing the buffer to length + count + 100 when it is full;
// 0 without data, a negative value when it cannot grow.
int QVMD_WriteCompressionBuffer(void *bytes, int count, void *buffer);

// The LZH payload of length plain bytes (no data: out null, length 0, result 0).
// QV_E_NO_MEMORY or QV_E_UNEXPECTED on failure, with nothing returned.
uint32_t QVMD_Compress(_qv_md_card_struct *card, const unsigned char *data, unsigned long length,
                       unsigned char **out, unsigned long *outLength);
// Exactly plainLength bytes from a payload (an empty one is QV_E_INVALID_VALUE);
// QV_E_UNEXPECTED for a payload that decodes to anything else.
uint32_t QVMD_Decompress(_qv_md_card_struct *card, const unsigned char *data, unsigned long length,
                         unsigned char **out, unsigned long *outLength, unsigned long plainLength);
