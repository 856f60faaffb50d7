// The PIN cache of the identity-card token and the guard that presents the cached
// PIN around one card operation. The PIN is kept encrypted under a key compiled
// into the module; its plain bytes exist only inside the encryptor of one call,
// which wipes them.
#include <mbedtls/platform_util.h>

#include "base/linux/linux_log.h"
#include "card/card_keys.h"
#include "card/qvmd.h"
#include "card/qvmd_pin.h"
#include "core/core_support.h"
#include "crypto/des_encryptor.h"
#include "token/p11_token_eid.h"

using vok_core::rvName;
using vok_log::HL_DEBUG;
using vok_log::HL_ENTER;
using vok_log::HL_ERROR;
using vok_log::HL_EXCEPTION;
using vok_log::HL_LEAVE;
using vok_log::HL_WARNING;

namespace
{

bool validRole(unsigned char role)
{
    return role == CP11Token_eiD::ROLE_USER || role == CP11Token_eiD::ROLE_SO;
}

[[noreturn]] void fail(char const *method, unsigned long rv)
{
    vok_log::decloglevel();
    hl_log(HL_EXCEPTION, "CP11Token_eiD::CTokenAuthenticator::%s( 0x%.8lx [ %s ] )\n", method, rv,
           rvName(rv));
    throw CP11Exception(rv);
}

// The role authenticated on the card now (information kind 6, byte 1).
uint32_t authState(_qv_md_card_struct *card, unsigned char *state)
{
    uint32_t rv = QVMD_GetInfo(card, card->info, QVMD_INFO_AUTH_STATE);
    *state = card->info->authState[1];
    return rv;
}

} // namespace

// The first 24 bytes of the stored master value.
unsigned char const *CP11Token_eiD::CTokenAuthenticator::CacheKey()
{
    static_assert(sizeof(QVMD_MK_STORED) >= CDesEncryptor::KEY_LENGTH, "key too short");
    return QVMD_MK_STORED;
}

CP11Token_eiD::CTokenAuthenticator::CTokenAuthenticator() : m_token(nullptr), m_role(ROLE_NOBODY) {}

CP11Token_eiD::CTokenAuthenticator::~CTokenAuthenticator()
{
    Final();
}

bool CP11Token_eiD::CTokenAuthenticator::Init(CP11Token_eiD *token, unsigned char role,
                                              unsigned char const *pin, unsigned long length)
{
    hl_log(HL_ENTER, "CP11Token_eiD::CTokenAuthenticator::Init(%p,%d,%p,0x%.8lx)\n", (void *)token,
           (int)role, (void const *)pin, length);
    bool ok = false;
    if (token == nullptr || !validRole(role) || pin == nullptr || length == 0) {
        hl_log(HL_ERROR, "CTokenAuthenticator::Init -> invalid data.\n");
    } else {
        Final();
        m_token = token;
        m_role = role;
        CDesEncryptor encryptor(CacheKey());
        ok = encryptor.Encrypt(pin, length) && m_secret.Set(encryptor.Get());
        if (!ok) {
            hl_log(HL_ERROR, "CTokenAuthenticator::Authenticate -> PIN encryption has failed!\n");
            Final();
        }
    }
    hl_log(HL_LEAVE, "CP11Token_eiD::CTokenAuthenticator::Init( %s )\n", ok ? "TRUE" : "FALSE");
    return ok;
}

bool CP11Token_eiD::CTokenAuthenticator::Authenticate()
{
    hl_log(HL_ENTER, "CP11Token_eiD::CTokenAuthenticator::Authenticate()\n");
    if (m_token == nullptr || !validRole(m_role) || m_secret.GetSize() == 0) {
        // nobody is logged in: there is no PIN to present
        hl_log(HL_ERROR, "CTokenAuthenticator::Authenticate -> invalid data.\n");
        fail("Authenticate", CKR_USER_NOT_LOGGED_IN);
    }
    CP11Token_eiD *token = m_token;
    _qv_md_card_struct *card = token->GetCard();
    if (card == nullptr) {
        hl_log(HL_ERROR, "CTokenAuthenticator::Authenticate -> invalid data.\n");
        fail("Authenticate", CKR_DEVICE_ERROR);
    }
    unsigned char state = 0;
    uint32_t rv = authState(card, &state);
    if (rv != 0) {
        hl_log(HL_ERROR,
               "CTokenAuthenticator::Authenticate -> QVMD_GetInfo function call failed (0x%.8x).\n",
               rv);
        fail("Authenticate", CKR_DEVICE_ERROR);
    }
    try {
        if ((token->tokenCacheSynchronize(QVMD_CACHE_PIN) & QVMD_CACHE_PIN) != 0) {
            // The cached PIN may be stale: it is never presented again.
            hl_log(HL_ERROR, "CTokenAuthenticator::Authenticate -> PIN changed!\n");
            forget(token);
            throw CP11Exception(CKR_USER_NOT_LOGGED_IN);
        }
    } catch (CP11Exception &e) {
        fail("Authenticate", e.GetErrorCode());
    }
    if (state != ROLE_NOBODY) {
        hl_log(HL_WARNING, "CTokenAuthenticator::Authenticate -> logged role ( %d )!\n",
               (int)state);
        hl_log(HL_LEAVE, "CP11Token_eiD::CTokenAuthenticator::Authenticate( %s )\n", "FALSE");
        return false;
    }
    CDesEncryptor decryptor(CacheKey()); // wipes the plain PIN when it goes
    if (!decryptor.Decrypt(m_secret.GetData(), m_secret.GetSize())) {
        hl_log(HL_ERROR, "CTokenAuthenticator::Authenticate -> PIN decryption has failed!\n");
        fail("Authenticate", CKR_GENERAL_ERROR);
    }
    long tries = -1;
    rv = QVMD_Authenticate(card, m_role, 1, decryptor.Get().GetData(), decryptor.Get().GetSize(),
                           nullptr, nullptr, &tries, 0);
    if (rv != 0) {
        hl_log(HL_ERROR,
               "CTokenAuthenticator::Authenticate -> QVMD_Authenticate function call failed "
               "(0x%.8x).\n",
               rv);
        if (rv != QV_W_WRONG_CHV && rv != QV_W_CHV_BLOCKED)
            fail("Authenticate", CKR_DEVICE_ERROR); // no answer about the PIN
        // a PIN the card refuses is never presented again
        forget(token);
        fail("Authenticate",
             tries == 0 || rv == QV_W_CHV_BLOCKED ? CKR_PIN_LOCKED : CKR_PIN_INCORRECT);
    }
    hl_log(HL_LEAVE, "CP11Token_eiD::CTokenAuthenticator::Authenticate( %s )\n", "TRUE");
    return true;
}

