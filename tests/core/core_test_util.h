// Small helpers the core tests share: the code a call throws, the fixed-width
// text fields of the info structures, a log file read whole, and a channel
// that only carries a technology name.
#pragma once

#include <cstddef>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "base/p11_exception.h"
#include "channel/channel.h"

namespace core_test
{

constexpr unsigned long NO_ERROR = 0;

// The code the call throws as a CP11Exception; NO_ERROR when it returns.
inline unsigned long codeOf(std::function<void()> const &f)
{
    try {
        f();
    } catch (CP11Exception const &e) {
        return e.GetErrorCode();
    }
    return NO_ERROR;
}

// A fixed-width text field as it stands, and s blank-filled to that width.
inline std::string field(unsigned char const *p, size_t n)
{
    return std::string((char const *)p, n);
}

inline std::string padded(std::string s, size_t n)
{
    return s.append(n - s.size(), ' ');
}

inline std::string readFile(std::string const &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class NamedChannel : public CChannel
{
  public:
    explicit NamedChannel(char const *name = "PCSC") { m_name = name; }
};

} // namespace core_test
