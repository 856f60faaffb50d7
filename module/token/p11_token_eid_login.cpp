// Login and PIN management of the identity-card token. The PKCS#11 user is the
// card's user PIN (role 2), the security officer its PUK (role 4). A login
// verifies the PIN on the card and caches it encrypted; the security officer's
// PUK is kept, encrypted too, by the session it logged in on, for InitPIN.
//
// Invariants:
// - Every session's state follows the PIN cache: all public, all user or all
//   security officer. Whenever a login ends (logout, a changed PIN, a PIN the
//   card refuses, a failed login) every session is made public, loses its
//   private session objects and its PUK, and the visible objects become the
//   public ones.
// - The module never presents a PIN the user did not type for this login: a
//   cached PIN is dropped when the card's PIN counter moved or the card refused
//   it, and the token's own PIN changes raise that counter for other processes.
// - PIN and PUK bytes exist in plain only in the caller's buffers and in
//   decryptors that wipe them.
#include <mbedtls/platform_util.h>

#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "channel/channel_locker.h"
#include "core/p11_session.h"
#include "crypto/des_encryptor.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;
using vok_log::HL_ERROR;

namespace
{

// Shortest new PIN of each role.
unsigned long const MIN_USER_PIN = 5;
unsigned long const MIN_PUK = 8;

bool loggedIn(unsigned long state)
{
    return state == CKS_RO_USER_FUNCTIONS || state == CKS_RW_USER_FUNCTIONS ||
           state == CKS_RW_SO_FUNCTIONS;
}

unsigned long stateOf(CP11Session *session)
{
    return session->FindLongAttribute(SESSION_A_STATE);
}

[[noreturn]] void invalidState(unsigned long session, unsigned long state)
{
    hl_log(HL_ERROR, "Session(0x%.8lx) state invalid (0x%.8lx).\n", session, state);
    throw CP11Exception(CKR_USER_NOT_LOGGED_IN);
}

// A change or unblock the card refused for its PIN: the tries dropped, none
// are left, or the card called the PIN wrong.
bool pinRefused(uint32_t rv, long before, long after)
{
    return after == 0 || after < before || rv == QV_W_WRONG_CHV || rv == QV_W_CHV_BLOCKED;
}

// The code of a change or unblock the card did not carry out: the PIN refused,
// else a card failure.
[[noreturn]] void pinCommandFailed(char const *function, uint32_t rv, long before, long after)
{
    if (after == 0 || rv == QV_W_CHV_BLOCKED)
        throw CP11Exception(CKR_PIN_LOCKED);
    if (pinRefused(rv, before, after))
        throw CP11Exception(CKR_PIN_INCORRECT);
    hl_log(HL_ERROR, "%s function call failed.\n", function);
    throw CP11Exception(CKR_DEVICE_ERROR);
}

} // namespace

void CP11Token_eiD::clearPuk(CP11Session *session)
{
    CBlob *puk = session->PukGet();
    if (puk->GetData() != nullptr && !puk->IsBorrowed())
        mbedtls_platform_zeroize(puk->GetData(), puk->GetSize());
    session->PukSet(nullptr, 0);
}

void CP11Token_eiD::logoutEverywhere(bool rebuild)
{
    m_authenticator.Final();
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
        clearPuk(*it);
    logoutSessions();
    updateSessionsState(~0UL);
    unsigned long rv = CKR_OK;
    try {
        updateTokenPinInfo();
    } catch (CP11Exception &e) {
        rv = e.GetErrorCode();
    }
    if (rebuild) {
        try {
            updateObjects(false);
        } catch (CP11Exception &e) {
            m_objects.Clear(); // never a private object left listed
            if (rv == CKR_OK)
                rv = e.GetErrorCode();
        }
    }
    if (rv != CKR_OK)
        throw CP11Exception(rv);
}

void CP11Token_eiD::readPinRecords()
{
    if (QVMD_GetInfo(m_card, m_card->info, QVMD_INFO_PIN_PROPERTIES) != 0)
        cardFailed("QVMD_GetInfo");
}

