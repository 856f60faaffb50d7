#include "card/qvcaapi.h"

#include "base/linux/linux_log.h"

#include <mbedtls/platform_util.h>
#include <reader.h>
#include <winscard.h>

#include <cstdlib>
#include <cstring>

namespace
{

enum : unsigned char {
    SW1_MORE_DATA = 0x61,    // 61 xx: xx further bytes wait for GET RESPONSE
    SW1_WRONG_LENGTH = 0x6C, // 6C xx: send again with P3 = xx
};

const unsigned char GET_RESPONSE[4] = {0x00, 0xC0, 0x00, 0x00};

bool isGetResponse(const unsigned char *command, unsigned long length)
{
    return length >= 4 && memcmp(command, GET_RESPONSE, 4) == 0;
}

// Commands whose data field carries a PIN or private key material (verify, the
// change, unblock and log-out family, key import): their dumps show the header only.
bool hidesData(const unsigned char *command, unsigned long length)
{
    if (length < 2 || (command[0] != 0xB0 && command[0] != 0xB4))
        return false;
    switch (command[1]) {
    case 0x20:
    case 0x24:
    case 0x26:
    case 0x28:
    case 0x76:
        return true;
    default:
        return false;
    }
}

// The exchange lines are debug lines: when the log does not write them, the
// exchange path does not even format them.
bool debugging()
{
    return (_logtypes & (vok_log::HL_DEBUG | vok_log::HL_DEBUG_DATA)) != 0;
}

void logCommand(const unsigned char *command, unsigned long length)
{
    if (length < 4 || !debugging())
        return;
    hl_log(vok_log::HL_DEBUG, "APDU > %.2X %.2X %.2X %.2X (%lu bytes)\n", command[0], command[1],
           command[2], command[3], length);
    if (length > 5 && !hidesData(command, length))
        hl_hd(vok_log::HL_DEBUG_DATA, command + 5, static_cast<int>(length - 5));
}

uint32_t pcscTransmit(_qv_caapi_card_struct *t, const unsigned char *command,
                      unsigned long commandLength, unsigned char *response, unsigned long *length)
{
    const SCARD_IO_REQUEST *pci = t->protocol == QVCAAPI_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    DWORD got = *length;
    LONG rv = SCardTransmit(static_cast<SCARDHANDLE>(t->handle), pci, command, commandLength,
                            nullptr, response, &got);
    *length = got;
    return static_cast<uint32_t>(rv);
}

// One exchange into response with the capacity in *length. A reply that holds no
// status word, or claims more than the room it was given, is refused.
uint32_t exchange(_qv_caapi_card_struct *t, const unsigned char *command,
                  unsigned long commandLength, unsigned char *response, unsigned long *length)
{
    logCommand(command, commandLength);
    unsigned long capacity = *length;
    uint32_t rv = t->transmit != nullptr
                      ? t->transmit(reinterpret_cast<void *>(t->handle), command, commandLength,
                                    response, length)
                      : pcscTransmit(t, command, commandLength, response, length);
    if (rv != QV_OK) {
        hl_log(vok_log::HL_ERROR, "APDU exchange failed ( 0x%.8X )\n", rv);
        return rv;
    }
    if (*length < 2 || *length > capacity) {
        hl_log(vok_log::HL_ERROR, "APDU reply of %lu bytes has no status word\n", *length);
        return QV_E_UNEXPECTED;
    }
    if (debugging())
        hl_log(vok_log::HL_DEBUG, "APDU < %.2X %.2X (%lu bytes)\n", response[*length - 2],
               response[*length - 1], *length);
    return QV_OK;
}

} // namespace

uint32_t QVCAAPI_CardInitStruct_NoCommunication(_qv_caapi_card_struct *t, unsigned long handle,
                                                QVCAAPI_ALLOC_FN alloc, QVCAAPI_REALLOC_FN realloc,
                                                QVCAAPI_FREE_FN free)
{
    memset(t, 0, sizeof(*t));
    t->handle = handle;
    t->alloc = alloc != nullptr ? alloc : QVCAAPI_Default_Alloc;
    t->realloc = realloc != nullptr ? realloc : QVCAAPI_Default_Realloc;
    t->free = free != nullptr ? free : QVCAAPI_Default_Free;
    t->command = t->commandBuffer;
    t->commandCapacity = QVCAAPI_COMMAND_CAPACITY;
    t->response = t->responseBuffer;
    t->responseCapacity = QVCAAPI_RESPONSE_CAPACITY;
    return QV_OK;
}

