#include "channel/channel_pcsc.h"

#include "channel/card_connection_pcsc.h"
#include "channel/channel_log.h"
#include "channel/channel_monitor.h"

#include <chrono>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace
{

void LogCall(char const *name, LONG rv)
{
    hl_log(rv ? HL_ERROR : HL_DEBUG, "%s ( 0x%.8lx )\n", name, rv);
}

// Monitors left running by Close; see ReapMonitors. The list exists only while it
// holds a monitor, so nothing of it outlives the module (an unload leaves no
// allocation behind) and a monitor still running at exit stays reachable.
std::mutex g_orphansLock; // constant-initialised, nothing to destroy
std::vector<CChannelPCSC::CChannelMonitor *> *g_orphans = nullptr;

const unsigned long kReadyTimeoutMs = 30000;
const int kConnectAttempts = 120;
const int kConnectRetryMs = 500;

} // namespace

CChannelPCSC::CChannelPCSC(CPCSCFunctions const *functions)
    : m_functions(functions ? *functions : CPCSCFunctions::System()), m_monitor(nullptr),
      m_context(0)
{
    m_name = "PCSC";
    m_channelType = CHANNEL_TYPE_PCSC;
}

CChannelPCSC::~CChannelPCSC()
{
    if (m_context != 0)
        Close(0);
    if (m_monitor != nullptr) // a monitor whose Open failed before it ran
        stopMonitor(30000);
    ReapMonitors();
}

unsigned CChannelPCSC::ReapMonitors()
{
    std::lock_guard<std::mutex> guard(g_orphansLock);
    if (g_orphans == nullptr)
        return 0;
    std::vector<CChannelMonitor *> &orphans = *g_orphans;
    for (auto it = orphans.begin(); it != orphans.end();) {
        if ((*it)->WaitEnded(0)) {
            (*it)->Wait(0xFFFFFFFFUL); // joins the ended thread
            delete *it;
            it = orphans.erase(it);
        } else {
            ++it;
        }
    }
    unsigned running = static_cast<unsigned>(orphans.size());
    if (running == 0) {
        delete g_orphans;
        g_orphans = nullptr;
    }
    return running;
}

// Stops the monitor and frees it; a monitor still inside a delivery after waitMs is
// left to end on its own (it is never cancelled: it may hold the manager's lock or
// the service library's). True when it ended in time.
bool CChannelPCSC::stopMonitor(unsigned long waitMs)
{
    CChannelMonitor *monitor = m_monitor;
    m_monitor = nullptr;
    if (monitor == nullptr)
        return true;
    monitor->RequestStop();
    if (!monitor->IsAlive() || monitor->WaitEnded(waitMs)) {
        monitor->Wait(0xFFFFFFFFUL);
        delete monitor;
        return true;
    }
    hl_log(HL_ERROR, "The PCSC monitor did not stop within %lu ms: it ends after its delivery.\n",
           waitMs);
    monitor->Abandon();
    std::lock_guard<std::mutex> guard(g_orphansLock);
    try {
        if (g_orphans == nullptr)
            g_orphans = new std::vector<CChannelMonitor *>;
        g_orphans->push_back(monitor);
    } catch (std::bad_alloc &) {
        // not listed: the monitor ends on its own and is never freed
    }
    return false;
}

