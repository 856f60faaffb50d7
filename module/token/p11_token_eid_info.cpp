// Token information of the identity-card token: the mechanism table, the
// serial number, versions, PIN lengths and flags and the memory figures read
// from the card, and the token calls that need no card (random numbers, the
// refused initialisation and seeding).
#include <climits>
#include <cstring>

#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "core/core_support.h"
#include "crypto/random.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;
using vok_log::HL_INFO;

namespace
{

struct MechanismRow {
    unsigned long type;
    unsigned long flags;
    bool tokenKeySizes; // key sizes are the card's, else 512 to 4096 (0 for digests)
};

// The token's mechanisms in the order C_GetMechanismList reports them. The
// token neither wraps nor unwraps keys (C_WrapKey and C_UnwrapKey are refused),
// so no mechanism claims it.
MechanismRow const MECHANISMS[] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, CKF_HW | CKF_GENERATE_KEY_PAIR, true},
    {CKM_RSA_PKCS, CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_VERIFY, false},
    {CKM_RSA_X_509, CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_VERIFY, false},
    {CKM_SHA1_RSA_PKCS, CKF_HW | CKF_SIGN | CKF_VERIFY, false},
    {CKM_SHA224_RSA_PKCS, CKF_HW | CKF_SIGN | CKF_VERIFY, false},
    {CKM_SHA256_RSA_PKCS, CKF_HW | CKF_SIGN | CKF_VERIFY, false},
    {CKM_SHA384_RSA_PKCS, CKF_HW | CKF_SIGN | CKF_VERIFY, false},
    {CKM_SHA512_RSA_PKCS, CKF_HW | CKF_SIGN | CKF_VERIFY, false},
    {CKM_MD5, CKF_DIGEST, false},
    {CKM_SHA_1, CKF_DIGEST, false},
    {CKM_SHA224, CKF_DIGEST, false},
    {CKM_SHA256, CKF_DIGEST, false},
    {CKM_SHA384, CKF_DIGEST, false},
    {CKM_SHA512, CKF_DIGEST, false},
};

unsigned long const RSA_MIN_BITS = 512;
unsigned long const RSA_MAX_BITS = 4096;

// The PIN flags of one role: count low, final try, locked.
struct PinFlags {
    unsigned long low, finalTry, locked;
};
PinFlags const USER_PIN_FLAGS = {CKF_USER_PIN_COUNT_LOW, CKF_USER_PIN_FINAL_TRY,
                                 CKF_USER_PIN_LOCKED};
PinFlags const SO_PIN_FLAGS = {CKF_SO_PIN_COUNT_LOW, CKF_SO_PIN_FINAL_TRY, CKF_SO_PIN_LOCKED};

unsigned long tryFlags(_qv_md_pin_info_struct const &pin, PinFlags const &f)
{
    unsigned long flags = 0;
    if (pin.triesRemaining == 0)
        flags |= f.locked;
    else if (pin.triesRemaining != pin.tryLimit)
        flags |= f.low;
    if (pin.triesRemaining == 1)
        flags |= f.finalTry;
    return flags;
}

} // namespace

void CP11Token_eiD::setMechanisms()
{
    hl_log(HL_ENTER, "CP11Token_eiD::setMechanisms()\n");
    releaseMechanisms();
    for (MechanismRow const &row : MECHANISMS) {
        unsigned before = m_mechanisms.Count();
        m_mechanisms.PushBack(row.type);
        if (m_mechanisms.Count() == before)
            leaveByException("setMechanisms", CKR_HOST_MEMORY, false);
    }
    leave("setMechanisms");
}

