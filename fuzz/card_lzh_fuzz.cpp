// The LZH codec and the compressed-file codec over arbitrary bytes. Input: two bytes
// of plain length, then the code. Properties: decoding never reads or writes out of
// bounds and stops within a final match of the length asked; whatever decodes to
// exactly that length is accepted by the compressed-file reader as well; encoding the
// input and decoding it gives the input back.
#include "card/lzh.h"
#include "card/qvmd_compress.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

void check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

// A source over an exact heap copy and a sink into a bounded vector.
struct Source {
    const unsigned char *data;
    size_t length, position;
};

int readSource(void *bytes, int count, void *user)
{
    auto *s = static_cast<Source *>(user);
    if (count < 1 || s->position >= s->length)
        return 0;
    *static_cast<unsigned char *>(bytes) = s->data[s->position++];
    return 1;
}

struct Sink {
    std::vector<unsigned char> out;
    size_t limit;
};

int writeSink(void *bytes, int count, void *user)
{
    auto *s = static_cast<Sink *>(user);
    if (bytes == nullptr)
        return 0;
    check(s->out.size() + count <= s->limit);
    s->out.insert(s->out.end(), static_cast<unsigned char *>(bytes),
                  static_cast<unsigned char *>(bytes) + count);
    return count;
}

lzhcontext *codec()
{
    static std::unique_ptr<lzhcontext> context(new lzhcontext);
    return context.get();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 2 || size > 1 << 16)
        return 0;
    uint32_t plainLength = bytes[0] | bytes[1] << 8;
    size_t codeLength = size - 2;
    auto *code = static_cast<unsigned char *>(malloc(codeLength ? codeLength : 1));
    memcpy(code, bytes + 2, codeLength);

    Source source{code, codeLength, 0};
    Sink plain{{}, plainLength + LZH_F};
    int rv = LZHUnPack(codec(), plainLength, readSource, &source, writeSink, &plain);
    check(rv == 0 || rv == -1);
    check(rv != 0 || plain.out.size() >= plainLength);

    _qv_md_card_struct card;
    QVMD_CardInitStructNoCommunication(&card, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr);
    unsigned char *out = nullptr;
    unsigned long outLength = 0;
    uint32_t result = QVMD_Decompress(&card, code, codeLength, &out, &outLength, plainLength);
    bool exact = codeLength > 0 && rv == 0 && plain.out.size() == plainLength;
    check((result == 0) == exact);
    check(result != 0 || plainLength == 0 || memcmp(out, plain.out.data(), plainLength) == 0);
    QVMD_Free(&card, out);

    // the other way: the input as plain data
    Source again{code, codeLength, 0};
    Sink packed{{}, 2 * codeLength + 64};
    check(LZHPack(codec(), readSource, &again, writeSink, &packed) == static_cast<int>(codeLength));
    Source back{packed.out.data(), packed.out.size(), 0};
    Sink restored{{}, codeLength + LZH_F};
    check(LZHUnPack(codec(), codeLength, readSource, &back, writeSink, &restored) == 0);
    check(restored.out.size() >= codeLength);
    check(codeLength == 0 || memcmp(restored.out.data(), code, codeLength) == 0);

    QVMD_CardReleaseStruct(&card);
    free(code);
    return 0;
}
