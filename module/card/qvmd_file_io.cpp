#include "card/qvmd_file_io.h"

#include "base/linux/linux_log.h"
#include "card/qvmd_compress.h"
#include "card/qvmd_file_commands.h"
#include "card/qvmd_files.h"
#include "card/qvmd_info.h"
#include "card/qvmd_names.h"
#include "card/qvmd_sw.h"

#include <cstring>

namespace
{

const unsigned long READ_HEADER = 9; // stored length, 3 bytes the layer ignores, plain length

struct Path {
    unsigned char dir[QVMD_NAME_LENGTH];
    unsigned char name[QVMD_NAME_LENGTH];
};

bool makePath(Path &p, const unsigned char *dir, const unsigned char *name)
{
    if (name == nullptr)
        return false;
    CorrectDirFileName(p.dir, dir, p.name, name);
    return true;
}

unsigned long smaller(unsigned long a, unsigned long b)
{
    return a < b ? a : b;
}

uint32_t announceWrite(_qv_md_card_struct *card, const unsigned char *dir,
                       const unsigned char *name, unsigned long storedLength,
                       unsigned long plainLength, bool inPlace)
{
    Path p;
    if (!makePath(p, dir, name))
        return QV_E_INVALID_VALUE;
    if (storedLength > QVCAAPI_MAX_FILE_LENGTH || plainLength > QVCAAPI_MAX_FILE_LENGTH)
        return QV_E_WRITE_TOO_MANY;
    return QVMD_RunFileCommand(
        card, qvapdu::WriteFileInit(inPlace, p.dir, p.name, storedLength, plainLength), 0);
}

// --- reading ---

uint32_t readRest(_qv_md_card_struct *card, unsigned char *buffer, unsigned long have,
                  unsigned long total)
{
    while (have < total) {
        unsigned long n = smaller(QVMD_FILE_READ_CHUNK, total - have);
        uint32_t rv = QVMD_ReadFileNoCertCompress(card, buffer + have, n);
        if (rv != QV_OK)
            return rv;
        have += n;
    }
    return QV_OK;
}

// Turns the stored bytes into the plain data; the buffer is taken over or freed.
uint32_t unpack(_qv_md_card_struct *card, const Path &p, unsigned char *stored,
                unsigned long storedLength, unsigned long plainLength, unsigned char **data,
                unsigned long *length)
{
    unsigned crc = stored[storedLength - 1];
    if (!QVMD_IsFileToCompress(p.dir, p.name)) {
        if (storedLength < 2 || MDQVD_CRCCheck(storedLength - 1, stored) != crc) {
            QVMD_Free(card, stored);
            return QV_E_UNEXPECTED;
        }
        *data = stored;
        *length = storedLength - 1;
        return QV_OK;
    }
    unsigned char *plain = nullptr;
    unsigned long plainRead = 0;
    uint32_t rv = QVMD_Decompress(card, stored, storedLength - 1, &plain, &plainRead, plainLength);
    QVMD_Free(card, stored);
    if (rv == QV_OK && MDQVD_CRCCheck(plainRead, plain) != crc) {
        QVMD_Free(card, plain);
        rv = QV_E_UNEXPECTED;
    }
    if (rv != QV_OK)
        return rv == QV_E_NO_MEMORY ? rv : QV_E_UNEXPECTED;
    *data = plain;
    *length = plainRead;
    return QV_OK;
}

// A file the read commands can deliver: the first data within the stored length, the
// rest within the chunks the reader follows, the plain length within the length form.
bool readable(unsigned long stored, unsigned long plain, unsigned long first)
{
    return first <= stored && stored - first <= QVMD_FILE_MAX_CHUNKS * QVMD_FILE_READ_CHUNK &&
           plain <= QVCAAPI_MAX_FILE_LENGTH;
}

uint32_t readFile(_qv_md_card_struct *card, const Path &p, unsigned char **data,
                  unsigned long *length)
{
    unsigned long stored = 0, plain = 0, firstLength = 0;
    const unsigned char *first = nullptr;
    uint32_t rv =
        QVMD_InitReadFileNoCertCompress(card, p.dir, p.name, &stored, &plain, &first, &firstLength);
    if (rv != QV_OK || stored == 0 || plain == 0)
        return rv;
    if (!readable(stored, plain, firstLength))
        return QV_E_UNEXPECTED;
    auto *buffer = static_cast<unsigned char *>(QVMD_Alloc(card, stored));
    if (buffer == nullptr)
        return QV_E_NO_MEMORY;
    memcpy(buffer, first, firstLength);
    rv = readRest(card, buffer, firstLength, stored);
    if (rv != QV_OK) {
        QVMD_Free(card, buffer);
        return QV_E_UNEXPECTED;
    }
    return unpack(card, p, buffer, stored, plain, data, length);
}

// --- writing ---

uint32_t initWrite(_qv_md_card_struct *card, const Path &p, unsigned long stored,
                   unsigned long plain, bool inPlace)
{
    _qv_md_file_info info;
    if (inPlace && QVMD_ReadFileInfo(card, p.dir, p.name, &info) == QV_OK &&
        info.fileSize >= stored)
        return QVMD_InitOverwriteFileNoCertCompress(card, p.dir, p.name, stored, plain);
    return QVMD_InitWriteFileNoCertCompress(card, p.dir, p.name, stored, plain);
}

// The payload and then the CRC byte, in chunks.
uint32_t sendChunks(_qv_md_card_struct *card, const unsigned char *payload,
                    unsigned long payloadLength, unsigned char crc)
{
    const unsigned long total = payloadLength + 1;
    unsigned char chunk[QVMD_FILE_WRITE_CHUNK];
    for (unsigned long sent = 0; sent < total;) {
        unsigned long n = smaller(QVMD_FILE_WRITE_CHUNK, total - sent);
        unsigned long fromPayload = sent < payloadLength ? smaller(n, payloadLength - sent) : 0;
        if (fromPayload != 0)
            memcpy(chunk, payload + sent, fromPayload);
        memset(chunk + fromPayload, crc, n - fromPayload);
        uint32_t rv = QVMD_WriteFileNoCertCompress(card, chunk, n, sent + n == total);
        if (rv != QV_OK)
            return rv;
        sent += n;
    }
    return QV_OK;
}

// Refused before the first command when the card could not take it whole.
uint32_t sendFile(_qv_md_card_struct *card, const Path &p, const unsigned char *payload,
                  unsigned long payloadLength, unsigned char crc, unsigned long plainLength,
                  bool inPlace)
{
    if (payloadLength >= QVMD_FILE_MAX_WRITE || plainLength > QVCAAPI_MAX_FILE_LENGTH) {
        hl_log(vok_log::HL_ERROR, "card file of %lu stored bytes refused ( limit %lu )\n",
               payloadLength + 1, static_cast<unsigned long>(QVMD_FILE_MAX_WRITE));
        return QV_E_WRITE_TOO_MANY;
    }
    uint32_t rv = initWrite(card, p, payloadLength + 1, plainLength, inPlace);
    return rv != QV_OK ? rv : sendChunks(card, payload, payloadLength, crc);
}

// Applets from 1.0 on empty a file by an in-place init with both lengths 0; older
// ones get the stored form of no data, its CRC alone.
uint32_t writeEmpty(_qv_md_card_struct *card, const Path &p, bool inPlace)
{
    int older = 0;
    uint32_t rv = QVMD_IsAppletVersionLowerThan(card, QVMD_VERSION_PINPAD, &older);
    if (rv != QV_OK)
        return rv;
    if (!older)
        return QVMD_InitOverwriteFileNoCertCompress(card, p.dir, p.name, 0, 0);
    unsigned char crc = static_cast<unsigned char>(MDQVD_CRCCheck(0, nullptr));
    return sendFile(card, p, nullptr, 0, crc, 0, inPlace);
}

uint32_t writeFile(_qv_md_card_struct *card, const unsigned char *dir, const unsigned char *name,
                   const unsigned char *data, unsigned long length, bool inPlace)
{
    Path p;
    if (!makePath(p, dir, name) || (data == nullptr && length != 0))
        return QV_E_INVALID_VALUE;
    if (length == 0)
        return writeEmpty(card, p, inPlace);
    if (length > QVCAAPI_MAX_FILE_LENGTH)
        return QV_E_WRITE_TOO_MANY;
    unsigned char crc = static_cast<unsigned char>(MDQVD_CRCCheck(length, data));
    if (!QVMD_IsFileToCompress(p.dir, p.name))
        return sendFile(card, p, data, length, crc, length, inPlace);
    unsigned char *payload = nullptr;
    unsigned long payloadLength = 0;
    if (QVMD_Compress(card, data, length, &payload, &payloadLength) != QV_OK)
        return QV_E_UNEXPECTED;
    uint32_t rv = sendFile(card, p, payload, payloadLength, crc, length, inPlace);
    QVMD_Free(card, payload);
    return rv;
}

} // namespace

