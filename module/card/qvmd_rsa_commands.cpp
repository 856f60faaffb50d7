#include "card/qvmd_rsa_commands.h"

namespace
{

enum : unsigned char { CLA_CARD = 0xB0, PIECE_OFFSET_SECOND = 0x80 };

unsigned char p2(unsigned char flags, unsigned char keySpec)
{
    return static_cast<unsigned char>(flags << 4 | (keySpec & 0x0F));
}

} // namespace

namespace qvapdu
{

CApdu RsaSingle(unsigned char ins, unsigned char container, unsigned char flags,
                unsigned char keySpec, const unsigned char *data, unsigned long length)
{
    CApdu apdu(CLA_CARD, ins, container, p2(flags, keySpec));
    apdu.Append(data, length);
    return apdu;
}

CApdu RsaPiece(unsigned char ins, unsigned char container, unsigned char flags,
               unsigned char keySpec, bool second, const unsigned char *data, unsigned long length)
{
    CApdu apdu(CLA_CARD, ins, container, p2(flags | RSA_PIECE, keySpec));
    apdu.Append(second ? PIECE_OFFSET_SECOND : 0x00).Append(second ? 0x01 : 0x00);
    apdu.Append(data, length);
    return apdu;
}

} // namespace qvapdu
