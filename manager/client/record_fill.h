// Filling the client's records from attribute values as the module hands
// them out. The records' fields have fixed widths: a value too long for its
// field fills nothing, and the record must then not be kept.
#pragma once

#include <cstdint>
#include <vector>

#include "client/client_records.h"

using AttributeBytes = std::vector<unsigned char>;

// From the values of container name, the three usage flags, modulus and
// public exponent. False when the name, the modulus or the exponent (without
// its leading zero bytes) is too long.
bool FillKeyRecord(key_info &key, std::vector<AttributeBytes> const &values);

// From the values of container name, serial number (a DER INTEGER, its length
// in short or long form), start date, end date and DER value. False when the
// name, the serial's content or the value is too long.
bool FillCertRecord(cert_info &cert, std::vector<AttributeBytes> const &values);

// The three native 64-bit values of a PIN-information value; missing ones 0.
void FillPinInfo(uint64_t (&pin)[3], AttributeBytes const &value);

// Sums of the used and free counts over the whole 24-byte entries of a
// containers-usage value, and the entry of the 2048-bit keys (zero without).
void FillContainersUsage(card_info &card, AttributeBytes const &value);
