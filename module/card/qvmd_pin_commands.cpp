#include "card/qvmd_pin_commands.h"

#include <cstring>

namespace
{

enum : unsigned char {
    CLA_CARD = 0xB0,
    INS_LOG_OUT_OLD = 0x24,
    INS_LOG_OUT = 0x26,
    INS_CHALLENGE = 0x22,
    INS_UPDATE_PROPERTIES = 0x2C,
    INS_ADMIN = 0x2A,
    PAD = 0xFF,
};

CApdu &pad(CApdu &apdu, unsigned long length)
{
    unsigned char ff[CApdu::MAX_DATA];
    memset(ff, PAD, sizeof(ff));
    return apdu.Append(ff, length);
}

} // namespace

namespace qvapdu
{

CApdu VerifyPin(unsigned char p1, unsigned long length)
{
    CApdu apdu(CLA_CARD, PIN_INS_VERIFY, p1, 0x00);
    pad(apdu, length);
    return apdu;
}

CApdu LogOut(bool olderApplet, unsigned char role)
{
    return CApdu(CLA_CARD, olderApplet ? INS_LOG_OUT_OLD : INS_LOG_OUT, role, 0x00);
}

CApdu ChangePin(unsigned char ins, unsigned char p1, unsigned char p2, unsigned char lengthByte,
                unsigned char tryLimit, unsigned long oldLength, unsigned long newLength)
{
    CApdu apdu(CLA_CARD, ins, p1, p2);
    apdu.Append(lengthByte).Append(tryLimit);
    pad(apdu, oldLength);
    pad(apdu, newLength);
    return apdu;
}

CApdu GetChallenge()
{
    CApdu apdu(CLA_CARD, INS_CHALLENGE, 0x00, 0x00);
    apdu.Le(8);
    return apdu;
}

CApdu CancelChallenge(unsigned char index)
{
    CApdu apdu(CLA_CARD, INS_CHALLENGE, index, 0x01);
    apdu.Le(0x00);
    return apdu;
}

CApdu UpdatePinProperties(unsigned char index, unsigned char mask, const unsigned char values[5])
{
    CApdu apdu(CLA_CARD, INS_UPDATE_PROPERTIES, index, mask);
    apdu.Append(values, 5);
    return apdu;
}

CApdu AdminComputeResponse(unsigned char keyRef, const unsigned char challenge[8],
                           const unsigned char *extra24)
{
    CApdu apdu(CLA_CARD, INS_ADMIN, keyRef, 0x00);
    apdu.Append(challenge, 8);
    if (extra24 != nullptr)
        apdu.Append(extra24, 24);
    return apdu;
}

CApdu AdminActivatePin(unsigned char index, bool second)
{
    CApdu apdu(CLA_CARD, INS_ADMIN, index, second ? 0x02 : 0x01);
    apdu.Le(0x00);
    return apdu;
}

} // namespace qvapdu
