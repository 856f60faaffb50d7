#include "base/thread.h"

#include <cerrno>
#include <cxxabi.h>

CThread::CThread() : m_started(false, false), m_finished(false, false), m_thread(0) {}

CThread::~CThread()
{
    Kill();
}

void *CThread::Entry()
{
    return nullptr;
}

void CThread::Leave() {}

// Cancellation unwinds with an exception that has no object, so the handler
// that rethrows it binds a reference to null by design: exempt from that check.
__attribute__((no_sanitize("null"))) void *CThread::ThreadProc(void *self)
{
    CThread *thread = static_cast<CThread *>(self);
    thread->m_started.SetEvent();
    void *result = nullptr;
    try {
        result = thread->Entry();
        thread->Leave();
    } catch (abi::__forced_unwind &) {
        throw; // cancellation unwinds through here
    } catch (...) {
        // An exception must not end the process from a worker thread.
        result = nullptr;
    }
    thread->m_finished.SetEvent();
    return result;
}

// A thread that has ended is joined here at once (the handle is cleared), so an
// ended thread never counts as alive and its resources are never lost.
bool CThread::IsAlive()
{
    if (m_thread == 0)
        return false;
    int rc = pthread_tryjoin_np(m_thread, nullptr);
    if (rc == 0) {
        m_thread = 0;
        return false;
    }
    return rc == EBUSY || rc == EDEADLK;
}

bool CThread::Run()
{
    if (IsAlive())
        return false;
    m_started.ResetEvent();
    m_finished.ResetEvent();
    pthread_t handle;
    if (pthread_create(&handle, nullptr, &CThread::ThreadProc, this) != 0)
        return false;
    m_thread = handle;
    m_started.Wait(CEvent::INFINITE);
    return true;
}

bool CThread::Wait(unsigned long ms)
{
    if (m_thread == 0)
        return true;
    if (ms != 0xFFFFFFFFUL) {
        if (m_finished.Wait(ms) == CEvent::WAIT_TIMEOUT)
            pthread_cancel(m_thread);
    }
    if (pthread_join(m_thread, nullptr) == 0)
        m_thread = 0;
    return true;
}

bool CThread::Kill()
{
    if (!IsAlive())
        return false;
    pthread_cancel(m_thread);
    bool joined = pthread_join(m_thread, nullptr) == 0;
    if (joined)
        m_thread = 0;
    return joined;
}
