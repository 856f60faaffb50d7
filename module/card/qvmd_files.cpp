#include "card/qvmd_files.h"

#include "card/qvmd_compress.h"
#include "card/qvmd_file_commands.h"
#include "card/qvmd_names.h"
#include "card/qvmd_sw.h"

#include <cstdio>
#include <cstring>

namespace
{

const unsigned char QV_P11[QVMD_NAME_LENGTH] = {'q', 'v', '_', 'p', '1', '1', 0, 0};

// prefix and the number with "%02lu", cut to the 8 bytes of a card name
uint32_t fillName(unsigned char *name8, const char *prefix, unsigned long number)
{
    if (name8 == nullptr)
        return QV_E_INVALID_VALUE;
    char text[32];
    snprintf(text, sizeof text, "%s%02lu", prefix, number);
    memset(name8, 0, QVMD_NAME_LENGTH);
    memcpy(name8, text, strnlen(text, QVMD_NAME_LENGTH));
    return QV_OK;
}

// --- listing ---

struct NameList {
    _qv_md_card_struct *card;
    unsigned char *bytes;
    unsigned long length;
};

uint32_t grow(NameList &list, unsigned long more)
{
    void *p = QVMD_Realloc(list.card, list.bytes, list.length, list.length + more);
    if (p == nullptr)
        return QV_E_NO_MEMORY;
    list.bytes = static_cast<unsigned char *>(p);
    return QV_OK;
}

// Appends the 8-byte names of the last reply as zero-terminated text.
uint32_t appendNames(NameList &list)
{
    const _qv_caapi_card_struct *t = list.card->transport;
    unsigned long data = t->receivedLength - 2;
    if (data % QVMD_NAME_LENGTH != 0)
        return QV_E_UNEXPECTED;
    if (data == 0)
        return QV_OK;
    uint32_t rv = grow(list, data / QVMD_NAME_LENGTH * (QVMD_NAME_LENGTH + 1));
    for (unsigned long at = 0; rv == QV_OK && at < data; at += QVMD_NAME_LENGTH) {
        unsigned long n =
            strnlen(reinterpret_cast<const char *>(t->response + at), QVMD_NAME_LENGTH);
        memcpy(list.bytes + list.length, t->response + at, n);
        list.bytes[list.length + n] = 0;
        list.length += n + 1;
    }
    return rv;
}

// One exchange of a listing: its status (61 xx: more to come) and its names.
uint32_t listPart(NameList &list, const CApdu &apdu)
{
    _qv_md_card_struct *card = list.card;
    uint32_t rv = QVCAAPI_RunCommand(card->transport, apdu);
    if (rv == QV_OK && card->transport->sw1 != 0x61)
        rv = QVMD_VerifySWFile(card, 0);
    return rv != QV_OK ? rv : appendNames(list);
}

uint32_t listNames(NameList &list, const unsigned char *dir8, bool flag)
{
    CApdu next = qvapdu::ListFiles(dir8, flag);
    for (unsigned long n = 0; n < QVMD_LIST_MAX_EXCHANGES; n++) {
        uint32_t rv = listPart(list, next);
        if (rv != QV_OK)
            return rv;
        if (list.card->transport->sw1 != 0x61)
            return list.length == 0 ? QV_E_FILE_NOT_FOUND : QV_OK;
        next = qvapdu::GetResponse(list.card->transport->sw2);
    }
    return QV_E_UNEXPECTED;
}

// A compressed-class file outside "qv_p11" with a twin of its name in "qv_p11".
bool hasTwin(const unsigned char *dir8, const unsigned char *name8)
{
    return QVMD_IsFileToCompress(dir8, name8) && !QVMD_IsCertFileName(name8) &&
           !QVMD_IsDataFileName(name8) && memcmp(dir8, QV_P11, QVMD_NAME_LENGTH) != 0;
}

} // namespace

uint32_t QVMD_FillCertFileName(_qv_md_card_struct *, unsigned char *name8, unsigned long index,
                               unsigned long keySpec)
{
    if (keySpec != QVMD_KEYSPEC_SIGNATURE && keySpec != QVMD_KEYSPEC_EXCHANGE)
        return QV_E_INVALID_VALUE;
    return fillName(name8, keySpec == QVMD_KEYSPEC_SIGNATURE ? "ksc" : "kxc", index);
}

uint32_t QVMD_PKCS11_FillDataFileName(_qv_md_card_struct *, unsigned char *name8,
                                      unsigned long index)
{
    return fillName(name8, "data", index & 0xFF);
}

uint32_t QVMD_PKCS11_FillContainerFileName(_qv_md_card_struct *, unsigned char *name8,
                                           unsigned long index)
{
    return fillName(name8, "cont", index & 0xFF);
}

