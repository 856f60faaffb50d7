#include "base/mutex.h"

CMutex::CMutex() : m_count(0)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

CMutex::~CMutex()
{
    while (m_count != 0)
        UnLock();
    pthread_mutex_destroy(&m_mutex);
}

bool CMutex::Lock()
{
    if (pthread_mutex_lock(&m_mutex) != 0)
        return false;
    ++m_count;
    return true;
}

bool CMutex::TryLock()
{
    if (pthread_mutex_trylock(&m_mutex) != 0)
        return false;
    ++m_count;
    return true;
}

bool CMutex::UnLock()
{
    if (m_count > 0)
        --m_count;
    return pthread_mutex_unlock(&m_mutex) == 0;
}

bool CMutex::IsLocked() const
{
    return m_count >= 1;
}

CMutex::operator pthread_mutex_t *() const
{
    return &m_mutex;
}

CMutexLocker::CMutexLocker(CMutex &mutex) : m_locked(mutex.Lock()), m_mutex(mutex) {}

CMutexLocker::~CMutexLocker()
{
    if (m_locked)
        m_mutex.UnLock();
}
