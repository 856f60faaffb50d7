#include "card/qvmd_card_data.h"
#include "card/qvmd_info.h"

#include <cstring>

namespace
{

enum : unsigned {
    MAX_FOLLOW_UPS = 255,
    TAG_ALL = 0x00,      // all card data, read by offset and length
    TAG_CONTINUE = 0xFF, // the next piece of the object being read
    TAG_MK_DATA = 0x02,  // the master key's diversification data
};

// The reply of a card-data request: the count of bytes still to come, then a piece.
uint32_t piece(_qv_md_card_struct *card, unsigned long *rest, const unsigned char **bytes,
               unsigned long *length)
{
    _qv_caapi_card_struct *t = card->transport;
    unsigned long n = t->receivedLength - 2;
    if (n < 2)
        return QV_E_UNEXPECTED;
    *rest = QVCAAPI_GetDWORDFromBuffer(t->response, 2);
    *bytes = t->response + 2;
    *length = n - 2;
    return QV_OK;
}

// Asks for the piece at offset (all card data: by offset and length; one object:
// its next piece) and reads the reply's count and piece.
uint32_t nextPiece(_qv_md_card_struct *card, unsigned char tag, unsigned long offset,
                   unsigned long wanted, unsigned long *rest, const unsigned char **bytes,
                   unsigned long *length)
{
    unsigned char selector[5] = {tag, 0, 0, 0, 0};
    QVCAAPI_FillBufferFromDWORD(selector + 1, offset, 2);
    QVCAAPI_FillBufferFromDWORD(selector + 3, wanted, 2);
    uint32_t rv =
        QVMD_GetInfoParam(card, card->info, QVMD_INFO_CARD_DATA, selector, tag == TAG_ALL ? 5 : 1);
    return rv != QV_OK ? rv : piece(card, rest, bytes, length);
}

// The follow-up pieces into buffer behind the first *got bytes.
uint32_t readRest(_qv_md_card_struct *card, unsigned char tag, unsigned char *buffer,
                  unsigned long *got, unsigned long rest)
{
    for (unsigned followUps = 0; rest != 0; followUps++) {
        if (followUps == MAX_FOLLOW_UPS || (tag == TAG_ALL && *got > 0xFFFF))
            return QV_E_UNEXPECTED;
        unsigned long newRest = 0, length = 0;
        const unsigned char *bytes = nullptr;
        uint32_t rv = nextPiece(card, tag == TAG_ALL ? TAG_ALL : TAG_CONTINUE, *got, rest, &newRest,
                                &bytes, &length);
        if (rv != QV_OK)
            return rv;
        // the piece must fit the room announced, and the count go down by it
        if (length > rest || newRest != rest - length)
            return QV_E_UNEXPECTED;
        memcpy(buffer + *got, bytes, length);
        *got += length;
        rest = newRest;
    }
    return QV_OK;
}

} // namespace

uint32_t QVMD_GetInfoCardDataTag(_qv_md_card_struct *card, void *, const unsigned char *selector,
                                 unsigned long selectorLength, unsigned char **data,
                                 unsigned long *length)
{
    if (data == nullptr || length == nullptr)
        return QV_E_INVALID_VALUE;
    *data = nullptr;
    *length = 0;
    if (selector == nullptr || (selectorLength != 5 && selectorLength != 1))
        return QV_E_INVALID_VALUE;
    unsigned char tag = selector[0];
    unsigned long rest = 0, first = 0;
    const unsigned char *bytes = nullptr;
    uint32_t rv = nextPiece(card, tag, 0, 0, &rest, &bytes, &first);
    if (rv != QV_OK)
        return rv;
    unsigned long total = rest + first;
    auto *buffer = static_cast<unsigned char *>(QVMD_Alloc(card, total != 0 ? total : 1));
    if (buffer == nullptr)
        return QV_E_NO_MEMORY;
    memcpy(buffer, bytes, first);
    unsigned long got = first;
    rv = readRest(card, tag, buffer, &got, rest);
    if (rv != QV_OK) {
        QVMD_Free(card, buffer);
        return rv;
    }
    *data = buffer;
    *length = got;
    return QV_OK;
}

uint32_t QVMD_GetMKDiversificationData(_qv_md_card_struct *card, unsigned char *out,
                                       unsigned long *length)
{
    if (out == nullptr || length == nullptr || *length < 24)
        return QV_E_INVALID_PARAMETER;
    const unsigned char all[5] = {TAG_ALL, 0, 0, 0, 0};
    unsigned char *cardData = nullptr;
    unsigned long cardDataLength = 0;
    uint32_t rv = QVMD_GetInfoCardDataTag(card, nullptr, all, 5, &cardData, &cardDataLength);
    if (rv != QV_OK)
        return rv;
    const unsigned char *value = nullptr;
    unsigned long valueLength = 0;
    rv = QVMD_CardDataContentReadTLV(cardData, cardDataLength, TAG_MK_DATA, &value, &valueLength);
    if (rv == QV_OK && valueLength != 24)
        rv = QV_E_UNEXPECTED;
    if (rv == QV_OK && card->info->cardIdValid == 0)
        rv = QVMD_GetInfo(card, card->info, QVMD_INFO_CARD_ID);
    if (rv == QV_OK) {
        memcpy(out, value + 8, 16);
        memcpy(out + 16, card->info->cardId, 8);
        *length = 24;
    }
    QVMD_Free(card, cardData);
    return rv;
}
