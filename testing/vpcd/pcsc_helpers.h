// Waiting on the real reader service from tests: the virtual reader sees a card
// come or go a moment after the card side acts.
#pragma once

#include <winscard.h>

#include <chrono>
#include <string>

#include "vpcd_card.h"

// Waits until the reader reports a card present (or absent); false on time-out.
inline bool WaitCardState(SCARDCONTEXT ctx, std::string const &reader, bool present,
                          int timeoutMs = 5000)
{
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left < 0)
            return false;
        LONG rv = SCardGetStatusChange(ctx, static_cast<DWORD>(left), &state, 1);
        if (rv != SCARD_S_SUCCESS)
            return false;
        bool isPresent = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
        if (isPresent == present)
            return true;
        state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
    }
}

// Waits until neither virtual reader holds a card; false on time-out. A test that
// counts on empty readers starts with it: the reader service sees a card of an
// earlier test leave only at its next presence poll, after that test has ended.
inline bool WaitReadersEmpty(SCARDCONTEXT ctx, int timeoutMs = 5000)
{
    return WaitCardState(ctx, vpcd::NameOfReader(0), false, timeoutMs) &&
           WaitCardState(ctx, vpcd::NameOfReader(1), false, timeoutMs);
}