void CP11Token_eiD::GetMechanismInfo(unsigned long type, CK_MECHANISM_INFO *info)
{
    hl_log(HL_ENTER, "CP11Token_eiD::GetMechanismInfo(0x%.8lx,%p)\n", type, (void *)info);
    hl_log(HL_INFO, "Mechanism : %s \n", vok_core::text(CP11Convert::CKM2String(type)));
    frame("GetMechanismInfo", [&] {
        CP11Token::GetMechanismInfo(type, info);
        for (MechanismRow const &row : MECHANISMS) {
            if (row.type != type)
                continue;
            info->flags = row.flags;
            if (row.tokenKeySizes) {
                info->ulMinKeySize = FindLongAttribute(TOKEN_A_MIN_RSA_KEY_SIZE);
                info->ulMaxKeySize = FindLongAttribute(TOKEN_A_MAX_RSA_KEY_SIZE);
            } else if ((row.flags & CKF_DIGEST) == 0) {
                info->ulMinKeySize = RSA_MIN_BITS;
                info->ulMaxKeySize = RSA_MAX_BITS;
            }
            return;
        }
        throw CP11Exception(CKR_MECHANISM_INVALID);
    });
}

void CP11Token_eiD::serialText(unsigned char const serial[16], CBlob &text)
{
    static char const DIGITS[] = "0123456789ABCDEF";
    char hex[33];
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = DIGITS[serial[i] >> 4];
        hex[2 * i + 1] = DIGITS[serial[i] & 15];
    }
    hex[32] = '\0';
    unsigned start = serial[0] == 0xF0 ? serial[1] : 16;
    // a start past the text gives an empty serial number, never bytes beyond it
    text.Set(start < 32 ? hex + start : "");
}

void CP11Token_eiD::setTokenConstInfo()
{
    hl_log(HL_ENTER, "CP11Token_eiD::setTokenConstInfo()\n");
    frame(
        "setTokenConstInfo",
        [&] {
            _qv_md_info_struct *info = m_card->info;
            if (QVMD_GetInfo(m_card, info, QVMD_INFO_SERIAL) != 0)
                cardFailed("QVMD_GetInfo");
            CBlob serial;
            serialText(info->serial, serial);
            if (!SetAttribute(TOKEN_A_SERIAL_NUMBER, (char const *)serial, ~0UL))
                throw CP11Exception(CKR_HOST_MEMORY);
            if (QVMD_GetInfo(m_card, info, QVMD_INFO_APPLET) != 0)
                cardFailed("QVMD_GetInfo");
            if (!SetAttribute(TOKEN_A_FW_VERSION_MAJOR, info->appletMajor) ||
                !SetAttribute(TOKEN_A_FW_VERSION_MINOR, info->appletMinor))
                throw CP11Exception(CKR_HOST_MEMORY);
            if (QVMD_GetInfo(m_card, info, QVMD_INFO_PIN_PROPERTIES) != 0)
                cardFailed("QVMD_GetInfo");
            if (!SetAttribute(TOKEN_A_MIN_PIN_LEN, 1UL) ||
                !SetAttribute(TOKEN_A_MAX_PIN_LEN, (unsigned long)info->maxPinLength))
                throw CP11Exception(CKR_HOST_MEMORY);
        },
        true);
}

void CP11Token_eiD::updateTokenPinInfo()
{
    hl_log(HL_ENTER, "CP11Token_eiD::updateTokenPinInfo()\n");
    frame("updateTokenPinInfo", [&] {
        unsigned long flags = FindLongAttribute(TOKEN_A_PKCS11_FLAGS);
        _qv_md_info_struct *info = m_card->info;
        if (QVMD_GetInfo(m_card, info, QVMD_INFO_AUTH_STATE) != 0 ||
            QVMD_GetInfo(m_card, info, QVMD_INFO_PIN_PROPERTIES) != 0)
            cardFailed("QVMD_GetInfo");
        flags &=
            ~(unsigned long)(CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED |
                             CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_LOCKED |
                             CKF_USER_PIN_INITIALIZED);
        if ((m_authenticator.GetAuthRole() & ROLE_USER) != 0)
            flags &= ~(unsigned long)CKF_LOGIN_REQUIRED;
        else
            flags |= CKF_LOGIN_REQUIRED;
        for (unsigned i = 0; i < info->pinCount && i < QVMD_MAX_PINS; ++i) {
            _qv_md_pin_info_struct const &pin = info->pins[i];
            if (pin.roleMask == ROLE_USER)
                flags |= tryFlags(pin, USER_PIN_FLAGS);
            else if (pin.roleMask == ROLE_SO)
                flags |= tryFlags(pin, SO_PIN_FLAGS);
            else if (pin.roleMask == 8 && pin.triesRemaining == 0)
                flags |= CKF_USER_PIN_INITIALIZED;
        }
        if (!SetAttribute(TOKEN_A_PKCS11_FLAGS, flags))
            throw CP11Exception(CKR_HOST_MEMORY);
    });
}

