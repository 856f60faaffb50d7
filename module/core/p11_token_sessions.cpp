// Bookkeeping of the generic token: its open sessions and the token objects
// they see, the handles of both, session states, and the release of it all.
#include <p11-kit/pkcs11.h>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "channel/card_connection.h"
#include "channel/channel.h"
#include "core/core_support.h"
#include "core/p11_session.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"
#include "objects/p11_object.h"

using vok_core::rethrow;

namespace
{

// Session-object handles keep within the 32 bits of a CK_OBJECT_HANDLE on
// every platform.
constexpr unsigned long SESSION_OBJECT_HANDLE_LAST = 0xFFFFFFFFUL;
constexpr unsigned long SESSION_COUNTER_MASK = 0xFFFFUL;

} // namespace

CP11Session *CP11Token::GetSession(unsigned long handle)
{
    hl_log(HL_ENTER, "CP11Token::GetSession(0x%.8lx)\n", handle);
    for (CList<CP11Session *>::Iterator it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        CP11Session *session = *it;
        if (session != nullptr && session->FindLongAttribute(SESSION_A_ID) == handle) {
            hl_log(HL_LEAVE, "CP11Token::GetSession( %p )\n", (void *)session);
            return session;
        }
    }
    rethrow("CP11Token::GetSession", CKR_SESSION_HANDLE_INVALID);
}

CP11Object *CP11Token::GetObject(unsigned long handle)
{
    hl_log(HL_ENTER, "CP11Token::GetObject(0x%.8lx)\n", handle);
    for (CList<CP11Object *>::Iterator it = m_objects.begin(); it != m_objects.end(); ++it) {
        CP11Object *object = *it;
        if (object != nullptr && object->GetHandle() == handle) {
            hl_log(HL_LEAVE, "CP11Token::GetObject( %p )\n", (void *)object);
            return object;
        }
    }
    rethrow("CP11Token::GetObject", CKR_OBJECT_HANDLE_INVALID);
}

void CP11Token::RemoveObject(CP11Object *object)
{
    hl_log(HL_ENTER, "CP11Token::RemoveObject(%p)\n", (void *)object);
    for (CList<CP11Object *>::Iterator it = m_objects.begin(); it != m_objects.end(); ++it) {
        if (*it == object) {
            m_objects.Erase(it);
            break;
        }
    }
    hl_log(HL_LEAVE, "CP11Token::RemoveObject( )\n");
}

CP11Object *CP11Token::RemoveObject(unsigned long handle)
{
    hl_log(HL_ENTER, "CP11Token::RemoveObject(0x%.8lx)\n", handle);
    for (CList<CP11Object *>::Iterator it = m_objects.begin(); it != m_objects.end(); ++it) {
        CP11Object *object = *it;
        if (object != nullptr && object->GetHandle() == handle) {
            m_objects.Erase(it);
            hl_log(HL_LEAVE, "CP11Token::RemoveObject( %p )\n", (void *)object);
            return object;
        }
    }
    rethrow("CP11Token::RemoveObject", CKR_OBJECT_HANDLE_INVALID);
}

void CP11Token::releaseObjects()
{
    hl_log(HL_ENTER, "CP11Token::releaseObjects()\n");
    CList<CP11Object *>::Iterator it = m_objects.begin();
    while (it != m_objects.end()) {
        CList<CP11Object *>::Iterator current = it;
        ++it;
        CP11Object *object = *current;
        hl_log(HL_DEBUG, "Object : %p\n", (void *)object);
        if (object != nullptr) {
            hl_log(HL_INFO, "Object(%p) handle[ 0x%.8lx ( %lu ) ] released\n", (void *)object,
                   object->GetHandle(), object->GetHandle());
            delete object;
        }
        m_objects.Erase(current);
    }
    hl_log(HL_LEAVE, "CP11Token::releaseObjects( )\n");
}

unsigned long CP11Token::getSessionCount(unsigned long flags, bool exact)
{
    hl_log(HL_ENTER, "CP11Token::getSessionCount(0x%.8lx,%s)\n", flags,
           exact ? "EXACT" : "NON-EXACT");
    unsigned long count = 0;
    for (CList<CP11Session *>::Iterator it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        if (*it == nullptr)
            continue;
        unsigned long own = (*it)->FindLongAttribute(SESSION_A_FLAGS);
        if (exact ? own == flags : (own & flags) == flags)
            ++count;
    }
    hl_log(HL_LEAVE, "CP11Token::getSessionCount( 0x%.8lx )\n", count);
    return count;
}

