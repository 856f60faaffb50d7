#include "card/qvmd_compress.h"

#include "base/linux/linux_log.h"
#include "card/lzh.h"
#include "card/qvmd_names.h"

#include <mbedtls/platform_util.h>

#include <climits>
#include <cstring>

namespace
{

// The sink's result when its buffer cannot grow.
const int SINK_NO_MEMORY = -3;
const uint32_t GROWTH = 100;

bool nameIs(const unsigned char *name8, const char *text)
{
    unsigned char wanted[QVMD_NAME_LENGTH] = {};
    memcpy(wanted, text, strlen(text));
    return memcmp(name8, wanted, QVMD_NAME_LENGTH) == 0;
}

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

// The codec's context is about 63 KB: it comes from the card's hooks rather than from
// the stack of the (possibly small) thread that reads the card. Its window holds file
// data, so it is wiped before it goes back.
lzhcontext *newCodec(_qv_md_card_struct *card)
{
    return static_cast<lzhcontext *>(QVMD_Alloc(card, sizeof(lzhcontext)));
}

void deleteCodec(_qv_md_card_struct *card, lzhcontext *codec)
{
    mbedtls_platform_zeroize(codec->text_buf, sizeof codec->text_buf);
    QVMD_Free(card, codec);
}

bool startBuffer(_qv_md_compression_buffer &b, _qv_md_card_struct *card, unsigned long size)
{
    b = {card, nullptr, 0, 0, 0};
    if (size > UINT32_MAX)
        return false;
    b.data = static_cast<unsigned char *>(QVMD_Alloc(card, size));
    b.capacity = static_cast<uint32_t>(size);
    return b.data != nullptr;
}

// Hands the output over, or (not ok) frees it and names the failure.
uint32_t finish(_qv_md_compression_buffer &output, int result, bool ok, unsigned char **out,
                unsigned long *outLength)
{
    if (!ok) {
        QVMD_Free(output.card, output.data);
        return result == SINK_NO_MEMORY ? QV_E_NO_MEMORY : QV_E_UNEXPECTED;
    }
    *out = output.data;
    *outLength = output.length;
    return QV_OK;
}

} // namespace

bool QVMD_IsCertFileName(const unsigned char *name8)
{
    return (memcmp(name8, "ksc", 3) == 0 || memcmp(name8, "kxc", 3) == 0) && isDigit(name8[3]) &&
           isDigit(name8[4]) && name8[5] == 0;
}

bool QVMD_IsDataFileName(const unsigned char *name8)
{
    return memcmp(name8, "data", 4) == 0 && isDigit(name8[4]) && isDigit(name8[5]);
}

int QVMD_IsFileToCompress(const unsigned char *dir, const unsigned char *name)
{
    if (dir == nullptr || name == nullptr)
        return 0;
    unsigned char d[QVMD_NAME_LENGTH], n[QVMD_NAME_LENGTH];
    CorrectDirFileName(d, dir, n, name);
    if (nameIs(d, "qv_p11"))
        return 1;
    return nameIs(d, "mscp") && (QVMD_IsCertFileName(n) || nameIs(n, "msroots")) ? 1 : 0;
}

unsigned MDQVD_CRCCheck(unsigned long length, const unsigned char *data)
{
    unsigned crc = 0xC7;
    for (unsigned long i = 0; i < length; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++)
            crc = (crc & 0x80) ? ((crc << 1) ^ 0x1D) & 0xFF : (crc << 1) & 0xFF;
    }
    return crc;
}

int QVMD_ReadCompressionBuffer(void *bytes, int count, void *buffer)
{
    auto *b = static_cast<_qv_md_compression_buffer *>(buffer);
    if (b->data == nullptr || count <= 0 || b->position >= b->length)
        return 0;
    uint32_t n = b->length - b->position;
    if (n > static_cast<uint32_t>(count))
        n = static_cast<uint32_t>(count);
    memcpy(bytes, b->data + b->position, n);
    b->position += n;
    return static_cast<int>(n);
}

int QVMD_WriteCompressionBuffer(void *bytes, int count, void *buffer)
{
    auto *b = static_cast<_qv_md_compression_buffer *>(buffer);
    if (b->data == nullptr || bytes == nullptr || count <= 0)
        return 0;
    uint32_t n = static_cast<uint32_t>(count);
    if (n > b->capacity - b->length) {
        if (b->length > UINT32_MAX - n - GROWTH)
            return SINK_NO_MEMORY;
        uint32_t grown = b->length + n + GROWTH;
        void *p = QVMD_Realloc(b->card, b->data, b->length, grown);
        if (p == nullptr)
            return SINK_NO_MEMORY;
        b->data = static_cast<unsigned char *>(p);
        b->capacity = grown;
    }
    memcpy(b->data + b->length, bytes, n);
    b->length += n;
    return count;
}

uint32_t QVMD_Compress(_qv_md_card_struct *card, const unsigned char *data, unsigned long length,
                       unsigned char **out, unsigned long *outLength)
{
    if (out == nullptr || outLength == nullptr || (data == nullptr && length != 0))
        return QV_E_INVALID_PARAMETER;
    *out = nullptr;
    *outLength = 0;
    if (length == 0)
        return QV_OK;
    _qv_md_compression_buffer input = {card, const_cast<unsigned char *>(data),
                                       static_cast<uint32_t>(length), static_cast<uint32_t>(length),
                                       0};
    _qv_md_compression_buffer output;
    lzhcontext *codec = length <= UINT32_MAX - LZH_F ? newCodec(card) : nullptr;
    if (codec == nullptr || !startBuffer(output, card, length)) {
        if (codec != nullptr)
            deleteCodec(card, codec);
        return QV_E_NO_MEMORY;
    }
    int result =
        LZHPack(codec, QVMD_ReadCompressionBuffer, &input, QVMD_WriteCompressionBuffer, &output);
    deleteCodec(card, codec);
    return finish(output, result, result >= 1, out, outLength);
}

uint32_t QVMD_Decompress(_qv_md_card_struct *card, const unsigned char *data, unsigned long length,
                         unsigned char **out, unsigned long *outLength, unsigned long plainLength)
{
    // A one-byte payload is a whole file: a single byte often codes in 8 bits.
    if (out == nullptr || outLength == nullptr || data == nullptr || length == 0 ||
        length > UINT32_MAX || plainLength > UINT32_MAX - LZH_F)
        return QV_E_INVALID_VALUE;
    *out = nullptr;
    *outLength = 0;
    _qv_md_compression_buffer input = {card, const_cast<unsigned char *>(data),
                                       static_cast<uint32_t>(length), static_cast<uint32_t>(length),
                                       0};
    _qv_md_compression_buffer output;
    // room for the plain length and a final match past it, so the output never moves
    lzhcontext *codec = newCodec(card);
    if (codec == nullptr || !startBuffer(output, card, plainLength + LZH_F)) {
        if (codec != nullptr)
            deleteCodec(card, codec);
        return QV_E_NO_MEMORY;
    }
    int result = LZHUnPack(codec, static_cast<uint32_t>(plainLength), QVMD_ReadCompressionBuffer,
                           &input, QVMD_WriteCompressionBuffer, &output);
    deleteCodec(card, codec);
    bool ok = result == 0 && output.length == plainLength;
    if (!ok)
        hl_log(vok_log::HL_ERROR, "QVMD_Decompress: %lu bytes decode to %u of %lu ( %d )\n", length,
               output.length, plainLength, result);
    return finish(output, result, ok, out, outLength);
}
