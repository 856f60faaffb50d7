// The container-map readers over arbitrary images. Input: a name (up to 48 bytes), a
// change mask, then the image, then (after a split) a second image. Properties: no
// read past an image; a refused change leaves the image as it was; becoming the
// default by name leaves exactly one default record; comparing two parsed maps adds
// at most one change per record.
#include "card/cmap_file.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

void check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

// The image in a heap block of its exact size.
struct Image {
    unsigned char *bytes;
    unsigned long size;
    explicit Image(const std::vector<unsigned char> &b)
        : bytes(static_cast<unsigned char *>(malloc(b.empty() ? 1 : b.size()))), size(b.size())
    {
        if (!b.empty())
            memcpy(bytes, b.data(), b.size());
    }
    ~Image() { free(bytes); }
};

unsigned long defaults(const Image &map)
{
    unsigned long n = 0;
    for (unsigned long i = 0; i + 86 <= map.size; i += 86)
        n += (map.bytes[i + 80] & QVMD_CMAP_FLAG_DEFAULT) != 0;
    return n;
}

void changes(const Image &a, const Image &b)
{
    QV_Common_Allocator allocator;
    QV_Common_AllocatorInit(&allocator, nullptr, nullptr, nullptr);
    QV_ListData one, two, out;
    QV_ListData_Init(&one, &allocator, nullptr);
    QV_ListData_Init(&two, &allocator, nullptr);
    QV_ListData_Init(&out, &allocator, nullptr);
    if (QVMD_CmapFile_Parse(a.bytes, a.size, &one) == 0 &&
        QVMD_CmapFile_Parse(b.bytes, b.size, &two) == 0 &&
        QV_ListData_ProcessById(nullptr, &one, &two, &out, QV_CmapFile_ProcessFunction) == 0) {
        unsigned long n = 0;
        for (QV_ListData_Entry *e = out.first; e != nullptr; e = e->next)
            n++;
        check(n <= (a.size > b.size ? a.size : b.size) / 86);
    }
    QV_ListData_Close(&one);
    QV_ListData_Close(&two);
    QV_ListData_Close(&out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size > 1 << 16)
        return 0;
    FuzzedDataProvider input(bytes, size);
    std::string name = input.ConsumeRandomLengthString(48);
    uint64_t mask = input.ConsumeIntegral<uint16_t>() & 0x1FF;
    std::vector<unsigned char> first =
        input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange<size_t>(0, 30 * 86));
    Image map(first), other(input.ConsumeRemainingBytes<unsigned char>());

    unsigned char index = 0;
    if (QVMD_CmapFile_GetContainerIndex(map.bytes, map.size, name.c_str(), &index) == 0)
        check(index < map.size / 86);
    _qv_md_container_map_record_ex record;
    QVMD_CmapFile_GetContainerDataByName(map.bytes, map.size, name.c_str(), &record);
    char text[40];
    unsigned long room = sizeof text;
    if (QVMD_CmapFile_GetDefaultContainerName(map.bytes, map.size, text, &room) == 0)
        check(memchr(text, 0, sizeof text) != nullptr);

    _qv_md_container_map_record source;
    memset(&source, 0x41, sizeof source);
    std::vector<unsigned char> before(map.bytes, map.bytes + map.size);
    uint32_t rv =
        QVMD_CmapFile_ChangeContainerDataByName(map.bytes, map.size, name.c_str(), &source, mask);
    if (rv != 0)
        check(map.size == 0 || memcmp(before.data(), map.bytes, map.size) == 0);
    else if ((mask & QVMD_CMAP_BECAME_DEFAULT) && !(mask & QVMD_CMAP_NO_LONGER_DEFAULT) &&
             !(mask & QVMD_CMAP_BECAME_INVALID))
        check(defaults(map) == 1);
    if (QVMD_CmapFile_ChangeContainerDataByIndex(map.bytes, map.size, index, nullptr, mask) != 0)
        check(map.size == 0 || map.size % 86 != 0 || index >= map.size / 86 ||
              (mask & ~(QVMD_CMAP_BECAME_VALID | QVMD_CMAP_BECAME_INVALID |
                        QVMD_CMAP_BECAME_DEFAULT | QVMD_CMAP_NO_LONGER_DEFAULT)) != 0 ||
              (mask & 3) == 3);
    changes(map, other);
    return 0;
}
