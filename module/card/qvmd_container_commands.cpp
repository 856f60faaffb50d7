#include "card/qvmd_container_commands.h"

namespace
{

enum : unsigned char {
    CLA_CARD = 0xB0,
    INS_CREATE = 0x70,
    INS_DELETE = 0x72,
    INS_KEY_INFO = 0x74,
    INS_IMPORT = 0x76,
    INS_ACCESS = 0x7E,
    ACCESS_LENGTH = 0x02,
    PIECE_OFFSET_SECOND = 0x80,
};

} // namespace

namespace qvapdu
{

CApdu CreateContainer(unsigned char container, unsigned char keySpec, unsigned char flags,
                      unsigned keyBits, unsigned char defaultExponent,
                      const unsigned char access[2], const unsigned char *exponent,
                      unsigned long exponentLength)
{
    const unsigned char fixed[6] = {flags,
                                    static_cast<unsigned char>(keyBits >> 8),
                                    static_cast<unsigned char>(keyBits),
                                    defaultExponent,
                                    access[0],
                                    access[1]};
    CApdu apdu(CLA_CARD, INS_CREATE, container, keySpec);
    apdu.Append(fixed, sizeof(fixed)).Append(exponent, exponentLength);
    return apdu;
}

CApdu DeleteContainer(unsigned char container)
{
    return CApdu(CLA_CARD, INS_DELETE, container, 0x00);
}

CApdu KeyInformation(unsigned char container, unsigned char what, unsigned char keySpec)
{
    CApdu apdu(CLA_CARD, INS_KEY_INFO, container,
               static_cast<unsigned char>(what << 4 | (keySpec & 0x0F)));
    if (what == 0)
        apdu.Le(0x00);
    return apdu;
}

CApdu ChangeContainerAccess(unsigned char container, unsigned char mask, unsigned char a1,
                            unsigned char a2)
{
    CApdu apdu(CLA_CARD, INS_ACCESS, container, mask);
    apdu.Append(a1).Append(a2);
    return apdu;
}

CApdu ImportKeyPart(unsigned char code, unsigned long length)
{
    CApdu apdu(CLA_CARD, INS_IMPORT, code, 0x00);
    apdu.Reserve(length);
    return apdu;
}

CApdu ImportModulusPiece(bool second, unsigned long length)
{
    CApdu apdu(CLA_CARD, INS_IMPORT, IMPORT_MODULUS_PIECE, 0x00);
    apdu.Append(second ? PIECE_OFFSET_SECOND : 0x00).Append(second ? 0x01 : 0x00).Reserve(length);
    return apdu;
}

} // namespace qvapdu
