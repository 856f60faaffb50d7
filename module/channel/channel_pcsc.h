// The PC/SC channel: one context on the reader service, a monitor thread watching
// readers and cards while the channel is open, and card connections over it.
#pragma once

#include "channel/channel.h"
#include "channel/pcsc_functions.h"

class CCardConnectionPCSC;

class CChannelPCSC : public CChannel
{
  public:
    class CChannelMonitor;

    // functions: the PC/SC calls to use (NULL: the reader service's own).
    explicit CChannelPCSC(CPCSCFunctions const *functions = nullptr);
    ~CChannelPCSC() override;

    // scope 2: system scope, anything else user scope. Returns once the monitor has
    // reported the readers and cards already there.
    bool Open(unsigned long scope) override;
    // Stops the monitor (waiting at most 5 s in mode 1, 30 s otherwise) and
    // releases the context.
    bool Close(unsigned long mode) override;
    bool IsOpen() override;
    CCardConnection *Connect(CBlob const &reader, bool exclusive, unsigned long protocols) override;
    bool Disconnect(CCardConnection *connection, unsigned long disposition) override;
    bool Transmit(CCardConnection *connection, CBlob &command, CBlob &response) override;
    bool Control(CCardConnection *connection, unsigned long code, CBlob &input,
                 CBlob &output) override;
    bool BeginExclusive(CCardConnection *connection) override;
    bool EndExclusive(CCardConnection *connection) override;

    CPCSCFunctions const &GetFunctions() const { return m_functions; }

    // Monitors that Close had to leave behind because a delivery to the manager did
    // not return in time: each ends on its own once its delivery returns and is
    // freed by the next Open or Close of any channel, or here (the module's unload
    // hook calls it last). Returns how many are still running.
    static unsigned ReapMonitors();

    // Room for any response APDU: 65,536 data bytes and the status word.
    enum : unsigned { MAX_RESPONSE = 65538 };

  private:
    // NULL (and the last error set) when the connection is not one of ours.
    CCardConnectionPCSC *checkConnection(CCardConnection *connection);
    bool stopMonitor(unsigned long waitMs);
    void setError(LONG code) { m_lastError = static_cast<unsigned long>(code); }

    CPCSCFunctions const &m_functions;
    CChannelMonitor *m_monitor;
    SCARDCONTEXT m_context;
};
