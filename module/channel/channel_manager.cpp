#include "channel/channel_manager.h"

#include "channel/channel.h"
#include "channel/channel_log.h"

CChannelManager::CChannelManager() : m_idCounter(0) {}

CChannelManager::~CChannelManager()
{
    freeChannels(0);
}

void CChannelManager::OnChannelEvent(CChannelEvent &) {}

bool CChannelManager::RegisterChannel(CChannel *channel, bool autoDelete)
{
    hl_log(HL_ENTER, "CChannelManager::RegisterChannel(%p,%s)\n", static_cast<void *>(channel),
           autoDelete ? "AUTO" : "MANUAL");
    if (channel == nullptr) {
        hl_log(HL_LEAVE, "CChannelManager::RegisterChannel( %s )\n", "FAILED");
        return false;
    }
    char const *name = channel->GetName();
    hl_log(HL_DEBUG, "ChannelName = %s\n", name ? name : "");
    hl_log(HL_DEBUG, "ChannelId   = 0x%.8lx\n", channel->GetId());

    bool listed = false;
    for (auto it = m_channels.begin(); it != m_channels.end(); ++it) {
        if (*it == channel) {
            listed = true;
            break;
        }
    }
    hl_log(listed ? HL_WARNING : HL_DEBUG, "Channel %s\n", listed ? "exists !" : "does not exist.");
    if (!listed) {
        channel->m_manager = this;
        if (autoDelete)
            channel->m_flags |= CChannel::CHANNEL_FLAG_AUTO;
        m_channels.PushBack(channel);
    }
    if (channel->m_id == 0)
        channel->m_id = ++m_idCounter;
    hl_log(HL_DEBUG, "Channel(%p) ID = 0x%.8lx\n", static_cast<void *>(channel), channel->m_id);
    hl_log(HL_LEAVE, "CChannelManager::RegisterChannel( %s )\n", "OK");
    return true;
}

bool CChannelManager::UnregisterChannel(CChannel *channel)
{
    hl_log(HL_ENTER, "CChannelManager::UnregisterChannel(%p)\n", static_cast<void *>(channel));
    bool found = false;
    for (auto it = m_channels.begin(); it != m_channels.end(); ++it) {
        if (*it == channel) {
            m_channels.Erase(it);
            found = true;
            break;
        }
    }
    hl_log(HL_LEAVE, "CChannelManager::UnregisterChannel( %s )\n", found ? "OK" : "FAILED");
    return found;
}

bool CChannelManager::freeChannels(unsigned long mode)
{
    hl_log(HL_ENTER, "CChannelManager::freeChannels(0x%.8lx)\n", mode);
    bool result = true;
    for (auto it = m_channels.begin(); it != m_channels.end(); ++it) {
        CChannel *channel = *it;
        hl_log(HL_DEBUG, "Channel     = %p\n", static_cast<void *>(channel));
        if (channel == nullptr)
            continue;
        char const *name = channel->GetName();
        hl_log(HL_DEBUG, "ChannelName = %s\n", name ? name : "");
        hl_log(HL_DEBUG, "ChannelFlag = 0x%.8lx\n", channel->GetFlags());
        if (channel->IsOpen()) {
            if (!channel->Close(mode))
                result = false;
            if (channel->GetFlags() & CChannel::CHANNEL_FLAG_AUTO)
                delete channel;
        }
    }
    m_channels.Clear();
    hl_log(HL_LEAVE, "CChannelManager::freeChannels( %s )\n", result ? "OK" : "FAILED");
    return result;
}
