// The thread that watches the readers of a PC/SC channel and the cards in them, and
// reports every change to the channel's manager, synchronously, on this thread.
//
// It works on a PC/SC context of its own (calls on one context are serialised by
// the reader service's client library), so Close can wake it with SCardCancel.
// It stops cooperatively: a stop flag, the cancel, and a wake-up of its sleeps;
// once stopping has begun it starts no further delivery.
#pragma once

#include "base/event.h"
#include "base/thread.h"
#include "channel/channel_event.h"
#include "channel/channel_pcsc.h"

#include <atomic>
#include <string>
#include <vector>

class CChannelManager;

class CChannelPCSC::CChannelMonitor : public CThread
{
  public:
    // The most readers watched at once; further ones are ignored (with a log line)
    // until room is free.
    enum { MAX_READERS = 17 };

    CChannelMonitor(CChannelPCSC *channel, CPCSCFunctions const &functions);
    // The thread must have ended. Releases the monitor's context.
    ~CChannelMonitor() override;

    // Establishes the monitor's own context; the PC/SC code.
    LONG EstablishContext(DWORD scope);
    // 0 once the first listing has been reported, 258 on time-out.
    unsigned long WaitReady(unsigned long ms) { return m_ready.Wait(ms); }
    // Sets the stop flag, wakes the sleeps and cancels a status-change wait.
    void RequestStop();
    // True when the thread body has ended within ms.
    bool WaitEnded(unsigned long ms) { return m_ended.Wait(ms) == CEvent::WAIT_OBJECT_0; }
    // The channel is going away while a delivery is still in progress: the event
    // carries no channel from now on.
    void Abandon() { m_event.SetChannel(nullptr); }
    // The code of the last PC/SC call, stored when the thread ends.
    LONG GetLastResult() const { return m_lastResult; }

    void *Entry() override;

  private:
    // Reader-state records and the names they point to.
    struct ReaderTable {
        SCARD_READERSTATE states[MAX_READERS];
        std::string names[MAX_READERS];
        unsigned count = 0;

        int find(std::string const &name) const;
        void add(std::string const &name);
        void assign(ReaderTable const &other);
    };

    bool start();
    bool pass();
    bool reportCardChanges();
    bool relist();
    bool deliver(std::string const &reader, unsigned long eventId);
    // SCardListReaders twice (length, then the names); the names in listing order.
    LONG listReaders(std::vector<std::string> &names);

    CChannelPCSC *m_channel;
    CPCSCFunctions const &m_functions;
    CEvent m_ready; // auto-reset: the first listing has been reported
    CEvent m_wake;  // manual-reset: stopping has begun
    CEvent m_ended; // manual-reset: the thread body has ended
    std::atomic<LONG> m_lastResult;
    std::atomic<bool> m_stop;
    SCARDCONTEXT m_context;
    bool m_hasContext;
    CChannelManager *m_manager;
    CChannelEvent m_event;
    ReaderTable m_watched;
    std::vector<std::string> m_ignored; // listed readers beyond the table's room
};