uint32_t QVMD_InitReadFileNoCertCompress(_qv_md_card_struct *card, const unsigned char *dir,
                                         const unsigned char *name, unsigned long *storedLength,
                                         unsigned long *plainLength, const unsigned char **first,
                                         unsigned long *firstLength)
{
    Path p;
    if (!makePath(p, dir, name) || storedLength == nullptr || plainLength == nullptr ||
        first == nullptr || firstLength == nullptr)
        return QV_E_INVALID_VALUE;
    uint32_t rv = QVCAAPI_RunCommand(card->transport, qvapdu::ReadFile(p.dir, p.name));
    if (rv == QV_OK)
        rv = QVMD_VerifySWFileMin(card, READ_HEADER + 2);
    if (rv != QV_OK)
        return rv;
    const _qv_caapi_card_struct *t = card->transport;
    *storedLength = GetFileLengthFromBuffer(t->response);
    *plainLength = GetFileLengthFromBuffer(t->response + 6);
    *first = t->response + READ_HEADER;
    *firstLength = t->receivedLength - READ_HEADER - 2;
    return QV_OK;
}

uint32_t QVMD_ReadFileNoCertCompress(_qv_md_card_struct *card, unsigned char *out,
                                     unsigned long count)
{
    if (out == nullptr || count == 0 || count > QVMD_FILE_READ_CHUNK)
        return QV_E_INVALID_VALUE;
    uint32_t rv = QVCAAPI_RunCommand(card->transport, qvapdu::GetResponse(count));
    if (rv == QV_OK)
        rv = QVMD_VerifySWFileMin(card, 0);
    if (rv == QV_OK && card->transport->receivedLength != count + 2)
        rv = QV_E_UNEXPECTED;
    if (rv == QV_OK)
        memcpy(out, card->transport->response, count);
    return rv;
}

