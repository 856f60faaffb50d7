#include "crypto/rsa_pkcs1.h"

#include "base/linux/linux_log.h"
#include "crypto/crypto_random.h"

#include <mbedtls/platform_util.h>

#include <cstring>

namespace
{

// The DER DigestInfo that precedes a hash of each algorithm.
struct DigestInfoPrefix {
    int hashId;
    size_t hashLength;
    unsigned char prefix[19];
    size_t prefixLength;
};

const DigestInfoPrefix DIGEST_INFOS[] = {
    {PKCS1_HASH_MD2,
     16,
     {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x02, 0x05,
      0x00, 0x04, 0x10},
     18},
    {PKCS1_HASH_MD4,
     16,
     {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x04, 0x05,
      0x00, 0x04, 0x10},
     18},
    {PKCS1_HASH_MD5,
     16,
     {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05,
      0x00, 0x04, 0x10},
     18},
    {PKCS1_HASH_SHA1,
     20,
     {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14},
     15},
    {PKCS1_HASH_SHA224,
     28,
     {0x30, 0x2d, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x04,
      0x05, 0x00, 0x04, 0x1c},
     19},
    {PKCS1_HASH_SHA256,
     32,
     {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01,
      0x05, 0x00, 0x04, 0x20},
     19},
    {PKCS1_HASH_SHA384,
     48,
     {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02,
      0x05, 0x00, 0x04, 0x30},
     19},
    {PKCS1_HASH_SHA512,
     64,
     {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03,
      0x05, 0x00, 0x04, 0x40},
     19},
};

const DigestInfoPrefix *findDigestInfo(int hashId)
{
    for (const DigestInfoPrefix &d : DIGEST_INFOS)
        if (d.hashId == hashId)
            return &d;
    return nullptr;
}

const size_t MIN_KEY_LENGTH = 16;
const size_t MAX_KEY_LENGTH = 512;

// The RSA step of a mode; in any other mode (2: no RSA) the block is left as
// it is. in and out may be the same buffer.
int rsaStep(mbedtls_rsa_context *ctx, int mode, unsigned char const *in, unsigned char *out,
            char const *caller)
{
    int ret = 0;
    if (mode == PKCS1_MODE_PUBLIC)
        ret = mbedtls_rsa_public(ctx, in, out);
    else if (mode == PKCS1_MODE_PRIVATE)
        ret = mbedtls_rsa_private(ctx, crypto_random, nullptr, in, out);
    else if (in != out)
        memcpy(out, in, ctx->len);
    if (ret != 0)
        hl_log(vok_log::HL_ERROR, "%s: RSA operation failed ( -0x%04x )\n", caller, -ret);
    return ret;
}

// A block to be read back: a key length the block buffer holds and a known mode.
bool readableBlock(mbedtls_rsa_context const *ctx, int mode)
{
    return ctx->len >= MIN_KEY_LENGTH && ctx->len <= MAX_KEY_LENGTH &&
           (mode == PKCS1_MODE_PUBLIC || mode == PKCS1_MODE_PRIVATE || mode == PKCS1_MODE_NO_RSA);
}

} // namespace

int rsa_pkcs1_sign(mbedtls_rsa_context *ctx, int mode, int hash_id, size_t hash_length,
                   unsigned char const *hash, unsigned char *sig)
{
    if (ctx == nullptr || sig == nullptr || (hash == nullptr && hash_length != 0))
        return PKCS1_ERR_BAD_INPUT;
    if (ctx->padding != MBEDTLS_RSA_PKCS_V15)
        return PKCS1_ERR_INVALID_PADDING;

    const DigestInfoPrefix *info = nullptr;
    size_t tLength = hash_length;
    if (hash_id != PKCS1_HASH_NONE) {
        info = findDigestInfo(hash_id);
        // The hash must be exactly the algorithm's size: it is copied whole.
        if (info == nullptr || hash_length != info->hashLength)
            return PKCS1_ERR_BAD_INPUT;
        tLength = info->prefixLength + info->hashLength;
    }
    size_t length = ctx->len;
    if (length < tLength + 3 + 8)
        return PKCS1_ERR_BAD_INPUT;
    size_t padLength = length - 3 - tLength;

    unsigned char *p = sig;
    *p++ = 0x00;
    *p++ = 0x01;
    memset(p, 0xFF, padLength);
    p += padLength;
    *p++ = 0x00;
    if (info != nullptr) {
        memcpy(p, info->prefix, info->prefixLength);
        p += info->prefixLength;
    }
    if (hash_length != 0)
        memcpy(p, hash, hash_length);
    return rsaStep(ctx, mode, sig, sig, "rsa_pkcs1_sign");
}

