#include "base/event.h"

#include <cerrno>
#include <ctime>

CEvent::CEvent(bool manualReset, bool initialState)
    : m_manualReset(manualReset), m_signalled(initialState)
{
    // Deadlines run on the monotonic clock, so setting the wall clock neither
    // shortens nor stretches a wait.
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&m_cond, &attr);
    pthread_condattr_destroy(&attr);
}

CEvent::~CEvent()
{
    pthread_cond_destroy(&m_cond);
}

void CEvent::SetEvent()
{
    CMutexLocker lock(m_handle.mutex);
    if (m_manualReset)
        pthread_cond_broadcast(&m_cond);
    else
        pthread_cond_signal(&m_cond);
    m_signalled = true;
}

void CEvent::ResetEvent()
{
    CMutexLocker lock(m_handle.mutex);
    m_signalled = false;
}

unsigned long CEvent::Wait(unsigned long ms)
{
    CMutexLocker lock(m_handle.mutex);
    if (!m_signalled) {
        if (ms == 0)
            return WAIT_TIMEOUT;
        pthread_mutex_t *raw = m_handle.mutex;
        if (ms == INFINITE) {
            while (!m_signalled) {
                if (pthread_cond_wait(&m_cond, raw) != 0)
                    break;
            }
        } else {
            timespec deadline;
            clock_gettime(CLOCK_MONOTONIC, &deadline);
            deadline.tv_sec += static_cast<time_t>(ms / 1000);
            deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
            if (deadline.tv_nsec >= 1000000000L) {
                deadline.tv_sec += 1;
                deadline.tv_nsec -= 1000000000L;
            }
            while (!m_signalled) {
                if (pthread_cond_timedwait(&m_cond, raw, &deadline) != 0)
                    break;
            }
        }
    }
    if (!m_signalled)
        return WAIT_TIMEOUT;
    if (!m_manualReset)
        m_signalled = false;
    return WAIT_OBJECT_0;
}
