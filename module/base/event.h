// Manual- or auto-reset event. Wait returns 0 when signalled, 258 on time-out.
#pragma once

#include "base/mutex.h"

#include <pthread.h>

class CEvent
{
  public:
    enum : unsigned long {
        WAIT_OBJECT_0 = 0,
        WAIT_TIMEOUT = 258,
        INFINITE = static_cast<unsigned long>(-1),
    };

    CEvent(bool manualReset, bool initialState);
    ~CEvent();

    void SetEvent();
    void ResetEvent();
    // ms (unsigned long)-1 waits without a deadline.
    unsigned long Wait(unsigned long ms);

    struct _HANDLE {
        CMutex mutex;
    };

  private:
    CEvent(CEvent const &) = delete;
    CEvent &operator=(CEvent const &) = delete;

    _HANDLE m_handle;
    pthread_cond_t m_cond;
    bool m_manualReset;
    bool m_signalled;
};
