#include "channel/channel_event.h"

#include "channel/channel_log.h"

namespace
{

struct EventName {
    unsigned long bit;
    char const *name;
};

EventName const kEventNames[] = {
    {EVT_CHANNEL_READER_FOUND, "EVT_CHANNEL_READER_FOUND"},
    {EVT_CHANNEL_READER_CONNECTED, "EVT_CHANNEL_READER_CONNECTED"},
    {EVT_CHANNEL_READER_DISCONNECTED, "EVT_CHANNEL_READER_DISCONNECTED"},
    {EVT_CHANNEL_CARD_INSERTED, "EVT_CHANNEL_CARD_INSERTED"},
    {EVT_CHANNEL_CARD_REMOVED, "EVT_CHANNEL_CARD_REMOVED"},
};

} // namespace

CChannelEvent::CChannelEvent() : m_channel(nullptr), m_eventId(0) {}

CChannelEvent::CChannelEvent(CChannel *channel, CBlob const &reader, unsigned long eventId)
    : m_channel(channel), m_reader(reader), m_eventId(eventId)
{
    hl_log(HL_ENTER, "CChannelEvent::CChannelEvent(%p,%p,0x%.8lx)\n", static_cast<void *>(channel),
           static_cast<void const *>(&reader), eventId);
    CBlob names = EventNames(eventId);
    char const *readerText = m_reader;
    char const *namesText = names;
    hl_log(HL_DEBUG, "Channel = %p\n", static_cast<void *>(channel));
    hl_log(HL_DEBUG, "Reader  = %s\n", readerText ? readerText : "");
    hl_log(HL_DEBUG, "Event   = %s\n", namesText ? namesText : "");
    hl_log(HL_LEAVE, "CChannelEvent::CChannelEvent( )\n");
}

CChannelEvent::~CChannelEvent() {}

CBlob CChannelEvent::EventNames(unsigned long eventId)
{
    CBlob text;
    unsigned long rest = eventId;
    for (EventName const &entry : kEventNames) {
        if ((eventId & entry.bit) == 0)
            continue;
        if (text.GetSize() != 0)
            text += " | ";
        text += entry.name;
        rest &= ~entry.bit;
    }
    if (rest != 0) {
        if (text.GetSize() != 0)
            text += " | ";
        text.PutFormat(-1, "0x%.8lx", rest);
    }
    return text;
}
