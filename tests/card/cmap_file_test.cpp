// The container map image: sizes, names at the edges of their 40 units, change masks,
// the default container, the comparison of two parsed maps and the keyed list.
#include "card/cmap_file.h"

#include "base/win32.h"
#include "personalise.h" // the simulator's record builder

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

namespace
{

const unsigned long INVALID_PARAMETER = 0x80100004;
const unsigned long INVALID_VALUE = 0x80100011;
const unsigned long UNEXPECTED = 0x8010001F;

Bytes record(std::string const &name, unsigned char flags, uint16_t sig = 0, uint16_t kx = 0)
{
    return cardsim::CmapRecord(name, flags, sig, kx);
}

// A record whose name is the given UTF-16 units, without a terminator when 40 long.
Bytes rawRecord(std::vector<uint16_t> const &units, unsigned char flags)
{
    Bytes r(86, 0);
    for (size_t i = 0; i < units.size() && i < 40; ++i) {
        r[2 * i] = static_cast<unsigned char>(units[i]);
        r[2 * i + 1] = static_cast<unsigned char>(units[i] >> 8);
    }
    r[80] = flags;
    return r;
}

Bytes join(std::vector<Bytes> const &records)
{
    Bytes map;
    for (auto const &r : records)
        map.insert(map.end(), r.begin(), r.end());
    return map;
}

// The map in a heap block of its exact size, so that a read past it is caught.
struct Image {
    std::unique_ptr<unsigned char[]> bytes;
    unsigned long size;
    explicit Image(Bytes const &b)
        : bytes(new unsigned char[b.empty() ? 1 : b.size()]), size(b.size())
    {
        if (!b.empty())
            std::memcpy(bytes.get(), b.data(), b.size());
    }
    Bytes recordAt(unsigned long i) const
    {
        return Bytes(bytes.get() + i * 86, bytes.get() + (i + 1) * 86);
    }
};

_qv_md_container_map_record source(std::string const &name, uint16_t sig, uint16_t kx)
{
    Bytes b = record(name, 0, sig, kx);
    _qv_md_container_map_record r;
    std::memset(&r, 0, sizeof r);
    for (int i = 0; i < 40; ++i)
        r.name[i] = static_cast<uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
    r.signatureKeySize = sig;
    r.exchangeKeySize = kx;
    return r;
}

unsigned long indexOf(Image const &map, char const *name, unsigned char *index)
{
    return QVMD_CmapFile_GetContainerIndex(map.bytes.get(), map.size, name, index);
}

} // namespace

TEST(CmapFile, EveryOperationRefusesASizeThatIsNotAMultipleOfTheRecord)
{
    Image two(join({record("a", 1), record("b", 3)}));
    Image cut(Bytes(two.bytes.get(), two.bytes.get() + 170));
    auto src = source("x", 0, 0);
    struct Row {
        char const *name;
        std::function<unsigned long(Image &)> call;
        unsigned long whole, cut;
    } const rows[] = {
        {"index",
         [](Image &m) {
             unsigned char i;
             return indexOf(m, "b", &i);
         },
         0, UNEXPECTED},
        {"data by name",
         [](Image &m) {
             _qv_md_container_map_record_ex out;
             return QVMD_CmapFile_GetContainerDataByName(m.bytes.get(), m.size, "a", &out);
         },
         0, UNEXPECTED},
        {"default name",
         [](Image &m) {
             char out[40];
             unsigned long room = 40;
             return QVMD_CmapFile_GetDefaultContainerName(m.bytes.get(), m.size, out, &room);
         },
         0, UNEXPECTED},
        {"change by index",
         [&](Image &m) {
             return QVMD_CmapFile_ChangeContainerDataByIndex(m.bytes.get(), m.size, 1, &src, 4);
         },
         0, UNEXPECTED},
        {"change by name",
         [&](Image &m) {
             return QVMD_CmapFile_ChangeContainerDataByName(m.bytes.get(), m.size, "a", &src, 4);
         },
         0, UNEXPECTED},
        {"parse",
         [](Image &m) {
             QV_Common_Allocator a;
             QV_Common_AllocatorInit(&a, nullptr, nullptr, nullptr);
             QV_ListData list;
             QV_ListData_Init(&list, &a, nullptr);
             unsigned long rv = QVMD_CmapFile_Parse(m.bytes.get(), m.size, &list);
             QV_ListData_Close(&list);
             return rv;
         },
         0, UNEXPECTED},
    };
    for (auto const &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.whole, row.call(two));
        EXPECT_EQ(row.cut, row.call(cut));
    }
}

