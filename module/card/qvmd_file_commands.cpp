#include "card/qvmd_file_commands.h"

#include "card/qvmd_names.h"
#include "card/qvmd_sw.h"

namespace
{

enum : unsigned char {
    CLA_ISO = 0x00,
    CLA_CARD = 0xB0,
    INS_GET_RESPONSE = 0xC0,
    INS_CREATE = 0xA0,
    INS_WRITE = 0xA2,
    INS_READ = 0xA4,
    INS_DELETE = 0xA8,
    INS_LIST = 0xAA,
};

CApdu &appendLength(CApdu &apdu, unsigned long length)
{
    unsigned char form[3] = {};
    FillBufferWithFileLengthSize(form, length);
    return apdu.Append(form, 3);
}

CApdu withPath(CApdu apdu, const unsigned char *dir8, const unsigned char *name8)
{
    return apdu.Append(dir8, QVMD_NAME_LENGTH).Append(name8, QVMD_NAME_LENGTH);
}

// The create and write-init commands: path, access byte and two lengths.
CApdu fileHeader(unsigned char p2, const unsigned char *dir8, const unsigned char *name8,
                 unsigned char access, unsigned long first, unsigned long second)
{
    CApdu apdu = withPath(CApdu(CLA_CARD, INS_CREATE, 0x01, p2), dir8, name8).Append(access);
    appendLength(apdu, first);
    appendLength(apdu, second);
    return apdu;
}

} // namespace

namespace qvapdu
{

CApdu ListFiles(const unsigned char *dir8, bool flag)
{
    return CApdu(CLA_CARD, INS_LIST, 0x00, 0x00)
        .Append(dir8, QVMD_NAME_LENGTH)
        .Append(static_cast<unsigned char>(flag ? 0x01 : 0x00));
}

CApdu FileInfo(const unsigned char *dir8, const unsigned char *name8)
{
    return withPath(CApdu(CLA_CARD, INS_LIST, 0x01, 0x00), dir8, name8);
}

CApdu ReadFile(const unsigned char *dir8, const unsigned char *name8)
{
    return withPath(CApdu(CLA_CARD, INS_READ, 0x00, 0x00), dir8, name8);
}

CApdu GetResponse(unsigned long count)
{
    return CApdu(CLA_ISO, INS_GET_RESPONSE, 0x00, 0x00).Le(static_cast<unsigned char>(count));
}

CApdu WriteFileInit(bool inPlace, const unsigned char *dir8, const unsigned char *name8,
                    unsigned long storedLength, unsigned long plainLength)
{
    return fileHeader(inPlace ? 0x08 : 0x04, dir8, name8, 0x00, storedLength, plainLength);
}

CApdu WriteFileChunk(bool last, const unsigned char *data, unsigned long length)
{
    return CApdu(CLA_CARD, INS_WRITE, last ? 0x01 : 0x00, 0x00).Append(data, length);
}

CApdu CreateFile(const unsigned char *dir8, const unsigned char *name8, unsigned char access,
                 unsigned long firstLength, unsigned long secondLength)
{
    return fileHeader(0x01, dir8, name8, access, firstLength, secondLength);
}

CApdu DeleteFile(const unsigned char *dir8, const unsigned char *name8)
{
    return withPath(CApdu(CLA_CARD, INS_DELETE, 0x01, 0x02), dir8, name8);
}

CApdu CreateDir(const unsigned char *dir8, unsigned char access)
{
    return CApdu(CLA_CARD, INS_CREATE, 0x00, 0x01).Append(dir8, QVMD_NAME_LENGTH).Append(access);
}

CApdu DeleteDir(const unsigned char *dir8)
{
    return CApdu(CLA_CARD, INS_DELETE, 0x00, 0x02).Append(dir8, QVMD_NAME_LENGTH);
}

} // namespace qvapdu

uint32_t QVMD_RunFileCommand(_qv_md_card_struct *card, const CApdu &apdu, unsigned long expected)
{
    uint32_t rv = QVCAAPI_RunCommand(card->transport, apdu);
    return rv != QV_OK ? rv : QVMD_VerifySWFile(card, expected);
}
