// Builders of the card's RSA operation commands: B0 78 (signature) or B0 7A
// (decryption), P1 the container, P2 the flags (high nibble) and the key spec.
#pragma once

#include "card/apdu.h"

namespace qvapdu
{

enum : unsigned char {
    RSA_FIRST = 0x1, // first command of the operation
    RSA_KEEP = 0x2,  // the result stays on the card
    RSA_LAST = 0x4,  // last command of the operation
    RSA_PIECE = 0x8, // one piece of a two-part pair
    RSA_INS_SIGN = 0x78,
    RSA_INS_DECRYPT = 0x7A,
};

// The whole (rest of the) block in one command.
CApdu RsaSingle(unsigned char ins, unsigned char container, unsigned char flags,
                unsigned char keySpec, const unsigned char *data, unsigned long length);
// Piece second (0 or 1) of a pair: its offset within the pair (00 or 80) and its
// number lead the data.
CApdu RsaPiece(unsigned char ins, unsigned char container, unsigned char flags,
               unsigned char keySpec, bool second, const unsigned char *data, unsigned long length);

} // namespace qvapdu