int rsa_pkcs1_verify(mbedtls_rsa_context *ctx, int mode, int hash_id, size_t hash_length,
                     unsigned char const *hash, unsigned char const *sig)
{
    if (ctx == nullptr || sig == nullptr || (hash == nullptr && hash_length != 0))
        return PKCS1_ERR_BAD_INPUT;
    if (!readableBlock(ctx, mode))
        return PKCS1_ERR_BAD_INPUT;
    size_t length = ctx->len;

    unsigned char block[MAX_KEY_LENGTH];
    int ret = rsaStep(ctx, mode, sig, block, "rsa_pkcs1_verify");
    if (ret != 0)
        return ret;
    if (ctx->padding != MBEDTLS_RSA_PKCS_V15)
        return PKCS1_ERR_INVALID_PADDING;

    // 00 01 FF .. FF 00, the 00 before the last octet
    if (block[0] != 0x00 || block[1] != 0x01)
        return PKCS1_ERR_INVALID_PADDING;
    size_t i = 2;
    while (i < length - 1 && block[i] == 0xFF)
        i++;
    if (i >= length - 1 || block[i] != 0x00)
        return PKCS1_ERR_INVALID_PADDING;
    i++;
    unsigned char const *rest = block + i;
    size_t restLength = length - i;

    if (hash_id == PKCS1_HASH_NONE) {
        if (restLength != hash_length)
            return PKCS1_ERR_INVALID_PADDING;
        return memcmp(rest, hash, hash_length) == 0 ? 0 : PKCS1_ERR_VERIFY_FAILED;
    }
    const DigestInfoPrefix *info = findDigestInfo(hash_id);
    if (info == nullptr || restLength != info->prefixLength + info->hashLength)
        return PKCS1_ERR_INVALID_PADDING;
    if (hash_length != info->hashLength)
        return PKCS1_ERR_BAD_INPUT;
    if (memcmp(rest, info->prefix, info->prefixLength) != 0 ||
        memcmp(rest + info->prefixLength, hash, info->hashLength) != 0)
        return PKCS1_ERR_VERIFY_FAILED;
    return 0;
}

int rsa_pkcs1_encrypt(mbedtls_rsa_context *ctx, int mode, size_t input_length,
                      unsigned char const *input, unsigned char *output)
{
    if (ctx == nullptr || output == nullptr || (input == nullptr && input_length != 0))
        return PKCS1_ERR_BAD_INPUT;
    if (ctx->padding != MBEDTLS_RSA_PKCS_V15)
        return PKCS1_ERR_INVALID_PADDING;
    size_t length = ctx->len;
    if (input_length > length || input_length + 11 > length)
        return PKCS1_ERR_BAD_INPUT;
    size_t padLength = length - 3 - input_length;

    unsigned char *p = output;
    *p++ = 0x00;
    *p++ = 0x02;
    int ret = crypto_random(nullptr, p, padLength);
    for (size_t i = 0; ret == 0 && i < padLength; i++)
        while (ret == 0 && p[i] == 0)
            ret = crypto_random(nullptr, p + i, 1);
    if (ret != 0) {
        hl_log(vok_log::HL_ERROR, "rsa_pkcs1_encrypt: no random padding ( -0x%04x )\n", -ret);
        return ret;
    }
    p += padLength;
    *p++ = 0x00;
    if (input_length != 0)
        memcpy(p, input, input_length);
    return rsaStep(ctx, mode, output, output, "rsa_pkcs1_encrypt");
}

int rsa_pkcs1_decrypt(mbedtls_rsa_context *ctx, int mode, size_t *output_length,
                      unsigned char const *input, unsigned char *output, size_t output_capacity)
{
    if (ctx == nullptr || output_length == nullptr || input == nullptr ||
        (output == nullptr && output_capacity != 0))
        return PKCS1_ERR_BAD_INPUT;
    if (!readableBlock(ctx, mode))
        return PKCS1_ERR_BAD_INPUT;
    size_t length = ctx->len;

    unsigned char block[MAX_KEY_LENGTH];
    int ret = rsaStep(ctx, mode, input, block, "rsa_pkcs1_decrypt");
    if (ret == 0) {
        if (ctx->padding != MBEDTLS_RSA_PKCS_V15 || block[0] != 0x00 || block[1] != 0x02) {
            ret = PKCS1_ERR_INVALID_PADDING;
        } else {
            // 00 02, non-zero padding, 00, message; the 00 before the last octet
            size_t i = 2;
            while (i < length - 1 && block[i] != 0x00)
                i++;
            if (i >= length - 1) {
                ret = PKCS1_ERR_INVALID_PADDING;
            } else {
                size_t messageLength = length - i - 1;
                if (messageLength > output_capacity) {
                    ret = PKCS1_ERR_OUTPUT_TOO_LARGE;
                } else {
                    memcpy(output, block + i + 1, messageLength);
                    *output_length = messageLength;
                }
            }
        }
    }
    mbedtls_platform_zeroize(block, sizeof(block));
    return ret;
}
