// The persistent state of the simulated card: its files, PINs, keys, card data and
// what it reports about itself, with the state file that holds it between runs.
#pragma once

#include "lzh.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace cardsim
{

// A card name is 8 bytes on the wire: the characters followed by zero bytes. Here it is
// kept as the bytes before the first zero; the root directory is the empty name.
std::string NameFromWire(const unsigned char *name8);
void NameToWire(const std::string &name, unsigned char *name8);

// Lengths travel in the card's 3-byte form b0 * 256 + b1 + b2 * 32767.
constexpr uint32_t kMaxFileLength = 127u * 32767u;
uint32_t LengthFromWire(const unsigned char *b);
void LengthToWire(uint32_t length, unsigned char *b);

// Access byte: bit 0 = reading and file information free, bit 1 = writing and deleting
// free; a cleared bit needs the user PIN or the PUK role.
constexpr unsigned char kAccessReadFree = 0x01;
constexpr unsigned char kAccessWriteFree = 0x02;

struct CardFile {
    Bytes stored;             // exactly what the host wrote: payload and CRC byte
    uint32_t plainLength = 0; // as the host declared it
    uint32_t fileSize = 0;    // room reserved for the file
    unsigned char access = 0;
};

struct CardDir {
    unsigned char access = 0x3F;
    std::map<std::string, CardFile> files;
};

struct CardPin {
    unsigned char limit = 3;
    unsigned char type = 0x03; // descriptor byte 1: bits 0-3 type code, bit 4 flag
    unsigned char role = 0x02;
    unsigned char updaters = 0x03; // PIN indexes allowed to change or unblock this PIN
    unsigned char tries = 3;
    Bytes value; // type code 2: the 24-byte triple-DES key of the challenge's response
    // PIN properties (information kind 8) beyond the tries and the updaters: the two
    // status bytes (bit 0 of each: the first and the second activation) and the three
    // provider PIN-info bytes
    unsigned char statusA = 0, statusB = 0;
    unsigned char info[3] = {0, 0, 0};
    // Type code 3 is padded with FF bytes up to the maximum PIN length.
    bool FfPadded() const { return (type & 0x0F) == 3; }
    // Type code 2 is verified by its response to the card's challenge.
    bool ChallengeResponse() const { return (type & 0x0F) == 2; }
};

// One key of a container (index, key spec 0 signature / 1 exchange).
struct CardKey {
    enum class Form {
        Private,  // the key pair: der is the private key
        Public,   // only the public key: der is its SubjectPublicKeyInfo
        Reserved, // a slot kept for a key to be imported: no der yet
    };
    Form form = Form::Private;
    Bytes der;
    uint16_t bits = 0;
    unsigned char usage = 0;                // create flags & 7: 1 signing, 6 decryption
    unsigned char access[2] = {0x02, 0x06}; // role masks; the first guards its use

    // Card memory the key takes (its parts as the card would store them).
    uint64_t Memory() const;
};

struct KeySize {
    uint16_t bits;
    unsigned char count;
};

struct CardState {
    Bytes atr;
    unsigned char appletMajor = 1;
    unsigned char appletMinor = 2;
    Bytes serial; // 16 bytes (information kind 4)
    Bytes cardId; // 8 bytes (kind 9)
    unsigned char maxPinLength = 8;
    unsigned char challengeLength = 8;
    unsigned char infoFlags = 0; // kind 5 byte 9; bits 1-7 add records without descriptor
    std::vector<CardPin> pins;
    unsigned char containers = 8;
    std::vector<KeySize> keySizes;
    Bytes memoryInfo;          // kind 10: two bytes, then triples {a, b, c}
    Bytes providerFlags{0, 0}; // kind 7
    Bytes importedKeyParams;   // kind 11
    Bytes cardData;            // TLV list: tag (1), length (2, big-endian), value
    Bytes masterKey;           // secure-messaging master key, 16 bytes; empty: the test fixture
    // The admin card's keys (24-byte triple-DES keys) by key reference.
    std::map<unsigned char, Bytes> adminKeys;
    uint16_t smCounter = 0;              // sequence counter of first-generation openings
    std::map<std::string, CardDir> dirs; // "" is the root
    // Container keys by (container index, key spec).
    std::map<std::pair<int, int>, CardKey> keys;

    bool AppletAtLeast(unsigned char major, unsigned char minor) const
    {
        return appletMajor > major || (appletMajor == major && appletMinor >= minor);
    }
    // Lists a key size in kind 1 (in order of size) unless it is there already.
    void ListKeySize(uint16_t bits);
    // Total memory of kind 10 (sum of 2^a * b * c) and what files and keys leave of it.
    uint64_t TotalMemory() const;
    uint64_t FreeMemory() const;

    CardFile *FindFile(const std::string &dir, const std::string &name);
    const CardFile *FindFile(const std::string &dir, const std::string &name) const;
};

// Card data tag 80 holds the provider flags that information kind 7 reports.
constexpr unsigned char kProviderFlagsTag = 0x80;

// The entry of `tag` in a card-data TLV list: the offset of its tag byte and the length
// of its value; false when the tag is absent or the list breaks before it.
bool FindCardDataEntry(const Bytes &cardData, unsigned char tag, size_t &at, size_t &length);
// Replaces the value of `tag` where it stands, or appends the entry.
void PutCardDataEntry(Bytes &cardData, unsigned char tag, const Bytes &value);

// The state file: a line-oriented text, written whole to a temporary file and renamed
// over the old one, so that a killed simulator leaves either the old or the new state.
std::string SerializeState(const CardState &state);
bool ParseState(const std::string &text, CardState &state, std::string *error);
bool SaveStateFile(const std::string &path, const CardState &state, std::string *error);
bool LoadStateFile(const std::string &path, CardState &state, std::string *error);

std::string ToHex(const Bytes &b);
bool FromHex(const std::string &hex, Bytes &out);

} // namespace cardsim
