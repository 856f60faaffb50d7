#include "card/cmap_file.h"

#include "base/win32.h"
#include "card/qv_result.h"

#include <cstring>

namespace
{

const unsigned int CODE_PAGE = 1250;

typedef _qv_md_container_map_record Record;

uint16_t get16(unsigned char const *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void put16(unsigned char *p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

Record readRecord(unsigned char const *cmap, unsigned long i)
{
    unsigned char const *p = cmap + i * QVMD_CMAP_RECORD_SIZE;
    Record r;
    for (int u = 0; u < 40; ++u)
        r.name[u] = get16(p + 2 * u);
    r.flags = p[80];
    r.reserved = p[81];
    r.signatureKeySize = get16(p + 82);
    r.exchangeKeySize = get16(p + 84);
    return r;
}

void writeRecord(unsigned char *cmap, unsigned long i, Record const &r)
{
    unsigned char *p = cmap + i * QVMD_CMAP_RECORD_SIZE;
    for (int u = 0; u < 40; ++u)
        put16(p + 2 * u, r.name[u]);
    p[80] = r.flags;
    p[81] = r.reserved;
    put16(p + 82, r.signatureKeySize);
    put16(p + 84, r.exchangeKeySize);
}

// The name as zero-terminated 8-bit text in 40 bytes, from at most its 40 units;
// false (and an empty text) when it does not fit.
bool convertName(Record const &r, char out[40])
{
    std::memset(out, 0, QVMD_CMAP_NAME_ROOM);
    int units = 0;
    while (units < 40 && r.name[units] != 0)
        ++units;
    return WideCharToMultiByte(CODE_PAGE, 0, r.name, units, out, QVMD_CMAP_NAME_ROOM, nullptr,
                               nullptr) != 0;
}

unsigned long recordCount(unsigned long size)
{
    return size / QVMD_CMAP_RECORD_SIZE;
}

bool whole(unsigned long size)
{
    return size % QVMD_CMAP_RECORD_SIZE == 0;
}

// The first of the first `limit` records named `name`, or `limit`.
unsigned long findByName(unsigned char const *cmap, unsigned long limit, char const *name)
{
    for (unsigned long i = 0; i < limit; ++i) {
        char text[40];
        if (convertName(readRecord(cmap, i), text) && std::strcmp(text, name) == 0)
            return i;
    }
    return limit;
}

// The first record named `name` among the first `limit` (0: all) of a whole image.
uint32_t locate(unsigned char const *cmap, unsigned long size, char const *name,
                unsigned long limit, unsigned long *found)
{
    if (cmap == nullptr || size == 0 || name == nullptr)
        return QV_E_INVALID_VALUE;
    if (!whole(size))
        return QV_E_UNEXPECTED;
    unsigned long count = recordCount(size);
    if (limit == 0 || limit > count)
        limit = count;
    *found = findByName(cmap, limit, name);
    return *found < limit ? QV_OK : QV_E_INVALID_VALUE;
}

_qv_md_container_map_entry parse(Record const &r)
{
    _qv_md_container_map_entry e;
    std::memset(&e, 0, sizeof e);
    e.record = r;
    convertName(r, e.name8);
    e.valid = r.flags & QVMD_CMAP_FLAG_VALID;
    e.isDefault = (r.flags & QVMD_CMAP_FLAG_DEFAULT) != 0;
    return e;
}

// Bits that take their value from the source record.
const uint64_t FROM_SOURCE = QVMD_CMAP_SIGNATURE_SET | QVMD_CMAP_SIGNATURE_CLEARED |
                             QVMD_CMAP_EXCHANGE_SET | QVMD_CMAP_EXCHANGE_CLEARED |
                             QVMD_CMAP_NAME_CHANGED;

void applySizesAndName(Record &r, Record const *source, uint64_t mask)
{
    if (mask & QVMD_CMAP_EXCHANGE_SET)
        r.exchangeKeySize = source->exchangeKeySize;
    if (mask & QVMD_CMAP_SIGNATURE_SET)
        r.signatureKeySize = source->signatureKeySize;
    if (mask & QVMD_CMAP_EXCHANGE_CLEARED)
        r.exchangeKeySize = 0;
    if (mask & QVMD_CMAP_SIGNATURE_CLEARED)
        r.signatureKeySize = 0;
    if (mask & QVMD_CMAP_NAME_CHANGED)
        std::memcpy(r.name, source->name, sizeof r.name);
}

} // namespace

uint32_t QVMD_CmapFile_ChangeContainerData(Record *record, Record const *source, uint64_t mask)
{
    if (record == nullptr || (source == nullptr && (mask & FROM_SOURCE) != 0))
        return QV_E_INVALID_PARAMETER;
    const uint64_t both = QVMD_CMAP_BECAME_VALID | QVMD_CMAP_BECAME_INVALID;
    if ((mask & both) == both)
        return QV_E_INVALID_PARAMETER;
    if (mask & QVMD_CMAP_BECAME_INVALID) {
        std::memset(record, 0, sizeof *record);
        return 0;
    }
    if (mask & QVMD_CMAP_BECAME_VALID)
        record->flags = QVMD_CMAP_FLAG_VALID;
    applySizesAndName(*record, source, mask);
    if (mask & QVMD_CMAP_BECAME_DEFAULT)
        record->flags |= QVMD_CMAP_FLAG_DEFAULT;
    if (mask & QVMD_CMAP_NO_LONGER_DEFAULT)
        record->flags &= ~QVMD_CMAP_FLAG_DEFAULT;
    return 0;
}

namespace
{

uint32_t changeRecord(unsigned char *cmap, unsigned long i, Record const *source, uint64_t mask)
{
    Record r = readRecord(cmap, i);
    uint32_t rv = QVMD_CmapFile_ChangeContainerData(&r, source, mask);
    if (rv == 0)
        writeRecord(cmap, i, r);
    return rv;
}

} // namespace

uint32_t QVMD_CmapFile_ChangeContainerDataByIndex(unsigned char *cmap, unsigned long size,
                                                  unsigned long index, Record const *source,
                                                  uint64_t mask)
{
    // an empty map has no record to change: a failure, as for the lookup by name
    if (cmap == nullptr || size == 0)
        return QV_E_INVALID_VALUE;
    if (!whole(size))
        return QV_E_UNEXPECTED;
    if (index >= recordCount(size))
        return QV_E_INVALID_VALUE;
    return changeRecord(cmap, index, source, mask);
}

uint32_t QVMD_CmapFile_ChangeContainerDataByName(unsigned char *cmap, unsigned long size,
                                                 char const *name, Record const *source,
                                                 uint64_t mask)
{
    unsigned long found = 0;
    uint32_t rv = locate(cmap, size, name, 0, &found);
    if (rv == QV_OK)
        rv = changeRecord(cmap, found, source, mask);
    for (unsigned long i = 0;
         rv == QV_OK && (mask & QVMD_CMAP_BECAME_DEFAULT) && i < recordCount(size); ++i)
        if (i != found)
            changeRecord(cmap, i, nullptr, QVMD_CMAP_NO_LONGER_DEFAULT);
    return rv;
}

uint32_t QVMD_CmapFile_GetContainerIndex(unsigned char const *cmap, unsigned long size,
                                         char const *name, unsigned char *index)
{
    if (index == nullptr)
        return QV_E_INVALID_VALUE;
    *index = QVMD_CMAP_NO_INDEX;
    unsigned long found = 0;
    uint32_t rv = locate(cmap, size, name, QVMD_CMAP_NO_INDEX, &found);
    if (rv == QV_OK)
        *index = static_cast<unsigned char>(found);
    return rv;
}

uint32_t QVMD_CmapFile_GetContainerDataByName(unsigned char const *cmap, unsigned long size,
                                              char const *name, _qv_md_container_map_record_ex *out)
{
    if (out == nullptr)
        return QV_E_INVALID_VALUE;
    unsigned long found = 0;
    uint32_t rv = locate(cmap, size, name, 0, &found);
    if (rv != QV_OK)
        return rv;
    out->entry = parse(readRecord(cmap, found));
    out->processed = 0;
    return QV_OK;
}

uint32_t QVMD_CmapFile_GetDefaultContainerName(unsigned char const *cmap, unsigned long size,
                                               char *out, unsigned long *room)
{
    if (out == nullptr || room == nullptr || *room < QVMD_CMAP_NAME_ROOM)
        return QV_E_INVALID_VALUE;
    std::memset(out, 0, QVMD_CMAP_NAME_ROOM);
    *room = QVMD_CMAP_NAME_ROOM;
    if (cmap == nullptr || size == 0)
        return 0;
    if (!whole(size))
        return QV_E_UNEXPECTED;
    const uint8_t wanted = QVMD_CMAP_FLAG_VALID | QVMD_CMAP_FLAG_DEFAULT;
    for (unsigned long i = 0; i < recordCount(size); ++i) {
        Record r = readRecord(cmap, i);
        if ((r.flags & wanted) == wanted)
            return convertName(r, out) ? 0 : QV_E_INVALID_VALUE;
    }
    return 0;
}

uint32_t QVMD_CmapFile_Parse(unsigned char const *cmap, unsigned long size, QV_ListData *list)
{
    if (list == nullptr || list->initialised == 0)
        return QV_E_INVALID_VALUE;
    if (cmap == nullptr || size == 0)
        return 0;
    if (!whole(size))
        return QV_E_UNEXPECTED;
    for (unsigned long i = 0; i < recordCount(size); ++i) {
        _qv_md_container_map_record_ex parsed;
        std::memset(&parsed, 0, sizeof parsed);
        parsed.entry = parse(readRecord(cmap, i));
        uint32_t rv = QV_ListData_Set(list, i, &parsed, sizeof parsed);
        if (rv != 0)
            return rv;
    }
    return 0;
}

namespace
{

typedef _qv_md_container_map_record_ex Parsed;

Parsed *parsedOf(QV_ListData_Entry *e)
{
    return static_cast<Parsed *>(e->data);
}

uint64_t sizeChange(uint16_t before, uint16_t after, uint64_t set, uint64_t cleared)
{
    return before == after ? 0 : (after != 0 ? set : cleared);
}

uint64_t differences(_qv_md_container_map_entry const &o, _qv_md_container_map_entry const &n)
{
    uint64_t mask = 0;
    if (o.valid && !n.valid)
        mask |= QVMD_CMAP_BECAME_INVALID;
    if (!o.valid && n.valid)
        mask |= QVMD_CMAP_BECAME_VALID;
    if (!o.isDefault && n.isDefault)
        mask |= QVMD_CMAP_BECAME_DEFAULT;
    if (o.isDefault && !n.isDefault)
        mask |= QVMD_CMAP_NO_LONGER_DEFAULT;
    if (std::strncmp(o.name8, n.name8, sizeof o.name8) != 0)
        mask |= QVMD_CMAP_NAME_CHANGED;
    mask |= sizeChange(o.record.exchangeKeySize, n.record.exchangeKeySize, QVMD_CMAP_EXCHANGE_SET,
                       QVMD_CMAP_EXCHANGE_CLEARED);
    mask |= sizeChange(o.record.signatureKeySize, n.record.signatureKeySize,
                       QVMD_CMAP_SIGNATURE_SET, QVMD_CMAP_SIGNATURE_CLEARED);
    return mask;
}

uint32_t addChange(QV_ListData *changes, uint64_t id, Parsed const *o, Parsed const *n,
                   uint64_t mask)
{
    _qv_md_container_map_change change;
    std::memset(&change, 0, sizeof change);
    if (o != nullptr)
        change.oldRecord = o->entry;
    if (n != nullptr)
        change.newRecord = n->entry;
    change.mask = mask;
    return QV_ListData_Set(changes, id, &change, sizeof change);
}

// A record present on one side only: reported when valid.
uint32_t oneSided(QV_ListData *changes, QV_ListData_Entry *e, bool isNew)
{
    Parsed *p = parsedOf(e);
    if (!p->entry.valid || p->processed)
        return 0;
    uint64_t mask =
        isNew ? QVMD_CMAP_BECAME_VALID | (p->entry.isDefault ? QVMD_CMAP_BECAME_DEFAULT : 0)
              : QVMD_CMAP_BECAME_INVALID;
    p->processed = 1;
    return addChange(changes, e->id, isNew ? nullptr : p, isNew ? p : nullptr, mask);
}

uint32_t bothSides(QV_ListData *changes, QV_ListData_Entry *oldEntry, QV_ListData_Entry *newEntry)
{
    Parsed *o = parsedOf(oldEntry), *n = parsedOf(newEntry);
    if (o->processed || n->processed)
        return 0;
    if (std::memcmp(o, n, sizeof *o) == 0) {
        o->processed = n->processed = 1;
        return 0;
    }
    if (!o->entry.valid && !n->entry.valid)
        return 0;
    o->processed = n->processed = 1;
    return addChange(changes, oldEntry->id, o, n, differences(o->entry, n->entry));
}

bool parsedPayload(QV_ListData_Entry const *e)
{
    return e == nullptr || (e->data != nullptr && e->length == sizeof(Parsed));
}

} // namespace

uint32_t QV_CmapFile_ProcessFunction(void *, QV_ListData_Entry *oldEntry,
                                     QV_ListData_Entry *newEntry, QV_ListData *changes)
{
    if (!parsedPayload(oldEntry) || !parsedPayload(newEntry) ||
        (oldEntry == nullptr && newEntry == nullptr))
        return QV_E_INVALID_VALUE;
    if (oldEntry == nullptr)
        return oneSided(changes, newEntry, true);
    if (newEntry == nullptr)
        return oneSided(changes, oldEntry, false);
    return bothSides(changes, oldEntry, newEntry);
}
