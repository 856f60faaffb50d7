// APDU transport: one structure per card holds the command APDU, sends it to the
// card (through the owner's transmit callback, or through PC/SC on a card handle)
// and keeps the reply with its status word. Every card command of the layer fills
// the command buffer, calls QVCAAPI_RunAPDU and reads the reply and SW1/SW2 from
// the same structure. Also the byte-order helpers that every card format uses.
//
// The transport alone follows "61 xx" (one GET RESPONSE under T=0) and "6C xx"
// (one resend with the card's length); a wrong status word is never its error,
// each command family judges it (qvmd_sw.h). Nothing is allocated on the
// exchange path: command and reply live in the structure.
#pragma once

#include "card/qv_result.h"

#include <cstddef>
#include <cstdint>

static_assert(sizeof(unsigned long) == 8, "the card layer's words are 64-bit unsigned longs");

struct _qv_caapi_card_struct;

typedef void *(*QVCAAPI_ALLOC_FN)(_qv_caapi_card_struct *transport, size_t size);
typedef void *(*QVCAAPI_REALLOC_FN)(_qv_caapi_card_struct *transport, void *old, size_t size);
typedef void (*QVCAAPI_FREE_FN)(_qv_caapi_card_struct *transport, void *p);

// One exchange with the card: context is the structure's first word; responseLength
// holds the response buffer's capacity on entry and the bytes received (SW1 SW2
// included) on return. The callback writes no more than that capacity. 0 = success.
typedef uint32_t (*_qv_caapi_transmit_callback)(void *context, const unsigned char *command,
                                                unsigned long commandLength,
                                                unsigned char *response,
                                                unsigned long *responseLength);

enum : unsigned long {
    QVCAAPI_COMMAND_CAPACITY = 260,
    // one reply of 256 data bytes plus one GET RESPONSE reply of 256 and the status
    QVCAAPI_RESPONSE_CAPACITY = 514,
    QVCAAPI_PROTOCOL_T0 = 1,
    QVCAAPI_PROTOCOL_T1 = 2,
};

struct _qv_caapi_card_struct {
    // the PC/SC card handle without a callback, else the callback's context
    unsigned long handle;
    QVCAAPI_ALLOC_FN alloc;
    QVCAAPI_REALLOC_FN realloc;
    QVCAAPI_FREE_FN free;
    unsigned char *command; // -> commandBuffer
    unsigned long commandLength;
    unsigned long commandCapacity;
    unsigned char *response;      // -> responseBuffer
    unsigned long receivedLength; // status word included
    unsigned long responseCapacity;
    unsigned char sw1;
    unsigned char sw2;
    unsigned char commandBuffer[QVCAAPI_COMMAND_CAPACITY];
    unsigned char responseBuffer[QVCAAPI_RESPONSE_CAPACITY];
    unsigned long protocol; // QVCAAPI_PROTOCOL_T0 or _T1
    unsigned long reserved;
    _qv_caapi_transmit_callback transmit;
};

// Zeroes the structure, stores the handle and the hooks (null: the defaults) and
// points at the embedded buffers. No protocol and no callback: such a transport
// prepares and parses but cannot exchange. 0.
uint32_t QVCAAPI_CardInitStruct_NoCommunication(_qv_caapi_card_struct *transport,
                                                unsigned long handle, QVCAAPI_ALLOC_FN alloc,
                                                QVCAAPI_REALLOC_FN realloc, QVCAAPI_FREE_FN free);
// As above, and stores the callback. With a callback the protocol is T=0; without
// one the protocol is read from the PC/SC handle (its error as it is; a protocol
// other than T=0 or T=1: QV_E_CARD_UNSUPPORTED).
uint32_t QVCAAPI_CardInitStruct(_qv_caapi_card_struct *transport, unsigned long handle,
                                QVCAAPI_ALLOC_FN alloc, QVCAAPI_REALLOC_FN realloc,
                                QVCAAPI_FREE_FN free, _qv_caapi_transmit_callback transmit);
// Nothing to release: the buffers are embedded.
void QVCAAPI_CardReleaseStruct(_qv_caapi_card_struct *transport);

// Exchanges the command buffer's commandLength bytes with the card. 0 with the
// reply in the response buffer and SW1/SW2 set; the transport's error unchanged;
// QV_E_UNEXPECTED for a reply without a status word (fewer than 2 bytes, or more
// than the capacity offered), leaving SW1/SW2 as they were; QV_E_INVALID_VALUE
// without a callback and with a protocol other than T=0/T=1.
uint32_t QVCAAPI_RunAPDU(_qv_caapi_card_struct *transport);

// Zeroes the command and response buffers (lengths and status stay), after an
// exchange that carried a PIN, key material or decrypted data.
void QVCAAPI_WipeExchange(_qv_caapi_card_struct *transport);

// 0 when SW1 SW2 = 90 00 and expected is 0 or the received length (status
// included) equals it; otherwise QV_E_UNEXPECTED.
uint32_t QVCAAPI_VerifySW(_qv_caapi_card_struct *transport, unsigned long expected);

// Big-endian numbers of n bytes (n >= 1).
unsigned long QVCAAPI_GetDWORDFromBuffer(const unsigned char *bytes, unsigned long n);
void QVCAAPI_FillBufferFromDWORD(unsigned char *bytes, unsigned long value, unsigned long n);
// Reverses n bytes in place; nothing for a null pointer or n = 0.
void QVCAAPI_EndianShift(unsigned char *bytes, unsigned long n);

// File lengths in the card's 3-byte form: b0 * 256 + b1 + b2 * 32767.
constexpr unsigned long QVCAAPI_MAX_FILE_LENGTH = 127UL * 32767UL;
unsigned long GetFileLengthFromBuffer(const unsigned char bytes[3]);
// 0, or QV_E_INVALID_VALUE without writing for a length above QVCAAPI_MAX_FILE_LENGTH.
uint32_t FillBufferWithFileLengthSize(unsigned char bytes[3], unsigned long length);

void *QVCAAPI_Default_Alloc(_qv_caapi_card_struct *transport, size_t size);
void *QVCAAPI_Default_Realloc(_qv_caapi_card_struct *transport, void *old, size_t size);
void QVCAAPI_Default_Free(_qv_caapi_card_struct *transport, void *p);
