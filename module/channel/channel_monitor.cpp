#include "channel/channel_monitor.h"

#include "channel/channel_log.h"
#include "channel/channel_manager.h"

#include <cstring>

namespace
{

char const kPnPReader[] = "\\\\?PnP?\\Notification";

unsigned long Counter(DWORD state)
{
    return (state >> 16) & 0xFFFF;
}

} // namespace

int CChannelPCSC::CChannelMonitor::ReaderTable::find(std::string const &name) const
{
    for (unsigned i = 0; i < count; ++i)
        if (names[i] == name)
            return static_cast<int>(i);
    return -1;
}

void CChannelPCSC::CChannelMonitor::ReaderTable::add(std::string const &name)
{
    names[count] = name;
    SCARD_READERSTATE &state = states[count];
    std::memset(&state, 0, sizeof(state));
    state.szReader = names[count].c_str();
    ++count;
}

void CChannelPCSC::CChannelMonitor::ReaderTable::assign(ReaderTable const &other)
{
    count = 0;
    for (unsigned i = 0; i < other.count; ++i) {
        add(other.names[i]);
        states[i].dwCurrentState = other.states[i].dwCurrentState;
        states[i].dwEventState = other.states[i].dwEventState;
        states[i].cbAtr = other.states[i].cbAtr;
        std::memcpy(states[i].rgbAtr, other.states[i].rgbAtr, sizeof(states[i].rgbAtr));
    }
}

CChannelPCSC::CChannelMonitor::CChannelMonitor(CChannelPCSC *channel,
                                               CPCSCFunctions const &functions)
    : m_channel(channel), m_functions(functions), m_ready(false, false), m_wake(true, false),
      m_ended(true, false), m_lastResult(0), m_stop(false), m_context(0), m_hasContext(false),
      m_manager(nullptr)
{
    m_event.SetChannel(channel);
}

CChannelPCSC::CChannelMonitor::~CChannelMonitor()
{
    if (m_hasContext) {
        LONG rv = m_functions.ReleaseContext(m_context);
        hl_log(rv ? HL_ERROR : HL_DEBUG, "SCardReleaseContext ( 0x%.8lx )\n", rv);
    }
}

LONG CChannelPCSC::CChannelMonitor::EstablishContext(DWORD scope)
{
    SCARDCONTEXT context = 0;
    LONG rv = m_functions.EstablishContext(scope, nullptr, nullptr, &context);
    hl_log(rv ? HL_ERROR : HL_DEBUG, "SCardEstablishContext ( 0x%.8lx )\n", rv);
    if (rv == SCARD_S_SUCCESS) {
        m_context = context;
        m_hasContext = true;
    }
    return rv;
}

void CChannelPCSC::CChannelMonitor::RequestStop()
{
    m_stop = true;
    m_wake.SetEvent();
    if (m_hasContext)
        m_functions.Cancel(m_context);
}

void *CChannelPCSC::CChannelMonitor::Entry()
{
    hl_log(HL_ENTER, "CChannelPCSC::MonitorEntry()\n");
    bool watching = true;
    if (m_channel == nullptr) {
        hl_log(HL_ERROR, "Bad channel handle !\n");
        watching = false;
    } else if ((m_manager = m_channel->GetManager()) == nullptr) {
        hl_log(HL_ERROR, "Bad channel manager handle !\n");
        watching = false;
    }
    if (watching) {
        if (start()) {
            while (!m_stop && pass()) {
            }
        }
    } else {
        // nobody to report to: stay idle until stopped
        m_ready.SetEvent();
        hl_log(HL_INFO, "The PCSC monitor is now READY.\n");
        m_wake.Wait(static_cast<unsigned long>(-1));
    }
    hl_log(HL_LEAVE, "CChannelPCSC::MonitorEntry( %p )\n", static_cast<void *>(m_channel));
    m_ended.SetEvent();
    return nullptr;
}

