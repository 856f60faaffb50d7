#include "core/p11_manager.h"

#include <chrono>
#include <cstring>
#include <new>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"
#include "channel/channel.h"
#include "channel/channel_event.h"
#include "channel/channel_pcsc.h"
#include "core/core_support.h"
#include "core/p11_slot.h"
#include "core/p11_token.h"

using vok_core::putText;
using vok_core::rethrow;
using vok_core::rvName;
using vok_core::text;

namespace
{

char const kManufacturer[] = "vOK";
char const kLibraryDescription[] = "vOK eID PKCS#11 library";

} // namespace

// ---------------------------------------------------------------------------
// The slot event

void CP11Manager::CSlotEvent::Signal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
    m_cond.notify_one();
}

unsigned long CP11Manager::CSlotEvent::Epoch()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_epoch;
}

bool CP11Manager::CSlotEvent::Wait(unsigned long epoch)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_waiters;
    m_cond.wait(lock, [&] { return m_signalled || m_epoch != epoch; });
    --m_waiters;
    bool woken = m_epoch != epoch;
    if (!woken)
        m_signalled = false;
    if (m_waiters == 0)
        m_cond.notify_all(); // WaitIdle
    return woken;
}

void CP11Manager::CSlotEvent::WakeAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_epoch;
    m_signalled = false;
    m_cond.notify_all();
}

void CP11Manager::CSlotEvent::WaitIdle(unsigned long ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_waiters == 0; });
}

// ---------------------------------------------------------------------------

CP11Manager::CP11Manager()
    : CChannelManager(), RefCounter(0), m_lastSlotId(static_cast<unsigned long>(-1)),
      m_accepting(false), m_kinds(), m_kindCount(0), m_functions(nullptr)
{
}

CP11Manager::~CP11Manager()
{
    if (RefCounter != 0) {
        try {
            Finalize(nullptr, true);
        } catch (CP11Exception &) {
            // a forced finalise fails only for lack of memory; nothing left to do
        }
    }
    // A thread still waiting for a slot event must leave before the event goes.
    m_slotEvent.WakeAll();
    m_slotEvent.WaitIdle(2000);
    deleteChannels();
}

void CP11Manager::AddTokenKind(TokenKind kind)
{
    if (kind != nullptr && m_kindCount < MAX_TOKEN_KINDS)
        m_kinds[m_kindCount++] = kind;
}

void CP11Manager::BeginShareData()
{
    m_lock.Lock();
    hl_log(HL_DEBUG, "### CP11Manager LOCKED ###\n");
}

void CP11Manager::EndSharedData()
{
    m_lock.UnLock();
    hl_log(HL_DEBUG, "### CP11Manager UNLOCKED ###\n");
}