void CP11Token::removeSession(CP11Session *session)
{
    hl_log(HL_ENTER, "CP11Token::removeSession(%p)\n", (void *)session);
    for (CList<CP11Session *>::Iterator it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        if (*it == session) {
            m_sessions.Erase(it);
            if (session != nullptr) {
                unsigned long id = session->FindLongAttribute(SESSION_A_ID);
                hl_log(HL_INFO, "Session(%p) ID[ 0x%.8lx ( %lu ) ] removed.\n", (void *)session, id,
                       id);
            }
            break;
        }
    }
    hl_log(HL_LEAVE, "CP11Token::removeSession( )\n");
}

void CP11Token::releaseSessions()
{
    hl_log(HL_ENTER, "CP11Token::releaseSessions()\n");
    // Each session is unlinked before it is deleted, so that nothing a
    // session's destructor asks of the token finds it half gone.
    while (m_sessions.begin() != m_sessions.end()) {
        CList<CP11Session *>::Iterator first = m_sessions.begin();
        CP11Session *session = *first;
        hl_log(HL_DEBUG, "Session : %p\n", (void *)session);
        m_sessions.Erase(first);
        if (session != nullptr) {
            unsigned long id = session->FindLongAttribute(SESSION_A_ID);
            hl_log(HL_INFO, "Session(%p) ID[ 0x%.8lx ( %lu ) ] released.\n", (void *)session, id,
                   id);
            delete session;
        }
    }
    m_sessionObjectCounter = SESSION_OBJECT_HANDLE_BASE;
    hl_log(HL_LEAVE, "CP11Token::releaseSessions( )\n");
}