bool CChannelPCSC::Open(unsigned long scope)
{
    hl_log(HL_ENTER, "CChannelPCSC::Open(0x%.8lx)\n", scope);
    ReapMonitors();
    if (m_context != 0) {
        hl_log(HL_LEAVE, "CChannelPCSC::Open( %s )\n", "OK");
        return true;
    }
    DWORD pcscScope = scope == 2 ? SCARD_SCOPE_SYSTEM : SCARD_SCOPE_USER;
    SCARDCONTEXT context = 0;
    LONG rv = m_functions.EstablishContext(pcscScope, nullptr, nullptr, &context);
    LogCall("SCardEstablishContext", rv);
    if (rv != SCARD_S_SUCCESS) {
        setError(rv);
        hl_log(HL_LEAVE, "CChannelPCSC::Open( %s )\n", "FAILED");
        return false;
    }
    m_context = context;
    hl_log(HL_DEBUG, "hSC   : %p\n", reinterpret_cast<void *>(m_context));

    m_monitor = new CChannelMonitor(this, m_functions);
    rv = m_monitor->EstablishContext(pcscScope);
    if (rv == SCARD_S_SUCCESS) {
        hl_log(HL_INFO, "Try to start PCSC monitor.\n");
        if (!m_monitor->Run() || m_monitor->WaitReady(kReadyTimeoutMs) != CEvent::WAIT_OBJECT_0) {
            hl_log(HL_ERROR, "Starting of the PCSC monitor has failed !\n");
            rv = SCARD_E_UNEXPECTED;
        }
    }
    if (rv != SCARD_S_SUCCESS) {
        stopMonitor(5000);
        LogCall("SCardReleaseContext", m_functions.ReleaseContext(m_context));
        m_context = 0;
        setError(rv);
        hl_log(HL_LEAVE, "CChannelPCSC::Open( %s )\n", "FAILED");
        return false;
    }
    hl_log(HL_INFO, "The PCSC monitor ACTIVE.\n");
    setError(SCARD_S_SUCCESS);
    hl_log(HL_LEAVE, "CChannelPCSC::Open( %s )\n", "OK");
    return true;
}

bool CChannelPCSC::Close(unsigned long mode)
{
    hl_log(HL_ENTER, "CChannelPCSC::Close(0x%.8lx)\n", mode);
    hl_log(HL_DEBUG, "hSC   : %p\n", reinterpret_cast<void *>(m_context));
    bool active = m_monitor != nullptr && m_monitor->IsAlive();
    hl_log(HL_INFO, "PCSC monitor status : %s\n", active ? "ACTIVE" : "INACTIVE");
    if (active) {
        hl_log(HL_INFO, "Try to stop PCSC monitor.\n");
        hl_log(HL_INFO, "Wait for PCSC monitor.\n");
        stopMonitor(mode == 1 ? 5000 : 30000);
        hl_log(HL_INFO, "The PCSC monitor now INACTIVE.\n");
    } else {
        stopMonitor(0); // frees a monitor that has ended
    }
    LONG rv;
    if (m_context != 0) {
        rv = m_functions.ReleaseContext(m_context);
        LogCall("SCardReleaseContext", rv);
        m_context = 0;
    } else {
        rv = SCARD_E_NO_SERVICE;
    }
    setError(rv);
    ReapMonitors();
    hl_log(HL_LEAVE, "CChannelPCSC::Close( %s )\n", rv == SCARD_S_SUCCESS ? "OK" : "FAILED");
    return rv == SCARD_S_SUCCESS;
}

bool CChannelPCSC::IsOpen()
{
    hl_log(HL_ENTER, "CChannelPCSC::IsOpen()\n");
    bool open = m_context != 0;
    hl_log(HL_LEAVE, "CChannelPCSC::IsOpen( %s )\n", open ? "YES" : "NO");
    return open;
}