// Reports what is there already, then signals that the monitor is ready.
// False when stopping began during a delivery.
bool CChannelPCSC::CChannelMonitor::start()
{
    SCARD_READERSTATE probe;
    std::memset(&probe, 0, sizeof(probe));
    probe.szReader = kPnPReader;
    probe.dwCurrentState = SCARD_STATE_UNAWARE;
    LONG rv = m_functions.GetStatusChange(m_context, 0, &probe, 1);
    hl_log(rv ? HL_ERROR : HL_DEBUG, "SCardGetStatusChange '%s' ( 0x%.8lx )\n", kPnPReader, rv);
    hl_log(HL_WARNING,
           (probe.dwEventState & SCARD_STATE_UNKNOWN)
               ? "'%s' mechanism is NOT supported !\n"
               : "'%s' mechanism IS supported, but IGNORED !\n",
           kPnPReader);

    bool running = true;
    std::vector<std::string> names;
    rv = listReaders(names);
    m_lastResult = rv;
    if (rv == SCARD_S_SUCCESS) {
        hl_log(HL_DEBUG, "SCardListReaders ( 0x%.8lx )\n", rv);
        for (size_t i = 0; i < names.size() && running; ++i) {
            if (m_watched.count == MAX_READERS) {
                hl_log(HL_WARNING, "Reader ['%s'] is not watched: at most %d readers are\n",
                       names[i].c_str(), MAX_READERS);
                m_ignored.push_back(names[i]);
                continue;
            }
            hl_log(HL_INFO, "Reader [%zu] : '%s'\n", i, names[i].c_str());
            m_watched.add(names[i]);
            running = deliver(names[i], EVT_CHANNEL_READER_FOUND);
        }
    } else if (rv != static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE)) {
        hl_log(HL_ERROR, "SCardListReaders ( 0x%.8lx )\n", rv);
    }

    if (running && m_watched.count != 0) {
        rv = m_functions.GetStatusChange(m_context, 0, m_watched.states, m_watched.count);
        m_lastResult = rv;
        hl_log(rv ? HL_ERROR : HL_DEBUG, "SCardGetStatusChange ( 0x%.8lx )\n", rv);
        if (rv == SCARD_S_SUCCESS) {
            for (unsigned i = 0; i < m_watched.count && running; ++i) {
                SCARD_READERSTATE &state = m_watched.states[i];
                if (state.dwEventState & SCARD_STATE_PRESENT) {
                    hl_log(HL_INFO, "Reader ['%s'] -> SCARD_STATE_PRESENT\n", state.szReader);
                    running = deliver(m_watched.names[i], EVT_CHANNEL_CARD_INSERTED);
                }
                state.dwCurrentState = state.dwEventState;
            }
        }
    }
    m_ready.SetEvent();
    hl_log(HL_INFO, "The PCSC monitor is now READY.\n");
    return running;
}

// One polling pass; false when the monitor is to stop.
bool CChannelPCSC::CChannelMonitor::pass()
{
    if (m_wake.Wait(50) == CEvent::WAIT_OBJECT_0)
        return false;
    if (m_watched.count != 0) {
        LONG rv = m_functions.GetStatusChange(m_context, 100, m_watched.states, m_watched.count);
        m_lastResult = rv;
        if (m_stop)
            return false;
        if (rv != static_cast<LONG>(SCARD_E_TIMEOUT)) {
            if (rv == SCARD_S_SUCCESS) {
                if (!reportCardChanges())
                    return false;
            } else {
                // the states stay as they were; the listing below sorts out readers
                // that went away
                hl_log(HL_ERROR, "SCardGetStatusChange ( 0x%.8lx )\n", rv);
            }
            if (m_wake.Wait(10) == CEvent::WAIT_OBJECT_0)
                return false;
        }
    }
    return relist();
}

bool CChannelPCSC::CChannelMonitor::reportCardChanges()
{
    for (unsigned i = 0; i < m_watched.count; ++i) {
        SCARD_READERSTATE &state = m_watched.states[i];
        DWORD event = state.dwEventState;
        DWORD current = state.dwCurrentState;
        if (event & SCARD_STATE_CHANGED)
            hl_log(HL_DEBUG, "Reader ['%s'] : EventState( 0x%.8lx ) : CurrentState( 0x%.8lx )\n",
                   state.szReader, event, current);
        if ((event & SCARD_STATE_CHANGED) && !(event & SCARD_STATE_MUTE)) {
            bool present = (event & SCARD_STATE_PRESENT) != 0;
            bool wasPresent = (current & SCARD_STATE_PRESENT) != 0;
            // The service counts card insertions and removals in the high word: a
            // present card with another count is another card (or the same one put
            // back, reset), so the old one is reported gone before the new one.
            bool swapped = present && wasPresent && Counter(event) != Counter(current);
            if (wasPresent && (!present || swapped)) {
                hl_log(HL_INFO, "Reader ['%s'] -> CARD REMOVED\n", state.szReader);
                if (!deliver(m_watched.names[i], EVT_CHANNEL_CARD_REMOVED))
                    return false;
            }
            if (present && (!wasPresent || swapped)) {
                hl_log(HL_INFO, "Reader ['%s'] -> CARD PRESENT\n", state.szReader);
                if (!deliver(m_watched.names[i], EVT_CHANNEL_CARD_INSERTED))
                    return false;
            }
        }
        // while the card is mute the old state is kept
        if (!(event & SCARD_STATE_MUTE))
            state.dwCurrentState = event;
    }
    return true;
}

