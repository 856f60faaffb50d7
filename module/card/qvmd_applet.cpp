#include "card/qvmd_commands.h"
#include "card/qvmd_info.h"

#include <cstring>
#include <cwchar>

const unsigned char QVMD_VERSION_PINPAD[2] = {1, 0};
const unsigned char QVMD_VERSION_SKI[2] = {1, 2};

uint32_t QVMD_CheckAppletSelection(_qv_md_card_struct *card)
{
    uint32_t rv = QVCAAPI_RunCommand(card->transport, qvapdu::SelectApplication(false));
    if (rv != QV_OK || QVCAAPI_VerifySW(card->transport, 0) == QV_OK)
        return rv;
    return QVMD_SelectApplet(card);
}

uint32_t QVMD_SelectApplet(_qv_md_card_struct *card)
{
    uint32_t rv = QVCAAPI_RunCommand(card->transport, qvapdu::SelectApplication(true));
    return rv != QV_OK ? rv : QVCAAPI_VerifySW(card->transport, 0);
}

uint32_t QVMD_IsAppletVersionLowerThan(_qv_md_card_struct *card, const unsigned char version[2],
                                       int *lower)
{
    *lower = 0;
    _qv_md_info_struct *info = card->info;
    if (info->appletValid == 0) {
        uint32_t rv = QVMD_GetInfo(card, info, QVMD_INFO_APPLET);
        if (rv != QV_OK)
            return rv;
    }
    *lower = info->appletMajor < version[0] ||
             (info->appletMajor == version[0] && info->appletMinor < version[1]);
    return QV_OK;
}

bool QVMD_IsOlderApplet(_qv_md_card_struct *card, uint32_t *rv)
{
    int lower = 0;
    *rv = QVMD_IsAppletVersionLowerThan(card, QVMD_VERSION_PINPAD, &lower);
    return *rv == QV_OK && lower != 0;
}

uint32_t QVMD_IsSupported(_qv_md_card_struct *card, const wchar_t *feature)
{
    const unsigned char *version = nullptr;
    if (feature != nullptr && wcscmp(feature, L"SKI") == 0)
        version = QVMD_VERSION_SKI;
    else if (feature != nullptr && wcscmp(feature, L"PINPAD") == 0)
        version = QVMD_VERSION_PINPAD;
    else
        return QV_E_INVALID_VALUE;
    int lower = 0;
    uint32_t rv = QVMD_IsAppletVersionLowerThan(card, version, &lower);
    if (rv != QV_OK)
        return rv;
    return lower ? QV_E_UNEXPECTED : QV_OK;
}

uint32_t QVMD_GetCSPInfo(_qv_md_card_struct *, _qv_md_info_struct *info, unsigned long selector,
                         void *out, unsigned long *outLength)
{
    if (info == nullptr || out == nullptr || outLength == nullptr)
        return QV_E_INVALID_VALUE;
    unsigned char flags = info->providerFlags[1];
    if (selector == 1 && *outLength >= sizeof(unsigned long)) {
        unsigned long value = flags & 0x07;
        memcpy(out, &value, sizeof(value));
        *outLength = sizeof(value);
        return QV_OK;
    }
    if (selector == 0 && *outLength >= sizeof(uint16_t)) {
        uint16_t set = (flags >> 3) & 1;
        memcpy(out, &set, sizeof(set));
        *outLength = sizeof(set);
        return QV_OK;
    }
    return QV_E_INVALID_VALUE;
}

uint32_t QVMD_SetCSPFlags(unsigned char *buffer, unsigned long bufferLength, unsigned long selector,
                          const void *value, unsigned long valueLength)
{
    if (buffer == nullptr || bufferLength < 2 || value == nullptr)
        return QV_E_INVALID_VALUE;
    if (selector == 0 && valueLength == sizeof(uint16_t)) {
        uint16_t set;
        memcpy(&set, value, sizeof(set));
        buffer[1] = static_cast<unsigned char>(set != 0 ? buffer[1] | 0x08 : buffer[1] & ~0x08);
        return QV_OK;
    }
    if (selector == 1 && valueLength >= sizeof(unsigned long)) {
        unsigned long v;
        memcpy(&v, value, sizeof(v));
        if (v >= 8)
            return QV_E_INVALID_VALUE;
        buffer[1] = static_cast<unsigned char>((buffer[1] & ~0x07) | v);
        return QV_OK;
    }
    return QV_E_INVALID_VALUE;
}
