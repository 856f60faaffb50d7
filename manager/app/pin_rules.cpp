#include "pin_rules.h"

#include <limits>

namespace pin_rule
{

Fault check(const QString &entry, int shortest, int longest)
{
    if (entry.isEmpty())
        return Fault::Empty;
    for (QChar c : entry)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return Fault::NotDigits;
    if (entry.size() < shortest)
        return Fault::TooShort;
    if (longest > 0 && entry.size() > longest)
        return Fault::TooLong;
    return Fault::None;
}

int shortest(int own, uint64_t tokenMinimum)
{
    return tokenMinimum > uint64_t(own) ? longest(tokenMinimum) : own;
}

int longest(uint64_t tokenMaximum)
{
    constexpr uint64_t most = std::numeric_limits<int>::max();
    return int(tokenMaximum > most ? most : tokenMaximum);
}

} // namespace pin_rule