TEST(CmapFile, ChangeMasksApplyInTheirFixedOrder)
{
    Bytes before = record("old", 3, 1024, 2048);
    auto src = source("new", 2048, 1024);
    struct Row {
        char const *name;
        uint64_t mask;
        bool withSource;
        unsigned long result;
        Bytes after;
    } const rows[] = {
        {"valid resets the flags", 0x001, false, 0, record("old", 1, 1024, 2048)},
        {"invalid zeroes even with a source", 0x002, true, 0, Bytes(86, 0)},
        {"valid and invalid together", 0x003, true, INVALID_PARAMETER, before},
        {"sizes from the source", 0x014, true, 0, record("old", 3, 2048, 1024)},
        {"cleared after set", 0x03C, true, 0, record("old", 3, 0, 0)},
        {"name", 0x100, true, 0, record("new", 3, 1024, 2048)},
        {"not default after default", 0x0C0, false, 0, record("old", 1, 1024, 2048)},
        {"a size without a source", 0x004, false, INVALID_PARAMETER, before},
    };
    for (auto const &row : rows) {
        SCOPED_TRACE(row.name);
        Image map(join({record("x", 1), before}));
        EXPECT_EQ(row.result,
                  QVMD_CmapFile_ChangeContainerDataByIndex(
                      map.bytes.get(), map.size, 1, row.withSource ? &src : nullptr, row.mask));
        EXPECT_EQ(row.after, map.recordAt(1));
        EXPECT_EQ(record("x", 1), map.recordAt(0));
    }
}

TEST(CmapFile, ChangingARecordThatIsNotThereFails)
{
    Image map(join({record("a", 1), record("b", 1)}));
    auto src = source("c", 0, 0);
    EXPECT_EQ(INVALID_VALUE,
              QVMD_CmapFile_ChangeContainerDataByIndex(map.bytes.get(), map.size, 2, &src, 0x100));
    // an empty map has nothing to change: a failure, not a silent success
    EXPECT_EQ(INVALID_VALUE, QVMD_CmapFile_ChangeContainerDataByIndex(nullptr, 0, 0, &src, 0x100));
    EXPECT_EQ(INVALID_VALUE, QVMD_CmapFile_ChangeContainerDataByName(nullptr, 0, "a", &src, 0x100));
    EXPECT_EQ(INVALID_VALUE,
              QVMD_CmapFile_ChangeContainerDataByName(map.bytes.get(), map.size, "c", &src, 0x100));
    EXPECT_EQ(record("b", 1), map.recordAt(1));
}

TEST(CmapFile, BecomingTheDefaultByNameLeavesExactlyOneDefault)
{
    Image map(join({record("a", 3), record("b", 1), record("c", 2)}));
    ASSERT_EQ(0u, QVMD_CmapFile_ChangeContainerDataByName(map.bytes.get(), map.size, "b", nullptr,
                                                          0x040));
    EXPECT_EQ(record("a", 1), map.recordAt(0));
    EXPECT_EQ(record("b", 3), map.recordAt(1));
    EXPECT_EQ(record("c", 0), map.recordAt(2));
    char out[40];
    unsigned long room = 40;
    EXPECT_EQ(0u, QVMD_CmapFile_GetDefaultContainerName(map.bytes.get(), map.size, out, &room));
    EXPECT_STREQ("b", out);
}

TEST(CmapFile, NamesAreReadWithinTheirFortyUnits)
{
    std::vector<uint16_t> forty(40, 'n'), thirtyNine(39, 'n');
    std::string name39(39, 'n');
    // a pair of surrogates converts unit by unit, as the base library does
    std::vector<uint16_t> surrogates = {'k', 0xD83D, 0xDE00};
    char converted[40] = {};
    ASSERT_NE(0,
              WideCharToMultiByte(1250, 0, surrogates.data(), 3, converted, 40, nullptr, nullptr));
    struct Row {
        char const *name;
        Bytes map;
        std::string wanted;
        unsigned long result;
        unsigned char index;
    } const rows[] = {
        {"an unterminated last record never matches", join({record("a", 1), rawRecord(forty, 1)}),
         std::string(40, 'n'), INVALID_VALUE, 255},
        {"its 40-byte prefix neither", join({rawRecord(forty, 1)}), name39, INVALID_VALUE, 255},
        {"39 units fit", join({rawRecord(forty, 1), rawRecord(thirtyNine, 1)}), name39, 0, 1},
        {"surrogates", join({record("a", 1), rawRecord(surrogates, 1)}), converted, 0, 1},
        {"a lone surrogate does not stop the search",
         join({rawRecord({0xDC00, 'x'}, 1), record("b", 1)}), "b", 0, 1},
        {"absent", join({record("a", 1)}), "b", INVALID_VALUE, 255},
    };
    for (auto const &row : rows) {
        SCOPED_TRACE(row.name);
        Image map(row.map);
        unsigned char index = 7;
        EXPECT_EQ(row.result, indexOf(map, row.wanted.c_str(), &index));
        EXPECT_EQ(row.index, index);
    }
}

