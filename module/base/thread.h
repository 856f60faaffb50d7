// Joinable worker thread: Run starts it and returns once Entry runs; Wait bounds
// the stop before the thread is cancelled.
//
// Entry runs at cancellation points of a thread that may be cancelled: any
// catch (...) in it must rethrow abi::__forced_unwind. Subclasses should stop
// cooperatively (a stop flag and an event) before relying on Wait or Kill.
#pragma once

#include "base/event.h"

#include <pthread.h>

class CThread
{
  public:
    CThread();
    virtual ~CThread();

    bool Run();
    bool IsAlive();
    // ms 0xFFFFFFFF joins without limit; any other value waits that long for the
    // end of Entry and Leave, then cancels. Always true.
    bool Wait(unsigned long ms);
    bool Kill();

    static void *ThreadProc(void *self);

    // The thread's work; the result is the thread's exit value. Base: NULL.
    virtual void *Entry();
    // Runs after Entry on the thread. Base: nothing.
    virtual void Leave();

  private:
    CThread(CThread const &) = delete;
    CThread &operator=(CThread const &) = delete;

    CEvent m_started;
    CEvent m_finished;
    pthread_t m_thread;
};
