// A scripted reader service behind the channel's table of PC/SC functions: readers
// come and go, cards are inserted, removed, swapped and go mute, listings fail, and
// card calls answer as the test says, with a record of what the channel asked.
#pragma once

#include "channel/pcsc_functions.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class FakePcsc
{
  public:
    struct Reader {
        std::string name;
        bool present = false;
        bool mute = false;
        unsigned counter = 0; // card insertions and removals
    };

    struct TransmitCall {
        SCARDHANDLE card;
        SCARD_IO_REQUEST const *pci;
        std::vector<unsigned char> command;
        DWORD room;
    };

    static FakePcsc &Get()
    {
        static FakePcsc fake;
        return fake;
    }

    static CPCSCFunctions const *Functions()
    {
        static CPCSCFunctions const functions = {
            &EstablishContext, &ReleaseContext, &ListReaders, &GetStatusChange, &Cancel,
            &Connect,          &Disconnect,     &Transmit,    &Control,         &BeginTransaction,
            &EndTransaction,   &Status,         &GetAttrib,
        };
        return &functions;
    }

    void Reset()
    {
        std::lock_guard<std::mutex> lock(m);
        readers.clear();
        listFailures.clear();
        establishResults.clear();
        connectResults.clear();
        nextContext = 0x1000;
        openContexts.clear();
        contexts.clear();
        cancelled.clear();
        listings = 0;
        statusCalls.clear();
        listContexts.clear();
        cancels.clear();
        connectCalls = 0;
        disconnects.clear();
        transmits.clear();
        transmitReply = nullptr;
        controlReply = nullptr;
        transactions.clear();
        statusResult = SCARD_S_SUCCESS;
        statusState = SCARD_PRESENT;
        atr = {0x3B, 0x02, 0x14, 0x50};
        atrResult = SCARD_S_SUCCESS;
        connectProtocol = SCARD_PROTOCOL_T1;
    }

    // --- scripting the readers (every change wakes a waiting status call) ---
    void SetReaders(std::vector<std::string> const &names)
    {
        std::lock_guard<std::mutex> lock(m);
        std::vector<Reader> next;
        for (auto const &name : names) {
            Reader r;
            r.name = name;
            for (auto const &old : readers)
                if (old.name == name)
                    r = old;
            next.push_back(r);
        }
        readers = next;
        changed.notify_all();
    }
    void Insert(std::string const &name)
    {
        update(name, [](Reader &r) {
            r.present = true;
            ++r.counter;
        });
    }
    void Remove(std::string const &name)
    {
        update(name, [](Reader &r) {
            r.present = false;
            ++r.counter;
        });
    }
    // the card taken out and another put in between two looks of the monitor
    void Swap(std::string const &name)
    {
        update(name, [](Reader &r) { r.counter += 2; });
    }
    void SetMute(std::string const &name, bool mute)
    {
        update(name, [=](Reader &r) { r.mute = mute; });
    }
    // the next count listings fail with this code
    void FailListings(LONG code, int count)
    {
        std::lock_guard<std::mutex> lock(m);
        for (int i = 0; i < count; ++i)
            listFailures.push_back(code);
    }

    // --- observing ---
    int Listings()
    {
        std::lock_guard<std::mutex> lock(m);
        return listings;
    }
    // Waits until the monitor has begun n more listings than now (each pass lists
    // once), i.e. until it has run that many passes.
    bool WaitPasses(int n, int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(m);
        int target = listings + n;
        return changed.wait_for(lock, std::chrono::milliseconds(ms),
                                [&] { return listings >= target; });
    }
    size_t OpenContexts()
    {
        std::lock_guard<std::mutex> lock(m);
        return openContexts.size();
    }

    // --- hooks for card calls ---
    std::mutex m;
    std::condition_variable changed;
    std::vector<Reader> readers;
    std::vector<LONG> listFailures;
    std::vector<LONG> establishResults; // consumed in order, then success
    std::vector<LONG> connectResults;   // consumed in order, then success
    SCARDCONTEXT nextContext = 0x1000;
    std::set<SCARDCONTEXT> openContexts;
    std::vector<SCARDCONTEXT> contexts; // in order of establishment
    std::set<SCARDCONTEXT> cancelled;
    int listings = 0;
    std::vector<SCARDCONTEXT> statusCalls, listContexts, cancels;
    int connectCalls = 0;
    DWORD connectProtocol = SCARD_PROTOCOL_T1;
    std::vector<DWORD> disconnects;
    std::vector<TransmitCall> transmits;
    std::function<LONG(std::vector<unsigned char> const &, LPBYTE, LPDWORD)> transmitReply;
    std::function<LONG(DWORD, LPVOID, DWORD, LPDWORD)> controlReply;
    std::vector<std::string> transactions;
    LONG statusResult = SCARD_S_SUCCESS;
    DWORD statusState = SCARD_PRESENT;
    std::vector<unsigned char> atr;
    LONG atrResult = SCARD_S_SUCCESS;

  private:
    void update(std::string const &name, std::function<void(Reader &)> change)
    {
        std::lock_guard<std::mutex> lock(m);
        for (auto &r : readers)
            if (r.name == name)
                change(r);
        changed.notify_all();
    }

    static LONG EstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        if (!f.establishResults.empty()) {
            LONG rv = f.establishResults.front();
            f.establishResults.erase(f.establishResults.begin());
            if (rv != SCARD_S_SUCCESS)
                return rv;
        }
        *context = f.nextContext++;
        f.openContexts.insert(*context);
        f.contexts.push_back(*context);
        return SCARD_S_SUCCESS;
    }
    static LONG ReleaseContext(SCARDCONTEXT context)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        return f.openContexts.erase(context) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
    }
    static LONG ListReaders(SCARDCONTEXT context, LPCSTR, LPSTR buffer, LPDWORD length)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        f.listContexts.push_back(context);
        if (buffer == nullptr) {
            ++f.listings;
            f.changed.notify_all();
            if (!f.listFailures.empty()) {
                LONG rv = f.listFailures.front();
                f.listFailures.erase(f.listFailures.begin());
                return rv;
            }
        }
        if (f.readers.empty())
            return SCARD_E_NO_READERS_AVAILABLE;
        std::string multi;
        for (auto const &r : f.readers)
            multi += r.name + '\0';
        multi += '\0';
        if (buffer == nullptr) {
            *length = multi.size();
            return SCARD_S_SUCCESS;
        }
        if (*length < multi.size()) {
            *length = multi.size();
            return SCARD_E_INSUFFICIENT_BUFFER;
        }
        std::memcpy(buffer, multi.data(), multi.size());
        *length = multi.size();
        return SCARD_S_SUCCESS;
    }
    static LONG GetStatusChange(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATE *states,
                                DWORD count)
    {
        FakePcsc &f = Get();
        std::unique_lock<std::mutex> lock(f.m);
        f.statusCalls.push_back(context);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
        for (;;) {
            if (f.cancelled.erase(context))
                return SCARD_E_CANCELLED;
            bool any = false;
            for (DWORD i = 0; i < count; ++i) {
                SCARD_READERSTATE &s = states[i];
                if (std::strcmp(s.szReader, "\\\\?PnP?\\Notification") == 0) {
                    s.dwEventState = 0;
                    continue;
                }
                auto it = std::find_if(f.readers.begin(), f.readers.end(),
                                       [&](Reader const &r) { return r.name == s.szReader; });
                if (it == f.readers.end())
                    return SCARD_E_UNKNOWN_READER;
                DWORD ev = (static_cast<DWORD>(it->counter & 0xFFFF) << 16) |
                           (it->present ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY) |
                           (it->present && it->mute ? SCARD_STATE_MUTE : 0);
                if ((ev & ~DWORD(SCARD_STATE_CHANGED)) !=
                    (s.dwCurrentState & ~DWORD(SCARD_STATE_CHANGED))) {
                    ev |= SCARD_STATE_CHANGED;
                    any = true;
                }
                s.dwEventState = ev;
            }
            if (any)
                return SCARD_S_SUCCESS;
            if (timeout == 0 || f.changed.wait_until(lock, deadline) == std::cv_status::timeout)
                return SCARD_E_TIMEOUT;
        }
    }
    static LONG Cancel(SCARDCONTEXT context)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        f.cancels.push_back(context);
        f.cancelled.insert(context);
        f.changed.notify_all();
        return SCARD_S_SUCCESS;
    }
    static LONG Connect(SCARDCONTEXT, LPCSTR reader, DWORD, DWORD, LPSCARDHANDLE card,
                        LPDWORD protocol)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        ++f.connectCalls;
        if (!f.connectResults.empty()) {
            LONG rv = f.connectResults.front();
            f.connectResults.erase(f.connectResults.begin());
            if (rv != SCARD_S_SUCCESS)
                return rv;
        }
        (void)reader;
        *card = 0x5000 + f.connectCalls;
        *protocol = f.connectProtocol;
        return SCARD_S_SUCCESS;
    }
    static LONG Disconnect(SCARDHANDLE, DWORD disposition)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        f.disconnects.push_back(disposition);
        return SCARD_S_SUCCESS;
    }
    static LONG Transmit(SCARDHANDLE card, SCARD_IO_REQUEST const *pci, LPCBYTE send,
                         DWORD sendLength, SCARD_IO_REQUEST *, LPBYTE recv, LPDWORD recvLength)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        std::vector<unsigned char> command(send, send + sendLength);
        f.transmits.push_back({card, pci, command, *recvLength});
        if (f.transmitReply)
            return f.transmitReply(command, recv, recvLength);
        recv[0] = 0x90;
        recv[1] = 0x00;
        *recvLength = 2;
        return SCARD_S_SUCCESS;
    }
    static LONG Control(SCARDHANDLE, DWORD code, LPCVOID, DWORD, LPVOID recv, DWORD room,
                        LPDWORD returned)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        if (f.controlReply)
            return f.controlReply(code, recv, room, returned);
        *returned = 0;
        return SCARD_S_SUCCESS;
    }
    static LONG BeginTransaction(SCARDHANDLE)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        f.transactions.push_back("begin");
        return SCARD_S_SUCCESS;
    }
    static LONG EndTransaction(SCARDHANDLE, DWORD)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        f.transactions.push_back("end");
        return SCARD_S_SUCCESS;
    }
    static LONG Status(SCARDHANDLE, LPSTR, LPDWORD, LPDWORD state, LPDWORD, LPBYTE atrOut,
                       LPDWORD atrLength)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        if (f.statusResult != SCARD_S_SUCCESS)
            return f.statusResult;
        if (state)
            *state = f.statusState;
        if (atrOut && atrLength) {
            if (*atrLength < f.atr.size())
                return SCARD_E_INSUFFICIENT_BUFFER;
            std::memcpy(atrOut, f.atr.data(), f.atr.size());
            *atrLength = f.atr.size();
        }
        return SCARD_S_SUCCESS;
    }
    static LONG GetAttrib(SCARDHANDLE, DWORD attribute, LPBYTE value, LPDWORD length)
    {
        FakePcsc &f = Get();
        std::lock_guard<std::mutex> lock(f.m);
        if (attribute != SCARD_ATTR_ATR_STRING)
            return SCARD_E_UNSUPPORTED_FEATURE;
        if (f.atrResult != SCARD_S_SUCCESS)
            return f.atrResult;
        if (value != nullptr) {
            if (*length < f.atr.size())
                return SCARD_E_INSUFFICIENT_BUFFER;
            std::memcpy(value, f.atr.data(), f.atr.size());
        }
        *length = f.atr.size();
        return SCARD_S_SUCCESS;
    }
};
