// The card-data signature test that comes before every container creation: the
// card's signed items under the issuer's signature, checked on the host with the
// issuer public key built into the module.
#include "card/qvmd_container.h"

#include "card/card_keys.h"
#include "card/qvmd_card_data.h"
#include "card/qvmd_info.h"

#include "crypto/rsa_pkcs1.h"

#include <mbedtls/rsa.h>
#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>

#include <cstring>

namespace
{

enum : unsigned char {
    TAG_SIGNED_ITEMS = 0x01,
    TAG_SIGNATURE = 0x04,
    ITEM_CARD_ID = 0x03, // in the signed items: the 8-byte card identifier
};

enum : unsigned long { SIGNATURE_LENGTH = sizeof(QVMD_ISSUER_MODULUS), CARD_ID_LENGTH = 8 };

struct Item {
    const unsigned char *bytes;
    unsigned long length;
};

// The signed item named by byte b of tag 1: the card identifier or a card-data tag.
uint32_t item(const _qv_md_card_struct *card, const unsigned char *data, unsigned long length,
              unsigned char b, Item *out)
{
    if (b == ITEM_CARD_ID) {
        *out = {card->info->cardId, CARD_ID_LENGTH};
        return QV_OK;
    }
    uint32_t rv = QVMD_CardDataContentReadTLV(data, length, b, &out->bytes, &out->length);
    return rv == QV_OK && out->bytes == nullptr ? QV_E_UNEXPECTED : rv;
}

// The signed items one after another, from the alloc hook.
uint32_t message(_qv_md_card_struct *card, const unsigned char *data, unsigned long length,
                 const unsigned char *items, unsigned long count, unsigned char **out,
                 unsigned long *outLength)
{
    unsigned long total = 0;
    Item it;
    for (unsigned long i = 0; i < count; i++) {
        uint32_t rv = item(card, data, length, items[i], &it);
        if (rv != QV_OK)
            return rv;
        total += it.length;
    }
    auto *m = static_cast<unsigned char *>(QVMD_Alloc(card, total != 0 ? total : 1));
    if (m == nullptr)
        return QV_E_NO_MEMORY;
    unsigned long at = 0;
    for (unsigned long i = 0; i < count; i++) {
        item(card, data, length, items[i], &it);
        if (it.length != 0)
            memcpy(m + at, it.bytes, it.length);
        at += it.length;
    }
    *out = m;
    *outLength = total;
    return QV_OK;
}

// PKCS#1 v1.5 with the issuer's key over a digest, a fresh key context per try.
bool issuerSigned(int hashId, const unsigned char *digest, size_t digestLength,
                  const unsigned char *signature)
{
    mbedtls_rsa_context rsa;
    mbedtls_rsa_init(&rsa, MBEDTLS_RSA_PKCS_V15, 0);
    bool ok =
        mbedtls_rsa_import_raw(&rsa, QVMD_ISSUER_MODULUS, sizeof(QVMD_ISSUER_MODULUS), nullptr, 0,
                               nullptr, 0, nullptr, 0, QVMD_ISSUER_EXPONENT,
                               sizeof(QVMD_ISSUER_EXPONENT)) == 0 &&
        mbedtls_rsa_complete(&rsa) == 0 &&
        rsa_pkcs1_verify(&rsa, PKCS1_MODE_PUBLIC, hashId, digestLength, digest, signature) == 0;
    mbedtls_rsa_free(&rsa);
    return ok;
}

bool verify(const unsigned char *m, unsigned long length, const unsigned char *signature)
{
    unsigned char sha1[20], sha256[32];
    return (mbedtls_sha1_ret(m, length, sha1) == 0 &&
            issuerSigned(PKCS1_HASH_SHA1, sha1, sizeof(sha1), signature)) ||
           (mbedtls_sha256_ret(m, length, sha256, 0) == 0 &&
            issuerSigned(PKCS1_HASH_SHA256, sha256, sizeof(sha256), signature));
}

uint32_t verifyCardData(_qv_md_card_struct *card, const unsigned char *data, unsigned long length)
{
    const unsigned char *signature = nullptr, *items = nullptr;
    unsigned long signatureLength = 0, count = 0;
    uint32_t rv =
        QVMD_CardDataContentReadTLV(data, length, TAG_SIGNATURE, &signature, &signatureLength);
    if (rv == QV_OK)
        rv = QVMD_CardDataContentReadTLV(data, length, TAG_SIGNED_ITEMS, &items, &count);
    if (rv != QV_OK)
        return rv;
    // the signature must be as long as the issuer's key
    if (signature == nullptr || items == nullptr || signatureLength != SIGNATURE_LENGTH)
        return QV_E_UNEXPECTED;
    unsigned char *m = nullptr;
    unsigned long mLength = 0;
    rv = message(card, data, length, items, count, &m, &mLength);
    if (rv != QV_OK)
        return rv;
    bool ok = verify(m, mLength, signature);
    QVMD_Free(card, m);
    return ok ? QV_OK : QV_E_UNEXPECTED;
}

} // namespace

uint32_t QVMD_VerifyQVSignature(_qv_md_card_struct *card)
{
    if (card->info->cardIdValid == 0) {
        uint32_t rv = QVMD_GetInfo(card, card->info, QVMD_INFO_CARD_ID);
        if (rv != QV_OK)
            return rv;
    }
    const unsigned char all[5] = {0, 0, 0, 0, 0};
    unsigned char *data = nullptr;
    unsigned long length = 0;
    uint32_t rv = QVMD_GetInfoCardDataTag(card, nullptr, all, sizeof(all), &data, &length);
    if (rv != QV_OK)
        return rv;
    rv = verifyCardData(card, data, length);
    QVMD_Free(card, data);
    return rv;
}
