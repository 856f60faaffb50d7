// Builders of the card's file-system commands. Names are 8-byte card names; lengths
// go in the card's 3-byte form and must not exceed QVCAAPI_MAX_FILE_LENGTH (the
// callers check them first).
#pragma once

#include "card/apdu.h"
#include "card/qvmd_card.h"

namespace qvapdu
{

// B0 AA 00 00 09 dir flag: the names of a directory (flag 01 or 00).
CApdu ListFiles(const unsigned char *dir8, bool flag);
// B0 AA 01 00 10 dir name: stored length, file size, plain length, access byte.
CApdu FileInfo(const unsigned char *dir8, const unsigned char *name8);
// B0 A4 00 00 10 dir name: the lengths and the first data of a file.
CApdu ReadFile(const unsigned char *dir8, const unsigned char *name8);
// 00 C0 00 00 Le: the next count (1..256) bytes of a reply.
CApdu GetResponse(unsigned long count);
// B0 A0 01 04 (new) or 01 08 (in place) 17 dir name 00 stored plain.
CApdu WriteFileInit(bool inPlace, const unsigned char *dir8, const unsigned char *name8,
                    unsigned long storedLength, unsigned long plainLength);
// B0 A2 P1 00 Lc data, P1 01 on the last chunk; at most 255 bytes.
CApdu WriteFileChunk(bool last, const unsigned char *data, unsigned long length);
// B0 A0 01 01 17 dir name access first second.
CApdu CreateFile(const unsigned char *dir8, const unsigned char *name8, unsigned char access,
                 unsigned long firstLength, unsigned long secondLength);
// B0 A8 01 02 10 dir name.
CApdu DeleteFile(const unsigned char *dir8, const unsigned char *name8);
// B0 A0 00 01 09 dir access.
CApdu CreateDir(const unsigned char *dir8, unsigned char access);
// B0 A8 00 02 08 dir.
CApdu DeleteDir(const unsigned char *dir8);

} // namespace qvapdu

// Sends a file command and checks its status with the file family's check
// (QVMD_VerifySWFile with the expected received length, 0 for any).
uint32_t QVMD_RunFileCommand(_qv_md_card_struct *card, const CApdu &apdu, unsigned long expected);
