// Small helpers shared by the core classes: printable names for log lines,
// the way out of a method that ends by a CP11Exception, and the blank-filled
// text fields of the info structures.
#pragma once

#include <cstddef>
#include <cstring>

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"

namespace vok_core
{

// s, or the log's text for a missing one.
inline char const *logText(char const *s)
{
    return s != nullptr ? s : vok_log::NULL_TEXT;
}

inline char const *rvName(unsigned long rv)
{
    return logText(CP11Convert::CKR2String(rv));
}

inline char const *ckaName(unsigned long type)
{
    return logText(CP11Convert::CKA2String(type));
}

// The type 16 line of cls::method, then the same code thrown on: one line per
// level crossed.
[[noreturn]] inline void leaveByException(char const *cls, char const *method, unsigned long rv)
{
    vok_log::decloglevel();
    vok_log::hl_log(0x10, "%s::%s( 0x%.8x [ %s ] )\n", cls, method, rv, rvName(rv));
    throw CP11Exception(rv);
}

// Blank-fills a fixed-width field, then copies at most width bytes of s (no NUL).
inline void putText(unsigned char *field, size_t width, char const *s)
{
    std::memset(field, ' ', width);
    if (s == nullptr)
        return;
    size_t n = std::strlen(s);
    std::memcpy(field, s, n < width ? n : width);
}

} // namespace vok_core