// Lists the readers and reports every departure and arrival since the last listing.
bool CChannelPCSC::CChannelMonitor::relist()
{
    std::vector<std::string> names;
    LONG rv = listReaders(names);
    m_lastResult = rv;
    if (rv == static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE)) {
        m_ignored.clear();
        while (m_watched.count != 0) {
            std::string name = m_watched.names[m_watched.count - 1];
            --m_watched.count;
            hl_log(HL_INFO, "Reader ['%s'] -> REMOVED\n", name.c_str());
            if (!deliver(name, EVT_CHANNEL_READER_DISCONNECTED))
                return false;
        }
        m_lastResult = SCARD_S_SUCCESS;
        return true;
    }
    if (rv != SCARD_S_SUCCESS) {
        // keep watching what we have; the next pass lists again
        hl_log(HL_ERROR, "SCardListReaders ( 0x%.8lx )\n", rv);
        return true;
    }

    ReaderTable *fresh = new ReaderTable;
    std::vector<std::string> ignored;
    for (std::string const &name : names) {
        if (fresh->find(name) >= 0)
            continue;
        if (fresh->count == MAX_READERS) {
            ignored.push_back(name);
            continue;
        }
        fresh->add(name);
        int old = m_watched.find(name);
        if (old >= 0) {
            SCARD_READERSTATE &to = fresh->states[fresh->count - 1];
            SCARD_READERSTATE const &from = m_watched.states[old];
            to.dwCurrentState = from.dwCurrentState;
            to.dwEventState = from.dwEventState;
            to.cbAtr = from.cbAtr;
            std::memcpy(to.rgbAtr, from.rgbAtr, sizeof(to.rgbAtr));
        }
    }
    if (ignored != m_ignored) {
        for (std::string const &name : ignored)
            hl_log(HL_WARNING, "Reader ['%s'] is not watched: at most %d readers are\n",
                   name.c_str(), MAX_READERS);
        m_ignored = ignored;
    }

    // Departures first, then arrivals, each in listing order. The table is replaced
    // before the deliveries, so a stop during them leaves it consistent.
    std::vector<std::string> gone, come;
    for (unsigned i = 0; i < m_watched.count; ++i)
        if (fresh->find(m_watched.names[i]) < 0)
            gone.push_back(m_watched.names[i]);
    for (unsigned i = 0; i < fresh->count; ++i)
        if (m_watched.find(fresh->names[i]) < 0)
            come.push_back(fresh->names[i]);
    m_watched.assign(*fresh);
    delete fresh;

    for (std::string const &name : gone) {
        hl_log(HL_INFO, "Reader ['%s'] -> REMOVED\n", name.c_str());
        if (!deliver(name, EVT_CHANNEL_READER_DISCONNECTED))
            return false;
    }
    for (std::string const &name : come) {
        hl_log(HL_INFO, "Reader ['%s'] -> PRESENT\n", name.c_str());
        if (!deliver(name, EVT_CHANNEL_READER_CONNECTED))
            return false;
    }
    return true;
}

bool CChannelPCSC::CChannelMonitor::deliver(std::string const &reader, unsigned long eventId)
{
    if (m_stop)
        return false;
    m_event.SetReader(CBlob(reader.c_str()));
    m_event.SetEventId(eventId);
    m_manager->OnChannelEvent(m_event);
    return !m_stop;
}

LONG CChannelPCSC::CChannelMonitor::listReaders(std::vector<std::string> &names)
{
    names.clear();
    LONG rv = SCARD_S_SUCCESS;
    // a reader attached between the two calls makes the second one too short
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD length = 0;
        rv = m_functions.ListReaders(m_context, nullptr, nullptr, &length);
        if (rv != SCARD_S_SUCCESS)
            return rv;
        if (length == 0 || length > 0x100000)
            return SCARD_E_NO_READERS_AVAILABLE;
        std::vector<char> buffer(length + 2, '\0');
        DWORD room = length;
        rv = m_functions.ListReaders(m_context, nullptr, buffer.data(), &length);
        if (rv == static_cast<LONG>(SCARD_E_INSUFFICIENT_BUFFER))
            continue;
        if (rv != SCARD_S_SUCCESS)
            return rv;
        if (length > room)
            length = room;
        // the multi-string ends with an empty name; the two extra zero bytes end a
        // malformed one too
        for (char const *p = buffer.data(); p < buffer.data() + length && *p;
             p += std::strlen(p) + 1)
            names.emplace_back(p);
        return names.empty() ? static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE) : rv;
    }
    return rv;
}
