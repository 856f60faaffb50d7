#include "card/qvmd_info.h"

#include "card/qvmd_commands.h"
#include "card/qvmd_pin_records.h"

#include "base/linux/linux_log.h"

#include <cstring>

namespace
{

using Reply = const unsigned char *;

uint32_t fail(unsigned kind, unsigned long length)
{
    hl_log(vok_log::HL_ERROR, "QVMD_ProcessInfo: kind %u reply of %lu bytes refused\n", kind,
           length);
    return QV_E_UNEXPECTED;
}

// A fresh table of count entries in place of the old one. On failure the kind has
// no table and its count is 0, so nothing reads a table that is not there.
template <typename Entry>
uint32_t replaceTable(_qv_md_card_struct *card, Entry *&table, uint32_t &tableCount,
                      unsigned long count)
{
    if (table != nullptr)
        QVMD_Free(card, table);
    table = nullptr;
    tableCount = 0;
    if (count == 0)
        return QV_OK;
    table = static_cast<Entry *>(QVMD_Alloc(card, count * sizeof(Entry)));
    if (table == nullptr)
        return QV_E_NO_MEMORY;
    tableCount = static_cast<uint32_t>(count);
    return QV_OK;
}

// Kind 1: shared byte, number of containers, then (when longer) one skipped byte
// and pairs {key size / 512, count}.
uint32_t keyCapacity(_qv_md_card_struct *card, _qv_md_info_struct *info, Reply d, unsigned long n)
{
    if (n < 2 || (n > 2 && (n - 3) % 2 != 0))
        return fail(1, n);
    unsigned long pairs = n > 2 ? (n - 3) / 2 : 0;
    info->keySizesValid = 0;
    uint32_t rv = replaceTable(card, info->keySizes, info->keySizeCount, pairs);
    if (rv != QV_OK)
        return rv;
    for (unsigned long i = 0; i < pairs; i++) {
        info->keySizes[i].bits = d[3 + 2 * i] * 512u;
        info->keySizes[i].count = d[4 + 2 * i];
    }
    info->sharedByte = d[0];
    info->containers = d[1];
    info->keySizesValid = 1;
    return QV_OK;
}

// Kind 2: free memory in the 3-byte length form, then the shared byte.
uint32_t freeMemory(_qv_md_card_struct *, _qv_md_info_struct *info, Reply d, unsigned long n)
{
    if (n != 4)
        return fail(2, n);
    info->freeMemory = GetFileLengthFromBuffer(d);
    info->sharedByte = d[3];
    return QV_OK;
}

// Kind 3: a card-data piece; its reader takes it from the transport.
uint32_t cardDataPiece(_qv_md_card_struct *, _qv_md_info_struct *, Reply, unsigned long)
{
    return QV_OK;
}

// A reply of exactly the region's size, copied whole.
template <size_t N>
uint32_t exact(unsigned kind, unsigned char (&region)[N], uint16_t *valid, Reply d, unsigned long n)
{
    if (n != N)
        return fail(kind, n);
    memcpy(region, d, N);
    if (valid != nullptr)
        *valid = 1;
    return QV_OK;
}

uint32_t serial(_qv_md_card_struct *, _qv_md_info_struct *info, Reply d, unsigned long n)
{
    return exact(4, info->serial, &info->serialValid, d, n);
}

// Kind 5: applet information, then one descriptor per PIN.
uint32_t applet(_qv_md_card_struct *, _qv_md_info_struct *info, Reply d, unsigned long n)
{
    if (n < 10 || (n - 10) % QVMD_PIN_DESCRIPTOR_LENGTH != 0 || d[6] > 15 || d[7] > 128)
        return fail(5, n);
    unsigned long pins = (n - 10) / QVMD_PIN_DESCRIPTOR_LENGTH;
    if (pins > QVMD_MAX_PINS ||
        QVMD_PinRecordsFromDescriptors(info, d + 10, static_cast<unsigned>(pins), d[9]) != QV_OK)
        return fail(5, n);
    info->appletWord = static_cast<uint16_t>(d[0] << 8 | d[1]);
    info->appletMajor = d[2];
    info->appletMinor = d[3];
    memcpy(info->appletRaw, d + 4, 2);
    info->maxPinLength = d[6];
    info->responseLength = d[7];
    info->kind5Byte8 = d[8];
    info->appletFlags = d[9];
    info->appletValid = 1;
    info->pinPropertiesValid = 0; // the records were rebuilt without their properties
    return QV_OK;
}

uint32_t authState(_qv_md_card_struct *, _qv_md_info_struct *info, Reply d, unsigned long n)
{
    if (n < sizeof(info->authState))
        return fail(6, n);
    memcpy(info->authState, d, sizeof(info->authState));
    return QV_OK;
}

uint32_t providerFlags(_qv_md_card_struct *, _qv_md_info_struct *info, Reply d, unsigned long n)
{
    return exact(7, info->providerFlags, nullptr, d, n);
}

// Kind 8: a 2-byte header, then one 7-byte entry per described PIN.
uint32_t pinProperties(_qv_md_card_struct *, _qv_md_info_struct *info, Reply d, unsigned long n)
{
    if (n < 2 || (n - 2) % QVMD_PIN_PROPERTIES_LENGTH != 0 ||
        (n - 2) / QVMD_PIN_PROPERTIES_LENGTH > QVMD_MAX_PINS)
        return fail(8, n);
    unsigned entries = static_cast<unsigned>((n - 2) / QVMD_PIN_PROPERTIES_LENGTH);
    if (QVMD_PinRecordsApplyProperties(info, d + 2, entries) != QV_OK)
        return fail(8, n);
    memcpy(info->pinPropertiesHeader, d, 2);
    info->pinPropertiesValid = 1;
    info->pinPropertiesStale = 0;
    return QV_OK;
}

uint32_t cardId(_qv_md_card_struct *, _qv_md_info_struct *info, Reply d, unsigned long n)
{
    return exact(9, info->cardId, &info->cardIdValid, d, n);
}

// Kind 10: two bytes, then triples {a, b, c}; the total memory is the sum of
// 2^a * b * c. An a of 64 or more, or a total beyond 64 bits, is refused.
uint32_t memoryLayout(_qv_md_card_struct *card, _qv_md_info_struct *info, Reply d, unsigned long n)
{
    if (n > 2 && (n - 2) % 3 != 0)
        return fail(10, n);
    unsigned long triples = n > 2 ? (n - 2) / 3 : 0;
    uint64_t total = 0;
    for (unsigned long i = 0; i < triples; i++) {
        Reply t = d + 2 + 3 * i;
        uint64_t part;
        if (t[0] >= 64 ||
            __builtin_mul_overflow(uint64_t(1) << t[0], uint64_t(t[1]) * t[2], &part) ||
            __builtin_add_overflow(total, part, &total))
            return fail(10, n);
    }
    info->memoryValid = 0;
    uint32_t rv = replaceTable(card, info->memoryTable, info->memoryCount, triples);
    if (rv != QV_OK)
        return rv;
    if (triples != 0)
        memcpy(info->memoryTable, d + 2, 3 * triples);
    memset(info->memoryHeader, 0, sizeof(info->memoryHeader));
    memcpy(info->memoryHeader, d, n < 2 ? n : 2);
    info->totalMemory = total;
    info->memoryValid = 1;
    return QV_OK;
}

uint32_t importedKey(_qv_md_card_struct *, _qv_md_info_struct *info, Reply d, unsigned long n)
{
    if (n > 17)
        return fail(11, n);
    memset(info->importedKeyParams, 0, sizeof(info->importedKeyParams));
    if (n != 0)
        memcpy(info->importedKeyParams, d, n);
    info->importedKeyParamsLength = static_cast<uint32_t>(n);
    info->importedKeyParamsValid = 1;
    return QV_OK;
}

using Fill = uint32_t (*)(_qv_md_card_struct *, _qv_md_info_struct *, Reply, unsigned long);

struct Kind {
    unsigned char le;
    Fill fill;
};

// Le of each kind's request and what fills its region, by kind number.
const Kind KINDS[] = {
    {0x00, nullptr},       {0x04, keyCapacity}, {0x04, freeMemory},   {0x00, cardDataPiece},
    {0x10, serial},        {0x16, applet},      {0x05, authState},    {0x02, providerFlags},
    {0x12, pinProperties}, {0x01, cardId},      {0x04, memoryLayout}, {0x00, importedKey},
};

bool knownKind(unsigned char kind)
{
    return kind >= 1 && kind < sizeof(KINDS) / sizeof(KINDS[0]);
}

} // namespace