TEST(CmapFile, AOneByteIndexNamesOnlyTheFirst255Records)
{
    std::vector<Bytes> records(300, record("", 0));
    records[254] = record("last", 1);
    records[256] = record("beyond", 1); // its index would read as 0
    Image map(join(records));
    unsigned char index = 0;
    EXPECT_EQ(0u, indexOf(map, "last", &index));
    EXPECT_EQ(254, index);
    EXPECT_EQ(INVALID_VALUE, indexOf(map, "beyond", &index));
    EXPECT_EQ(255, index);
    _qv_md_container_map_record_ex out;
    EXPECT_EQ(0u, QVMD_CmapFile_GetContainerDataByName(map.bytes.get(), map.size, "beyond", &out));
    EXPECT_STREQ("beyond", out.entry.name8);
}

TEST(CmapFile, TheDefaultNameNeedsRoomAndAValidDefaultRecord)
{
    struct Row {
        char const *name;
        Bytes map;
        unsigned long room, result;
        char const *out;
    } const rows[] = {
        {"room of 39", join({record("a", 3)}), 39, INVALID_VALUE, nullptr},
        {"valid and default", join({record("a", 1), record("b", 3)}), 40, 0, "b"},
        {"default but not valid", join({record("a", 2)}), 64, 0, ""},
        {"no map", Bytes{}, 40, 0, ""},
        {"an unconvertible default", join({rawRecord(std::vector<uint16_t>(40, 'n'), 3)}), 40,
         INVALID_VALUE, ""},
    };
    for (auto const &row : rows) {
        SCOPED_TRACE(row.name);
        Image map(row.map);
        char out[64];
        std::memset(out, 'x', sizeof out);
        unsigned long room = row.room;
        EXPECT_EQ(row.result,
                  QVMD_CmapFile_GetDefaultContainerName(row.map.empty() ? nullptr : map.bytes.get(),
                                                        map.size, out, &room));
        if (row.out != nullptr) {
            EXPECT_STREQ(row.out, out);
            EXPECT_EQ(40u, room);
        }
    }
}

namespace
{

struct Lists {
    QV_Common_Allocator allocator;
    pthread_mutex_t lock;
    QV_ListData oldMap, newMap, changes;
    Lists()
    {
        QV_Common_AllocatorInit(&allocator, nullptr, nullptr, nullptr);
        InitializeCriticalSection(&lock);
        // one recursive lock for all three: the callback adds to a locked list
        QV_ListData_Init(&oldMap, &allocator, &lock);
        QV_ListData_Init(&newMap, &allocator, &lock);
        QV_ListData_Init(&changes, &allocator, &lock);
    }
    ~Lists()
    {
        QV_ListData_Close(&oldMap);
        QV_ListData_Close(&newMap);
        QV_ListData_Close(&changes);
        DeleteCriticalSection(&lock);
    }
    uint64_t maskOf(uint64_t id)
    {
        _qv_md_container_map_change change;
        unsigned long length = sizeof change;
        return QV_ListData_Get(&changes, id, &change, &length) == 0 ? change.mask : ~0ull;
    }
};

} // namespace

TEST(CmapFile, ComparingTwoParsedMapsReportsEachChangedRecordOnce)
{
    Image before(join({record("same", 1, 1024), record("gone", 1), record("resized", 3, 1024, 0),
                       record("", 0), record("", 0, 0, 512)}));
    Image after(join({record("same", 1, 1024), record("", 0), record("renamed", 1, 0, 2048),
                      record("new", 3), record("", 0, 0, 1024), record("appended", 1)}));
    Lists l;
    ASSERT_EQ(0u, QVMD_CmapFile_Parse(before.bytes.get(), before.size, &l.oldMap));
    ASSERT_EQ(0u, QVMD_CmapFile_Parse(after.bytes.get(), after.size, &l.newMap));
    ASSERT_EQ(0u, QV_ListData_ProcessById(nullptr, &l.oldMap, &l.newMap, &l.changes,
                                          QV_CmapFile_ProcessFunction));
    struct Row {
        uint64_t id, mask;
    } const rows[] = {
        {0, ~0ull},         // unchanged
        {1, 0x002 | 0x100}, // became invalid (and lost its name)
        {2, 0x080 | 0x100 | 0x010 | 0x008},
        {3, 0x001 | 0x040 | 0x100}, // became valid and default
        {4, ~0ull},                 // both invalid
        {5, 0x001},                 // only in the new map
    };
    for (auto const &row : rows) {
        SCOPED_TRACE(row.id);
        EXPECT_EQ(row.mask, l.maskOf(row.id));
    }
    _qv_md_container_map_change change;
    unsigned long length = sizeof change;
    ASSERT_EQ(0u, QV_ListData_Get(&l.changes, 2, &change, &length));
    EXPECT_STREQ("resized", change.oldRecord.name8);
    EXPECT_STREQ("renamed", change.newRecord.name8);
}

