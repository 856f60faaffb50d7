// A reader channel in process for the identity-card token: its card is whatever
// answers the commands (a simulated card, most often). It counts APDUs and
// transactions and can play a card that has been pulled out, or an exchange that
// fails.
#pragma once

#include <functional>
#include <vector>

#include "channel/card_connection.h"
#include "channel/channel.h"

namespace token_test
{

using Bytes = std::vector<unsigned char>;
char const READER[] = "Simulated reader 0";

class SimChannel : public CChannel
{
  public:
    using Responder = std::function<Bytes(Bytes const &)>;

    explicit SimChannel(Responder responder, Bytes atr = {0x3B, 0x00})
        : m_responder(std::move(responder)), m_atr(std::move(atr))
    {
        m_name = "PCSC";
    }

    CCardConnection *Connect(CBlob const &, bool, unsigned long) override
    {
        ++connects;
        if (!present)
            return nullptr;
        return new Connection(*this);
    }
    bool Disconnect(CCardConnection *, unsigned long) override { return true; }
    bool Transmit(CCardConnection *, CBlob &command, CBlob &response) override
    {
        Bytes c(command.GetData(), command.GetData() + command.GetSize());
        if (!present || (refuse && refuse(c))) {
            m_lastError = 0x80100069; // the card was removed
            return false;
        }
        ++apdus;
        Bytes reply = m_responder(c);
        response.Set(reply.data(), (unsigned)reply.size());
        m_lastError = 0;
        return true;
    }
    bool BeginExclusive(CCardConnection *) override
    {
        ++transactions;
        ++open;
        return true;
    }
    bool EndExclusive(CCardConnection *) override
    {
        --open;
        return true;
    }

    bool present = true;
    // an exchange this answers true for fails as if the card had gone
    std::function<bool(Bytes const &)> refuse;
    int apdus = 0;
    int connects = 0;
    int transactions = 0;
    int open = 0; // transactions begun and not ended

  private:
    class Connection : public CCardConnection
    {
      public:
        explicit Connection(SimChannel &channel) : m_channel(channel)
        {
            m_atr.Set(channel.m_atr.data(), (unsigned)channel.m_atr.size());
        }
        unsigned long GetCardStatus() override
        {
            return m_channel.present ? CARD_STATUS_PRESENT : CARD_STATUS_ABSENT;
        }

      private:
        SimChannel &m_channel;
    };

    Responder m_responder;
    Bytes m_atr;
};

} // namespace token_test