void CP11Manager::Initialize(void *initArgs)
{
    hl_log(HL_ENTER, "CP11Manager::Initialize(%p)\n", initArgs);
    hl_log(HL_DEBUG, "RefCounter = %lu\n", RefCounter.load());
    if (RefCounter != 0)
        rethrow("CP11Manager::Initialize", CKR_CRYPTOKI_ALREADY_INITIALIZED);

    if (initArgs != nullptr) {
        CK_C_INITIALIZE_ARGS args;
        std::memcpy(&args, initArgs, sizeof(args));
        log("CK_C_INITIALIZE_ARGS(pReserved)   = %p\n", args.pReserved);
        log("CK_C_INITIALIZE_ARGS(flags)       = 0x%.8lx\n", args.flags);
        log("CK_C_INITIALIZE_ARGS(CreateMutex) = %p\n", (void *)args.CreateMutex);
        log("CK_C_INITIALIZE_ARGS(DestroyMutex)= %p\n", (void *)args.DestroyMutex);
        log("CK_C_INITIALIZE_ARGS(LockMutex)   = %p\n", (void *)args.LockMutex);
        log("CK_C_INITIALIZE_ARGS(UnlockMutex) = %p\n", (void *)args.UnlockMutex);
        int callbacks = (args.CreateMutex != nullptr) + (args.DestroyMutex != nullptr) +
                        (args.LockMutex != nullptr) + (args.UnlockMutex != nullptr);
        if (args.pReserved != nullptr)
            rethrow("CP11Manager::Initialize", CKR_ARGUMENTS_BAD);
        // The reader monitor is the module's own thread and never calls back into the
        // application; loaders that ask for no threads (p11-kit's managed modules)
        // would otherwise get no module at all.
        if (args.flags & CKF_LIBRARY_CANT_CREATE_OS_THREADS)
            hl_log(HL_WARNING, "CKF_LIBRARY_CANT_CREATE_OS_THREADS: the reader monitor "
                               "thread is created all the same.\n");
        if (callbacks != 0 && callbacks != 4)
            rethrow("CP11Manager::Initialize", CKR_ARGUMENTS_BAD);
        // With all four callbacks the application may still allow OS locking, which
        // is what the module always uses; without that flag it demands its own.
        if (callbacks == 4 && !(args.flags & CKF_OS_LOCKING_OK))
            rethrow("CP11Manager::Initialize", CKR_CANT_LOCK);
    }

    CChannelPCSC *channel = new (std::nothrow) CChannelPCSC(m_functions);
    if (channel == nullptr)
        rethrow("CP11Manager::Initialize", CKR_HOST_MEMORY);
    if (!RegisterChannel(channel, true)) {
        delete channel;
        rethrow("CP11Manager::Initialize", CKR_GENERAL_ERROR);
    }
    m_accepting = true;
    if (!channel->Open(1)) {
        m_accepting = false;
        UnregisterChannel(channel);
        {
            // A delivery the channel had to leave running still holds the lock and
            // may use the channel: wait for it before the channel goes.
            CMutexLocker lock(m_lock);
            freeTokens();
            freeSlots();
        }
        if (channel->IsOpen())
            channel->Close(0);
        delete channel;
        rethrow("CP11Manager::Initialize", CKR_GENERAL_ERROR);
    }
    RefCounter = 1;
    hl_log(HL_LEAVE, "CP11Manager::Initialize( )\n");
}

bool CP11Manager::closeChannels(unsigned long mode)
{
    bool result = true;
    for (auto it = GetChannels().begin(); it != GetChannels().end(); ++it) {
        CChannel *channel = *it;
        if (channel != nullptr && channel->IsOpen() && !channel->Close(mode))
            result = false;
    }
    return result;
}

void CP11Manager::deleteChannels()
{
    CList<CChannel *> &channels = GetChannels();
    for (auto it = channels.begin(); it != channels.end(); ++it) {
        CChannel *channel = *it;
        if (channel == nullptr)
            continue;
        if (channel->IsOpen())
            channel->Close(1);
        if (channel->GetFlags() & CChannel::CHANNEL_FLAG_AUTO)
            delete channel;
    }
    channels.Clear();
}

void CP11Manager::Finalize(void *reserved, bool force)
{
    hl_log(HL_ENTER, "CP11Manager::Finalize(%p,%s)\n", reserved, force ? "FORCE" : "DEFAULT");
    if (force) {
        hl_log(HL_DEBUG, "RefCounter = %lu\n", RefCounter.load());
        if (RefCounter == 0) {
            hl_log(HL_LEAVE, "CP11Manager::Finalize( )\n");
            return;
        }
        RefCounter = 1;
        hl_log(HL_DEBUG, "RefCounter set to 1 !\n");
    }
    if (RefCounter == 0)
        rethrow("CP11Manager::Finalize", CKR_CRYPTOKI_NOT_INITIALIZED);
    if (reserved != nullptr && !force)
        rethrow("CP11Manager::Finalize", CKR_ARGUMENTS_BAD);

    // The monitors stop before the lock is taken: a monitor may be inside a
    // delivery that waits for the lock, or in a card detection that takes long.
    // From here on no event is handled.
    m_accepting = false;
    bool closed = closeChannels(force ? 1 : 0);
    {
        CMutexLocker lock(m_lock);
        freeTokens();
        freeSlots();
        deleteChannels();
        if (!closed && !force)
            rethrow("CP11Manager::Finalize", CKR_GENERAL_ERROR);
        RefCounter = 0;
        // every thread waiting for a slot event learns that the library is finalised
        m_slotEvent.WakeAll();
    }
    hl_log(HL_LEAVE, "CP11Manager::Finalize( )\n");
}

