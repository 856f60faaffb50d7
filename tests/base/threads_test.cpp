// Mutex, event and thread classes.
#include "base/event.h"
#include "base/mutex.h"
#include "base/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

long elapsedMs(Clock::time_point since)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(Mutex, RecursiveLockingCountsAndOtherThreadsWait)
{
    CMutex m;
    EXPECT_FALSE(m.IsLocked());
    {
        CMutexLocker outer(m);
        CMutexLocker inner(m);
        EXPECT_TRUE(m.IsLocked());
        EXPECT_TRUE(m.TryLock());
        bool other = true;
        std::thread([&] { other = m.TryLock(); }).join();
        EXPECT_FALSE(other);
        EXPECT_TRUE(m.UnLock());
    }
    EXPECT_FALSE(m.IsLocked());
    bool other = false;
    std::thread([&] {
        other = m.TryLock();
        if (other)
            m.UnLock();
    }).join();
    EXPECT_TRUE(other);
    pthread_mutex_t *raw = m;
    EXPECT_NE(raw, nullptr);
}

TEST(Mutex, DestroyingAHeldMutexReleasesEveryLock)
{
    // The C library refuses to destroy a locked mutex (EBUSY) and leaves it as it
    // was; one destroyed marks itself so (kind -1). Built in place, the raw mutex
    // can be looked at after the destructor.
    alignas(CMutex) unsigned char storage[sizeof(CMutex)];
    CMutex *m = new (storage) CMutex;
    pthread_mutex_t *raw = *m;
    m->Lock();
    m->Lock();
    m->~CMutex();
    EXPECT_EQ(raw->__data.__lock, 0) << "still locked";
    EXPECT_EQ(raw->__data.__owner, 0);
    EXPECT_EQ(raw->__data.__kind, -1) << "not destroyed";
}

TEST(Event, AutoResetReleasesExactlyOneWait)
{
    CEvent e(false, false);
    EXPECT_EQ(e.Wait(0), 258UL);
    e.SetEvent();
    EXPECT_EQ(e.Wait(0), 0UL);
    EXPECT_EQ(e.Wait(0), 258UL);
    EXPECT_EQ(e.Wait(20), 258UL);

    CEvent initially(false, true);
    EXPECT_EQ(initially.Wait(0), 0UL);
    EXPECT_EQ(initially.Wait(0), 258UL);
}

TEST(Event, ManualResetReleasesEveryWaitUntilReset)
{
    CEvent e(true, false);
    std::atomic<int> released{0};
    std::thread waiters[3];
    for (auto &t : waiters)
        t = std::thread([&] {
            if (e.Wait(CEvent::INFINITE) == 0)
                ++released;
        });
    e.SetEvent();
    for (auto &t : waiters)
        t.join();
    EXPECT_EQ(released.load(), 3);
    EXPECT_EQ(e.Wait(0), 0UL);
    EXPECT_EQ(e.Wait(10), 0UL);
    e.ResetEvent();
    EXPECT_EQ(e.Wait(0), 258UL);
}

TEST(Event, TimeoutIsNeverEarlyAndSignalWakesAWaiter)
{
    CEvent e(false, false);
    // whatever the fraction of the current second, 1500 ms are waited in full
    auto start = Clock::now();
    EXPECT_EQ(e.Wait(1500), 258UL);
    long waited = elapsedMs(start);
    EXPECT_GE(waited, 1500);
    EXPECT_LT(waited, 5000);

    start = Clock::now();
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        e.SetEvent();
    });
    EXPECT_EQ(e.Wait(30000), 0UL);
    setter.join();
    EXPECT_LT(elapsedMs(start), 10000);
}

// A worker that runs until told to stop, counting its runs.
class Worker : public CThread
{
  public:
    CEvent stop{true, false};
    CEvent inEntry{true, false};
    std::atomic<int> entries{0};
    std::atomic<int> leaves{0};

    void *Entry() override
    {
        ++entries;
        inEntry.SetEvent();
        stop.Wait(CEvent::INFINITE);
        return reinterpret_cast<void *>(0x2A);
    }
    void Leave() override { ++leaves; }
};

TEST(Thread, RunWaitsForEntryAndStopsCooperatively)
{
    Worker w;
    EXPECT_FALSE(w.IsAlive());
    ASSERT_TRUE(w.Run());
    EXPECT_EQ(w.inEntry.Wait(10000), 0UL);
    EXPECT_TRUE(w.IsAlive());
    EXPECT_FALSE(w.Run()) << "a running thread is not started twice";
    EXPECT_EQ(w.entries.load(), 1);

    w.stop.SetEvent();
    EXPECT_TRUE(w.Wait(10000));
    EXPECT_FALSE(w.IsAlive());
    EXPECT_EQ(w.leaves.load(), 1);

    // after the join a new thread can be started
    w.stop.ResetEvent();
    w.inEntry.ResetEvent();
    ASSERT_TRUE(w.Run());
    EXPECT_EQ(w.inEntry.Wait(10000), 0UL);
    EXPECT_EQ(w.entries.load(), 2);
    w.stop.SetEvent();
    EXPECT_TRUE(w.Wait(0xFFFFFFFF));
    EXPECT_FALSE(w.IsAlive());
}

// Entry that never returns (sleep is a cancellation point).
class Stuck : public CThread
{
  public:
    std::atomic<bool> left{false};
    std::atomic<bool> *unwound = nullptr; // set when the thread's stack unwinds
    std::atomic<bool> entered{false};     // set once the mark above is in place
    void *Entry() override
    {
        struct Mark {
            std::atomic<bool> *flag;
            ~Mark()
            {
                if (flag != nullptr)
                    *flag = true;
            }
        } mark{unwound};
        entered = true;
        for (;;)
            sleep(1);
        return nullptr;
    }
    void Leave() override { left = true; }
};

TEST(Thread, BoundedWaitCancelsAThreadThatDoesNotEnd)
{
    Stuck s;
    ASSERT_TRUE(s.Run());
    auto start = Clock::now();
    EXPECT_TRUE(s.Wait(100));
    EXPECT_GE(elapsedMs(start), 100);
    EXPECT_FALSE(s.IsAlive());
    EXPECT_FALSE(s.left.load());
}

TEST(Thread, KillAndDestructionStopARunningThread)
{
    Stuck s;
    EXPECT_FALSE(s.Kill()) << "nothing to kill";
    ASSERT_TRUE(s.Run());
    EXPECT_TRUE(s.Kill());
    EXPECT_FALSE(s.IsAlive());

    std::atomic<bool> unwound{false};
    {
        Stuck destroyed;
        destroyed.unwound = &unwound;
        ASSERT_TRUE(destroyed.Run());
        // a thread cancelled before its body began has no stack to unwind
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!destroyed.entered && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(destroyed.entered);
    }
    EXPECT_TRUE(unwound) << "the destructor returned before its thread had ended";
}

class Quick : public CThread
{
  public:
    void *Entry() override { return nullptr; }
};

TEST(Thread, AThreadThatEndedOnItsOwnIsNotAliveAndCanRunAgain)
{
    Quick q;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(q.Run()) << i;
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (q.IsAlive() && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(q.IsAlive());
    }
    EXPECT_TRUE(q.Wait(100));
}

class Throwing : public CThread
{
  public:
    void *Entry() override { throw 42; }
};

TEST(Thread, AnExceptionFromEntryDoesNotEndTheProcess)
{
    Throwing t;
    ASSERT_TRUE(t.Run());
    EXPECT_TRUE(t.Wait(10000));
    EXPECT_FALSE(t.IsAlive());
}

} // namespace
