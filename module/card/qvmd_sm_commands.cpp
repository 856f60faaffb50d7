#include "card/qvmd_sm_commands.h"

namespace
{

enum : unsigned char {
    CLA_CARD = 0xB0,
    INS_CHALLENGE = 0x50,
    INS_RESPONSE = 0x52,
    INS_CLOSE = 0x54,
    CHALLENGE_LENGTH = 8,
};

} // namespace

namespace qvapdu
{

CApdu SmChallenge(unsigned char p1, unsigned char p2, const unsigned char hostChallenge[8])
{
    CApdu apdu(CLA_CARD, INS_CHALLENGE, p1, p2);
    apdu.Append(hostChallenge, CHALLENGE_LENGTH);
    return apdu;
}

CApdu SmInitializeUpdate()
{
    CApdu apdu(CLA_CARD, INS_CHALLENGE, 0x00, 0x00);
    apdu.Le(CHALLENGE_LENGTH);
    return apdu;
}

CApdu SmResponse(unsigned char level, unsigned char p2, const unsigned char *data,
                 unsigned long length)
{
    CApdu apdu(CLA_CARD, INS_RESPONSE, level, p2);
    apdu.Append(data, length);
    return apdu;
}

CApdu SmClose(bool clearImportedKey)
{
    return CApdu(CLA_CARD, INS_CLOSE, clearImportedKey ? 0x01 : 0x00, 0x00);
}

} // namespace qvapdu
