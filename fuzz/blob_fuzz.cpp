// Arbitrary bytes through the blob's format checks, text conversions,
// multi-string walk and tokenizer. Round trips that must hold trap.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/blob.h"
#include "base/blob_tokenizer.h"

namespace
{

void walk(CBlob &b)
{
    size_t total = 0;
    for (char const *s = b.MBStringFirst(); s != nullptr; s = b.MBStringNext())
        total += std::strlen(s);
    if (total > b.GetSize())
        __builtin_trap();
}

void hexRoundTrip(uint8_t const *data, unsigned int n, CBlob::DataFormat fmt, char const *sep,
                  int perLine)
{
    CBlob b(data, n, true);
    if (!b.ToFormat(fmt, sep, perLine))
        __builtin_trap();
    if (!b.IsFormat(fmt) || !b.FromFormat(fmt))
        __builtin_trap();
    if (b.GetSize() != n || std::memcmp(b.GetData(), data, n) != 0)
        __builtin_trap();
}

bool plainUtf8(uint8_t const *data, unsigned int n)
{
    if (!CBlob::check_utf8(data, n))
        return false;
    for (unsigned int i = 0; i < n; ++i)
        if (data[i] == 0 || data[i] >= 0xF8)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    unsigned int n = (unsigned int)size;

    // An exact heap copy: the sanitizer sees any access past the input.
    uint8_t *exact = static_cast<uint8_t *>(std::malloc(n ? n : 1));
    if (n)
        std::memcpy(exact, data, n);

    for (int fmt = 0; fmt <= 4; ++fmt) {
        CBlob b(exact, n, false);
        b.IsFormat((CBlob::DataFormat)fmt);
        CBlob from(exact, n, false);
        from.FromFormat((CBlob::DataFormat)fmt);
        CBlob to(exact, n, false);
        to.ToFormat((CBlob::DataFormat)fmt, n ? ":" : nullptr, n ? data[0] % 9 - 1 : -1);
        (void)(char const *)to;
    }

    {
        CBlob borrowed(exact, n, false);
        walk(borrowed);
        (void)(char const *)borrowed;
        CBlob owned(exact, n, true);
        walk(owned);
        owned.Replace(",", "<>");
        owned.Trim(true);
        owned.TrimChar(0, false);
    }

    if (n > 0) {
        hexRoundTrip(exact, n, CBlob::DF_HEX, nullptr, -1);
        hexRoundTrip(exact, n, CBlob::DF_HEX, " ", data[0] % 7);
        hexRoundTrip(exact, n, CBlob::DF_CPP, ", ", data[0] % 13);
    }

    if (n > 0 && plainUtf8(exact, n)) {
        CBlob b(exact, n, true);
        if (!b.ToFormat(CBlob::DF_UTF32) || !b.FromFormat(CBlob::DF_UTF32))
            __builtin_trap();
        if (b.GetSize() != n || std::memcmp(b.GetData(), exact, n) != 0)
            __builtin_trap();
    }

    {
        CBlob text(exact, n, true);
        CBlobTokenizer tok(text);
        while (tok.Next(", \n") != nullptr)
            tok.Rest();
    }

    std::free(exact);
    return 0;
}
