// The manager of slots and tokens: the root of the module's state. It owns the
// reader channels (through CChannelManager), one slot per reader name seen since
// C_Initialize and one token per recognised card, answers the library-wide calls
// and receives the reader and card events of the monitor thread.
#pragma once

#include <p11-kit/pkcs11.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "base/list.h"
#include "base/mutex.h"
#include "channel/channel_manager.h"

class CP11Slot;
class CP11Token;
class CChannel;
class CChannelEvent;
struct CPCSCFunctions;

class CP11Manager : public CChannelManager
{
  public:
    // A kind of token: builds the token object for a card in the slot (the caller
    // then asks it IsKnown and owns it). Throws CP11Exception.
    typedef CP11Token *(*TokenKind)(CP11Slot *slot);

    CP11Manager();
    ~CP11Manager() override;

    // Reader and card events, on the monitor thread, under the shared-data lock.
    void OnChannelEvent(CChannelEvent &event) override;

    // The library-wide calls. Every failure is a thrown CP11Exception.
    void Initialize(void *initArgs);
    void Finalize(void *reserved, bool force);
    void GetInfo(CK_INFO *info);
    void GetSlotList(unsigned char tokenPresent, unsigned long *list, unsigned long *count);
    void WaitForSlotEvent(unsigned long flags, unsigned long *slot, void *reserved);

    // The attached reader's slot with this ID, never NULL.
    CP11Slot *GetSlot(unsigned long slotID);
    // The token in that slot, never NULL. Callers hold the shared-data lock.
    CP11Token *GetToken(unsigned long slotID);

    void BeginShareData();
    void EndSharedData();

    // Token kinds are tried in the order added when a card is inserted.
    void AddTokenKind(TokenKind kind);
    // The PC/SC calls the channel of the next Initialize uses (NULL: the reader
    // service's own).
    void SetPCSCFunctions(CPCSCFunctions const *functions) { m_functions = functions; }

    // fork(): the prepare handler takes both locks so the child gets consistent
    // lists; the child forgets the parent's channel, slots and tokens (its monitor
    // thread and PC/SC connections stay with the parent) and starts not initialised.
    void PrepareFork();
    void ParentAfterFork();
    void ChildAfterFork();

    CP11Slot *getSlot(unsigned long slotID);
    CP11Slot *getSlot(char const *reader);
    // The token for a card just inserted in the slot, built, recognised and
    // initialised; NULL when no token kind takes the card.
    std::unique_ptr<CP11Token> detectToken(CP11Slot *slot);
    // Unlinks the token from the token list and hands it over; NULL when unlisted.
    std::unique_ptr<CP11Token> removeToken(CP11Token *token);
    void freeTokens();
    void freeSlots();

    // Slot IDs keep within the 16 bits a session handle carries for them.
    static constexpr unsigned long SLOT_ID_LAST = 0xFFFF;
    // The ID of a new slot after the last one given, with the IDs the current slots
    // hold: the next one no current slot holds, so that a handle kept across
    // C_Finalize does not reach a new slot while IDs last; past SLOT_ID_LAST the
    // count starts again at 0 (the lowest free ID). SLOT_ID_NONE when every ID is
    // held.
    static constexpr unsigned long SLOT_ID_NONE = ~0UL;
    static unsigned long nextSlotId(unsigned long last, std::vector<unsigned long> const &held);

  private:
    // The slot event: auto-reset (one signal releases one wait, signals made while
    // nobody waits collapse into one), plus a wake-up of every waiter at Finalize.
    class CSlotEvent
    {
      public:
        void Signal();
        // The current generation: WakeAll starts a new one.
        unsigned long Epoch();
        // Waits for a signal; true (at once if so already) when the generation is no
        // longer epoch, i.e. WakeAll released the wait.
        bool Wait(unsigned long epoch);
        // Releases every waiter and forgets a pending signal.
        void WakeAll();
        // Waits at most ms for the woken waiters to leave.
        void WaitIdle(unsigned long ms);

      private:
        std::mutex m_mutex;
        std::condition_variable m_cond;
        bool m_signalled = false;
        unsigned long m_epoch = 0;
        int m_waiters = 0;
    };

    // Stops the monitors of every open channel (no lock held); false when a Close failed.
    bool closeChannels(unsigned long mode);
    // Deletes the channels the manager owns and empties the channel list.
    void deleteChannels();
    void dropToken(CP11Slot *slot);
    bool holdsToken(CP11Slot *slot) const;
    // A new slot for the reader, listed; NULL (logged) when none can be made.
    CP11Slot *createSlot(CChannel *channel, char const *reader);

    CMutex m_lock; // the shared-data lock
    CSlotEvent m_slotEvent;
    std::vector<std::unique_ptr<CP11Slot>> m_slots;   // in order of creation
    std::vector<std::unique_ptr<CP11Token>> m_tokens; // one per recognised card
    std::atomic<unsigned long> RefCounter;
    unsigned long m_lastSlotId;
    std::atomic<bool> m_accepting; // events are handled (a channel is being opened or open)
    enum { MAX_TOKEN_KINDS = 8 };
    TokenKind m_kinds[MAX_TOKEN_KINDS];
    unsigned m_kindCount;
    CPCSCFunctions const *m_functions;
    // What a forked child took over from its parent and must never use or free.
    CList<CP11Token *> m_parentTokens;
    CList<CChannel *> m_parentChannels;
};
