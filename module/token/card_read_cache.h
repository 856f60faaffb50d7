// What the token has read from the card, kept so that the same read is not sent
// twice while the card cannot have changed.
//
// Every writer of the card raises the change counters in "cardcf" (containers,
// files) when it creates, deletes or rewrites the container map, a certificate
// file or a data file, so those reads stay true while the two counters keep the
// values they had when the reads were made (COUNTERS). A container attribute
// file may be overwritten without a counter moving: it is kept only for the
// length of one pass (PASS), which runs inside one PC/SC transaction where no
// other application's command can come between. Private files are never kept.
//
// The cache answers only inside a pass (Begin .. End); outside one every read
// goes to the card. Begin compares the counters it is given with those the kept
// reads were made under and forgets everything when they differ.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CCardReadCache
{
  public:
    enum Life { NEVER, PASS, COUNTERS };
    // What was read: a file's contents, its file information, a directory
    // listing, one key's information.
    enum Kind : char { CONTENT = 'c', INFO = 'i', LISTING = 'l', KEY = 'k' };

    struct Read {
        uint32_t result = 0;
        std::vector<unsigned char> bytes;
    };

    // Starts a pass at the card's "cardcf" record (6 bytes, as read now).
    void Begin(unsigned char const cardcf[6]);
    // Ends the pass: reads kept for the pass only are dropped.
    void End();
    bool InPass() const { return m_inPass; }
    // Forgets every read (the token wrote to the card, or lost it).
    void Forget();

    // The key of a read: its kind and two 8-byte card names (a key uses the
    // container number and key spec as its "name").
    static std::string Key(Kind kind, unsigned char const *dir, unsigned char const *name);

    // The read kept under key, or NULL (always NULL outside a pass).
    Read const *Find(std::string const &key) const;
    // Keeps a read for its life (nothing outside a pass or for NEVER).
    void Keep(std::string const &key, Life life, uint32_t result, unsigned char const *bytes,
              unsigned long length);

    // Number of reads answered from the cache since construction.
    unsigned long Hits() const { return m_hits; }

  private:
    struct Entry {
        Read read;
        Life life;
    };
    std::map<std::string, Entry> m_entries;
    unsigned char m_counters[4] = {}; // containers and files counters of the entries
    bool m_haveCounters = false;
    bool m_inPass = false;
    mutable unsigned long m_hits = 0;
};

// Begins a pass and ends it at the end of the scope.
class CCardReadPass
{
  public:
    CCardReadPass(CCardReadCache &cache, unsigned char const cardcf[6]) : m_cache(cache)
    {
        m_cache.Begin(cardcf);
    }
    ~CCardReadPass() { m_cache.End(); }
    CCardReadPass(CCardReadPass const &) = delete;
    CCardReadPass &operator=(CCardReadPass const &) = delete;

  private:
    CCardReadCache &m_cache;
};
