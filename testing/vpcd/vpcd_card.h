// The card side of the virtual PC/SC reader.
//
// The reader driver listens on a TCP port per slot; a card is a client of that port:
// connecting inserts the card, closing the connection removes it. Every frame is a
// 2-byte big-endian length followed by that many bytes. A 1-byte frame from the reader
// is a control (0 power off, 1 power on, 2 reset, 4 ATR request, answered with the ATR);
// any longer frame is an APDU, answered with one frame holding the response.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vpcd
{

using Bytes = std::vector<unsigned char>;

// What a card does; called on the link thread of its VirtualCard.
class CardHandler
{
  public:
    virtual ~CardHandler() = default;
    virtual std::vector<unsigned char> Atr() = 0;
    virtual void PowerOn() {}
    virtual void PowerOff() {}
    virtual void Reset() {}
    // The link to the reader ended (removal, or the reader closed it): the card has
    // lost its power, whether or not a power-off control came first.
    virtual void Disconnected() {}
    virtual std::vector<unsigned char> Apdu(const std::vector<unsigned char> &command) = 0;
};

// A card in one slot of the virtual reader: connected = inserted, closed = removed.
class VirtualCard
{
  public:
    explicit VirtualCard(CardHandler &handler, int port = 35963, std::string host = "127.0.0.1");
    ~VirtualCard(); // removes the card
    VirtualCard(const VirtualCard &) = delete;
    VirtualCard &operator=(const VirtualCard &) = delete;

    // Connects (retrying until the deadline) and serves frames on a thread.
    bool Insert(int timeoutMs = 5000);
    // Closes the socket and joins the thread. The reader service notices the card
    // gone only at its next presence poll: before inserting a card into the same
    // slot again, wait until the service reports the reader empty, or it may still
    // take the new card for the old one.
    void Remove();
    // True from a successful Insert until Remove or until the reader closed the link.
    bool Inserted() const;

    int Port() const { return m_port; }

  private:
    void Serve(int fd);

    CardHandler &m_handler;
    int m_port;
    std::string m_host;
    mutable std::mutex m_lock;
    int m_fd = -1;
    int m_wakeRead = -1; // self-pipe: Remove() wakes the link thread through it
    int m_wakeWrite = -1;
    std::thread m_thread;
    std::atomic<bool> m_linked{false};
};

// 35963 + index ("Virtual PCD 00 00" = 0, "Virtual PCD 00 01" = 1).
int PortOfReader(int index);

// The PC/SC name of the virtual reader with this index ("Virtual PCD 00 00" for 0).
std::string NameOfReader(int index);

// A scripted test card: a fixed ATR, replies by exact command or in order, a default
// reply (6D 00) for anything else, and a record of everything it received.
// Every accessor is thread-safe.
class ScriptedCard : public CardHandler
{
  public:
    explicit ScriptedCard(Bytes atr = {0x3B, 0x80, 0x80, 0x01, 0x01});

    // Always answer this exact command with this reply (takes precedence over the queue).
    void On(const Bytes &command, const Bytes &reply);
    // Answer the next command not matched by On() with this reply (first in, first out).
    void Queue(const Bytes &reply);
    // The reply to any command neither matched nor queued.
    void SetDefault(const Bytes &reply);
    void SetAtr(const Bytes &atr);

    Bytes Atr() override;
    void PowerOn() override;
    void PowerOff() override;
    void Reset() override;
    Bytes Apdu(const Bytes &command) override;

    // Every APDU received, in order.
    std::vector<Bytes> Received() const;
    size_t ReceivedCount() const;
    void ClearReceived();
    // Counts of control frames.
    int PowerOns() const;
    int PowerOffs() const;
    int Resets() const;
    int AtrRequests() const;
    // Waits until at least n APDUs were received; false on time-out.
    bool WaitReceived(size_t n, int timeoutMs = 5000) const;

  private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    Bytes m_atr;
    std::map<Bytes, Bytes> m_fixed;
    std::vector<Bytes> m_queue;
    size_t m_queueHead = 0;
    Bytes m_default{0x6D, 0x00};
    std::vector<Bytes> m_received;
    int m_powerOns = 0;
    int m_powerOffs = 0;
    int m_resets = 0;
    int m_atrRequests = 0;
};

} // namespace vpcd
