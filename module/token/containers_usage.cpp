#include "token/containers_usage.h"

#include <cstring>

#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "token/p11_token_eid.h"

using vok_log::HL_WARNING;

namespace
{

// A card name given as text: at most 8 characters, zero-padded.
void cardName(char const *text, unsigned char out[8])
{
    std::memset(out, 0, 8);
    if (text != nullptr)
        std::memcpy(out, text, strnlen(text, 8));
}

// A certificate file of "mscp": "ksc" or "kxc" and the container's two digits.
bool certificateFile(char const *dir, char const *name, unsigned *container, unsigned *keySpec)
{
    if (dir == nullptr || name == nullptr || std::strcmp(dir, "mscp") != 0 ||
        std::strlen(name) != 5 ||
        (std::strncmp(name, "ksc", 3) != 0 && std::strncmp(name, "kxc", 3) != 0))
        return false;
    *keySpec = name[1] == 's' ? QVMD_KEY_SPEC_SIGNATURE : QVMD_KEY_SPEC_EXCHANGE;
    *container = (unsigned)((name[3] - '0') * 10 + (name[4] - '0'));
    return true;
}

// The key-info fields the token uses, as kept by the read cache.
struct KeyRecord {
    uint8_t keyInfo5, keyInfo4;
    uint32_t keyBits;
    unsigned char shortInfo[2];
    uint32_t exponentLength;
};

} // namespace

CContainersUsage::CContainersUsage(CP11Token_eiD *token, unsigned long failureLogType)
{
    _qv_md_card_struct *card = token->GetCard();
    m_context.usage = {card, card->alloc, card->realloc, card->free, ReadFile, GetKeyInfo};
    m_context.token = token;
    QVMD_Usage_InitContainersInfo(&m_context.usage, &m_info);
    if (QVMD_Usage_GetContainersInfo(&m_context.usage, &m_info) != 0) {
        QVMD_Usage_ReleaseContainersInfo(&m_context.usage, &m_info);
        vok_log::hl_log(failureLogType, "QVMD_Usage_GetContainersInfo function call failed.\n");
        throw CP11Exception(CKR_DEVICE_ERROR);
    }
}

CContainersUsage::~CContainersUsage()
{
    QVMD_Usage_ReleaseContainersInfo(&m_context.usage, &m_info);
}

unsigned long CContainersUsage::UsedPrivateMemory() const
{
    unsigned long used = 0;
    for (unsigned long i = 0; i < m_info.count; ++i) {
        _qv_md_container_usage_record const &r = m_info.records[i];
        if (r.valid != 0)
            used += r.signatureBits / 8 + r.exchangeBits / 8 + QVMD_CMAP_RECORD_SIZE;
    }
    return used;
}

uint32_t CContainersUsage::ReadFile(_qv_md_usage_context *context, char const *dir,
                                    char const *name, unsigned long, unsigned char **data,
                                    unsigned long *length)
{
    Context *c = reinterpret_cast<Context *>(context);
    unsigned char dir8[8], name8[8];
    cardName(dir, dir8);
    cardName(name, name8);
    uint32_t rv = c->token->readFile(dir8, name8, data, length, CCardReadCache::COUNTERS);
    unsigned container = 0, keySpec = 0;
    if (rv == QV_E_UNEXPECTED && certificateFile(dir, name, &container, &keySpec)) {
        // one damaged certificate costs its container, not the whole card
        hl_log(HL_WARNING, "Certificate file (%s) damaged: its container is skipped.\n", name);
        c->damaged.insert(container * 2 + keySpec);
        return QV_E_FILE_NOT_FOUND;
    }
    return rv;
}

uint32_t CContainersUsage::GetKeyInfo(_qv_md_usage_context *context,
                                      _qv_md_container_key_info *keyInfo)
{
    Context *c = reinterpret_cast<Context *>(context);
    unsigned char key[8] = {keyInfo->container, keyInfo->keySpec};
    std::vector<unsigned char> bytes;
    _qv_md_card_struct *card = context->card;
    bool fromCard = false;
    // every part is asked for; a key that cannot be read leaves its fields empty
    c->token->cachedRead(
        CCardReadCache::KEY, nullptr, key, CCardReadCache::COUNTERS, bytes,
        [&](std::vector<unsigned char> &out) {
            fromCard = true;
            for (unsigned char what : {QVMD_KEY_INFO_DETAILS, QVMD_KEY_INFO_SHORT,
                                       QVMD_KEY_INFO_EXPONENT, QVMD_KEY_INFO_MODULUS})
                QVMD_GetContainerInfo(card, keyInfo, what);
            KeyRecord r = {keyInfo->keyInfo5,
                           keyInfo->keyInfo4,
                           keyInfo->keyBits,
                           {keyInfo->shortInfo[0], keyInfo->shortInfo[1]},
                           (uint32_t)keyInfo->exponentLength};
            auto const *p = reinterpret_cast<unsigned char const *>(&r);
            out.assign(p, p + sizeof(r));
            if (keyInfo->exponent != nullptr)
                out.insert(out.end(), keyInfo->exponent,
                           keyInfo->exponent + keyInfo->exponentLength);
            if (keyInfo->modulus != nullptr)
                out.insert(out.end(), keyInfo->modulus, keyInfo->modulus + keyInfo->modulusLength);
            return 0;
        });
    KeyRecord r;
    if (fromCard || bytes.size() < sizeof(r))
        return 0;
    std::memcpy(&r, bytes.data(), sizeof(r));
    if (bytes.size() < sizeof(r) + r.exponentLength)
        return 0;
    keyInfo->keyInfo5 = r.keyInfo5;
    keyInfo->keyInfo4 = r.keyInfo4;
    keyInfo->keyBits = r.keyBits;
    std::memcpy(keyInfo->shortInfo, r.shortInfo, 2);
    std::vector<unsigned char> exponent(bytes.begin() + sizeof(r),
                                        bytes.begin() + sizeof(r) + r.exponentLength);
    std::vector<unsigned char> modulus(bytes.begin() + sizeof(r) + r.exponentLength, bytes.end());
    if (CP11Token_eiD::cardBytes(card, exponent, &keyInfo->exponent, &keyInfo->exponentLength) !=
            0 ||
        CP11Token_eiD::cardBytes(card, modulus, &keyInfo->modulus, &keyInfo->modulusLength) != 0)
        return QV_E_NO_MEMORY;
    return 0;
}
