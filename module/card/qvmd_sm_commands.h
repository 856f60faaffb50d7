// Builders of the secure-messaging commands. Each returns the command as a CApdu;
// the opening's response command is C-MAC'd after it is built.
#pragma once

#include "card/apdu.h"

namespace qvapdu
{

// Before applet 1.2: B0 50 p1 p2 08 and the host challenge.
CApdu SmChallenge(unsigned char p1, unsigned char p2, const unsigned char hostChallenge[8]);
// From applet 1.2: B0 50 00 00 08, asking for the card challenge.
CApdu SmInitializeUpdate();
// B0 52 level p2 Lc data (before 1.2 the host cryptogram; from 1.2 the host
// challenge and the host cryptogram, and the card challenge when asked).
CApdu SmResponse(unsigned char level, unsigned char p2, const unsigned char *data,
                 unsigned long length);
// B0 54 00 00, or B0 54 01 00 to clear the imported key as well.
CApdu SmClose(bool clearImportedKey);

} // namespace qvapdu
