// The secure sender and the card's RSA operations.
#include "card/qvmd_secure.h"

#include "card/qvmd_file_commands.h"
#include "card/qvmd_info.h"
#include "card/qvmd_rsa_commands.h"
#include "card/qvmd_sm.h"
#include "card/qvmd_sw.h"

#include <mbedtls/platform_util.h>

#include <cstring>

namespace
{

enum : unsigned char { SW1_MORE_DATA = 0x61 };
// GET RESPONSE rounds after the transport's own, for one response in parts.
enum : unsigned { MAX_PARTS = 16 };

// Appends bytes behind *length within capacity.
uint32_t append(unsigned char *buffer, unsigned long *length, unsigned long capacity,
                const unsigned char *bytes, unsigned long count)
{
    if (*length > capacity || count > capacity - *length)
        return QV_E_INSUFFICIENT_BUFFER;
    memcpy(buffer + *length, bytes, count);
    *length += count;
    return QV_OK;
}

void release(_qv_md_card_struct *card, unsigned char *&buffer, unsigned long &length)
{
    if (buffer != nullptr) {
        mbedtls_platform_zeroize(buffer, length);
        QVMD_Free(card, buffer);
    }
    buffer = nullptr;
    length = 0;
}

// One operation in progress and the result it has collected.
struct Exchange {
    _qv_md_card_struct *card;
    unsigned char ins, container, keySpec, keep;
    int mode;
    uint32_t level;
    unsigned char *result = nullptr;
    unsigned long resultLength = 0;
};

// The rest of a response that the card announced with 61 xx: its parts are fetched
// plainly and gathered behind the data so far, then unwrapped as one response, which
// takes the place of the reply in the transport.
uint32_t gatherParts(Exchange &x)
{
    _qv_md_card_struct *card = x.card;
    _qv_caapi_card_struct *t = card->transport;
    unsigned char gathered[QVMD_RSA_ACCUMULATION];
    unsigned long length = 0;
    uint32_t rv = append(gathered, &length, sizeof(gathered), t->response, t->receivedLength - 2);
    for (unsigned parts = 0; rv == QV_OK && t->sw1 == SW1_MORE_DATA; parts++) {
        if (parts == MAX_PARTS) {
            rv = QV_E_UNEXPECTED;
            break;
        }
        rv = QVCAAPI_RunCommand(t, qvapdu::GetResponse(t->sw2 != 0 ? t->sw2 : 256));
        if (rv == QV_OK && t->sw1 == SW1_MORE_DATA)
            rv = append(gathered, &length, sizeof(gathered), t->response, t->receivedLength - 2);
    }
    if (rv == QV_OK && length == 0)
        rv = QVMD_RunSecureAPDUUseCustomSec(card, x.level, 0, 0, 1, nullptr, nullptr, 0);
    else if (rv == QV_OK)
        rv = QVMD_RunSecureAPDUUseCustomSec(card, x.level, 0, 0, 1, gathered, &length,
                                            sizeof(gathered));
    if (rv == QV_OK && length != 0) {
        if (length > t->responseCapacity) {
            rv = QV_E_UNEXPECTED;
        } else {
            memcpy(t->response, gathered, length);
            t->receivedLength = length;
        }
    }
    mbedtls_platform_zeroize(gathered, sizeof(gathered));
    return rv != QV_OK ? rv : QVMD_VerifySWKeyContainer(card, 0);
}

// Sends a command of the operation wrapped, then brings its whole response back
// unwrapped into the transport.
uint32_t exchange(Exchange &x, const CApdu &apdu)
{
    _qv_md_card_struct *card = x.card;
    uint32_t rv = QVCAAPI_PutCommand(card->transport, apdu);
    if (rv == QV_OK)
        rv = QVMD_RunSecureAPDUUseCustomSec(card, x.level, 1, 1, 0, nullptr, nullptr, 0);
    if (rv != QV_OK)
        return rv;
    if (card->transport->sw1 == SW1_MORE_DATA)
        return gatherParts(x);
    // a refusal comes as a bare status word, mapped by the key-container family
    rv = QVMD_VerifySWKeyContainer(card, 0);
    return rv != QV_OK
               ? rv
               : QVMD_RunSecureAPDUUseCustomSec(card, x.level, 0, 0, 1, nullptr, nullptr, 0);
}

// The response data into the result: a signature is the last response alone, a
// decryption every response in turn; nothing stays with the host for a decryption
// kept on the card.
uint32_t collect(Exchange &x, bool last)
{
    if (x.mode == QVMD_RSA_MODE_DECRYPT_ON_CARD)
        return QV_OK;
    if (x.mode == QVMD_RSA_MODE_SIGN && last)
        release(x.card, x.result, x.resultLength);
    const _qv_caapi_card_struct *t = x.card->transport;
    unsigned long count = t->receivedLength - 2;
    if (count == 0)
        return QV_OK;
    auto *grown = static_cast<unsigned char *>(QVMD_Alloc(x.card, x.resultLength + count));
    if (grown == nullptr)
        return QV_E_NO_MEMORY;
    if (x.resultLength != 0)
        memcpy(grown, x.result, x.resultLength);
    memcpy(grown + x.resultLength, t->response, count);
    unsigned long length = x.resultLength + count;
    release(x.card, x.result, x.resultLength);
    x.result = grown;
    x.resultLength = length;
    return QV_OK;
}

// One round: a single command with the rest of the data, or a pair of pieces.
uint32_t round(Exchange &x, const unsigned char *data, unsigned long length, unsigned long *sent)
{
    unsigned long rest = length - *sent;
    unsigned char first = *sent == 0 ? qvapdu::RSA_FIRST : 0;
    if (rest <= QVMD_RSA_SINGLE_MAX) {
        uint32_t rv =
            exchange(x, qvapdu::RsaSingle(x.ins, x.container, first | qvapdu::RSA_LAST | x.keep,
                                          x.keySpec, data + *sent, rest));
        if (rv == QV_OK)
            rv = collect(x, true);
        *sent = length;
        return rv;
    }
    uint32_t rv = QVCAAPI_PutCommand(x.card->transport,
                                     qvapdu::RsaPiece(x.ins, x.container, first | x.keep, x.keySpec,
                                                      false, data + *sent, QVMD_RSA_PIECE));
    if (rv == QV_OK)
        rv = QVMD_RunSecureAPDU(x.card, x.level);
    if (rv == QV_OK)
        rv = QVMD_VerifySWKeyContainer(x.card, 0);
    if (rv != QV_OK)
        return rv;
    *sent += QVMD_RSA_PIECE;
    unsigned long count = length - *sent < QVMD_RSA_PIECE ? length - *sent : QVMD_RSA_PIECE;
    bool last = *sent + count == length;
    rv = exchange(
        x, qvapdu::RsaPiece(x.ins, x.container,
                            static_cast<unsigned char>((last ? qvapdu::RSA_LAST : 0) | x.keep),
                            x.keySpec, true, data + *sent, count));
    if (rv == QV_OK)
        rv = collect(x, last);
    *sent += count;
    return rv;
}

} // namespace

