// The identity-card token's card reads that its read cache may answer: file
// contents, file information and directory listings. Inside a read pass a
// read kept for its life is answered from memory; any other goes to the card.
#include <cstring>

#include "card/qvmd.h"
#include "token/p11_token_eid.h"

namespace
{

// A read the cache may keep: a success, or a file or directory that is not
// there. A failing exchange or a damaged file is read again next time.
bool keepable(uint32_t rv)
{
    return rv == 0 || rv == QV_E_FILE_NOT_FOUND || rv == QV_E_NO_FILE || rv == QV_E_DIR_NOT_FOUND;
}

} // namespace

uint32_t CP11Token_eiD::cachedRead(CCardReadCache::Kind kind, unsigned char const *dir,
                                   unsigned char const *name, CCardReadCache::Life life,
                                   std::vector<unsigned char> &bytes, ByteReader const &read)
{
    std::string key = CCardReadCache::Key(kind, dir, name);
    if (CCardReadCache::Read const *kept = m_readCache.Find(key)) {
        bytes = kept->bytes;
        return kept->result;
    }
    uint32_t rv = read(bytes);
    if (keepable(rv))
        m_readCache.Keep(key, life, rv, bytes.data(), bytes.size());
    return rv;
}

uint32_t CP11Token_eiD::cachedBuffer(CCardReadCache::Kind kind, unsigned char const *dir,
                                     unsigned char const *name, CCardReadCache::Life life,
                                     BufferReader const &read, unsigned char **data,
                                     unsigned long *length)
{
    std::vector<unsigned char> bytes;
    uint32_t rv = cachedRead(kind, dir, name, life, bytes, [&](std::vector<unsigned char> &out) {
        unsigned char *got = nullptr;
        unsigned long n = 0;
        uint32_t r = read(&got, &n);
        if (r == 0 && got != nullptr)
            out.assign(got, got + n);
        QVMD_Free(m_card, got);
        return r;
    });
    if (rv != 0) {
        *data = nullptr;
        *length = 0;
        return rv;
    }
    return cardBytes(m_card, bytes, data, length);
}

uint32_t CP11Token_eiD::cardBytes(_qv_md_card_struct *card, std::vector<unsigned char> const &bytes,
                                  unsigned char **data, unsigned long *length)
{
    *data = nullptr;
    *length = 0;
    if (bytes.empty())
        return 0;
    *data = static_cast<unsigned char *>(QVMD_Alloc(card, bytes.size()));
    if (*data == nullptr)
        return QV_E_NO_MEMORY;
    std::memcpy(*data, bytes.data(), bytes.size());
    *length = bytes.size();
    return 0;
}

uint32_t CP11Token_eiD::readFile(unsigned char const *dir, unsigned char const *name,
                                 unsigned char **data, unsigned long *length,
                                 CCardReadCache::Life life)
{
    // what may not be kept never passes through a buffer of the cache's
    if (life == CCardReadCache::NEVER || !m_readCache.InPass())
        return QVMD_ReadFile(m_card, dir, name, data, length);
    return cachedBuffer(
        CCardReadCache::CONTENT, dir, name, life,
        [&](unsigned char **got, unsigned long *n) {
            return QVMD_ReadFile(m_card, dir, name, got, n);
        },
        data, length);
}

uint32_t CP11Token_eiD::readFileInfo(unsigned char const *dir, unsigned char const *name,
                                     _qv_md_file_info *info)
{
    std::vector<unsigned char> bytes;
    uint32_t rv = cachedRead(CCardReadCache::INFO, dir, name, CCardReadCache::COUNTERS, bytes,
                             [&](std::vector<unsigned char> &out) {
                                 _qv_md_file_info read = {};
                                 uint32_t r = QVMD_ReadFileInfo(m_card, dir, name, &read);
                                 unsigned char const *p = reinterpret_cast<unsigned char *>(&read);
                                 if (r == 0)
                                     out.assign(p, p + sizeof(read));
                                 return r;
                             });
    if (rv == 0 && bytes.size() == sizeof(*info))
        std::memcpy(info, bytes.data(), sizeof(*info));
    return rv;
}

uint32_t CP11Token_eiD::enumFiles(unsigned char const *dir, unsigned char **names,
                                  unsigned long *length)
{
    return cachedBuffer(
        CCardReadCache::LISTING, dir, nullptr, CCardReadCache::COUNTERS,
        [&](unsigned char **got, unsigned long *n) {
            return QVMD_EnumFilesEx(m_card, dir, got, n, 0);
        },
        names, length);
}
