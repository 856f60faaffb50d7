#include "card/qvmd_commands.h"

namespace
{

const unsigned char AID_FIRST[10] = {0xA0, 0x00, 0x00, 0x00, 0x28, 0x80, 0x10, 0x30, 0x01, 0xFF};
const unsigned char AID_SECOND[10] = {0xA0, 0x00, 0x00, 0x00, 0x28, 0x80, 0x10, 0x37, 0x01, 0x01};

enum : unsigned char {
    CLA_ISO = 0x00,
    CLA_CARD = 0xB0,
    INS_SELECT = 0xA4,
    INS_GET_INFO = 0x10,
    INS_SET_CARD_DATA = 0x1A,
    INFO_CARD_DATA = 0x03,
    INS_FREE_MEMORY_OLD = 0xAC,
    INS_FREE = 0x1C,
    FREE_MEMORY = 0x00,
    FREE_CONTAINERS = 0x01,
    FREE_ALL = 0xFF,
};

} // namespace

namespace qvapdu
{

// Each builder returns its named value, so that no command is copied on the way.

CApdu SelectApplication(bool second)
{
    CApdu apdu(CLA_ISO, INS_SELECT, 0x04, 0x00);
    apdu.Append(second ? AID_SECOND : AID_FIRST, 10);
    return apdu;
}

CApdu GetInfo(unsigned char kind, unsigned char le)
{
    CApdu apdu(CLA_CARD, INS_GET_INFO, kind, 0x00);
    apdu.Le(le);
    return apdu;
}

CApdu GetCardData(const unsigned char *selector, unsigned long selectorLength)
{
    CApdu apdu(CLA_CARD, INS_GET_INFO, INFO_CARD_DATA, selector[0]);
    if (selectorLength == 5)
        apdu.Append(selector + 1, 4);
    else
        apdu.Le(0x00);
    return apdu;
}

CApdu SetCardDataOneTag(unsigned char tag, unsigned char attribute, unsigned long length,
                        bool replace)
{
    const unsigned char head[3] = {tag, attribute, static_cast<unsigned char>(length)};
    CApdu apdu(CLA_CARD, INS_SET_CARD_DATA, 0x01, replace ? 0x00 : 0x01);
    apdu.Append(head, 3).Reserve(length);
    return apdu;
}

CApdu SetCardData(unsigned char tag, const unsigned char *value, unsigned long length)
{
    CApdu apdu(CLA_CARD, INS_SET_CARD_DATA, tag, 0x00);
    apdu.Append(value, length);
    return apdu;
}

CApdu FreeMemory(bool olderApplet)
{
    if (olderApplet)
        return CApdu(CLA_CARD, INS_FREE_MEMORY_OLD, 0x00, 0x00);
    CApdu apdu(CLA_CARD, INS_FREE, FREE_MEMORY, FREE_ALL);
    apdu.Le(0x00);
    return apdu;
}

CApdu FreeContainers()
{
    CApdu apdu(CLA_CARD, INS_FREE, FREE_CONTAINERS, FREE_ALL);
    apdu.Le(0x00);
    return apdu;
}

} // namespace qvapdu
