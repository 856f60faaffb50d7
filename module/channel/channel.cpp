#include "channel/channel.h"

#include "channel/channel_log.h"

CChannel::CChannel()
    : m_manager(nullptr), m_channelType(CHANNEL_TYPE_NONE), m_id(0),
      m_lastError(static_cast<unsigned long>(-1)), m_flags(0)
{
}

CChannel::~CChannel() {}

bool CChannel::Open(unsigned long scope)
{
    hl_log(HL_ENTER, "CChannel::Open(0x%.8lx)\n", scope);
    hl_log(HL_LEAVE, "CChannel::Open( %s )\n", "FAILED");
    return false;
}

bool CChannel::Close(unsigned long mode)
{
    hl_log(HL_ENTER, "CChannel::Close(0x%.8lx)\n", mode);
    hl_log(HL_LEAVE, "CChannel::Close( %s )\n", "FAILED");
    return false;
}

bool CChannel::IsOpen()
{
    hl_log(HL_ENTER, "CChannel::IsOpen()\n");
    hl_log(HL_LEAVE, "CChannel::IsOpen( %s )\n", "NO");
    return false;
}

CCardConnection *CChannel::Connect(CBlob const &reader, bool exclusive, unsigned long protocols)
{
    hl_log(HL_ENTER, "CChannel::Connect(%p,%s,0x%.8lx)\n", static_cast<void const *>(&reader),
           exclusive ? "Exclusiv" : "nonExclusiv", protocols);
    CBlob name(reader);
    char const *text = name;
    hl_log(HL_INFO, "Reader : %s\n", text ? text : "");
    hl_log(HL_LEAVE, "CChannel::Connect( %p )\n", static_cast<void *>(nullptr));
    return nullptr;
}

bool CChannel::Disconnect(CCardConnection *connection, unsigned long disposition)
{
    hl_log(HL_ENTER, "CChannel::Disconnect(%p,0x%.8lx)\n", static_cast<void *>(connection),
           disposition);
    hl_log(HL_LEAVE, "CChannel::Disconnect( %s )\n", "FAILED");
    return false;
}

bool CChannel::Transmit(CCardConnection *connection, CBlob &command, CBlob &response)
{
    hl_log(HL_ENTER, "CChannel::Transmit(%p,%p,%p)\n", static_cast<void *>(connection),
           static_cast<void *>(&command), static_cast<void *>(&response));
    hl_log(HL_LEAVE, "CChannel::Transmit( %s )\n", "FAILED");
    return false;
}

bool CChannel::Control(CCardConnection *connection, unsigned long code, CBlob &input, CBlob &output)
{
    hl_log(HL_ENTER, "CChannel::Control(%p,0x%.8lx,%p,%p)\n", static_cast<void *>(connection), code,
           static_cast<void *>(&input), static_cast<void *>(&output));
    hl_log(HL_LEAVE, "CChannel::Control( %s )\n", "FAILED");
    return false;
}

bool CChannel::BeginExclusive(CCardConnection *connection)
{
    hl_log(HL_ENTER, "CChannel::BeginExclusive(%p)\n", static_cast<void *>(connection));
    hl_log(HL_LEAVE, "CChannel::BeginExclusive( %s )\n", "FAILED");
    return false;
}

bool CChannel::EndExclusive(CCardConnection *connection)
{
    hl_log(HL_ENTER, "CChannel::EndExclusive(%p)\n", static_cast<void *>(connection));
    hl_log(HL_LEAVE, "CChannel::EndExclusive( %s )\n", "FAILED");
    return false;
}
