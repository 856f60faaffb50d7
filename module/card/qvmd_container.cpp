// Creating, deleting and re-assigning key containers, and reading their keys'
// public parts.
#include "card/qvmd_container.h"

#include "card/qvmd_container_commands.h"
#include "card/qvmd_files.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sw.h"

#include <cstring>
#include <initializer_list>

namespace
{

enum : unsigned long {
    STATUS_ONLY = 2,
    DETAILS_REPLY = 6 + 2,
    SHORT_REPLY = 2 + 2,
    PUBLIC_BLOB_HEADER = 20,
    MAX_BLOB_EXPONENT = 4,
};

enum : unsigned char {
    PUBLICKEYBLOB = 0x06,
    BLOB_VERSION = 0x02,
    KEY_INFO_EXCHANGE = 0x04, // key-info byte 5: a key-exchange key
};

const uint32_t CALG_RSA_SIGN = 0x2400;
const uint32_t CALG_RSA_KEYX = 0xA400;
const unsigned char QV_P11_DIR[8] = {'q', 'v', '_', 'p', '1', '1', 0, 0};

void putLittleEndian(unsigned char *out, uint32_t value)
{
    for (int i = 0; i < 4; i++, value >>= 8)
        out[i] = static_cast<unsigned char>(value);
}

// A fresh copy of the reply's data in place of the old buffer.
uint32_t keepReply(_qv_md_card_struct *card, unsigned char *&buffer, unsigned long &length)
{
    if (buffer != nullptr)
        QVMD_Free(card, buffer);
    buffer = nullptr;
    length = 0;
    const _qv_caapi_card_struct *t = card->transport;
    unsigned long n = t->receivedLength - 2;
    if (n == 0)
        return QV_OK;
    buffer = static_cast<unsigned char *>(QVMD_Alloc(card, n));
    if (buffer == nullptr)
        return QV_E_NO_MEMORY;
    memcpy(buffer, t->response, n);
    length = n;
    return QV_OK;
}

// The PUBLICKEYBLOB of a key whose details, exponent and modulus are read.
uint32_t publicKeyBlob(_qv_md_card_struct *card, const _qv_md_container_key_info &key,
                       unsigned char **blob, unsigned long *blobLength)
{
    unsigned long modulusLength = key.keyBits / 8;
    if (key.exponentLength > MAX_BLOB_EXPONENT || key.modulusLength != modulusLength ||
        modulusLength == 0)
        return QV_E_UNEXPECTED;
    unsigned long length = PUBLIC_BLOB_HEADER + modulusLength;
    auto *out = static_cast<unsigned char *>(QVMD_Alloc(card, length));
    if (out == nullptr)
        return QV_E_NO_MEMORY;
    memset(out, 0, PUBLIC_BLOB_HEADER);
    out[0] = PUBLICKEYBLOB;
    out[1] = BLOB_VERSION;
    putLittleEndian(out + 4,
                    (key.keyInfo5 & KEY_INFO_EXCHANGE) != 0 ? CALG_RSA_KEYX : CALG_RSA_SIGN);
    memcpy(out + 8, "RSA1", 4);
    putLittleEndian(out + 12, key.keyBits);
    putLittleEndian(out + 16, static_cast<uint32_t>(
                                  QVCAAPI_GetDWORDFromBuffer(key.exponent, key.exponentLength)));
    for (unsigned long i = 0; i < modulusLength; i++)
        out[PUBLIC_BLOB_HEADER + i] = key.modulus[modulusLength - 1 - i];
    *blob = out;
    *blobLength = length;
    return QV_OK;
}

} // namespace

uint32_t QVMD_CreateContainer(_qv_md_card_struct *card,
                              const _qv_md_create_container_request *request)
{
    if (request == nullptr)
        return QV_E_INVALID_VALUE;
    uint32_t rv = QVMD_VerifyQVSignature(card);
    if (rv == QV_OK)
        rv = QVMD_PrepareCreateContainer(card, request);
    if (rv == QV_OK)
        rv = QVCAAPI_RunAPDU(card->transport);
    return rv != QV_OK ? rv : QVMD_VerifySWKeyContainer(card, STATUS_ONLY);
}

uint32_t QVMD_PrepareCreateContainer(_qv_md_card_struct *card,
                                     const _qv_md_create_container_request *request)
{
    if (request == nullptr)
        return QV_E_INVALID_VALUE;
    // the exponent without its leading zero bytes; none when absent or zero
    unsigned long skip = 0;
    while (skip < sizeof(request->exponent) && request->exponent[skip] == 0)
        skip++;
    unsigned long exponentLength =
        request->exponentPresent != 0 ? sizeof(request->exponent) - skip : 0;
    return QVCAAPI_PutCommand(
        card->transport,
        qvapdu::CreateContainer(request->container, request->keySpec, request->flags,
                                request->keyBits, request->defaultExponent != 0 ? 1 : 0,
                                request->access, request->exponent + skip, exponentLength));
}

