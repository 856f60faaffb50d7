// A channel manager for tests: records every event it receives and can hold one
// delivery until the test lets it go.
#pragma once

#include "channel/channel.h"
#include "channel/channel_event.h"
#include "channel/channel_manager.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

struct RecordedEvent {
    std::string reader;
    unsigned long id;
    CChannel *channel;
    bool operator==(RecordedEvent const &o) const { return reader == o.reader && id == o.id; }
};

// An expected event; the channel is not compared.
inline RecordedEvent Ev(std::string const &reader, unsigned long id)
{
    return {reader, id, nullptr};
}

inline std::ostream &operator<<(std::ostream &os, RecordedEvent const &e)
{
    return os << "{" << e.reader << ", 0x" << std::hex << e.id << std::dec << "}";
}

class RecordingManager : public CChannelManager
{
  public:
    void OnChannelEvent(CChannelEvent &event) override
    {
        CBlob &reader = event.GetReader();
        RecordedEvent record{
            std::string(reinterpret_cast<char const *>(reader.GetData()), reader.GetSize()),
            event.GetEventId(), nullptr};
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_holdId != 0 && record.id == m_holdId) {
            m_holdId = 0;
            m_held = true;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_released; });
            m_held = false;
        }
        record.channel = event.GetChannel(); // read after the hold, as a manager would
        m_events.push_back(record);
        m_changed.notify_all();
    }

    // The next delivery of this event id waits inside OnChannelEvent until Release.
    void HoldNext(unsigned long id)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_holdId = id;
        m_released = false;
    }
    bool WaitHeld(int ms)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_held; });
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_released = true;
        m_changed.notify_all();
    }

    std::vector<RecordedEvent> Events()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_events;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_events.size();
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.clear();
    }
    // Waits until at least n events were received.
    bool WaitCount(size_t n, int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms),
                                  [&] { return m_events.size() >= n; });
    }
    // Waits for an event with this reader and id.
    bool WaitFor(std::string const &reader, unsigned long id, int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            for (auto const &e : m_events)
                if (e.reader == reader && e.id == id)
                    return true;
            return false;
        });
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<RecordedEvent> m_events;
    unsigned long m_holdId = 0;
    bool m_held = false;
    bool m_released = true;
};