void CP11Manager::GetInfo(CK_INFO *info)
{
    hl_log(HL_ENTER, "CP11Manager::GetInfo(%p)\n", (void *)info);
    if (RefCounter == 0)
        rethrow("CP11Manager::GetInfo", CKR_CRYPTOKI_NOT_INITIALIZED);
    if (info == nullptr)
        rethrow("CP11Manager::GetInfo", CKR_ARGUMENTS_BAD);
    info->cryptokiVersion.major = 2;
    info->cryptokiVersion.minor = 20;
    putText(info->manufacturerID, sizeof(info->manufacturerID), kManufacturer);
    info->flags = 0;
    putText(info->libraryDescription, sizeof(info->libraryDescription), kLibraryDescription);
    info->libraryVersion.major = 0;
    info->libraryVersion.minor = 3;
    hl_log(HL_LEAVE, "CP11Manager::GetInfo( )\n");
}

void CP11Manager::GetSlotList(unsigned char tokenPresent, unsigned long *list, unsigned long *count)
{
    CMutexLocker lock(m_lock);
    hl_log(HL_ENTER, "CP11Manager::GetSlotList(%s,%p,%p)\n", tokenPresent ? "CK_TRUE" : "CK_FALSE",
           (void *)list, (void *)count);
    if (RefCounter == 0)
        rethrow("CP11Manager::GetSlotList", CKR_CRYPTOKI_NOT_INITIALIZED);
    if (count == nullptr)
        rethrow("CP11Manager::GetSlotList", CKR_ARGUMENTS_BAD);
    for (int pass = 0; pass < (list != nullptr ? 2 : 1); ++pass) {
        unsigned long n = 0;
        for (auto const &slot : m_slots) {
            if (slot->FindByteAttribute(SLOT_A_PLUGGEN_IN) == 0)
                continue;
            if (tokenPresent == CK_TRUE && slot->FindByteAttribute(SLOT_A_CARD_INSERTED) == 0)
                continue;
            if (pass == 1)
                list[n] = slot->FindLongAttribute(SLOT_A_ID);
            ++n;
        }
        if (list != nullptr && *count < n) {
            hl_log(HL_ERROR, "Small buffer ( 0x%.8lx / 0x%.8lx )!\n", *count, n);
            *count = n;
            rethrow("CP11Manager::GetSlotList", CKR_BUFFER_TOO_SMALL);
        }
        *count = n;
    }
    hl_log(HL_LEAVE, "CP11Manager::GetSlotList( )\n");
}

CP11Slot *CP11Manager::GetSlot(unsigned long slotID)
{
    hl_log(HL_ENTER, "CP11Manager::GetSlot(0x%.8lx)\n", slotID);
    if (RefCounter == 0)
        rethrow("CP11Manager::GetSlot", CKR_CRYPTOKI_NOT_INITIALIZED);
    CP11Slot *slot = getSlot(slotID);
    if (slot == nullptr || slot->FindByteAttribute(SLOT_A_PLUGGEN_IN) == 0)
        rethrow("CP11Manager::GetSlot", CKR_SLOT_ID_INVALID);
    hl_log(HL_LEAVE, "CP11Manager::GetSlot( %p )\n", (void *)slot);
    return slot;
}

CP11Token *CP11Manager::GetToken(unsigned long slotID)
{
    hl_log(HL_ENTER, "CP11Manager::GetToken(0x%.8lx)\n", slotID);
    CP11Token *token = nullptr;
    try {
        CP11Slot *slot = GetSlot(slotID);
        for (auto const &held : m_tokens) {
            if (held->GetSlot() == slot) {
                token = held.get();
                break;
            }
        }
        if (token == nullptr)
            throw CP11Exception(CKR_TOKEN_NOT_PRESENT);
    } catch (CP11Exception &e) {
        rethrow("CP11Manager::GetToken", e.GetErrorCode());
    }
    hl_log(HL_LEAVE, "CP11Manager::GetToken( %p )\n", (void *)token);
    return token;
}

