#include "channel/channel_locker.h"

#include "channel/channel.h"
#include "channel/channel_log.h"

CChannelLocker::CChannelLocker(CChannel *channel, CCardConnection *connection)
    : m_channel(channel), m_connection(connection), m_locked(false)
{
    hl_log(HL_ENTER, "CChannelLocker::CChannelLocker(%p,%p)\n", static_cast<void *>(channel),
           static_cast<void *>(connection));
    if (channel != nullptr && connection != nullptr)
        m_locked = channel->BeginExclusive(connection);
    hl_log(HL_LEAVE, "CChannelLocker::CChannelLocker( )\n");
}

CChannelLocker::~CChannelLocker()
{
    if (m_locked)
        m_channel->EndExclusive(m_connection);
}
