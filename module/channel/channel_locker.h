// Scope guard holding a card exclusively (against other applications) for the length
// of a card operation. It locks nothing inside the module.
#pragma once

class CChannel;
class CCardConnection;

class CChannelLocker
{
  public:
    CChannelLocker(CChannel *channel, CCardConnection *connection);
    ~CChannelLocker();

    // BeginExclusive succeeded (and EndExclusive will follow).
    bool IsLocked() const { return m_locked; }

  private:
    CChannelLocker(CChannelLocker const &) = delete;
    CChannelLocker &operator=(CChannelLocker const &) = delete;

    CChannel *m_channel;
    CCardConnection *m_connection;
    bool m_locked;
};