CCardConnection *CChannelPCSC::Connect(CBlob const &reader, bool exclusive, unsigned long protocols)
{
    hl_log(HL_ENTER, "CChannelPCSC::Connect(%p,%s,0x%.8lx)\n", static_cast<void const *>(&reader),
           exclusive ? "Exclusiv" : "nonExclusiv", protocols);
    hl_log(HL_DEBUG, "hSC   : %p\n", reinterpret_cast<void *>(m_context));
    // the name as a C string, whatever the blob holds
    std::string name(reinterpret_cast<char const *>(reader.GetData()), reader.GetSize());
    name = name.c_str();
    hl_log(HL_INFO, "Reader : %s\n", name.c_str());

    CCardConnection *connection = nullptr;
    LONG rv = SCARD_E_NO_SERVICE;
    if (m_context != 0) {
        DWORD share = exclusive ? SCARD_SHARE_EXCLUSIVE : SCARD_SHARE_SHARED;
        DWORD preferred = 0;
        if (protocols & PROTOCOL_T0)
            preferred |= SCARD_PROTOCOL_T0;
        if (protocols & PROTOCOL_T1)
            preferred |= SCARD_PROTOCOL_T1;
        for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
            SCARDHANDLE card = 0;
            DWORD active = 0;
            rv = m_functions.Connect(m_context, name.c_str(), share, preferred, &card, &active);
            LogCall("SCardConnect", rv);
            if (rv == SCARD_S_SUCCESS) {
                connection = new (std::nothrow) CCardConnectionPCSC(card, active, &m_functions);
                if (connection == nullptr) {
                    hl_log(HL_ERROR, "Can not create card connection object!\n");
                    LogCall("SCardDisconnect", m_functions.Disconnect(card, SCARD_LEAVE_CARD));
                    rv = SCARD_E_NO_MEMORY;
                }
                break;
            }
            if (rv != static_cast<LONG>(SCARD_E_SHARING_VIOLATION))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryMs));
        }
    }
    setError(rv);
    hl_log(HL_LEAVE, "CChannelPCSC::Connect( %p )\n", static_cast<void *>(connection));
    return connection;
}

CCardConnectionPCSC *CChannelPCSC::checkConnection(CCardConnection *connection)
{
    if (connection == nullptr || connection->GetChannelType() != CHANNEL_TYPE_PCSC) {
        hl_log(HL_ERROR, "Bad card connection !\n");
        setError(SCARD_E_INVALID_PARAMETER);
        return nullptr;
    }
    CCardConnectionPCSC *pcsc = static_cast<CCardConnectionPCSC *>(connection);
    hl_log(HL_DEBUG, "hCard : %p\n", reinterpret_cast<void *>(pcsc->GetCardHandle()));
    return pcsc;
}

bool CChannelPCSC::Disconnect(CCardConnection *connection, unsigned long disposition)
{
    hl_log(HL_ENTER, "CChannelPCSC::Disconnect(%p,0x%.8lx)\n", static_cast<void *>(connection),
           disposition);
    CCardConnectionPCSC *pcsc = checkConnection(connection);
    LONG rv = SCARD_E_INVALID_PARAMETER;
    if (pcsc != nullptr) {
        DWORD how = SCARD_LEAVE_CARD;
        if (disposition == DISCONNECT_RESET)
            how = SCARD_RESET_CARD;
        else if (disposition == DISCONNECT_UNPOWER)
            how = SCARD_UNPOWER_CARD;
        else if (disposition == DISCONNECT_EJECT)
            how = SCARD_EJECT_CARD;
        rv = m_functions.Disconnect(pcsc->GetCardHandle(), how);
        LogCall("SCardDisconnect", rv);
        setError(rv);
    }
    hl_log(HL_LEAVE, "CChannelPCSC::Disconnect( %s )\n", rv == SCARD_S_SUCCESS ? "OK" : "FAILED");
    return rv == SCARD_S_SUCCESS;
}

