#include "card/qvdes.h"

#include <mbedtls/platform_util.h>

#include <cstring>

namespace
{

enum { ENCRYPT = 0, DECRYPT = 1 }; // index of the schedule

void cipherBlock(odes_context *ctx, int schedule, const unsigned char in[8], unsigned char out[8])
{
    if (ctx->keys == 1)
        mbedtls_des_crypt_ecb(&ctx->des[schedule], in, out);
    else
        mbedtls_des3_crypt_ecb(&ctx->des3[schedule], in, out);
}

void setSchedules(odes_context *ctx, const unsigned char *key)
{
    switch (ctx->keys) {
    case 1:
        mbedtls_des_setkey_enc(&ctx->des[ENCRYPT], key);
        mbedtls_des_setkey_dec(&ctx->des[DECRYPT], key);
        break;
    case 2:
        mbedtls_des3_set2key_enc(&ctx->des3[ENCRYPT], key);
        mbedtls_des3_set2key_dec(&ctx->des3[DECRYPT], key);
        break;
    default:
        mbedtls_des3_set3key_enc(&ctx->des3[ENCRYPT], key);
        mbedtls_des3_set3key_dec(&ctx->des3[DECRYPT], key);
        break;
    }
}

uint32_t half(const unsigned char *b)
{
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void putHalf(unsigned char *b, uint32_t v)
{
    for (int i = 0; i < 4; i++, v >>= 8)
        b[i] = static_cast<unsigned char>(v);
}

void xorBlock(unsigned char *to, const unsigned char *with)
{
    for (int i = 0; i < 8; i++)
        to[i] ^= with[i];
}

} // namespace

uint32_t des_init(uint32_t keys, const unsigned char *key, uint32_t mode, odes_context *context)
{
    if (keys < 1 || keys > 3 || mode > ODES_MODE_CBC_MAC || key == nullptr || context == nullptr)
        return ODES_FAILED;
    memset(context, 0, sizeof(*context));
    context->keys = keys;
    context->mode = mode;
    setSchedules(context, key);
    return 0;
}

uint32_t des_set_iv(odes_context *context, const unsigned char iv[8])
{
    if (context == nullptr)
        return ODES_FAILED;
    context->ivLeft = half(iv);
    context->ivRight = half(iv + 4);
    return 0;
}

uint32_t des_get_iv(odes_context *context, unsigned char iv[8])
{
    if (context == nullptr)
        return ODES_FAILED;
    putHalf(iv, context->ivLeft);
    putHalf(iv + 4, context->ivRight);
    return 0;
}

uint32_t des_init_iv(uint32_t keys, const unsigned char *key, uint32_t mode,
                     const unsigned char iv[8], odes_context *context)
{
    uint32_t rv = des_init(keys, key, mode, context);
    return rv != 0 ? rv : des_set_iv(context, iv);
}

int odes_encrypt(odes_context *context, int direction, unsigned long length,
                 const unsigned char *input, unsigned long *outputLength, unsigned char *output)
{
    if (context == nullptr)
        return -1;
    if (input == nullptr || length % 8 != 0)
        return -2;
    bool mac = context->mode == ODES_MODE_CBC_MAC;
    if (!mac && (output == nullptr || outputLength == nullptr))
        return -3;
    if (outputLength != nullptr)
        *outputLength = 0;
    bool encrypt = mac || direction != 0;
    unsigned char chain[8], block[8], scratch[8];
    des_get_iv(context, chain);
    for (unsigned long at = 0; at < length; at += 8) {
        unsigned char *out = mac ? (output != nullptr ? output : scratch) : output + at;
        memcpy(block, input + at, 8); // input and output may overlap
        if (context->mode == ODES_MODE_ECB) {
            cipherBlock(context, encrypt ? ENCRYPT : DECRYPT, block, out);
        } else if (encrypt) {
            xorBlock(block, chain);
            cipherBlock(context, ENCRYPT, block, out);
            memcpy(chain, out, 8);
        } else {
            cipherBlock(context, DECRYPT, block, out);
            xorBlock(out, chain);
            memcpy(chain, block, 8);
        }
        if (!mac)
            *outputLength += 8;
    }
    des_set_iv(context, chain);
    if (mac && output != nullptr && outputLength != nullptr) {
        memcpy(output, chain, 8); // the MAC
        *outputLength = 8;
    }
    mbedtls_platform_zeroize(block, sizeof(block));
    mbedtls_platform_zeroize(scratch, sizeof(scratch));
    return 0;
}
