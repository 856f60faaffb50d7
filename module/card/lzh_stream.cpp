#include "card/lzh_stream.h"

#include <cstring>

static_assert(sizeof(lzhsmstream) == 24, "memory stream record");
static_assert(sizeof(lzhsfstream) == 4120, "file stream record");

namespace
{

template <typename Stream> Stream *stream(void *p)
{
    Stream *s = static_cast<Stream *>(p);
    return s != nullptr && s->size == sizeof(Stream) ? s : nullptr;
}

uint32_t smaller(int count, uint32_t left)
{
    return count < 0 ? 0 : (static_cast<uint32_t>(count) < left ? count : left);
}

} // namespace

void lzhsmInit(lzhsmstream *s, unsigned char *buffer, uint32_t capacity)
{
    *s = {sizeof *s, buffer, capacity, 0};
}

int lzhsmPutBytes(void *bytes, int count, void *p)
{
    lzhsmstream *s = stream<lzhsmstream>(p);
    if (s == nullptr)
        return -2;
    if (bytes == nullptr || count <= 0)
        return 0;
    if (s->buffer == nullptr) {
        s->position += count;
        return count;
    }
    if (static_cast<uint32_t>(count) > s->capacity - s->position)
        return -1;
    std::memcpy(s->buffer + s->position, bytes, count);
    s->position += count;
    return count;
}

int lzhsmGetBytes(void *bytes, int count, void *p)
{
    lzhsmstream *s = stream<lzhsmstream>(p);
    if (s == nullptr)
        return -2;
    if (s->buffer == nullptr || s->position >= s->capacity)
        return 0;
    uint32_t n = smaller(count, s->capacity - s->position);
    std::memcpy(bytes, s->buffer + s->position, n);
    s->position += n;
    return static_cast<int>(n);
}

void lzhsfInit(lzhsfstream *s, FILE *file)
{
    std::memset(s, 0, sizeof *s);
    s->size = sizeof *s;
    s->file = file;
}

namespace
{

bool writeBlock(lzhsfstream *s)
{
    bool ok = s->count == 0 || std::fwrite(s->block, 1, s->count, s->file) == s->count;
    s->count = 0;
    return ok;
}

} // namespace

int lzhsfPutBytes(void *bytes, int count, void *p)
{
    lzhsfstream *s = stream<lzhsfstream>(p);
    if (s == nullptr || s->file == nullptr)
        return -2;
    if (bytes == nullptr || count <= 0)
        return writeBlock(s) && std::fflush(s->file) == 0 ? 0 : -1;
    unsigned char const *in = static_cast<unsigned char const *>(bytes);
    for (int done = 0; done < count;) {
        uint32_t n = smaller(count - done, sizeof s->block - s->count);
        std::memcpy(s->block + s->count, in + done, n);
        s->count += n;
        done += static_cast<int>(n);
        if (s->count == sizeof s->block && !writeBlock(s))
            return -1;
    }
    return count;
}

int lzhsfGetBytes(void *bytes, int count, void *p)
{
    lzhsfstream *s = stream<lzhsfstream>(p);
    if (s == nullptr || s->file == nullptr)
        return -2;
    if (s->position >= s->count) {
        s->count = static_cast<uint32_t>(std::fread(s->block, 1, sizeof s->block, s->file));
        s->position = 0;
        if (s->count == 0)
            return std::ferror(s->file) ? -1 : 0;
    }
    uint32_t n = smaller(count, s->count - s->position);
    std::memcpy(bytes, s->block + s->position, n);
    s->position += n;
    return static_cast<int>(n);
}
