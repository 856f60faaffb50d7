#include "token/card_read_cache.h"

#include <cstring>

namespace
{

// "cardcf" bytes 2-3 (containers) and 4-5 (files).
constexpr size_t COUNTERS_AT = 2;
constexpr size_t COUNTERS_LENGTH = 4;
constexpr size_t NAME_LENGTH = 8;

} // namespace

void CCardReadCache::Begin(unsigned char const cardcf[6])
{
    if (!m_haveCounters || std::memcmp(m_counters, cardcf + COUNTERS_AT, COUNTERS_LENGTH) != 0)
        m_entries.clear();
    std::memcpy(m_counters, cardcf + COUNTERS_AT, COUNTERS_LENGTH);
    m_haveCounters = true;
    m_inPass = true;
}

void CCardReadCache::End()
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->second.life == PASS)
            it = m_entries.erase(it);
        else
            ++it;
    }
    m_inPass = false;
}

void CCardReadCache::Forget()
{
    m_entries.clear();
    m_haveCounters = false;
}

std::string CCardReadCache::Key(Kind kind, unsigned char const *dir, unsigned char const *name)
{
    std::string key(1, static_cast<char>(kind));
    key.append(2 * NAME_LENGTH, '\0');
    if (dir != nullptr)
        std::memcpy(&key[1], dir, NAME_LENGTH);
    if (name != nullptr)
        std::memcpy(&key[1 + NAME_LENGTH], name, NAME_LENGTH);
    return key;
}

CCardReadCache::Read const *CCardReadCache::Find(std::string const &key) const
{
    if (!m_inPass)
        return nullptr;
    auto it = m_entries.find(key);
    if (it == m_entries.end())
        return nullptr;
    ++m_hits;
    return &it->second.read;
}

void CCardReadCache::Keep(std::string const &key, Life life, uint32_t result,
                          unsigned char const *bytes, unsigned long length)
{
    if (!m_inPass || life == NEVER)
        return;
    Entry &entry = m_entries[key];
    entry.life = life;
    entry.read.result = result;
    if (bytes != nullptr && length != 0)
        entry.read.bytes.assign(bytes, bytes + length);
    else
        entry.read.bytes.clear();
}