uint32_t QVMD_InitWriteFileNoCertCompress(_qv_md_card_struct *card, const unsigned char *dir,
                                          const unsigned char *name, unsigned long storedLength,
                                          unsigned long plainLength)
{
    return announceWrite(card, dir, name, storedLength, plainLength, false);
}

uint32_t QVMD_InitOverwriteFileNoCertCompress(_qv_md_card_struct *card, const unsigned char *dir,
                                              const unsigned char *name, unsigned long storedLength,
                                              unsigned long plainLength)
{
    return announceWrite(card, dir, name, storedLength, plainLength, true);
}

uint32_t QVMD_WriteFileNoCertCompress(_qv_md_card_struct *card, const unsigned char *data,
                                      unsigned long length, bool last)
{
    if (data == nullptr || length == 0 || length > QVMD_FILE_WRITE_CHUNK)
        return QV_E_INVALID_VALUE;
    // the last chunk is confirmed by the single byte 01
    uint32_t rv =
        QVMD_RunFileCommand(card, qvapdu::WriteFileChunk(last, data, length), last ? 3 : 2);
    if (rv == QV_OK && last && card->transport->response[0] != 0x01)
        rv = QV_E_UNEXPECTED;
    return rv;
}

uint32_t QVMD_ReadFile(_qv_md_card_struct *card, const unsigned char *dir,
                       const unsigned char *name, unsigned char **data, unsigned long *length)
{
    Path p;
    if (data == nullptr || length == nullptr || !makePath(p, dir, name))
        return QV_E_INVALID_VALUE;
    *data = nullptr;
    *length = 0;
    return readFile(card, p, data, length);
}

uint32_t QVMD_WriteFile(_qv_md_card_struct *card, const unsigned char *dir,
                        const unsigned char *name, const unsigned char *data, unsigned long length)
{
    bool root = dir == nullptr || dir[0] == 0;
    return writeFile(card, dir, name, data, length, root);
}

uint32_t QVMD_OverwriteFile(_qv_md_card_struct *card, const unsigned char *dir,
                            const unsigned char *name, const unsigned char *data,
                            unsigned long length)
{
    return writeFile(card, dir, name, data, length, true);
}

uint32_t QVMD_CreateFile(_qv_md_card_struct *card, const unsigned char *dir,
                         const unsigned char *name, const unsigned char *data, unsigned long length,
                         unsigned long access)
{
    uint32_t rv =
        QVMD_CreateFileSimple(card, dir, name, static_cast<unsigned char>(access), 0, length);
    if (rv != QV_OK || data == nullptr || length == 0)
        return rv;
    return writeFile(card, dir, name, data, length, false);
}
