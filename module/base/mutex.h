// Recursive mutex with a lock counter, and its scope lock.
#pragma once

#include <pthread.h>

class CMutex
{
  public:
    CMutex();
    virtual ~CMutex();

    bool Lock();
    bool TryLock();
    bool UnLock();
    bool IsLocked() const;

    // The raw mutex, for a condition wait.
    operator pthread_mutex_t *() const;

  private:
    CMutex(CMutex const &) = delete;
    CMutex &operator=(CMutex const &) = delete;

    mutable pthread_mutex_t m_mutex;
    int m_count;
};

class CMutexLocker
{
  public:
    explicit CMutexLocker(CMutex &mutex);
    ~CMutexLocker();

  private:
    CMutexLocker(CMutexLocker const &) = delete;
    CMutexLocker &operator=(CMutexLocker const &) = delete;

    bool m_locked;
    CMutex &m_mutex;
};
