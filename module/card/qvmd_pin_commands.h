// Builders of the PIN commands. A builder never holds a PIN: it leaves the PIN's
// room filled with FF bytes (the padding), and the caller copies the PIN over the
// start of that room in the command buffer, which is wiped after the exchange.
#pragma once

#include "card/apdu.h"

namespace qvapdu
{

enum : unsigned char {
    PIN_INS_VERIFY = 0x20,
    PIN_INS_CHANGE_UNBLOCK = 0x24, // from applet 1.0 (before it: log out)
    PIN_INS_UNBLOCK_OLD = 0x26,    // before applet 1.0 (from it: log out)
    PIN_INS_CHANGE_OLD = 0x28,     // before applet 1.0
    PIN_OFFSET = 5,                // the PIN's room in a verify command
    PIN_CHANGE_OFFSET = 7,         // the old value's room in a change command
};

// B0 20 p1 00 Lc and length FF bytes.
CApdu VerifyPin(unsigned char p1, unsigned long length);
// Log out of role: B0 24 role 00 before applet 1.0, B0 26 role 00 from it.
CApdu LogOut(bool olderApplet, unsigned char role);
// B0 ins p1 p2 Lc, the length byte, the try-limit byte, then the old and the new
// value's room (FF bytes).
CApdu ChangePin(unsigned char ins, unsigned char p1, unsigned char p2, unsigned char lengthByte,
                unsigned char tryLimit, unsigned long oldLength, unsigned long newLength);
// B0 22 00 00 08.
CApdu GetChallenge();
// B0 22 index 01 00.
CApdu CancelChallenge(unsigned char index);
// B0 2C index mask 05 c0 c1 c2 t u.
CApdu UpdatePinProperties(unsigned char index, unsigned char mask, const unsigned char values[5]);
// B0 2A keyref 00 Lc challenge (8 bytes), and the 24 extra bytes when given.
CApdu AdminComputeResponse(unsigned char keyRef, const unsigned char challenge[8],
                           const unsigned char *extra24);
// B0 2A index 01 00, or B0 2A index 02 00 for the second.
CApdu AdminActivatePin(unsigned char index, bool second);

} // namespace qvapdu
