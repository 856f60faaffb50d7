// The container map "mscp"/"cmapfile": one 86-byte record per key container slot
// (little-endian on the card), and the operations on an image of the file in memory:
// find a record by name, read it, change it by a change mask, pick the default
// container, parse the map into a QV_ListData and compare two parsed maps.
//
// Invariants: an image whose size is not a multiple of 86 is refused (0x8010001F) by
// every operation; a name is never read past its 40 code units; an operation that
// fails its checks leaves the image unchanged. Names are compared after conversion to
// 8-bit text of at most 39 bytes; a name that does not convert never matches.
#pragma once

#include "card/list_data.h"

#include <cstdint>

struct _qv_md_container_map_record {
    uint16_t name[40]; // UTF-16 code units, zero-padded
    uint8_t flags;     // QVMD_CMAP_FLAG_*
    uint8_t reserved;
    uint16_t signatureKeySize; // bits, 0: no signature key
    uint16_t exchangeKeySize;  // bits, 0: no key-exchange key
};
static_assert(sizeof(_qv_md_container_map_record) == 86, "container map record");

enum : uint8_t {
    QVMD_CMAP_FLAG_VALID = 0x01,
    QVMD_CMAP_FLAG_DEFAULT = 0x02,
};
const uint32_t QVMD_CMAP_RECORD_SIZE = 86;
const uint32_t QVMD_CMAP_NAME_ROOM = 40; // 8-bit name and its terminator
const unsigned char QVMD_CMAP_NO_INDEX = 255;

// Change mask bits, describing a difference or applying one.
const uint64_t QVMD_CMAP_BECAME_VALID = 0x001;   // flags := valid (the default bit is cleared)
const uint64_t QVMD_CMAP_BECAME_INVALID = 0x002; // the whole record is zeroed
const uint64_t QVMD_CMAP_SIGNATURE_SET = 0x004;
const uint64_t QVMD_CMAP_SIGNATURE_CLEARED = 0x008;
const uint64_t QVMD_CMAP_EXCHANGE_SET = 0x010;
const uint64_t QVMD_CMAP_EXCHANGE_CLEARED = 0x020;
const uint64_t QVMD_CMAP_BECAME_DEFAULT = 0x040;
const uint64_t QVMD_CMAP_NO_LONGER_DEFAULT = 0x080;
const uint64_t QVMD_CMAP_NAME_CHANGED = 0x100;

// A parsed record without its processed mark.
struct _qv_md_container_map_entry {
    _qv_md_container_map_record record;
    char name8[40]; // the converted name, empty when it did not convert
    uint16_t valid;
    uint16_t isDefault;
};

// The payload of a parsed map's list entries.
struct _qv_md_container_map_record_ex {
    _qv_md_container_map_entry entry;
    uint16_t processed;
};
static_assert(sizeof(_qv_md_container_map_record_ex) == 132, "parsed record");

// The payload of a comparison's change list.
struct _qv_md_container_map_change {
    _qv_md_container_map_entry oldRecord;
    _qv_md_container_map_entry newRecord;
    uint64_t mask;
};

// Applies a mask to one record in the order valid, exchange set, signature set,
// exchange cleared, signature cleared, name, default, not default.
uint32_t QVMD_CmapFile_ChangeContainerData(_qv_md_container_map_record *record,
                                           _qv_md_container_map_record const *source,
                                           uint64_t mask);
uint32_t QVMD_CmapFile_ChangeContainerDataByIndex(unsigned char *cmap, unsigned long size,
                                                  unsigned long index,
                                                  _qv_md_container_map_record const *source,
                                                  uint64_t mask);
// With QVMD_CMAP_BECAME_DEFAULT every other record loses its default bit.
uint32_t QVMD_CmapFile_ChangeContainerDataByName(unsigned char *cmap, unsigned long size,
                                                 char const *name,
                                                 _qv_md_container_map_record const *source,
                                                 uint64_t mask);
// The index of the first record with the name; a one-byte index names records 0..254
// only, so a map searched past them finds nothing there. Not found: 0x80100011 and
// index 255.
uint32_t QVMD_CmapFile_GetContainerIndex(unsigned char const *cmap, unsigned long size,
                                         char const *name, unsigned char *index);
uint32_t QVMD_CmapFile_GetContainerDataByName(unsigned char const *cmap, unsigned long size,
                                              char const *name,
                                              _qv_md_container_map_record_ex *out);
// out gets 40 bytes (room must be at least 40 and is set to 40): the name of the first
// record that is valid and default, or an empty name.
uint32_t QVMD_CmapFile_GetDefaultContainerName(unsigned char const *cmap, unsigned long size,
                                               char *out, unsigned long *room);
// Stores record i as a _qv_md_container_map_record_ex under id i.
uint32_t QVMD_CmapFile_Parse(unsigned char const *cmap, unsigned long size, QV_ListData *list);
// The QV_ListData_ProcessById callback over an old and a new parsed map: adds a
// _qv_md_container_map_change for every record that changed.
uint32_t QV_CmapFile_ProcessFunction(void *context, QV_ListData_Entry *oldEntry,
                                     QV_ListData_Entry *newEntry, QV_ListData *changes);
