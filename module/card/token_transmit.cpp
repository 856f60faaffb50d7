#include "card/token_transmit.h"

#include "base/blob.h"
#include "channel/channel.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"

#include <cstring>

namespace
{

CChannel *channelOf(const CTransmitParam *param)
{
    if (param == nullptr || param->m_token == nullptr)
        return nullptr;
    CP11Slot *slot = param->m_token->GetSlot();
    return slot != nullptr ? slot->GetChannel() : nullptr;
}

} // namespace

uint32_t TokenTransmit(void *context, const unsigned char *command, unsigned long commandLength,
                       unsigned char *response, unsigned long *responseLength)
{
    auto *param = static_cast<CTransmitParam *>(context);
    CChannel *channel = channelOf(param);
    if (channel == nullptr || response == nullptr || responseLength == nullptr ||
        *responseLength == 0)
        return QV_E_NO_CHANNEL;
    CBlob commandBlob(command, static_cast<unsigned>(commandLength), true);
    CBlob reply;
    if (!channel->Transmit(param->m_connection, commandBlob, reply))
        return static_cast<uint32_t>(channel->GetError());
    if (reply.GetSize() > *responseLength)
        return QV_E_INSUFFICIENT_BUFFER;
    if (reply.GetSize() != 0)
        memcpy(response, reply.GetData(), reply.GetSize());
    *responseLength = reply.GetSize();
    return static_cast<uint32_t>(channel->GetError());
}
