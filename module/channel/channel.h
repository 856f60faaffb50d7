// A reader channel: one reader-access technology (PC/SC here) that connects to the
// system's reader service, talks to cards in named readers and reports reader and
// card events to the channel manager that registered it.
#pragma once

#include "base/blob.h"

class CCardConnection;
class CChannelManager;

class CChannel
{
  public:
    enum : unsigned long {
        CHANNEL_TYPE_NONE = 0,
        CHANNEL_TYPE_PCSC = 1,
        // set in the flags when the manager owns (and deletes) the channel
        CHANNEL_FLAG_AUTO = 0x80000000UL,
    };

    // Card dispositions of Disconnect.
    enum : unsigned long {
        DISCONNECT_LEAVE = 1,
        DISCONNECT_RESET = 2,
        DISCONNECT_UNPOWER = 3,
        DISCONNECT_EJECT = 4,
    };

    // Preferred protocols of Connect.
    enum : unsigned long {
        PROTOCOL_T0 = 0x1,
        PROTOCOL_T1 = 0x2,
    };

    CChannel();
    virtual ~CChannel();

    virtual bool Open(unsigned long scope);
    // mode 1: quick stop (the module is being unloaded)
    virtual bool Close(unsigned long mode);
    virtual bool IsOpen();
    // A new connection owned by the caller, or NULL (see GetError).
    virtual CCardConnection *Connect(CBlob const &reader, bool exclusive, unsigned long protocols);
    // Ends the connection; the caller deletes the object afterwards.
    virtual bool Disconnect(CCardConnection *connection, unsigned long disposition);
    // The response is replaced by the card's answer.
    virtual bool Transmit(CCardConnection *connection, CBlob &command, CBlob &response);
    // The output's size on entry is the room offered; it is cut to the returned length.
    virtual bool Control(CCardConnection *connection, unsigned long code, CBlob &input,
                         CBlob &output);
    virtual bool BeginExclusive(CCardConnection *connection);
    virtual bool EndExclusive(CCardConnection *connection);

    CBlob &GetName() { return m_name; }
    unsigned long GetId() const { return m_id; }
    // The technology's status code of the last operation, 0 on success.
    unsigned long GetError() const { return m_lastError; }
    unsigned long GetChannelType() const { return m_channelType; }
    unsigned long GetFlags() const { return m_flags; }
    CChannelManager *GetManager() const { return m_manager; }

  protected:
    friend class CChannelManager;

    CChannelManager *m_manager;
    unsigned long m_channelType;
    unsigned long m_id;
    CBlob m_name;
    unsigned long m_lastError;
    unsigned long m_flags;

  private:
    CChannel(CChannel const &) = delete;
    CChannel &operator=(CChannel const &) = delete;
};