uint32_t QVMD_DeleteContainerWithoutPKCS11File(_qv_md_card_struct *card, unsigned char container)
{
    uint32_t rv = QVCAAPI_RunCommand(card->transport, qvapdu::DeleteContainer(container));
    return rv != QV_OK ? rv : QVMD_VerifySWKeyContainer(card, STATUS_ONLY);
}

uint32_t QVMD_DeleteContainer(_qv_md_card_struct *card, unsigned char container)
{
    uint32_t rv = QVMD_DeleteContainerWithoutPKCS11File(card, container);
    // a key the card keeps keeps its attributes
    if (rv != QV_OK && rv != QV_E_NO_KEY_CONTAINER)
        return rv;
    unsigned char name[8];
    uint32_t fileRv = QVMD_PKCS11_FillContainerFileName(card, name, container);
    if (fileRv == QV_OK)
        fileRv = QVMD_DeleteFileNoPKCS11CertFileCheck(card, QV_P11_DIR, name);
    if (fileRv == QV_E_FILE_NOT_FOUND || fileRv == QV_E_DIR_NOT_FOUND)
        fileRv = QV_OK;
    return rv != QV_OK ? rv : fileRv;
}

uint32_t QVMD_ChangeContainerUser(_qv_md_card_struct *card,
                                  const _qv_md_create_container_request *request,
                                  unsigned char mask)
{
    if (request == nullptr || mask < 1 || mask > 3)
        return QV_E_INVALID_VALUE;
    uint32_t rv = QVCAAPI_PutCommand(
        card->transport, qvapdu::ChangeContainerAccess(request->container, mask,
                                                       (mask & 1) != 0 ? request->access[0] : 0,
                                                       (mask & 2) != 0 ? request->access[1] : 0));
    if (rv == QV_OK)
        rv = QVMD_RunSecureAPDU(card, 1);
    return rv != QV_OK ? rv : QVMD_VerifySWKeyContainer(card, STATUS_ONLY);
}

uint32_t QVMD_GetContainerInfo(_qv_md_card_struct *card, _qv_md_container_key_info *keyInfo,
                               unsigned char what)
{
    if (keyInfo == nullptr)
        return QV_E_INVALID_VALUE;
    uint32_t rv = QVCAAPI_RunCommand(
        card->transport, qvapdu::KeyInformation(keyInfo->container, what, keyInfo->keySpec));
    if (rv != QV_OK || what > QVMD_KEY_INFO_SHORT)
        return rv;
    const unsigned char *d = card->transport->response;
    switch (what) {
    case QVMD_KEY_INFO_MODULUS:
        rv = QVMD_VerifySWKeyContainer(card, 0);
        return rv != QV_OK ? rv : keepReply(card, keyInfo->modulus, keyInfo->modulusLength);
    case QVMD_KEY_INFO_EXPONENT:
        rv = QVMD_VerifySWKeyContainer(card, 0);
        return rv != QV_OK ? rv : keepReply(card, keyInfo->exponent, keyInfo->exponentLength);
    case QVMD_KEY_INFO_DETAILS:
        rv = QVMD_VerifySWKeyContainer(card, DETAILS_REPLY);
        if (rv == QV_OK) {
            memcpy(keyInfo->shortInfo, d, 2);
            keyInfo->keyBits = static_cast<uint32_t>(d[2] << 8 | d[3]);
            keyInfo->keyInfo4 = d[4];
            keyInfo->keyInfo5 = d[5];
        }
        return rv;
    default:
        rv = QVMD_VerifySWKeyContainer(card, SHORT_REPLY);
        if (rv == QV_OK)
            memcpy(keyInfo->shortInfo, d, 2);
        return rv;
    }
}

uint32_t QVMD_GetContainerInfoPublicKey(_qv_md_card_struct *card, unsigned char container,
                                        unsigned char keySpec, unsigned char **blob,
                                        unsigned long *blobLength)
{
    if (blob == nullptr || blobLength == nullptr)
        return QV_E_INVALID_VALUE;
    *blob = nullptr;
    *blobLength = 0;
    _qv_md_container_key_info key;
    QVMD_ContainerInitStruct(&key);
    key.container = container;
    key.keySpec = keySpec;
    uint32_t rv = QV_OK;
    for (unsigned char what :
         {QVMD_KEY_INFO_DETAILS, QVMD_KEY_INFO_EXPONENT, QVMD_KEY_INFO_MODULUS})
        if (rv == QV_OK)
            rv = QVMD_GetContainerInfo(card, &key, what);
    if (rv == QV_OK)
        rv = publicKeyBlob(card, key, blob, blobLength);
    QVMD_ContainerReleaseStruct(card, &key);
    return rv;
}
