#include "card/qvmd_card_data.h"

#include "card/apdu.h"
#include "card/qvmd_commands.h"

#include <cstring>

uint32_t QVMD_CardDataContentReadTLV(const unsigned char *data, unsigned long length,
                                     unsigned char tag, const unsigned char **value,
                                     unsigned long *valueLength)
{
    *value = nullptr;
    *valueLength = 0;
    unsigned long at = 0;
    for (unsigned entries = 0;; entries++) {
        unsigned long left = length - at;
        if (left < 4)
            return left == 0 ? QV_OK : QV_E_UNEXPECTED;
        if (entries == 256)
            return QV_E_UNEXPECTED;
        unsigned long entryLength = QVCAAPI_GetDWORDFromBuffer(data + at + 1, 2);
        if (entryLength > left - 3)
            return QV_E_UNEXPECTED;
        if (data[at] == tag) {
            *value = data + at + 3;
            *valueLength = entryLength;
            return QV_OK;
        }
        at += 3 + entryLength;
    }
}

unsigned long QVMD_CardDataContentAddTLV(unsigned char *out, unsigned char tag,
                                         const unsigned char *value, unsigned long length)
{
    if (length > 0xFFFF)
        return 0;
    if (out != nullptr) {
        out[0] = tag;
        QVCAAPI_FillBufferFromDWORD(out + 1, length, 2);
        if (length != 0)
            memcpy(out + 3, value, length);
    }
    return length + 3;
}

uint32_t QVMD_CardDataInitStruct(_qv_md_card_struct *, _qv_md_card_data_struct *cd)
{
    memset(cd, 0, sizeof(*cd));
    return QV_OK;
}

void QVMD_CardDataReleaseStruct(_qv_md_card_struct *, _qv_md_card_data_struct *) {}

uint32_t QVMD_AppendToCardDataStruct(_qv_md_card_struct *, _qv_md_card_data_struct *cd,
                                     unsigned char tag, unsigned char attribute,
                                     const unsigned char *value, unsigned long length)
{
    // the mask has one bit per tag: tags 0 to 7
    if (cd == nullptr || tag > 7 || cd->used + length >= 240 || (cd->mask & (1u << tag)) != 0)
        return QV_E_INVALID_VALUE;
    unsigned char *entry = cd->content + cd->used;
    entry[0] = tag;
    entry[1] = attribute;
    entry[2] = static_cast<unsigned char>(length);
    if (length != 0)
        memcpy(entry + 3, value, length);
    cd->mask |= static_cast<unsigned char>(1u << tag);
    cd->used = static_cast<unsigned char>(cd->used + length + 3);
    cd->count++;
    return QV_OK;
}

uint32_t QVMD_SetCardDataOneTagFill(_qv_md_card_struct *card, unsigned char tag,
                                    unsigned long length, int replace, unsigned char attribute,
                                    unsigned long *dataOffset)
{
    if (length > 236)
        return QV_E_INVALID_VALUE;
    uint32_t rv = QVCAAPI_PutCommand(
        card->transport, qvapdu::SetCardDataOneTag(tag, attribute, length, replace != 0));
    if (rv == QV_OK)
        *dataOffset = 8;
    return rv;
}
