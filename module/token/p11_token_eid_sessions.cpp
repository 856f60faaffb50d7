// Sessions of the identity-card token: the first session loads the card's objects,
// the last one releases them and ends the login, and each session's state follows
// the PIN cache's role.
#include <memory>

#include "base/linux/linux_log.h"
#include "channel/channel_locker.h"
#include "core/p11_session.h"
#include "core/p11_slot.h"
#include "token/p11_token_eid.h"

using vok_log::HL_ENTER;

namespace
{

unsigned long const MAX_SESSIONS = 16;

bool readWrite(CP11Session *session)
{
    return (session->FindLongAttribute(SESSION_A_FLAGS) & CKF_RW_SESSION) != 0;
}

unsigned long sessionState(unsigned char role, bool rw)
{
    if (role == CP11Token_eiD::ROLE_NOBODY)
        return rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    if (!rw)
        return CKS_RO_USER_FUNCTIONS;
    return (role & CP11Token_eiD::ROLE_SO) != 0 ? CKS_RW_SO_FUNCTIONS : CKS_RW_USER_FUNCTIONS;
}

} // namespace

void CP11Token_eiD::OpenSession(unsigned long flags, void *application, CK_NOTIFY notify,
                                unsigned long *session)
{
    hl_log(HL_ENTER, "CP11Token_eiD::OpenSession(0x%.8lx,%p,%p,%p)\n", flags, application,
           (void *)notify, (void *)session);
    deviceFrame("OpenSession", [&] {
        if (session == nullptr)
            throw CP11Exception(CKR_ARGUMENTS_BAD);
        *session = 0;
        if ((flags & CKF_SERIAL_SESSION) == 0)
            throw CP11Exception(CKR_SESSION_PARALLEL_NOT_SUPPORTED);
        bool rw = (flags & CKF_RW_SESSION) != 0;
        unsigned char role = m_authenticator.GetAuthRole();
        if ((role & ROLE_SO) != 0 && !rw)
            throw CP11Exception(CKR_SESSION_READ_WRITE_SO_EXISTS);
        if (rw ? getSessionCount(CKF_RW_SESSION, false) >= MAX_SESSIONS
               : m_sessions.Count() >= MAX_SESSIONS)
            throw CP11Exception(CKR_SESSION_COUNT);

        // The objects loaded for the first session go again if it does not open.
        bool first = m_sessions.Count() == 0;
        std::unique_ptr<CChannelLocker> locker;
        if (first || m_objects.Count() == 0)
            locker.reset(new CChannelLocker(channel(), m_connection));
        try {
            if (first)
                loadObjects();
            CP11Session *opened = addSession(flags, sessionState(role, rw));
            try {
                if (m_objects.Count() == 0)
                    updateObjects(role != ROLE_NOBODY);
            } catch (CP11Exception &) {
                dropSession(opened);
                throw;
            }
            *session = opened->FindLongAttribute(SESSION_A_ID);
        } catch (CP11Exception &) {
            if (first)
                releaseAll();
            throw;
        }
    });
}

CP11Session *CP11Token_eiD::addSession(unsigned long flags, unsigned long state)
{
    unsigned long handle = newSessionHandle();
    std::unique_ptr<CP11Session> created(new CP11Session(this, 0));
    created->SetAttribute(SESSION_A_BASE_OBJ_ID, SESSION_OBJECT_HANDLE_BASE);
    created->SetAttribute(SESSION_A_LAST_OBJ_ID, SESSION_OBJECT_HANDLE_BASE);
    created->SetAttribute(SESSION_A_FLAGS, flags);
    created->SetAttribute(SESSION_A_STATE, state);
    created->SetAttribute(SESSION_A_ID, handle);
    unsigned before = m_sessions.Count();
    m_sessions.PushBack(created.get());
    if (m_sessions.Count() == before)
        throw CP11Exception(CKR_HOST_MEMORY);
    countSession(created.get(), 1);
    return created.release();
}

void CP11Token_eiD::dropSession(CP11Session *session)
{
    clearPuk(session);
    removeSession(session);
    countSession(session, -1);
    delete session;
}

void CP11Token_eiD::countSession(CP11Session *session, int change)
{
    unsigned long counter = readWrite(session) ? TOKEN_A_OPEN_RW_SESSIONS : TOKEN_A_OPEN_SESSIONS;
    unsigned long open = FindLongAttribute(counter);
    SetAttribute(counter, change > 0 ? open + 1 : open != 0 ? open - 1 : 0);
}

void CP11Token_eiD::CloseSession(unsigned long session)
{
    hl_log(HL_ENTER, "CP11Token_eiD::CloseSession(0x%.8lx)\n", session);
    deviceFrame("CloseSession", [&] {
        dropSession(GetSession(session));

        bool last = m_sessions.Count() == 0;
        // Without a session the objects go, whatever the card answers below.
        try {
            CChannelLocker locker(channel(), m_connection);
            unsigned long changed = tokenCacheSynchronize(1);
            if (last || (changed & 1) != 0) {
                m_authenticator.DeAuthenticate(nullptr);
                logoutEverywhere(!last);
            }
        } catch (CP11Exception &) {
            if (last) {
                m_authenticator.Final();
                m_sessionCounter = 0;
                releaseAll();
            }
            throw;
        }
        if (last) {
            m_sessionCounter = 0;
            releaseAll();
        }
    });
}

void CP11Token_eiD::CloseAllSessions()
{
    hl_log(HL_ENTER, "CP11Token_eiD::CloseAllSessions()\n");
    deviceFrame("CloseAllSessions", [&] {
        for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
            clearPuk(*it);
        CP11Token::CloseAllSessions();
        unsigned long rv = CKR_OK;
        try {
            CChannelLocker locker(channel(), m_connection);
            m_authenticator.DeAuthenticate(nullptr);
            m_authenticator.Final();
            updateTokenPinInfo();
        } catch (CP11Exception &e) {
            rv = e.GetErrorCode();
            m_authenticator.Final();
        }
        m_sessionCounter = 0;
        releaseAll();
        if (rv != CKR_OK)
            throw CP11Exception(rv);
    });
}

void CP11Token_eiD::GetSessionInfo(unsigned long session, CK_SESSION_INFO *info)
{
    hl_log(HL_ENTER, "CP11Token_eiD::GetSessionInfo(0x%.8lx,%p)\n", session, (void *)info);
    frame("GetSessionInfo", [&] { GetSession(session)->GetInfo(info); });
}
