// Card data: the card's tag-length-value store. Read back, it is a list of entries
// tag (1 byte), length (2 bytes, big-endian), value. A card-data structure
// collects entries to write: tag, attribute byte, 1-byte length, value.
#pragma once

#include "card/qvmd_card.h"

struct _qv_md_card_data_struct {
    unsigned char content[256];
    unsigned char mask;  // bit t: tag t is present
    unsigned char used;  // bytes of content in use
    unsigned char count; // entries
};

// Finds tag in a card-data list: 0 with its value (pointing into data) and length,
// or 0 with a null value when the list holds no such tag. QV_E_UNEXPECTED for a
// list that ends inside an entry or holds more than 256 entries.
uint32_t QVMD_CardDataContentReadTLV(const unsigned char *data, unsigned long length,
                                     unsigned char tag, const unsigned char **value,
                                     unsigned long *valueLength);
// Writes tag, 2-byte length and value to out when out is not null; returns the
// entry's length (length + 3), or 0 for a value longer than 65535 bytes.
unsigned long QVMD_CardDataContentAddTLV(unsigned char *out, unsigned char tag,
                                         const unsigned char *value, unsigned long length);

uint32_t QVMD_CardDataInitStruct(_qv_md_card_struct *card, _qv_md_card_data_struct *cd);
void QVMD_CardDataReleaseStruct(_qv_md_card_struct *card, _qv_md_card_data_struct *cd);
// Appends one entry. QV_E_INVALID_VALUE for a null structure, a tag above 7 or one
// already present, or when used + length reaches 240.
uint32_t QVMD_AppendToCardDataStruct(_qv_md_card_struct *card, _qv_md_card_data_struct *cd,
                                     unsigned char tag, unsigned char attribute,
                                     const unsigned char *value, unsigned long length);

// Prepares in the command buffer the command that writes one card-data entry,
// B0 1A 01 P2 Lc tag attribute length, with the value's room left at *dataOffset
// for the caller to fill. P2 is 01 when replace is 0. QV_E_INVALID_VALUE for a
// value longer than 236 bytes.
uint32_t QVMD_SetCardDataOneTagFill(_qv_md_card_struct *card, unsigned char tag,
                                    unsigned long length, int replace, unsigned char attribute,
                                    unsigned long *dataOffset);