void CP11Token::CloseAllSessions()
{
    hl_log(HL_ENTER, "CP11Token::CloseAllSessions()\n");
    try {
        releaseSessions();
        SetAttribute(TOKEN_A_OPEN_SESSIONS, 0UL);
        SetAttribute(TOKEN_A_OPEN_RW_SESSIONS, 0UL);
    } catch (CP11Exception &e) {
        rethrow("CP11Token::CloseAllSessions", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Token::CloseAllSessions( )\n");
}

void CP11Token::logoutSessions()
{
    hl_log(HL_ENTER, "CP11Token::logoutSessions()\n");
    for (CList<CP11Session *>::Iterator it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        hl_log(HL_DEBUG, "Session : %p\n", (void *)*it);
        if (*it != nullptr)
            (*it)->Logout();
    }
    hl_log(HL_LEAVE, "CP11Token::logoutSessions( )\n");
}

void CP11Token::updateSessionsState(unsigned long userType)
{
    hl_log(HL_ENTER, "CP11Token::updateSessionsState(%s)\n",
           userType == CKU_SO     ? "CKU_SO"
           : userType == CKU_USER ? "CKU_USER"
                                  : "CKU_CONTEXT_SPECIFIC");
    try {
        for (CList<CP11Session *>::Iterator it = m_sessions.begin(); it != m_sessions.end(); ++it) {
            CP11Session *session = *it;
            hl_log(HL_DEBUG, "Session           : %p\n", (void *)session);
            if (session == nullptr)
                continue;
            bool rw = (session->FindLongAttribute(SESSION_A_FLAGS) & CKF_RW_SESSION) != 0;
            hl_log(HL_DEBUG, "Session flags     : %s\n", rw ? "CKF_RW_SESSION" : "-");
            unsigned long state;
            char const *name;
            if (rw && userType == CKU_USER) {
                state = CKS_RW_USER_FUNCTIONS;
                name = "CKS_RW_USER_FUNCTIONS";
            } else if (rw && userType == CKU_SO) {
                state = CKS_RW_SO_FUNCTIONS;
                name = "CKS_RW_SO_FUNCTIONS";
            } else if (rw) {
                state = CKS_RW_PUBLIC_SESSION;
                name = "CKS_RW_PUBLIC_SESSION";
            } else if (userType == CKU_USER) {
                state = CKS_RO_USER_FUNCTIONS;
                name = "CKS_RO_USER_FUNCTIONS";
            } else if (userType == CKU_SO) {
                hl_log(HL_ERROR, "Session(%p) is  READ ONLY!\n", (void *)session);
                throw CP11Exception(CKR_SESSION_READ_ONLY);
            } else {
                state = CKS_RO_PUBLIC_SESSION;
                name = "CKS_RO_PUBLIC_SESSION";
            }
            hl_log(HL_DEBUG, "Session new state : %s\n", name);
            session->SetAttribute(SESSION_A_STATE, state);
        }
    } catch (CP11Exception &e) {
        rethrow("CP11Token::updateSessionsState", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Token::updateSessionsState( )\n");
}

void CP11Token::Finalize()
{
    hl_log(HL_ENTER, "CP11Token::Finalize()\n");
    try {
        releaseSessions();
        SetAttribute(TOKEN_A_OPEN_SESSIONS, 0UL);
        SetAttribute(TOKEN_A_OPEN_RW_SESSIONS, 0UL);
        releaseObjects();
        if (m_connection != nullptr && m_slot != nullptr && m_slot->GetChannel() != nullptr) {
            m_slot->GetChannel()->Disconnect(m_connection, 0);
            delete m_connection;
            m_connection = nullptr;
        }
    } catch (CP11Exception &e) {
        rethrow("CP11Token::Finalize", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Token::Finalize( )\n");
}

unsigned long CP11Token::newSessionHandle()
{
    unsigned long slotId = m_slot != nullptr ? m_slot->FindLongAttribute(SLOT_A_ID) : 0;
    unsigned long base = slotId << 16;
    // 65535 counter values; at most one pass over them finds a free one.
    for (unsigned long tries = 0; tries < SESSION_COUNTER_MASK; ++tries) {
        m_sessionCounter = (m_sessionCounter & SESSION_COUNTER_MASK) + 1;
        if (m_sessionCounter > SESSION_COUNTER_MASK)
            m_sessionCounter = 1;
        unsigned long handle = base | m_sessionCounter;
        bool used = false;
        for (CList<CP11Session *>::Iterator it = m_sessions.begin();
             it != m_sessions.end() && !used; ++it)
            used = *it != nullptr && (*it)->FindLongAttribute(SESSION_A_ID) == handle;
        if (!used)
            return handle;
    }
    hl_log(HL_ERROR, "No session handle left on slot 0x%.8lx\n", slotId);
    throw CP11Exception(CKR_SESSION_COUNT);
}

unsigned long CP11Token::nextSessionObjectHandle(unsigned long after) const
{
    unsigned long handle = after != 0 ? after : m_sessionObjectCounter;
    unsigned long held = 0;
    for (CList<CP11Session *>::Iterator it = m_sessions.begin(); it != m_sessions.end(); ++it)
        if (*it != nullptr)
            held += (*it)->GetObjects().Count();
    // With n handles held, n + 1 candidates hold a free one.
    for (unsigned long tries = 0; tries <= held; ++tries) {
        ++handle;
        if (handle <= SESSION_OBJECT_HANDLE_BASE || handle > SESSION_OBJECT_HANDLE_LAST)
            handle = SESSION_OBJECT_HANDLE_BASE + 1;
        if (findObject(handle) == nullptr)
            return handle;
    }
    throw CP11Exception(CKR_HOST_MEMORY);
}

void CP11Token::sessionObjectHandleTaken(unsigned long handle)
{
    m_sessionObjectCounter = handle;
}

void CP11Token::sessionObjectsReleased()
{
    for (CList<CP11Session *>::Iterator it = m_sessions.begin(); it != m_sessions.end(); ++it)
        if (*it != nullptr && (*it)->GetObjects().Count() != 0)
            return;
    m_sessionObjectCounter = SESSION_OBJECT_HANDLE_BASE;
}

CP11Object *CP11Token::findObject(unsigned long handle, CP11Session **owner) const
{
    if (owner != nullptr)
        *owner = nullptr;
    for (CList<CP11Object *>::Iterator it = m_objects.begin(); it != m_objects.end(); ++it)
        if (*it != nullptr && (*it)->GetHandle() == handle)
            return *it;
    for (CList<CP11Session *>::Iterator it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        if (*it == nullptr)
            continue;
        CP11Object *object = (*it)->findObject(handle);
        if (object != nullptr) {
            if (owner != nullptr)
                *owner = *it;
            return object;
        }
    }
    return nullptr;
}