uint32_t QVMD_GetInfo(_qv_md_card_struct *card, _qv_md_info_struct *info, unsigned char kind)
{
    return QVMD_GetInfoParam(card, info, kind, nullptr, 0);
}

uint32_t QVMD_GetInfoParam(_qv_md_card_struct *card, _qv_md_info_struct *info, unsigned char kind,
                           const unsigned char *selector, unsigned long selectorLength)
{
    if (info == nullptr || !knownKind(kind))
        return QV_E_INVALID_VALUE;
    if (kind == QVMD_INFO_PIN_PROPERTIES && info->appletValid == 0) {
        uint32_t rv = QVMD_GetInfo(card, info, QVMD_INFO_APPLET);
        if (rv != QV_OK)
            return rv;
    }
    if (kind == QVMD_INFO_CARD_DATA &&
        (selector == nullptr || (selectorLength != 5 && selectorLength != 1)))
        return QV_E_UNEXPECTED;
    CApdu apdu = kind == QVMD_INFO_CARD_DATA ? qvapdu::GetCardData(selector, selectorLength)
                                             : qvapdu::GetInfo(kind, KINDS[kind].le);
    uint32_t rv = QVCAAPI_RunCommand(card->transport, apdu);
    return rv != QV_OK ? rv : QVMD_ProcessInfo(card, info, kind);
}

uint32_t QVMD_ProcessInfo(_qv_md_card_struct *card, _qv_md_info_struct *info, unsigned char kind)
{
    if (info == nullptr || !knownKind(kind))
        return QV_E_INVALID_VALUE;
    if (kind == QVMD_INFO_IMPORTED_KEY)
        info->importedKeyParamsValid = 0;
    _qv_caapi_card_struct *t = card->transport;
    if (QVCAAPI_VerifySW(t, 0) != QV_OK) {
        hl_log(vok_log::HL_ERROR, "QVMD_ProcessInfo: kind %u answered %.2X %.2X\n", unsigned(kind),
               t->sw1, t->sw2);
        return QV_E_UNEXPECTED;
    }
    return KINDS[kind].fill(card, info, t->response, t->receivedLength - 2);
}
