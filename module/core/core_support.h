// Small helpers shared by the core classes: printable names for log lines,
// the way out of a method that ends by a CP11Exception (p11_log.h), and the
// blank-filled text fields of the info structures.
#pragma once

#include <cstddef>
#include <cstring>

#include "base/p11_log.h"

namespace vok_core
{

using p11_log::ckaName;
using p11_log::rethrow;
using p11_log::rvName;
using p11_log::text;

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
