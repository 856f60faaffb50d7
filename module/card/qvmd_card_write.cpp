#include "card/qvmd_card_write.h"

#include "card/qvmd_card_data.h"
#include "card/qvmd_commands.h"
#include "card/qvmd_container.h"
#include "card/qvmd_info.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sw.h"

#include <cstring>

namespace
{

const uint32_t PLAIN = 0;
const uint32_t SECURE = 1; // under the caller's session

uint32_t sendSettings(_qv_md_card_struct *card)
{
    uint32_t rv = QVMD_RunSecureAPDU(card, SECURE);
    return rv != QV_OK ? rv : QVMD_VerifySWSetSettings(card);
}

uint32_t sendCleanUp(_qv_md_card_struct *card, const CApdu &apdu, uint32_t level)
{
    uint32_t rv = QVCAAPI_PutCommand(card->transport, apdu);
    if (rv == QV_OK)
        rv = QVMD_RunSecureAPDU(card, level);
    return rv != QV_OK ? rv : QVMD_VerifySWFile(card, 0);
}

} // namespace

uint32_t QVMD_SetCardData(_qv_md_card_struct *card, const _qv_md_card_data_record *record)
{
    if (record == nullptr || record->length > QVMD_CARD_DATA_RECORD_MAX)
        return QV_E_INVALID_VALUE;
    uint32_t rv = QVCAAPI_PutCommand(
        card->transport, qvapdu::SetCardData(record->tag, record->value, record->length));
    return rv != QV_OK ? rv : sendSettings(card);
}

uint32_t QVMD_SetCardDataOneTag(_qv_md_card_struct *card, unsigned char tag,
                                const unsigned char *value, unsigned long length, int replace,
                                unsigned char attribute)
{
    if (length > QVMD_CARD_DATA_ONE_TAG_MAX || (value == nullptr && length != 0))
        return QV_E_INVALID_VALUE;
    unsigned long offset = 0;
    uint32_t rv = QVMD_SetCardDataOneTagFill(card, tag, length, replace, attribute, &offset);
    if (rv != QV_OK)
        return rv;
    if (length != 0)
        memcpy(card->transport->command + offset, value, length);
    return sendSettings(card);
}

uint32_t QVMD_UpdateCSPFlags(_qv_md_card_struct *card, const unsigned char *flags,
                             unsigned long length)
{
    if (flags == nullptr || length != 2)
        return QV_E_INVALID_VALUE;
    return QVMD_SetCardDataOneTag(card, QVMD_CARD_DATA_TAG_PROVIDER_FLAGS, flags, 2, 1, 0);
}

uint32_t QVMD_FreeMemory(_qv_md_card_struct *card)
{
    uint32_t rv = QV_OK;
    bool older = QVMD_IsOlderApplet(card, &rv);
    if (rv != QV_OK)
        return rv;
    return sendCleanUp(card, qvapdu::FreeMemory(older), older ? PLAIN : SECURE);
}

uint32_t QVMD_FreeContainers(_qv_md_card_struct *card)
{
    uint32_t rv = QV_OK;
    bool older = QVMD_IsOlderApplet(card, &rv);
    if (rv != QV_OK)
        return rv;
    if (!older)
        return sendCleanUp(card, qvapdu::FreeContainers(), SECURE);
    rv = QVMD_GetInfo(card, card->info, QVMD_INFO_KEY_CAPACITY);
    for (unsigned i = 0; rv == QV_OK && i < card->info->containers; i++) {
        rv = QVMD_DeleteContainer(card, static_cast<unsigned char>(i));
        if (rv == QV_E_NO_KEY_CONTAINER || rv == QV_E_NO_FILE)
            rv = QV_OK;
    }
    return rv;
}