void CP11Manager::WaitForSlotEvent(unsigned long flags, unsigned long *slot, void *reserved)
{
    // a polling caller does not fill the log
    bool logged = flags == 0;
    if (logged)
        hl_log(HL_ENTER, "CP11Manager::WaitForSlotEvent(0x%.8lx,%p,%p)\n", flags, (void *)slot,
               reserved);
    auto fail = [&](unsigned long code) {
        if (logged)
            rethrow("CP11Manager::WaitForSlotEvent", code);
        throw CP11Exception(code);
    };
    if (slot == nullptr || reserved != nullptr)
        fail(CKR_ARGUMENTS_BAD);
    if (RefCounter == 0)
        fail(CKR_CRYPTOKI_NOT_INITIALIZED);

    // A pending mark is reported at once; without one a blocking call waits for the
    // next signal and looks again, a non-blocking one reports that there is none.
    // The non-blocking call never touches the event, so it cannot take the wake-up
    // of a thread blocked here.
    for (;;) {
        unsigned long epoch = m_slotEvent.Epoch();
        {
            CMutexLocker lock(m_lock);
            if (RefCounter == 0)
                fail((flags & CKF_DONT_BLOCK) ? CKR_NO_EVENT : CKR_CRYPTOKI_NOT_INITIALIZED);
            CP11Slot *changed = nullptr;
            for (auto const &candidate : m_slots) {
                if (candidate->FindByteAttribute(SLOT_A_CHANGED) == 1) {
                    changed = candidate.get();
                    break;
                }
            }
            if (changed != nullptr) {
                *slot = changed->FindLongAttribute(SLOT_A_ID);
                changed->SetAttribute(SLOT_A_CHANGED, (unsigned char)0);
                break;
            }
            if (flags & CKF_DONT_BLOCK)
                fail(CKR_NO_EVENT);
        }
        if (m_slotEvent.Wait(epoch))
            fail(CKR_CRYPTOKI_NOT_INITIALIZED); // finalised while waiting
    }
    if (logged)
        hl_log(HL_LEAVE, "CP11Manager::WaitForSlotEvent( )\n");
}

CP11Slot *CP11Manager::getSlot(unsigned long slotID)
{
    for (auto const &slot : m_slots) {
        bool found = false;
        unsigned long id = slot->FindLongAttribute(SLOT_A_ID, &found);
        if (found && id == slotID)
            return slot.get();
    }
    return nullptr;
}

CP11Slot *CP11Manager::getSlot(char const *reader)
{
    if (reader == nullptr)
        return nullptr;
    for (auto const &slot : m_slots) {
        char const *name = slot->FindStringAttribute(SLOT_A_NAME);
        if (name != nullptr && std::strcmp(name, reader) == 0)
            return slot.get();
    }
    return nullptr;
}

std::unique_ptr<CP11Token> CP11Manager::removeToken(CP11Token *token)
{
    for (auto it = m_tokens.begin(); it != m_tokens.end(); ++it) {
        if (it->get() == token) {
            std::unique_ptr<CP11Token> removed = std::move(*it);
            m_tokens.erase(it);
            return removed;
        }
    }
    return nullptr;
}

void CP11Manager::freeTokens()
{
    m_tokens.clear();
}

void CP11Manager::freeSlots()
{
    m_slots.clear();
}

bool CP11Manager::holdsToken(CP11Slot *slot) const
{
    for (auto const &token : m_tokens)
        if (token->GetSlot() == slot)
            return true;
    return false;
}

// Finalises and deletes the token of the slot, if it has one.
void CP11Manager::dropToken(CP11Slot *slot)
{
    for (auto const &held : m_tokens) {
        if (held->GetSlot() != slot)
            continue;
        std::unique_ptr<CP11Token> token = removeToken(held.get());
        try {
            token->Finalize();
        } catch (CP11Exception &e) {
            hl_log(HL_EXCEPTION, "CP11Manager::OnChannelEvent( 0x%.8lx [ %s ] )\n",
                   e.GetErrorCode(), rvName(e.GetErrorCode()));
        }
        return;
    }
}

