// Builders of the key-container commands. The import builders leave the key part's
// room zero: the caller writes the part (turned big-endian) into the command
// buffer, so that key material never sits in a built command.
#pragma once

#include "card/apdu.h"

namespace qvapdu
{

enum : unsigned char {
    IMPORT_MODULUS = 0, // the modulus in one command
    IMPORT_PUBLIC_EXPONENT = 6,
    IMPORT_MODULUS_PIECE = 7, // the modulus in two pieces
    IMPORT_DATA_OFFSET = 5,   // a part's room in the command
    IMPORT_PIECE_OFFSET = 7,  // a piece's room, after its offset and number
};

// B0 70 container spec Lc flags size-hi size-lo default a1 a2 [exponent].
CApdu CreateContainer(unsigned char container, unsigned char keySpec, unsigned char flags,
                      unsigned keyBits, unsigned char defaultExponent,
                      const unsigned char access[2], const unsigned char *exponent,
                      unsigned long exponentLength);
// B0 72 container 00.
CApdu DeleteContainer(unsigned char container);
// B0 74 container (what x 16 + spec), with Le 00 for the modulus (what 0).
CApdu KeyInformation(unsigned char container, unsigned char what, unsigned char keySpec);
// B0 7E container mask 02 a1 a2.
CApdu ChangeContainerAccess(unsigned char container, unsigned char mask, unsigned char a1,
                            unsigned char a2);
// B0 76 code 00 Lc and length bytes of room.
CApdu ImportKeyPart(unsigned char code, unsigned long length);
// B0 76 07 00 Lc, the piece's offset in the modulus (00 or 80) and number (00 or
// 01), and length bytes of room.
CApdu ImportModulusPiece(bool second, unsigned long length);

} // namespace qvapdu