uint32_t QVCAAPI_CardInitStruct(_qv_caapi_card_struct *t, unsigned long handle,
                                QVCAAPI_ALLOC_FN alloc, QVCAAPI_REALLOC_FN realloc,
                                QVCAAPI_FREE_FN free, _qv_caapi_transmit_callback transmit)
{
    QVCAAPI_CardInitStruct_NoCommunication(t, handle, alloc, realloc, free);
    t->transmit = transmit;
    if (transmit != nullptr) {
        t->protocol = QVCAAPI_PROTOCOL_T0;
        return QV_OK;
    }
    unsigned char value[8] = {};
    DWORD length = sizeof(value);
    LONG rv = SCardGetAttrib(static_cast<SCARDHANDLE>(handle), SCARD_ATTR_CURRENT_PROTOCOL_TYPE,
                             value, &length);
    if (rv != SCARD_S_SUCCESS)
        return static_cast<uint32_t>(rv);
    unsigned protocol = value[0] | value[1] << 8; // the low 16 bits of the host-order value
    if (protocol != QVCAAPI_PROTOCOL_T0 && protocol != QVCAAPI_PROTOCOL_T1)
        return QV_E_CARD_UNSUPPORTED;
    t->protocol = protocol;
    return QV_OK;
}

void QVCAAPI_CardReleaseStruct(_qv_caapi_card_struct *) {}

uint32_t QVCAAPI_RunAPDU(_qv_caapi_card_struct *t)
{
    if (t->transmit == nullptr && t->protocol != QVCAAPI_PROTOCOL_T0 &&
        t->protocol != QVCAAPI_PROTOCOL_T1)
        return QV_E_INVALID_VALUE;
    t->receivedLength = t->responseCapacity;
    uint32_t rv = exchange(t, t->command, t->commandLength, t->response, &t->receivedLength);
    if (rv != QV_OK)
        return rv;
    unsigned char sw1 = t->response[t->receivedLength - 2];
    unsigned char sw2 = t->response[t->receivedLength - 1];
    if (sw1 == SW1_WRONG_LENGTH) {
        // only the header goes again, with the length the card asked for
        t->command[4] = sw2;
        t->commandLength = 5;
        t->receivedLength = t->responseCapacity;
        rv = exchange(t, t->command, t->commandLength, t->response, &t->receivedLength);
    } else if (sw1 == SW1_MORE_DATA && t->protocol == QVCAAPI_PROTOCOL_T0 &&
               !isGetResponse(t->command, t->commandLength)) {
        // one GET RESPONSE behind the data kept; a further 61 xx is the caller's
        unsigned long kept = t->receivedLength - 2;
        const unsigned char getResponse[5] = {0x00, 0xC0, 0x00, 0x00, sw2};
        unsigned long more = t->responseCapacity - kept;
        rv = exchange(t, getResponse, sizeof(getResponse), t->response + kept, &more);
        t->receivedLength = kept + more;
    }
    if (rv != QV_OK)
        return rv;
    t->sw1 = t->response[t->receivedLength - 2];
    t->sw2 = t->response[t->receivedLength - 1];
    return QV_OK;
}

void QVCAAPI_WipeExchange(_qv_caapi_card_struct *t)
{
    mbedtls_platform_zeroize(t->commandBuffer, sizeof(t->commandBuffer));
    mbedtls_platform_zeroize(t->responseBuffer, sizeof(t->responseBuffer));
}

uint32_t QVCAAPI_VerifySW(_qv_caapi_card_struct *t, unsigned long expected)
{
    bool ok = t->sw1 == 0x90 && t->sw2 == 0x00 && (expected == 0 || t->receivedLength == expected);
    return ok ? QV_OK : QV_E_UNEXPECTED;
}

unsigned long QVCAAPI_GetDWORDFromBuffer(const unsigned char *bytes, unsigned long n)
{
    unsigned long value = 0;
    for (unsigned long i = 0; i < n; i++)
        value = value << 8 | bytes[i];
    return value;
}

void QVCAAPI_FillBufferFromDWORD(unsigned char *bytes, unsigned long value, unsigned long n)
{
    for (unsigned long i = n; i-- > 0; value >>= 8)
        bytes[i] = static_cast<unsigned char>(value);
}

void QVCAAPI_EndianShift(unsigned char *bytes, unsigned long n)
{
    if (bytes == nullptr)
        return;
    for (unsigned long i = 0; i < n / 2; i++) {
        unsigned char b = bytes[i];
        bytes[i] = bytes[n - 1 - i];
        bytes[n - 1 - i] = b;
    }
}

unsigned long GetFileLengthFromBuffer(const unsigned char bytes[3])
{
    return bytes[0] * 256UL + bytes[1] + bytes[2] * 32767UL;
}

uint32_t FillBufferWithFileLengthSize(unsigned char bytes[3], unsigned long length)
{
    if (length > QVCAAPI_MAX_FILE_LENGTH)
        return QV_E_INVALID_VALUE;
    unsigned long rest = length % 32767;
    bytes[0] = static_cast<unsigned char>(rest >> 8);
    bytes[1] = static_cast<unsigned char>(rest);
    bytes[2] = static_cast<unsigned char>(length / 32767);
    return QV_OK;
}

void *QVCAAPI_Default_Alloc(_qv_caapi_card_struct *, size_t size)
{
    return malloc(size);
}

void *QVCAAPI_Default_Realloc(_qv_caapi_card_struct *, void *old, size_t size)
{
    return realloc(old, size);
}

void QVCAAPI_Default_Free(_qv_caapi_card_struct *, void *p)
{
    free(p);
}