void CP11Token_eiD::updateTokenMemoryInfo()
{
    hl_log(HL_ENTER, "CP11Token_eiD::updateTokenMemoryInfo()\n");
    frame(
        "updateTokenMemoryInfo",
        [&] {
            _qv_md_info_struct *info = m_card->info;
            if (QVMD_GetInfo(m_card, info, QVMD_INFO_FREE_MEMORY) != 0 ||
                QVMD_GetInfo(m_card, info, QVMD_INFO_MEMORY_LAYOUT) != 0 ||
                QVMD_GetInfo(m_card, info, QVMD_INFO_KEY_CAPACITY) != 0)
                cardFailed("QVMD_GetInfo");
            unsigned long keysPerContainer = 0;
            if (QVMD_GetKeyNumberPerContainer(m_card, &keysPerContainer) != 0)
                cardFailed("QVMD_GetKeyNumberPerContainer");
            uint64_t minBits = ULONG_MAX, maxBits = 0, total = 0;
            for (uint32_t i = 0; i < info->keySizeCount && info->keySizes != nullptr; ++i) {
                uint64_t bits = info->keySizes[i].bits, count = info->keySizes[i].count;
                minBits = bits < minBits ? bits : minBits;
                maxBits = bits > maxBits ? bits : maxBits;
                total += (count * bits) / 8 * keysPerContainer + count * CONTAINER_MAP_RECORD_SIZE;
            }
            // the containers in use; more than the capacity leaves nothing free
            // rather than a figure wrapped round below zero
            uint64_t used = usedPrivateMemory();
            bool stored = SetAttribute(TOKEN_A_MAX_PUBLIC_MEM, (unsigned long)info->totalMemory) &&
                          SetAttribute(TOKEN_A_FREE_PUBLIC_MEM, (unsigned long)info->freeMemory) &&
                          SetAttribute(TOKEN_A_MAX_PRIVATE_MEM, (unsigned long)total) &&
                          SetAttribute(TOKEN_A_MIN_RSA_KEY_SIZE, (unsigned long)minBits) &&
                          SetAttribute(TOKEN_A_MAX_RSA_KEY_SIZE, (unsigned long)maxBits) &&
                          SetAttribute(TOKEN_A_FREE_PRIVATE_MEM,
                                       (unsigned long)(used < total ? total - used : 0));
            if (!stored)
                throw CP11Exception(CKR_HOST_MEMORY);
        },
        true);
}

void CP11Token_eiD::InitToken(unsigned char *pin, unsigned long pinLength, unsigned char *label)
{
    hl_log(HL_ENTER, "CP11Token::InitToken(%p,0x%.8lx,%p)\n", (void *)pin, pinLength,
           (void *)label);
    // The card is never initialised through PKCS#11.
    frame("InitToken", [&] {
        if (pin == nullptr || pinLength == 0 || label == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        throw CP11Exception(CKR_FUNCTION_FAILED);
    });
}

void CP11Token_eiD::SeedRandom(unsigned long session, unsigned char *seed, unsigned long seedLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::SeedRandom(0x%.8lx,%p,0x%.8lx)\n", session, (void *)seed,
           seedLength);
    frame("SeedRandom", [&] { throw CP11Exception(CKR_RANDOM_SEED_NOT_SUPPORTED); });
}

void CP11Token_eiD::GenerateRandom(unsigned long session, unsigned char *randomData,
                                   unsigned long randomLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::GenerateRandom(0x%.8lx,%p,0x%.8lx)\n", session,
           (void *)randomData, randomLength);
    frame("GenerateRandom", [&] {
        if (randomData == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        GetSession(session);
        CRandom random;
        if (!random.Generate(randomData, randomLength))
            throw CP11Exception(CKR_FUNCTION_FAILED);
    });
}