uint32_t QVMD_RunSecureAPDU(_qv_md_card_struct *card, uint32_t level)
{
    return QVMD_RunSecureAPDUUseCustomSec(card, level, 1, 1, 1, nullptr, nullptr, 0);
}

uint32_t QVMD_RunSecureAPDUUseCustomSec(_qv_md_card_struct *card, uint32_t level, int wrap,
                                        int send, int unwrap, unsigned char *accumulation,
                                        unsigned long *accumulationLength,
                                        unsigned long accumulationCapacity)
{
    _qv_caapi_card_struct *t = card->transport;
    uint32_t rv = QV_OK;
    if (level != 0 && wrap)
        rv = QVMD_CryptoSMWrap(&card->sm, t->command, &t->commandLength, t->commandCapacity);
    if (rv == QV_OK && send)
        rv = QVCAAPI_RunAPDU(t);
    if (rv != QV_OK)
        return rv;
    bool gathering =
        accumulation != nullptr && accumulationLength != nullptr && *accumulationLength != 0;
    if (gathering) {
        rv = append(accumulation, accumulationLength, accumulationCapacity, t->response,
                    t->receivedLength);
        if (rv != QV_OK)
            return rv;
    }
    if (level == 0 || !unwrap)
        return QV_OK;
    if (gathering)
        return QVMD_CryptoSMUnwrap(&card->sm, accumulation, accumulationLength,
                                   accumulationCapacity);
    if (t->receivedLength == 2)
        return QV_OK;
    return QVMD_CryptoSMUnwrap(&card->sm, t->response, &t->receivedLength, t->responseCapacity);
}

