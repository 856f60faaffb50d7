// The token's transmit callback: the card layer's APDUs travel through the reader
// channel of the token's slot, on the token's card connection.
#pragma once

#include "card/qvcaapi.h"

class CP11Token;
class CCardConnection;

// The context handed with TokenTransmit to the card layer (as the transport's
// handle word): the token whose slot's channel carries the APDUs, and the card
// connection they go on. Neither is owned.
class CTransmitParam
{
  public:
    CTransmitParam() : m_token(nullptr), m_connection(nullptr) {}
    CTransmitParam(CP11Token *token, CCardConnection *connection)
        : m_token(token), m_connection(connection)
    {
    }
    ~CTransmitParam() {}

    CP11Token *m_token;
    CCardConnection *m_connection;
};

// A _qv_caapi_transmit_callback over CChannel::Transmit; context is a
// CTransmitParam. The channel's error when the exchange fails;
// QV_E_INSUFFICIENT_BUFFER (nothing copied) for a reply longer than the capacity
// in *responseLength; QV_E_NO_CHANNEL (nothing copied) without a context, token,
// slot, channel, response buffer or capacity.
uint32_t TokenTransmit(void *context, const unsigned char *command, unsigned long commandLength,
                       unsigned char *response, unsigned long *responseLength);