void CP11Token_eiD::CTokenAuthenticator::forget(CP11Token_eiD *token)
{
    // what the card is asked on the way is only the visible list and the flags
    try {
        token->logoutEverywhere();
    } catch (CP11Exception &) {
    }
}

void CP11Token_eiD::CTokenAuthenticator::DeAuthenticate(CP11Token_eiD *token)
{
    hl_log(HL_ENTER, "CP11Token_eiD::CTokenAuthenticator::DeAuthenticate(%p)\n", (void *)token);
    CP11Token_eiD *t = token != nullptr ? token : m_token;
    _qv_md_card_struct *card = t != nullptr ? t->GetCard() : nullptr;
    if (card != nullptr) {
        unsigned char state = 0;
        uint32_t rv = authState(card, &state);
        if (rv != 0) {
            hl_log(HL_ERROR,
                   "CTokenAuthenticator::Deuthenticate -> QVMD_GetInfo function call failed "
                   "(0x%.8x).\n",
                   rv);
            fail("DeAuthenticate", CKR_DEVICE_ERROR);
        }
        hl_log(HL_DEBUG, "Current auth. role : ( %d ).\n", (int)state);
        if (state != ROLE_NOBODY) {
            rv = QVMD_Deauthenticate(card, ROLE_USER | ROLE_SO);
            if (rv != 0) {
                hl_log(HL_ERROR,
                       "CTokenAuthenticator::Deuthenticate -> QVMD_Deauthenticate function call "
                       "failed (0x%.8x).\n",
                       rv);
                fail("DeAuthenticate", CKR_DEVICE_ERROR);
            }
        }
    }
    hl_log(HL_LEAVE, "CP11Token_eiD::CTokenAuthenticator::DeAuthenticate( )\n");
}

unsigned char CP11Token_eiD::CTokenAuthenticator::Check()
{
    unsigned char state = 0;
    if (m_token == nullptr || m_token->GetCard() == nullptr ||
        authState(m_token->GetCard(), &state) != 0) {
        hl_log(HL_ERROR,
               "CTokenAuthenticator::Authenticate -> QVMD_GetInfo function call failed (0x%.8x).\n",
               (unsigned)0);
        throw CP11Exception(CKR_DEVICE_ERROR);
    }
    return state;
}

void CP11Token_eiD::CTokenAuthenticator::Final()
{
    hl_log(HL_ENTER, "CP11Token_eiD::CTokenAuthenticator::Final()\n");
    if (m_secret.GetData() != nullptr && !m_secret.IsBorrowed())
        mbedtls_platform_zeroize(m_secret.GetData(), m_secret.GetSize());
    m_secret.Clear();
    m_token = nullptr;
    m_role = ROLE_NOBODY;
    hl_log(HL_LEAVE, "CP11Token_eiD::CTokenAuthenticator::Final( )\n");
}

CP11Token_eiD::CAuthenticatorWorker::CAuthenticatorWorker(CTokenAuthenticator &authenticator)
    : m_authenticated(false), m_authenticator(&authenticator)
{
    m_authenticated = m_authenticator->Authenticate();
}

CP11Token_eiD::CAuthenticatorWorker::~CAuthenticatorWorker()
{
    // On the failure path of the guarded operation: its own error is the one
    // that reaches the caller, a failing de-authentication only its log line.
    try {
        Close();
    } catch (CP11Exception &) {
    }
}

void CP11Token_eiD::CAuthenticatorWorker::Close()
{
    if (!m_authenticated)
        return;
    m_authenticated = false;
    m_authenticator->DeAuthenticate(nullptr);
}
