// Building blocks of what a card holds, for personalisation and for tests and controls
// that shape a card directly: container keys, their certificates, files in their
// stored forms and container map records.
#pragma once

#include "card_state.h"

#include <string>

namespace cardsim
{

struct KeyOptions {
    int bits = 2048;
    unsigned long exponent = 65537;
    unsigned char usage = 0; // 0: 0x01 for a signature key (spec 0), 0x06 for an exchange key
    unsigned char access[2] = {0x02, 0x06};
    bool publicOnly = false; // the card keeps only the public key
    Bytes privateDer;        // this key pair instead of a new one
};

// Puts a key into container `index`, key spec `spec` (replacing what was there) and
// lists its size in information kind 1. privateDer, when given, receives the key pair
// (also for a public-only key, whose private half the card never sees).
bool InstallKey(CardState &s, int index, int spec, const KeyOptions &o, std::string *error,
                Bytes *privateDer = nullptr);

// A self-signed X.509 certificate of a key pair, as DER: valid from now for three
// years, or, when expired, from two years ago until a year ago. With padding, it
// carries a private, non-critical extension of that many random bytes, which makes
// a certificate as large as a test needs.
bool MakeCertificate(const Bytes &privateDer, const std::string &commonName, long serial,
                     bool expired, Bytes &der, size_t padding = 0);

// A file in its stored form: the data and its CRC-8, or the LZH stream and the CRC-8 of
// the plain data; file size = stored length.
CardFile StoredPlain(const Bytes &plain, unsigned char access);
CardFile StoredPacked(const Bytes &plain, unsigned char access);

// "ksc" (signature, spec 0) or "kxc" (exchange, spec 1) and the index in two digits.
std::string CertificateFileName(int index, int spec);

// A "cmapfile" record (86 bytes): the name as UTF-16LE, flags (1 valid, 2 default),
// reserved byte, signature and exchange key sizes (little-endian).
Bytes CmapRecord(const std::string &name, unsigned char flags, uint16_t signatureBits,
                 uint16_t exchangeBits);
// Writes record `index` of "mscp"/"cmapfile" (stored plainly with its CRC), growing the
// file with empty records where needed.
void SetCmapRecord(CardState &s, int index, const Bytes &record);

// Marks container `index` valid in "mscp"/"cmapfile" with a key of `bits` for `spec`,
// naming it "cardsim-container-NN" when its record has no name yet.
void MarkContainer(CardState &s, int index, int spec, uint16_t bits);

} // namespace cardsim