unsigned long CP11Manager::nextSlotId(unsigned long last, std::vector<unsigned long> const &held)
{
    std::vector<bool> taken(SLOT_ID_LAST + 1, false);
    for (unsigned long id : held)
        if (id <= SLOT_ID_LAST)
            taken[id] = true;
    // from the start value all ones the first ID is 0
    unsigned long first = last + 1 <= SLOT_ID_LAST ? last + 1 : 0;
    for (unsigned long n = 0; n <= SLOT_ID_LAST; ++n) {
        unsigned long id = (first + n) & SLOT_ID_LAST;
        if (!taken[id])
            return id;
    }
    return SLOT_ID_NONE;
}

CP11Slot *CP11Manager::createSlot(CChannel *channel, char const *reader)
{
    try {
        std::vector<unsigned long> held;
        for (auto const &slot : m_slots)
            held.push_back(slot->FindLongAttribute(SLOT_A_ID));
        unsigned long id = nextSlotId(m_lastSlotId, held);
        if (id == SLOT_ID_NONE)
            throw CP11Exception(CKR_HOST_MEMORY);
        std::unique_ptr<CP11Slot> slot(new CP11Slot(channel));
        bool ok = slot->SetAttribute(SLOT_A_ID, id) &&
                  slot->SetAttribute(SLOT_A_NAME, reader, static_cast<unsigned long>(-1)) &&
                  slot->SetAttribute(SLOT_A_PLUGGEN_IN, (unsigned char)1);
        if (!ok)
            throw CP11Exception(CKR_HOST_MEMORY);
        m_slots.push_back(std::move(slot));
        m_lastSlotId = id;
        return m_slots.back().get();
    } catch (CP11Exception &e) {
        hl_log(HL_EXCEPTION, "CP11Manager::OnChannelEvent( 0x%.8lx [ %s ] )\n",
               e.GetErrorCode(), rvName(e.GetErrorCode()));
    } catch (std::bad_alloc &) {
        hl_log(HL_EXCEPTION, "CP11Manager::OnChannelEvent( 0x%.8lx [ %s ] )\n",
               CKR_HOST_MEMORY, rvName(CKR_HOST_MEMORY));
    }
    return nullptr;
}

std::unique_ptr<CP11Token> CP11Manager::detectToken(CP11Slot *slot)
{
    hl_log(HL_ENTER, "CP11Manager::detectToken(%p)\n", (void *)slot);
    std::unique_ptr<CP11Token> result;
    if (slot != nullptr && slot->GetChannel() != nullptr) {
        for (unsigned i = 0; i < m_kindCount && result == nullptr; ++i) {
            try {
                std::unique_ptr<CP11Token> token(m_kinds[i](slot));
                if (token == nullptr || !token->IsKnown())
                    continue;
                token->Initialize();
                result = std::move(token);
            } catch (CP11Exception &e) {
                hl_log(HL_EXCEPTION, "CP11Manager::detectToken( 0x%.8lx [ %s ] )\n",
                       e.GetErrorCode(), rvName(e.GetErrorCode()));
                // a card of this kind that failed to come up is not offered to the next kind
                break;
            } catch (std::bad_alloc &) {
                hl_log(HL_EXCEPTION, "CP11Manager::detectToken( 0x%.8lx [ %s ] )\n",
                       CKR_HOST_MEMORY, rvName(CKR_HOST_MEMORY));
                break;
            }
        }
    }
    hl_log(HL_LEAVE, "CP11Manager::detectToken( %p )\n", (void *)result.get());
    return result;
}