bool CChannelPCSC::Transmit(CCardConnection *connection, CBlob &command, CBlob &response)
{
    hl_log(HL_ENTER, "CChannelPCSC::Transmit(%p,%p,%p)\n", static_cast<void *>(connection),
           static_cast<void *>(&command), static_cast<void *>(&response));
    response.Clear();
    CCardConnectionPCSC *pcsc = checkConnection(connection);
    LONG rv = SCARD_E_INVALID_PARAMETER;
    if (pcsc != nullptr) {
        SCARD_IO_REQUEST const *pci;
        if (pcsc->GetActiveProtocol() == SCARD_PROTOCOL_T1) {
            pci = SCARD_PCI_T1;
            hl_log(HL_DEBUG, "Active protocol : SCARD_PROTOCOL_T1\n");
        } else {
            pci = SCARD_PCI_T0;
            hl_log(HL_DEBUG, "Active protocol : SCARD_PROTOCOL_T0\n");
        }
        // One exchange with room for any response: a second send would make the
        // card execute the command twice.
        DWORD length = MAX_RESPONSE;
        if (response.SetSize(MAX_RESPONSE) == nullptr) {
            rv = SCARD_E_NO_MEMORY;
        } else {
            rv = m_functions.Transmit(pcsc->GetCardHandle(), pci, command.GetData(),
                                      command.GetSize(), nullptr, response.GetData(), &length);
            LogCall("SCardTransmit", rv);
            if (rv == SCARD_S_SUCCESS && length > MAX_RESPONSE)
                rv = SCARD_E_INSUFFICIENT_BUFFER;
        }
        if (rv == SCARD_S_SUCCESS && length != 0)
            response.CutSize(static_cast<unsigned>(length));
        else
            response.Clear();
        setError(rv);
    }
    hl_log(HL_LEAVE, "CChannelPCSC::Transmit( %s )\n", rv == SCARD_S_SUCCESS ? "OK" : "FAILED");
    return rv == SCARD_S_SUCCESS;
}

bool CChannelPCSC::Control(CCardConnection *connection, unsigned long code, CBlob &input,
                           CBlob &output)
{
    hl_log(HL_ENTER, "CChannelPCSC::Control(%p,0x%.8lx,%p,%p)\n", static_cast<void *>(connection),
           code, static_cast<void *>(&input), static_cast<void *>(&output));
    CCardConnectionPCSC *pcsc = checkConnection(connection);
    LONG rv = SCARD_E_INVALID_PARAMETER;
    if (pcsc != nullptr) {
        DWORD room = output.GetSize();
        DWORD returned = 0;
        rv = m_functions.Control(pcsc->GetCardHandle(), code, input.GetData(), input.GetSize(),
                                 output.GetData(), room, &returned);
        LogCall("SCardControl", rv);
        if (rv == SCARD_S_SUCCESS) {
            if (returned > room)
                rv = SCARD_E_INSUFFICIENT_BUFFER;
            else if (returned == 0)
                output.Clear();
            else
                output.CutSize(static_cast<unsigned>(returned));
        }
        setError(rv);
    }
    hl_log(HL_LEAVE, "CChannelPCSC::Control( %s )\n", rv == SCARD_S_SUCCESS ? "OK" : "FAILED");
    return rv == SCARD_S_SUCCESS;
}

bool CChannelPCSC::BeginExclusive(CCardConnection *connection)
{
    hl_log(HL_ENTER, "CChannelPCSC::BeginExclusive(%p)\n", static_cast<void *>(connection));
    CCardConnectionPCSC *pcsc = checkConnection(connection);
    LONG rv = SCARD_E_INVALID_PARAMETER;
    if (pcsc != nullptr) {
        rv = m_functions.BeginTransaction(pcsc->GetCardHandle());
        LogCall("SCardBeginTransaction", rv);
        setError(rv);
    }
    hl_log(HL_LEAVE, "CChannelPCSC::BeginExclusive( %s )\n",
           rv == SCARD_S_SUCCESS ? "OK" : "FAILED");
    return rv == SCARD_S_SUCCESS;
}

bool CChannelPCSC::EndExclusive(CCardConnection *connection)
{
    hl_log(HL_ENTER, "CChannelPCSC::EndExclusive(%p)\n", static_cast<void *>(connection));
    CCardConnectionPCSC *pcsc = checkConnection(connection);
    LONG rv = SCARD_E_INVALID_PARAMETER;
    if (pcsc != nullptr) {
        rv = m_functions.EndTransaction(pcsc->GetCardHandle(), SCARD_LEAVE_CARD);
        LogCall("SCardEndTransaction", rv);
        setError(rv);
    }
    hl_log(HL_LEAVE, "CChannelPCSC::EndExclusive( %s )\n", rv == SCARD_S_SUCCESS ? "OK" : "FAILED");
    return rv == SCARD_S_SUCCESS;
}
