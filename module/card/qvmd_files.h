// The card's file system: a root directory and named directories of files, all with
// 8-byte card names (a null directory is the root). This header holds the listing,
// the file information, creation and deletion of files and directories, and the
// names of the certificate and PKCS#11 files; reading and writing are in
// qvmd_file_io.h, the change counters in qvmd_cache.h.
//
// Every operation sends its commands through the card's transport and maps the
// card's status with the file family's check (qvmd_sw.h); transport errors pass up
// unchanged.
#pragma once

#include "card/qvmd_card.h"

#include <cstdint>

// What the card keeps beside a file: stored length (payload and CRC), plain length,
// room reserved for it, and its access byte.
struct _qv_md_file_info {
    uint64_t storedLength;
    uint64_t plainLength;
    uint64_t fileSize;
    uint8_t access;
};

enum : unsigned long {
    QVMD_KEYSPEC_EXCHANGE = 1,  // certificate names "kxc" + NN
    QVMD_KEYSPEC_SIGNATURE = 2, // certificate names "ksc" + NN
    QVMD_LIST_MAX_EXCHANGES = 16,
};

// "ksc" (key spec 2) or "kxc" (key spec 1) and the index as "%02i" in 8 zeroed bytes;
// any other key spec is QV_E_INVALID_VALUE.
uint32_t QVMD_FillCertFileName(_qv_md_card_struct *card, unsigned char *name8, unsigned long index,
                               unsigned long keySpec);
// "data" or "cont" and the index's low byte as "%02i".
uint32_t QVMD_PKCS11_FillDataFileName(_qv_md_card_struct *card, unsigned char *name8,
                                      unsigned long index);
uint32_t QVMD_PKCS11_FillContainerFileName(_qv_md_card_struct *card, unsigned char *name8,
                                           unsigned long index);

// The names of a directory: zero-terminated names one after another and one more
// zero byte; length counts every byte. The list comes from the context's alloc hook
// (QVMD_Free). flags non-zero sets the command's flag byte. An empty directory is
// QV_E_FILE_NOT_FOUND; a listing not finished within QVMD_LIST_MAX_EXCHANGES
// exchanges, or a reply that is not whole names, is QV_E_UNEXPECTED.
uint32_t QVMD_EnumFiles(_qv_md_card_struct *card, const unsigned char *dir, unsigned char **names,
                        unsigned long *length, unsigned long flags);
// The same, but an empty directory is success with no list (null, 0).
uint32_t QVMD_EnumFilesEx(_qv_md_card_struct *card, const unsigned char *dir, unsigned char **names,
                          unsigned long *length, unsigned long flags);

uint32_t QVMD_ReadFileInfo(_qv_md_card_struct *card, const unsigned char *dir,
                           const unsigned char *name, _qv_md_file_info *info);

// Creates a file with an access byte and two lengths (the card's own meaning; the
// token passes 0 and the data's length). 80 (ERROR_FILE_EXISTS) when it exists.
uint32_t QVMD_CreateFileSimple(_qv_md_card_struct *card, const unsigned char *dir,
                               const unsigned char *name, unsigned char access,
                               unsigned long firstLength, unsigned long secondLength);
uint32_t QVMD_DeleteFileNoPKCS11CertFileCheck(_qv_md_card_struct *card, const unsigned char *dir,
                                              const unsigned char *name);
// Deletes a file. A compressed-class file outside "qv_p11" that is neither a
// certificate nor a data file has a twin of the same name in "qv_p11", deleted after
// it: its absence is no error.
uint32_t QVMD_DeleteFile(_qv_md_card_struct *card, const unsigned char *dir,
                         const unsigned char *name);
uint32_t QVMD_CreateDir(_qv_md_card_struct *card, const unsigned char *dir, unsigned char access);
// A null dir is QV_E_INVALID_VALUE; 145 (ERROR_DIR_NOT_EMPTY) when files remain.
uint32_t QVMD_DeleteDir(_qv_md_card_struct *card, const unsigned char *dir);
