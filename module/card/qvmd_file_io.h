// Reading and writing whole card files. A file is stored as its payload (the plain
// data, or its LZH code for a file of the compressed class) followed by the CRC-8 of
// the plain data; the card keeps the stored and the plain length beside it.
//
// Limits: a reply stream is read in GET RESPONSE chunks of at most 256 bytes and a
// file is written in chunks of at most 255 bytes, at most QVMD_FILE_MAX_CHUNKS of
// each; a read checks the card's lengths against them before it allocates, and a
// write that could not be sent whole is refused before anything is sent, so the old
// content stays. A write refused midway by the card may leave the file partly
// written (there is no rollback); the error is reported.
#pragma once

#include "card/qvmd_card.h"

enum : unsigned long {
    QVMD_FILE_MAX_CHUNKS = 511,
    QVMD_FILE_READ_CHUNK = 256,
    QVMD_FILE_WRITE_CHUNK = 255,
    QVMD_FILE_MAX_WRITE = QVMD_FILE_MAX_CHUNKS * QVMD_FILE_WRITE_CHUNK, // stored bytes
};

// The read command: stored and plain length, and the first data bytes, which stay in
// the transport's response buffer until the next command.
uint32_t QVMD_InitReadFileNoCertCompress(_qv_md_card_struct *card, const unsigned char *dir,
                                         const unsigned char *name, unsigned long *storedLength,
                                         unsigned long *plainLength, const unsigned char **first,
                                         unsigned long *firstLength);
// The next count (1..256) bytes of the file into out; a reply of another length is
// QV_E_UNEXPECTED.
uint32_t QVMD_ReadFileNoCertCompress(_qv_md_card_struct *card, unsigned char *out,
                                     unsigned long count);
// The write commands: announce a new write or one in place, then the chunks; the last
// chunk must be confirmed by the card with the single byte 01.
uint32_t QVMD_InitWriteFileNoCertCompress(_qv_md_card_struct *card, const unsigned char *dir,
                                          const unsigned char *name, unsigned long storedLength,
                                          unsigned long plainLength);
uint32_t QVMD_InitOverwriteFileNoCertCompress(_qv_md_card_struct *card, const unsigned char *dir,
                                              const unsigned char *name, unsigned long storedLength,
                                              unsigned long plainLength);
uint32_t QVMD_WriteFileNoCertCompress(_qv_md_card_struct *card, const unsigned char *data,
                                      unsigned long length, bool last);

// The plain contents of a file from the context's alloc hook (QVMD_Free); an empty
// file gives null and 0. A corrupt file (lengths, CRC, code) is QV_E_UNEXPECTED and
// leaves nothing behind.
uint32_t QVMD_ReadFile(_qv_md_card_struct *card, const unsigned char *dir,
                       const unsigned char *name, unsigned char **data, unsigned long *length);
// Writes a whole file: a root file in place, any other file as a new write.
uint32_t QVMD_WriteFile(_qv_md_card_struct *card, const unsigned char *dir,
                        const unsigned char *name, const unsigned char *data, unsigned long length);
// Writes in place when the existing file has room, else as a new write.
uint32_t QVMD_OverwriteFile(_qv_md_card_struct *card, const unsigned char *dir,
                            const unsigned char *name, const unsigned char *data,
                            unsigned long length);
// Creates the file (access byte = access's low byte, sized for length) and, when data
// is given, writes it.
uint32_t QVMD_CreateFile(_qv_md_card_struct *card, const unsigned char *dir,
                         const unsigned char *name, const unsigned char *data, unsigned long length,
                         unsigned long access);