uint32_t QVMD_RSAExchange(_qv_md_card_struct *card, unsigned char container, unsigned char keySpec,
                          const unsigned char *data, unsigned long length, unsigned char **out,
                          unsigned long *outLength, int mode, uint32_t level)
{
    if (out == nullptr || outLength == nullptr)
        return QV_E_INVALID_VALUE;
    *out = nullptr;
    *outLength = 0;
    if (data == nullptr || length == 0 || mode < QVMD_RSA_MODE_SIGN ||
        mode > QVMD_RSA_MODE_DECRYPT_ON_CARD)
        return QV_E_INVALID_VALUE;
    Exchange x{
        card,
        mode == QVMD_RSA_MODE_SIGN ? qvapdu::RSA_INS_SIGN : qvapdu::RSA_INS_DECRYPT,
        container,
        keySpec,
        static_cast<unsigned char>(mode == QVMD_RSA_MODE_DECRYPT_ON_CARD ? qvapdu::RSA_KEEP : 0),
        mode,
        level};
    uint32_t rv = QV_OK;
    unsigned long sent = 0;
    for (unsigned long rounds = 0; rv == QV_OK && sent < length; rounds++)
        rv = rounds == QVMD_RSA_MAX_ROUNDS ? QV_E_UNEXPECTED : round(x, data, length, &sent);
    if (rv == QV_OK && mode != QVMD_RSA_MODE_DECRYPT_ON_CARD && x.resultLength == 0)
        rv = QV_E_UNEXPECTED;
    if (rv != QV_OK) {
        release(card, x.result, x.resultLength);
        return rv;
    }
    *out = x.result;
    *outLength = x.resultLength;
    return QV_OK;
}

uint32_t QVMD_RSASign(_qv_md_card_struct *card, unsigned char container, unsigned char keySpec,
                      const unsigned char *data, unsigned long length, unsigned char **out,
                      unsigned long *outLength, uint32_t level)
{
    return QVMD_RSAExchange(card, container, keySpec, data, length, out, outLength,
                            QVMD_RSA_MODE_SIGN, level);
}

uint32_t QVMD_RSADecrypt(_qv_md_card_struct *card, unsigned char container, unsigned char keySpec,
                         unsigned char *buffer, unsigned long *length)
{
    if (buffer == nullptr || length == nullptr)
        return QV_E_INVALID_VALUE;
    unsigned char *result = nullptr;
    unsigned long resultLength = 0;
    uint32_t rv = QVMD_RSAExchange(card, container, keySpec, buffer, *length, &result,
                                   &resultLength, QVMD_RSA_MODE_DECRYPT, 1);
    if (rv == QV_OK && resultLength > *length)
        rv = QV_E_INSUFFICIENT_BUFFER;
    if (rv == QV_OK) {
        memcpy(buffer, result, resultLength);
        *length = resultLength;
    }
    release(card, result, resultLength);
    QVCAAPI_WipeExchange(card->transport);
    return rv;
}

uint32_t QVMD_RSADecryptProcessOnCard(_qv_md_card_struct *card, unsigned char container,
                                      unsigned char keySpec, unsigned char *buffer,
                                      unsigned long *length)
{
    if (buffer == nullptr || length == nullptr)
        return QV_E_INVALID_VALUE;
    if (card->info->appletValid == 0) {
        uint32_t rv = QVMD_GetInfo(card, card->info, QVMD_INFO_APPLET);
        if (rv != QV_OK)
            return rv;
    }
    unsigned char *result = nullptr;
    unsigned long resultLength = 0;
    uint32_t rv = QVMD_RSAExchange(card, container, keySpec, buffer, *length, &result,
                                   &resultLength, QVMD_RSA_MODE_DECRYPT_ON_CARD, 1);
    if (rv == QV_OK)
        *length = 0;
    return rv;
}