void CP11Manager::OnChannelEvent(CChannelEvent &event)
{
    CMutexLocker lock(m_lock);
    hl_log(HL_ENTER, "CP11Manager::OnChannelEvent(%p)\n", (void *)&event);
    CChannel *channel = event.GetChannel();
    char const *reader = event.GetReader();
    unsigned long bits = event.GetEventId();
    log("Channel(%s) = %p\n", channel != nullptr ? text(channel->GetName()) : "NULL",
        (void *)channel);
    log("Reader      = %s\n", text(reader));
    log("Event       = 0x%.8lx\n", bits);
    // Events count only from a channel of this initialisation: not while the library
    // is being finalised (its lists are about to go), and not from a monitor that an
    // earlier Finalize had to leave running inside a delivery.
    bool registered = false;
    for (auto it = GetChannels().begin(); it != GetChannels().end(); ++it)
        registered = registered || (channel != nullptr && *it == channel);
    if (!m_accepting || !registered) {
        hl_log(HL_WARNING, "Event ignored: the channel is not open for the manager.\n");
        hl_log(HL_LEAVE, "CP11Manager::OnChannelEvent( )\n");
        return;
    }

    CP11Slot *slot = getSlot(reader);
    if (slot == nullptr) {
        hl_log(HL_INFO, "Slot(%s) does not exist.\n", text(reader));
        slot = createSlot(channel, reader);
    } else {
        hl_log(HL_INFO, "Slot(%s) exists.\n", text(reader));
    }

    if (slot != nullptr) {
        unsigned long id = slot->FindLongAttribute(SLOT_A_ID);
        char const *name = text(slot->FindStringAttribute(SLOT_A_NAME));
        // the slot's state has changed: C_GetSlotList and waiting callers learn of it
        auto markChanged = [&] {
            slot->SetAttribute(SLOT_A_CHANGED, (unsigned char)1);
            m_slotEvent.Signal();
        };
        if (bits & EVT_CHANNEL_READER_DISCONNECTED) {
            hl_log(HL_INFO, "Slot[ %p ( %lu ) '%s' ] -> EVT_CHANNEL_READER_DISCONNECTED\n",
                   (void *)slot, id, name);
            dropToken(slot);
            slot->ReaderRemoved();
            markChanged();
        }
        if (bits & EVT_CHANNEL_READER_CONNECTED) {
            hl_log(HL_INFO, "Slot[ %p ( %lu ) '%s' ] -> EVT_CHANNEL_READER_CONNECTED\n",
                   (void *)slot, id, name);
            slot->SetAttribute(SLOT_A_PLUGGEN_IN, (unsigned char)1);
            markChanged();
        }
        if (bits & EVT_CHANNEL_CARD_INSERTED) {
            hl_log(HL_INFO, "Slot[ %p ( %lu ) '%s' ] -> EVT_CHANNEL_CARD_INSERTED\n", (void *)slot,
                   id, name);
            // at most one token per slot: a token left from a card whose removal was
            // never reported goes first
            if (holdsToken(slot)) {
                dropToken(slot);
                slot->CardRemoved();
                markChanged();
            }
            std::unique_ptr<CP11Token> token = detectToken(slot);
            bool recognised = token != nullptr;
            try {
                if (recognised)
                    m_tokens.push_back(std::move(token));
            } catch (std::bad_alloc &) {
                recognised = false; // the token goes with its pointer
            }
            slot->SetAttribute(SLOT_A_CARD_INSERTED, (unsigned char)recognised);
            if (recognised)
                markChanged();
        }
        if (bits & EVT_CHANNEL_CARD_REMOVED) {
            hl_log(HL_INFO, "Slot[ %p ( %lu ) '%s' ] -> EVT_CHANNEL_CARD_REMOVED\n", (void *)slot,
                   id, name);
            bool hadToken = holdsToken(slot);
            dropToken(slot);
            slot->CardRemoved();
            if (hadToken) {
                markChanged();
            }
        }
    }
    hl_log(HL_LEAVE, "CP11Manager::OnChannelEvent( )\n");
}

// ---------------------------------------------------------------------------
// fork()

void CP11Manager::PrepareFork()
{
    m_lock.Lock();
}

void CP11Manager::ParentAfterFork()
{
    m_lock.UnLock();
}

void CP11Manager::ChildAfterFork()
{
    // The child has only the forking thread: the lock is held by a thread id that
    // no longer exists here, and the slot event may count waiters of the parent.
    // Both are made anew in place (their old state is meaningless in the child).
    new (&m_lock) CMutex();
    new (&m_slotEvent) CSlotEvent();
    // The channel's monitor thread and every PC/SC handle belong to the parent: the
    // channel and the tokens (which hold card connections) are forgotten, never
    // closed or deleted, here.
    for (auto &token : m_tokens)
        m_parentTokens.PushBack(token.release());
    m_tokens.clear();
    for (auto it = GetChannels().begin(); it != GetChannels().end(); ++it)
        m_parentChannels.PushBack(*it);
    GetChannels().Clear();
    // slots hold nothing but their attributes
    freeSlots();
    m_accepting = false;
    RefCounter = 0;
}
