// Waiting from tests for the reader monitors that have ended on their own to be
// freed.
#pragma once

#include "channel/channel_pcsc.h"

#include <chrono>
#include <thread>

// Frees ended monitors until none is left or five seconds have gone; the caller
// checks what is left.
inline void WaitMonitorsReaped()
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (CChannelPCSC::ReapMonitors() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
