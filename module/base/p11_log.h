// Log helpers of the PKCS#11 classes: printable names for return codes and
// attribute types, and the one way out of a method that ends by a CP11Exception.
// The object classes reach them through objects/p11_frame.h, the core classes
// through core/core_support.h.
#pragma once

#include "base/linux/linux_log.h"
#include "base/p11_convert.h"
#include "base/p11_exception.h"

namespace p11_log
{

// s, or the log's text for a missing one.
inline char const *text(char const *s)
{
    return s != nullptr ? s : vok_log::NULL_TEXT;
}

inline char const *rvName(unsigned long rv)
{
    return text(CP11Convert::CKR2String(rv));
}

inline char const *ckaName(unsigned long type)
{
    return text(CP11Convert::CKA2String(type));
}

// The exception line of where ("CP11Manager::GetSlot"), then the code thrown. For a
// method that never wrote its enter line (a constructor that failed early).
[[noreturn]] inline void raiseLogged(char const *where, unsigned long rv)
{
    vok_log::hl_log(vok_log::HL_EXCEPTION, "%s( 0x%.8lx [ %s ] )\n", where, rv, rvName(rv));
    throw CP11Exception(rv);
}

// Leaves a method frame by an exception: no leave line follows, so the nesting
// level of the enter line is undone here; then the exception line and the throw.
[[noreturn]] inline void rethrow(char const *where, unsigned long rv)
{
    vok_log::decloglevel();
    raiseLogged(where, rv);
}

[[noreturn]] inline void rethrow(char const *where, CP11Exception const &e)
{
    rethrow(where, e.GetErrorCode());
}

} // namespace p11_log
