#include "base/win32.h"

#include "base/linux/linux_log.h"

#include <climits>
#include <cstring>

void InitializeCriticalSection(pthread_mutex_t *cs)
{
    if (cs == nullptr)
        return;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(cs, &attr);
    pthread_mutexattr_destroy(&attr);
}

void DeleteCriticalSection(pthread_mutex_t *cs)
{
    if (cs != nullptr)
        pthread_mutex_destroy(cs);
}

void EnterCriticalSection(pthread_mutex_t *cs)
{
    if (cs != nullptr)
        pthread_mutex_lock(cs);
}

void LeaveCriticalSection(pthread_mutex_t *cs)
{
    if (cs != nullptr)
        pthread_mutex_unlock(cs);
}

bool TryEnterCriticalSection(pthread_mutex_t *cs)
{
    return cs != nullptr && pthread_mutex_trylock(cs) == 0;
}

namespace
{

long long utf8Length(unsigned short const *src, int units)
{
    long long n = 0;
    for (int i = 0; i < units; ++i) {
        unsigned short u = src[i];
        n += (u >= 1 && u <= 0x7F) ? 1 : (u <= 0x7FF ? 2 : 3);
    }
    return n;
}

} // namespace

int WideCharToMultiByte(unsigned int, unsigned long, unsigned short const *src, int srcUnits,
                        char *dst, int dstBytes, char const *, short *)
{
    if (src == nullptr || srcUnits < -1 || dstBytes < 0)
        return 0;
    if (srcUnits == -1) {
        srcUnits = 0;
        while (src[srcUnits] != 0) {
            if (srcUnits == INT_MAX)
                return 0;
            ++srcUnits;
        }
    }
    // Each pass shows its source in the log.
    hexdump(src, srcUnits > INT_MAX / 2 ? INT_MAX : srcUnits * 2);
    long long needed = utf8Length(src, srcUnits) + 1;
    if (needed > INT_MAX)
        return 0;
    if (dstBytes == 0)
        return static_cast<int>(needed);
    if (dst == nullptr || dstBytes < needed)
        return 0;

    hexdump(src, srcUnits > INT_MAX / 2 ? INT_MAX : srcUnits * 2);
    std::memset(dst, 0, static_cast<size_t>(dstBytes));
    unsigned char *out = reinterpret_cast<unsigned char *>(dst);
    for (int i = 0; i < srcUnits; ++i) {
        unsigned short u = src[i];
        if (u >= 1 && u <= 0x7F) {
            *out++ = static_cast<unsigned char>(u);
        } else if (u <= 0x7FF) {
            *out++ = static_cast<unsigned char>(0xC0 | (u >> 6));
            *out++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        } else {
            *out++ = static_cast<unsigned char>(0xE0 | (u >> 12));
            *out++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
            *out++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
        }
    }
    *out = 0;
    return static_cast<int>(needed);
}