_qv_md_pin_info_struct const &CP11Token_eiD::pinRecord(unsigned char role)
{
    _qv_md_info_struct const *info = m_card->info;
    for (unsigned i = 0; i < info->pinCount && i < QVMD_MAX_PINS; ++i)
        if (info->pins[i].roleMask == role)
            return info->pins[i];
    hl_log(HL_ERROR, "No PIN record of role ( %d ).\n", (int)role);
    throw CP11Exception(CKR_DEVICE_ERROR);
}

void CP11Token_eiD::pinChanged()
{
    if (QVMD_OperationChangeCache(m_card, QVMD_CACHE_PIN) != 0)
        cardFailed("QVMD_OperationChangeCache");
    tokenCacheSynchronize(QVMD_CACHE_PIN);
}

void CP11Token_eiD::Login(unsigned long session, unsigned long userType, unsigned char *pin,
                          unsigned long pinLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::Login(0x%.8lx,0x%.8lx,%p,0x%.8lx)\n", session, userType,
           (void *)pin, pinLength);
    deviceFrame("Login", [&] {
        if (userType != CKU_SO && userType != CKU_USER)
            throw CP11Exception(CKR_USER_TYPE_INVALID);
        if (pin == nullptr || pinLength == 0)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        CP11Session *s = GetSession(session);
        bool so = userType == CKU_SO;
        if (so && getSessionCount(CKF_SERIAL_SESSION, true) != 0)
            throw CP11Exception(CKR_SESSION_READ_ONLY_EXISTS);
        if ((m_authenticator.GetAuthRole() & (so ? ROLE_SO : ROLE_USER)) != 0)
            throw CP11Exception(CKR_USER_ALREADY_LOGGED_IN);

        // Refusals above leave the login as it was; from here the cache is
        // replaced, and a failure leaves the token public.
        CChannelLocker locker(channel(), m_connection);
        try {
            // a counter moved earlier concerns the PIN cached then, not this one
            tokenCacheSynchronize(QVMD_CACHE_PIN);
            // the card checks this PIN whatever another application left open
            m_authenticator.DeAuthenticate(this);
            if (!m_authenticator.Init(this, so ? ROLE_SO : ROLE_USER, pin, pinLength))
                throw CP11Exception(CKR_GENERAL_ERROR);
            for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
                clearPuk(*it);
            CAuthenticatorWorker worker(m_authenticator);
            updateSessionsState(userType);
            updateTokenPinInfo();
            updateObjects(true);
            if (so) {
                CDesEncryptor sealed(CTokenAuthenticator::CacheKey());
                if (!sealed.Encrypt(pin, pinLength))
                    throw CP11Exception(CKR_GENERAL_ERROR);
                s->PukSet(sealed.Get().GetData(), sealed.Get().GetSize());
            }
            worker.Close();
        } catch (CP11Exception &) {
            try {
                logoutEverywhere();
            } catch (CP11Exception &) {
            }
            throw;
        }
    });
}

void CP11Token_eiD::Logout(unsigned long session)
{
    hl_log(HL_ENTER, "CP11Token_eiD::Logout(0x%.8lx)\n", session);
    deviceFrame("Logout", [&] {
        unsigned long state = stateOf(GetSession(session));
        if (!loggedIn(state))
            invalidState(session, state);
        CChannelLocker locker(channel(), m_connection);
        // the login ends here even when the card cannot be reached
        unsigned long rv = CKR_OK;
        try {
            m_authenticator.DeAuthenticate(nullptr);
        } catch (CP11Exception &e) {
            rv = e.GetErrorCode();
        }
        try {
            logoutEverywhere();
        } catch (CP11Exception &e) {
            if (rv == CKR_OK)
                rv = e.GetErrorCode();
        }
        if (rv != CKR_OK)
            throw CP11Exception(rv);
    });
}