uint32_t QVMD_EnumFiles(_qv_md_card_struct *card, const unsigned char *dir, unsigned char **names,
                        unsigned long *length, unsigned long flags)
{
    if (names == nullptr || length == nullptr)
        return QV_E_INVALID_VALUE;
    *names = nullptr;
    *length = 0;
    unsigned char d[QVMD_NAME_LENGTH];
    CorrectDirName(d, dir);
    NameList list = {card, nullptr, 0};
    uint32_t rv = listNames(list, d, flags != 0);
    if (rv == QV_OK)
        rv = grow(list, 1);
    if (rv != QV_OK) {
        QVMD_Free(card, list.bytes);
        return rv;
    }
    list.bytes[list.length] = 0;
    *names = list.bytes;
    *length = list.length + 1;
    return QV_OK;
}

uint32_t QVMD_EnumFilesEx(_qv_md_card_struct *card, const unsigned char *dir, unsigned char **names,
                          unsigned long *length, unsigned long flags)
{
    uint32_t rv = QVMD_EnumFiles(card, dir, names, length, flags);
    return rv == QV_E_FILE_NOT_FOUND ? QV_OK : rv;
}

uint32_t QVMD_ReadFileInfo(_qv_md_card_struct *card, const unsigned char *dir,
                           const unsigned char *name, _qv_md_file_info *info)
{
    if (name == nullptr || info == nullptr)
        return QV_E_INVALID_VALUE;
    unsigned char d[QVMD_NAME_LENGTH], n[QVMD_NAME_LENGTH];
    CorrectDirFileName(d, dir, n, name);
    uint32_t rv = QVMD_RunFileCommand(card, qvapdu::FileInfo(d, n), 12);
    if (rv != QV_OK)
        return rv;
    const unsigned char *reply = card->transport->response;
    info->storedLength = GetFileLengthFromBuffer(reply);
    info->fileSize = GetFileLengthFromBuffer(reply + 3);
    info->plainLength = GetFileLengthFromBuffer(reply + 6);
    info->access = reply[9];
    return QV_OK;
}

uint32_t QVMD_CreateFileSimple(_qv_md_card_struct *card, const unsigned char *dir,
                               const unsigned char *name, unsigned char access,
                               unsigned long firstLength, unsigned long secondLength)
{
    if (name == nullptr)
        return QV_E_INVALID_VALUE;
    if (firstLength > QVCAAPI_MAX_FILE_LENGTH || secondLength > QVCAAPI_MAX_FILE_LENGTH)
        return QV_E_WRITE_TOO_MANY;
    unsigned char d[QVMD_NAME_LENGTH], n[QVMD_NAME_LENGTH];
    CorrectDirFileName(d, dir, n, name);
    return QVMD_RunFileCommand(card, qvapdu::CreateFile(d, n, access, firstLength, secondLength),
                               0);
}

uint32_t QVMD_DeleteFileNoPKCS11CertFileCheck(_qv_md_card_struct *card, const unsigned char *dir,
                                              const unsigned char *name)
{
    if (name == nullptr)
        return QV_E_INVALID_VALUE;
    unsigned char d[QVMD_NAME_LENGTH], n[QVMD_NAME_LENGTH];
    CorrectDirFileName(d, dir, n, name);
    return QVMD_RunFileCommand(card, qvapdu::DeleteFile(d, n), 0);
}

uint32_t QVMD_DeleteFile(_qv_md_card_struct *card, const unsigned char *dir,
                         const unsigned char *name)
{
    if (name == nullptr)
        return QV_E_INVALID_VALUE;
    unsigned char d[QVMD_NAME_LENGTH], n[QVMD_NAME_LENGTH];
    CorrectDirFileName(d, dir, n, name);
    uint32_t rv = QVMD_DeleteFileNoPKCS11CertFileCheck(card, d, n);
    // the twin goes only with its file, so a refused delete leaves both
    if (rv != QV_OK || !hasTwin(d, n))
        return rv;
    rv = QVMD_DeleteFileNoPKCS11CertFileCheck(card, QV_P11, n);
    return rv == QV_E_FILE_NOT_FOUND || rv == QV_E_DIR_NOT_FOUND ? QV_OK : rv;
}

uint32_t QVMD_CreateDir(_qv_md_card_struct *card, const unsigned char *dir, unsigned char access)
{
    unsigned char d[QVMD_NAME_LENGTH];
    CorrectDirName(d, dir);
    return QVMD_RunFileCommand(card, qvapdu::CreateDir(d, access), 0);
}

uint32_t QVMD_DeleteDir(_qv_md_card_struct *card, const unsigned char *dir)
{
    if (dir == nullptr)
        return QV_E_INVALID_VALUE;
    unsigned char d[QVMD_NAME_LENGTH];
    CorrectDirName(d, dir);
    return QVMD_RunFileCommand(card, qvapdu::DeleteDir(d), 0);
}
