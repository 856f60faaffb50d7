#include "vpcd_card.h"

#include <chrono>

namespace vpcd
{

ScriptedCard::ScriptedCard(Bytes atr) : m_atr(std::move(atr)) {}

void ScriptedCard::On(const Bytes &command, const Bytes &reply)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_fixed[command] = reply;
}

void ScriptedCard::Queue(const Bytes &reply)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_queue.push_back(reply);
}

void ScriptedCard::SetDefault(const Bytes &reply)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_default = reply;
}

void ScriptedCard::SetAtr(const Bytes &atr)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_atr = atr;
}

Bytes ScriptedCard::Atr()
{
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_atrRequests;
    m_changed.notify_all();
    return m_atr;
}

void ScriptedCard::PowerOn()
{
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_powerOns;
    m_changed.notify_all();
}

void ScriptedCard::PowerOff()
{
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_powerOffs;
    m_changed.notify_all();
}

void ScriptedCard::Reset()
{
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_resets;
    m_changed.notify_all();
}

Bytes ScriptedCard::Apdu(const Bytes &command)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_received.push_back(command);
    m_changed.notify_all();
    auto fixed = m_fixed.find(command);
    if (fixed != m_fixed.end())
        return fixed->second;
    if (m_queueHead < m_queue.size())
        return m_queue[m_queueHead++];
    return m_default;
}

std::vector<Bytes> ScriptedCard::Received() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_received;
}

size_t ScriptedCard::ReceivedCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_received.size();
}

void ScriptedCard::ClearReceived()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_received.clear();
}

int ScriptedCard::PowerOns() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_powerOns;
}

int ScriptedCard::PowerOffs() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_powerOffs;
}

int ScriptedCard::Resets() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_resets;
}

int ScriptedCard::AtrRequests() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_atrRequests;
}

bool ScriptedCard::WaitReceived(size_t n, int timeoutMs) const
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_received.size() >= n; });
}

} // namespace vpcd
