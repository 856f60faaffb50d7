// What the file-system tests share: card names, the directories and files they use,
// and reproducible data.
#pragma once

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace card_test
{

// The 8-byte card name of a text (its characters, then zero bytes).
inline std::vector<unsigned char> Name(const std::string &text)
{
    std::vector<unsigned char> n(8, 0);
    memcpy(n.data(), text.data(), text.size() < 8 ? text.size() : 8);
    return n;
}

// The text of an 8-byte card name (which has no terminator when 8 long).
inline std::string NameText(const std::vector<unsigned char> &name8)
{
    return std::string(reinterpret_cast<const char *>(name8.data()),
                       strnlen(reinterpret_cast<const char *>(name8.data()), 8));
}

inline const std::vector<unsigned char> ROOT = Name(""), MSCP = Name("mscp"),
                                        QV_P11 = Name("qv_p11"), CARDCF = Name("cardcf"),
                                        CMAPFILE = Name("cmapfile");

inline std::vector<unsigned char> RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<unsigned char> b(n);
    for (auto &x : b)
        x = static_cast<unsigned char>(rng());
    return b;
}

} // namespace card_test
