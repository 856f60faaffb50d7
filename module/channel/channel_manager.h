// The owner of reader channels: registers them, gives them ids and receives their
// events on the channels' watching threads.
#pragma once

#include "base/list.h"

class CChannel;
class CChannelEvent;

class CChannelManager
{
  public:
    CChannelManager();
    virtual ~CChannelManager();

    // Called on the channel's watching thread, never on a caller's thread; an
    // override does its own locking. The base does nothing.
    virtual void OnChannelEvent(CChannelEvent &event);

    // Lists the channel (once) and gives it an id; with autoDelete the manager owns
    // it. False only for a NULL channel.
    bool RegisterChannel(CChannel *channel, bool autoDelete);
    // Removes the channel from the list (neither closed nor deleted); true when listed.
    bool UnregisterChannel(CChannel *channel);
    // Closes every open channel (deleting the ones it owns) and empties the list;
    // false when any Close failed. mode 1: the module is being unloaded.
    bool freeChannels(unsigned long mode);

    CList<CChannel *> &GetChannels() { return m_channels; }

  private:
    CChannelManager(CChannelManager const &) = delete;
    CChannelManager &operator=(CChannelManager const &) = delete;

    CList<CChannel *> m_channels;
    unsigned long m_idCounter;
};
