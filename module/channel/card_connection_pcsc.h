// A connection to a card over PC/SC: one card handle. The destructor does not
// disconnect: CChannelPCSC::Disconnect must be called first.
#pragma once

#include "channel/card_connection.h"
#include "channel/pcsc_functions.h"

class CCardConnectionPCSC : public CCardConnection
{
  public:
    // protocol: the negotiated PC/SC protocol (T=0 and T=1 bits are kept).
    // functions: the PC/SC calls to use (NULL: the reader service's own).
    CCardConnectionPCSC(SCARDHANDLE card, DWORD protocol,
                        CPCSCFunctions const *functions = nullptr);
    ~CCardConnectionPCSC() override;

    SCARDHANDLE GetCardHandle() const { return m_card; }

    unsigned long GetCardStatus() override;

  private:
    CPCSCFunctions const &m_functions;
    SCARDHANDLE m_card;
};
