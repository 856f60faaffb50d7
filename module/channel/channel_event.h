// A reader or card event raised by a channel and handed to its manager. Events live
// on the stack (or in the monitor) of the raising thread and are valid only during
// CChannelManager::OnChannelEvent.
#pragma once

#include "base/blob.h"

class CChannel;

enum : unsigned long {
    EVT_CHANNEL_READER_FOUND = 0x01,        // attached when the channel started watching
    EVT_CHANNEL_READER_CONNECTED = 0x02,    // attached later
    EVT_CHANNEL_READER_DISCONNECTED = 0x04, // detached
    EVT_CHANNEL_CARD_INSERTED = 0x08,       // a card became present (or was present at start)
    EVT_CHANNEL_CARD_REMOVED = 0x10,        // the card left the reader
};

class CChannelEvent
{
  public:
    CChannelEvent();
    CChannelEvent(CChannel *channel, CBlob const &reader, unsigned long eventId);
    virtual ~CChannelEvent();

    CChannel *GetChannel() const { return m_channel; }
    CBlob &GetReader() { return m_reader; }
    unsigned long GetEventId() const { return m_eventId; }

    void SetChannel(CChannel *channel) { m_channel = channel; }
    void SetReader(CBlob const &reader) { m_reader.Set(reader); }
    void SetEventId(unsigned long eventId) { m_eventId = eventId; }

    // The names of the set bits in bit order joined by " | " (unknown bits in hex).
    static CBlob EventNames(unsigned long eventId);

  private:
    CChannelEvent(CChannelEvent const &) = delete;
    CChannelEvent &operator=(CChannelEvent const &) = delete;

    CChannel *m_channel;
    CBlob m_reader;
    unsigned long m_eventId;
};
