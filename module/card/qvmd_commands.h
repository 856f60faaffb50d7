// Builders of the card application's selection, information and card-data
// commands. Each returns the command as a CApdu; QVCAAPI_PutCommand or
// QVCAAPI_RunCommand puts it into a card's transport.
#pragma once

#include "card/apdu.h"

namespace qvapdu
{

// 00 A4 04 00 0A and the application identifier: the first one, or the second one
// that older cards answer to. No Le.
CApdu SelectApplication(bool second);
// B0 10 kind 00 Le.
CApdu GetInfo(unsigned char kind, unsigned char le);
// Card data (information kind 3) by a selector: 5 bytes give B0 10 03 s0 04 s1 s2 s3 s4
// (s1-s2 offset, s3-s4 length, big-endian), 1 byte gives B0 10 03 s0 00.
CApdu GetCardData(const unsigned char *selector, unsigned long selectorLength);
// B0 1A 01 P2 Lc tag attribute length, with length value bytes left zero;
// P2 = 00 to replace, 01 otherwise.
CApdu SetCardDataOneTag(unsigned char tag, unsigned char attribute, unsigned long length,
                        bool replace);

// B0 1A tag 00 Lc and the value: one card-data tag whole.
CApdu SetCardData(unsigned char tag, const unsigned char *value, unsigned long length);
// Before applet 1.0: B0 AC 00 00; from it: B0 1C 00 FF 00.
CApdu FreeMemory(bool olderApplet);
// B0 1C 01 FF 00 (applet 1.0 and later).
CApdu FreeContainers();

} // namespace qvapdu