TEST(ListData, GetSetAndDeleteKeepTheirContracts)
{
    QV_Common_Allocator a;
    QV_Common_AllocatorInit(&a, nullptr, nullptr, nullptr);
    QV_ListData list;
    QV_ListData uninitialised = {};
    EXPECT_EQ(QV_ERROR_INVALID_PARAMETER, QV_ListData_Init(&list, nullptr, nullptr));
    ASSERT_EQ(0u, QV_ListData_Init(&list, &a, nullptr));
    EXPECT_EQ(INVALID_VALUE, QV_ListData_Set(&uninitialised, 1, "x", 1));
    EXPECT_EQ(INVALID_VALUE, QV_ListData_Set(&list, 1, nullptr, 1));

    ASSERT_EQ(0u, QV_ListData_Set(&list, 7, "abcdef", 6));
    char out[8] = "zzzzzzz";
    unsigned long length = 5;
    EXPECT_EQ(QV_ERROR_INSUFFICIENT_BUFFER, QV_ListData_Get(&list, 7, out, &length));
    EXPECT_EQ(6u, length);
    EXPECT_STREQ("zzzzzzz", out);
    EXPECT_EQ(0u, QV_ListData_Get(&list, 7, out, &length));
    EXPECT_EQ(0, std::memcmp(out, "abcdef", 6));

    // an existing id set with no data keeps its entry, empty
    ASSERT_EQ(0u, QV_ListData_Set(&list, 7, nullptr, 0));
    QV_ListData_Entry *entry = nullptr;
    ASSERT_EQ(0u, QV_ListData_GetItemNoLock(&list, 7, &entry));
    EXPECT_EQ(nullptr, entry->data);
    EXPECT_EQ(0u, entry->length);

    EXPECT_EQ(QV_ERROR_NOT_FOUND, QV_ListData_Get(&list, 8, out, &length));
    EXPECT_EQ(0u, QV_ListData_Delete(&list, 7));
    EXPECT_EQ(QV_ERROR_NOT_FOUND, QV_ListData_Delete(&list, 7));
    QV_ListData_Close(&list);
}

TEST(ListData, IdenticalEntriesAreDeletedFromBothLists)
{
    QV_Common_Allocator a;
    QV_Common_AllocatorInit(&a, nullptr, nullptr, nullptr);
    QV_ListData one, two;
    QV_ListData_Init(&one, &a, nullptr);
    QV_ListData_Init(&two, &a, nullptr);
    QV_ListData_Set(&one, 1, "same", 4);
    QV_ListData_Set(&one, 2, "mine", 4);
    QV_ListData_Set(&two, 9, "same", 4); // equal data under another id
    QV_ListData_Set(&two, 2, "your", 4);
    ASSERT_EQ(0u, QV_ListData_CompareAndDeleteIdentical(&a, &one, &two,
                                                        QV_ListData_CmpFunctionDefaultData));
    std::vector<uint64_t> left;
    auto collect = [](QV_Common_Allocator *, QV_ListData_Entry *e, void *user) -> uint32_t {
        static_cast<std::vector<uint64_t> *>(user)->push_back(e->id);
        return e->id == 99 ? 5 : 0;
    };
    QV_ListData_GoThrough(&one, collect, &left);
    QV_ListData_GoThrough(&two, collect, &left);
    EXPECT_EQ((std::vector<uint64_t>{2, 2}), left);

    // the walk stops at the first non-zero result
    QV_ListData_Set(&one, 99, "stop", 4);
    QV_ListData_Set(&one, 100, "late", 4);
    left.clear();
    EXPECT_EQ(5u, QV_ListData_GoThrough(&one, collect, &left));
    EXPECT_EQ((std::vector<uint64_t>{2, 99}), left);
    QV_ListData_Close(&one);
    QV_ListData_Close(&two);
}
