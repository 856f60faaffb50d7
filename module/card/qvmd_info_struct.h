// What the card reports about itself (the information kinds 1 to 11), kept in the
// card context. Each region is filled only by its own kind's reply; the valid
// flags say which regions hold a reply. The two tables are the record's own and
// come from the card context's alloc hook (released by QVMD_InfoReleaseStruct).
#pragma once

#include <cstdint>

enum : unsigned { QVMD_MAX_PINS = 8 };

// One PIN (authenticator) of the card, from its descriptor in the kind 5 reply and
// its properties in the kind 8 reply, or a record without descriptor (a role named
// only by the kind 5 flags).
struct _qv_md_pin_info_struct {
    uint32_t descriptor;      // the 4 descriptor bytes, byte 0 first (most significant)
    uint32_t type;            // 2, 3, 4 for type codes 1, 2, 3; 1 without descriptor
    uint8_t method;           // 2 challenge-response (type 3), 1 otherwise, 0 without descriptor
    uint32_t roleMask;        // 2 user, 4 PUK, further bits further roles
    uint8_t updaters;         // PIN indexes allowed to change or unblock this PIN
    uint16_t flag;            // descriptor byte 1 bit 4
    uint64_t statusA;         // properties byte 0
    uint64_t tryLimit;        // descriptor byte 0
    uint64_t triesRemaining;  // properties byte 1
    uint64_t statusB;         // properties byte 2
    unsigned char cspInfo[3]; // properties bytes 4-6
};

// Key capacity (kind 1): one entry per key size.
struct _qv_md_key_size_entry {
    uint32_t bits;
    uint32_t count;
};

// Memory layout (kind 10): one entry per triple {a, b, c}; the total is the sum
// of 2^a * b * c.
struct _qv_md_memory_entry {
    unsigned char a, b, c;
};

struct _qv_md_info_struct {
    // kind 4
    unsigned char serial[16];
    uint16_t serialValid;
    // kind 5 bytes 6 to 8
    uint8_t maxPinLength;   // at most 15
    uint8_t responseLength; // of the challenge modes, at most 128
    uint8_t kind5Byte8;
    // kinds 5 and 8
    _qv_md_pin_info_struct pins[QVMD_MAX_PINS];
    uint8_t pinCount;
    uint8_t undescribedPins; // records without descriptor, after the described ones
    unsigned char pinPropertiesHeader[2];
    // kind 2, and the byte that kinds 1 and 2 share
    unsigned long freeMemory;
    uint8_t sharedByte;
    // kind 1
    uint8_t containers;
    uint16_t keySizesValid;
    _qv_md_key_size_entry *keySizes;
    uint32_t keySizeCount;
    // kind 10
    unsigned char memoryHeader[2];
    uint16_t memoryValid;
    _qv_md_memory_entry *memoryTable;
    uint32_t memoryCount;
    uint64_t totalMemory;
    // kind 5 (applet), kind 8 (PIN properties)
    uint16_t appletWord; // bytes 0-1, big-endian
    uint8_t appletMajor;
    uint8_t appletMinor;
    unsigned char appletRaw[2]; // bytes 4-5
    uint8_t appletFlags;        // byte 9
    uint16_t appletValid;
    uint16_t pinPropertiesValid;
    uint16_t pinPropertiesStale; // a PIN change, unblock or property update since kind 8
    // kind 6: byte 1 is the role authenticated now (1 nobody)
    unsigned char authState[4];
    // kind 7: byte 1 bits 0-2 a value, bit 3 a flag
    unsigned char providerFlags[2];
    // kind 9
    unsigned char cardId[8];
    uint16_t cardIdValid;
    // kind 11
    unsigned char importedKeyParams[18];
    uint32_t importedKeyParamsLength;
    uint16_t importedKeyParamsValid;
};
