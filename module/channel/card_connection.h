// One connection to the card in one reader, made by a channel's Connect.
#pragma once

#include "base/blob.h"

class CCardConnection
{
  public:
    enum : unsigned long {
        CARD_STATUS_UNKNOWN = 0,
        CARD_STATUS_ABSENT = 1,
        CARD_STATUS_PRESENT = 2,
    };

    CCardConnection();
    virtual ~CCardConnection();

    unsigned long GetChannelType() const { return m_channelType; }
    // bits: 1 T=0, 2 T=1
    unsigned long GetActiveProtocol() const { return m_activeProtocol; }
    // the answer-to-reset, empty when it could not be read
    CBlob &GetATR() { return m_atr; }

    virtual unsigned long GetCardStatus();

    static char const *CardStatusName(unsigned long status);

  protected:
    unsigned long m_channelType;
    unsigned long m_activeProtocol;
    CBlob m_atr;

  private:
    CCardConnection(CCardConnection const &) = delete;
    CCardConnection &operator=(CCardConnection const &) = delete;
};