void CP11Token_eiD::SetPIN(unsigned long session, unsigned char *oldPin, unsigned long oldLength,
                           unsigned char *newPin, unsigned long newLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::SetPIN(0x%.8lx,%p,0x%.8lx,%p,0x%.8lx)\n", session,
           (void *)oldPin, oldLength, (void *)newPin, newLength);
    deviceFrame("SetPIN", [&] {
        if (oldPin == nullptr || oldLength == 0 || newPin == nullptr || newLength == 0)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        unsigned long state = stateOf(GetSession(session));
        unsigned char role;
        if (state == CKS_RW_SO_FUNCTIONS)
            role = ROLE_SO;
        else if (state == CKS_RW_PUBLIC_SESSION || state == CKS_RW_USER_FUNCTIONS)
            role = ROLE_USER;
        else
            throw CP11Exception(CKR_SESSION_READ_ONLY);
        if (newLength < (role == ROLE_SO ? MIN_PUK : MIN_USER_PIN) ||
            newLength > FindLongAttribute(TOKEN_A_MAX_PIN_LEN))
            throw CP11Exception(CKR_PIN_LEN_RANGE);

        CChannelLocker locker(channel(), m_connection);
        readPinRecords();
        _qv_md_pin_info_struct const &record = pinRecord(role);
        long before = (long)record.triesRemaining, tries = before;
        uint32_t rv =
            QVMD_ChangeAuthenticator(m_card, role, QVMD_AUTH_PIN, oldPin, oldLength, newPin,
                                     newLength, (unsigned char)record.tryLimit, &tries, 0);
        if (rv != 0) {
            try {
                updateTokenPinInfo(); // the tries the refusal cost
            } catch (CP11Exception &) {
            }
            pinCommandFailed("QVMD_ChangeAuthenticator", rv, before, tries);
        }
        // A PIN cached before is stale now: whoever was logged in is logged out.
        if (state == CKS_RW_PUBLIC_SESSION) {
            m_authenticator.DeAuthenticate(this);
            m_authenticator.Final();
        } else {
            m_authenticator.DeAuthenticate(nullptr);
            logoutEverywhere();
        }
        updateTokenPinInfo();
        pinChanged();
    });
}

void CP11Token_eiD::InitPIN(unsigned long session, unsigned char *pin, unsigned long pinLength)
{
    hl_log(HL_ENTER, "CP11Token_eiD::InitPIN(0x%.8lx,%p,0x%.8lx)\n", session, (void *)pin,
           pinLength);
    deviceFrame("InitPIN", [&] {
        if (pin == nullptr || pinLength == 0)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        if (pinLength < MIN_USER_PIN || pinLength > FindLongAttribute(TOKEN_A_MAX_PIN_LEN))
            throw CP11Exception(CKR_PIN_LEN_RANGE);
        CP11Session *s = GetSession(session);
        unsigned long state = stateOf(s);
        if (state != CKS_RW_SO_FUNCTIONS)
            invalidState(session, state);

        CChannelLocker locker(channel(), m_connection);
        if ((tokenCacheSynchronize(QVMD_CACHE_PIN) & QVMD_CACHE_PIN) != 0) {
            // the PUK kept since the login may have been changed elsewhere
            hl_log(HL_ERROR, "CP11Token_eiD::InitPIN -> PIN changed!\n");
            logoutEverywhere();
            throw CP11Exception(CKR_USER_NOT_LOGGED_IN);
        }
        readPinRecords();
        unsigned char limit = (unsigned char)pinRecord(ROLE_USER).tryLimit;
        long before = (long)pinRecord(ROLE_SO).triesRemaining, tries = before;
        CDesEncryptor puk(CTokenAuthenticator::CacheKey()); // wipes the plain PUK
        CBlob *sealed = s->PukGet();
        if (sealed->GetSize() == 0 || !puk.Decrypt(sealed->GetData(), sealed->GetSize()))
            throw CP11Exception(CKR_GENERAL_ERROR);
        uint32_t rv =
            QVMD_Unblock(m_card, ROLE_SO, QVMD_AUTH_PIN, puk.Get().GetData(), puk.Get().GetSize(),
                         ROLE_USER, QVMD_AUTH_PIN, pin, pinLength, limit, &tries, 0);
        if (rv != 0) {
            try {
                // a PUK the card refuses is not presented again
                if (pinRefused(rv, before, tries))
                    logoutEverywhere();
                else
                    updateTokenPinInfo();
            } catch (CP11Exception &) {
            }
            pinCommandFailed("QVMD_Unblock", rv, before, tries);
        }
        updateTokenPinInfo();
        pinChanged();
    });
}
