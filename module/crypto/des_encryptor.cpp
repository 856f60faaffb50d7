#include "crypto/des_encryptor.h"

#include "base/linux/linux_log.h"

#include <mbedtls/des.h>
#include <mbedtls/platform_util.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace
{

const unsigned long BLOCK = 8;

void makeIv(unsigned char iv[BLOCK])
{
    const uint32_t halves[2] = {0x5A3C96E1u, 0x0F1E2D3Cu};
    for (int h = 0; h < 2; h++)
        for (int i = 0; i < 4; i++)
            iv[h * 4 + i] = static_cast<unsigned char>(halves[h] >> (24 - 8 * i));
}

// CBC over whole blocks; the IV is copied for each call because the library
// advances it in place.
bool des3Cbc(unsigned char const key[CDesEncryptor::KEY_LENGTH], int mode, unsigned long length,
             unsigned char const *in, unsigned char *out)
{
    mbedtls_des3_context ctx;
    mbedtls_des3_init(&ctx);
    unsigned char iv[BLOCK];
    makeIv(iv);
    int ret = mode == MBEDTLS_DES_ENCRYPT ? mbedtls_des3_set3key_enc(&ctx, key)
                                          : mbedtls_des3_set3key_dec(&ctx, key);
    if (ret == 0)
        ret = mbedtls_des3_crypt_cbc(&ctx, mode, length, iv, in, out);
    mbedtls_des3_free(&ctx);
    if (ret != 0)
        hl_log(vok_log::HL_ERROR, "CDesEncryptor: triple DES failed ( -0x%04x )\n", -ret);
    return ret == 0;
}

} // namespace

CDesEncryptor::CDesEncryptor(unsigned char const key[KEY_LENGTH])
{
    memcpy(m_key, key, KEY_LENGTH);
}

CDesEncryptor::~CDesEncryptor()
{
    mbedtls_platform_zeroize(m_key, sizeof(m_key));
    clearResult();
}

// The result may hold a PIN: wipe it before it goes.
void CDesEncryptor::clearResult()
{
    if (m_result.GetData() != nullptr && !m_result.IsBorrowed())
        mbedtls_platform_zeroize(m_result.GetData(), m_result.GetSize());
    m_result.Clear();
}

bool CDesEncryptor::Encrypt(void const *data, unsigned long length)
{
    clearResult();
    if (data == nullptr || length == 0 || length > UINT_MAX - 2 * BLOCK)
        return false;
    unsigned long pad = BLOCK - length % BLOCK;
    unsigned long total = length + pad;
    auto *work = static_cast<unsigned char *>(malloc(total));
    if (work == nullptr)
        return false;
    memcpy(work, data, length);
    memset(work + length, 0, pad - 1);
    work[total - 1] = static_cast<unsigned char>(pad);

    bool ok = false;
    unsigned char *out = m_result.SetSize(static_cast<unsigned int>(total));
    if (out != nullptr)
        ok = des3Cbc(m_key, MBEDTLS_DES_ENCRYPT, total, work, out);
    mbedtls_platform_zeroize(work, total);
    free(work);
    if (!ok)
        clearResult();
    return ok;
}

bool CDesEncryptor::Decrypt(void const *data, unsigned long length)
{
    clearResult();
    if (data == nullptr || length == 0 || length % BLOCK != 0 || length > UINT_MAX - BLOCK)
        return false;
    unsigned char *out = m_result.SetSize(static_cast<unsigned int>(length));
    if (out == nullptr)
        return false;
    if (!des3Cbc(m_key, MBEDTLS_DES_DECRYPT, length, static_cast<unsigned char const *>(data),
                 out)) {
        clearResult();
        return false;
    }
    unsigned long pad = out[length - 1];
    if (pad >= length)
        return false;
    for (unsigned long i = 1; i < pad; i++)
        if (out[length - 1 - i] != 0)
            return false;
    if (pad != 0)
        m_result.CutSize(static_cast<unsigned int>(length - pad));
    return true;
}
