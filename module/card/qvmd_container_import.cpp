// Importing a private key from a CryptoAPI PRIVATEKEYBLOB into the card. Each part
// is written big-endian straight into the command buffer, sent under the caller's
// session and wiped from the buffer after the exchange.
#include "card/qvmd_container.h"

#include "card/qvmd_container_commands.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sw.h"

namespace
{

enum : unsigned long {
    BLOB_HEADER = 8, // BLOBHEADER, not checked
    RSAPUBKEY = 12,  // magic, bit length, public exponent
    EXPONENT_BYTES = 4,
    MAX_MODULUS = 256, // what two pieces carry
    PRIME_PARTS = 5,   // P, Q, dP, dQ, coefficient
    STATUS_ONLY = 2,
};

uint32_t littleEndian32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

// The blob's layout: its key size and where the parts start.
struct Blob {
    const unsigned char *bytes;
    unsigned long bits;
    const unsigned char *exponent; // 4 bytes little-endian
    const unsigned char *modulus;  // bits / 8 bytes little-endian
    const unsigned char *parts;    // P, Q, dP, dQ, coefficient: bits / 16 bytes each
};

uint32_t parse(const unsigned char *bytes, unsigned long length, Blob *blob)
{
    if (bytes == nullptr || length < QVMD_IMPORT_BLOB_MIN || length > QVMD_IMPORT_BLOB_MAX)
        return QV_E_INVALID_VALUE;
    const unsigned char *key = bytes + BLOB_HEADER;
    unsigned long bits = littleEndian32(key + 4);
    if (key[0] != 'R' || key[1] != 'S' || key[2] != 'A' || key[3] != '2' || bits == 0 ||
        bits % 16 != 0 || bits > 8 * QVMD_IMPORT_BLOB_MAX ||
        length != BLOB_HEADER + RSAPUBKEY + 2 * (bits / 8) + PRIME_PARTS * (bits / 16))
        return QV_E_INVALID_VALUE;
    blob->bytes = bytes;
    blob->bits = bits;
    blob->exponent = key + 8;
    blob->modulus = key + RSAPUBKEY;
    blob->parts = blob->modulus + bits / 8;
    return QV_OK;
}

// Sends the command built with count bytes of room at offset, after writing there
// the count bytes of a little-endian value that end at its byte end - 1, last first.
uint32_t sendPart(_qv_md_card_struct *card, const CApdu &apdu, unsigned long offset,
                  const unsigned char *end, unsigned long count)
{
    _qv_caapi_card_struct *t = card->transport;
    uint32_t rv = QVCAAPI_PutCommand(t, apdu);
    if (rv == QV_OK) {
        for (unsigned long i = 0; i < count; i++)
            t->command[offset + i] = end[-1 - static_cast<long>(i)];
        rv = QVMD_RunSecureAPDU(card, 1);
    }
    if (rv == QV_OK)
        rv = QVMD_VerifySWKeyContainer(card, STATUS_ONLY);
    QVCAAPI_WipeExchange(t);
    return rv;
}

uint32_t sendModulus(_qv_md_card_struct *card, const Blob &b)
{
    unsigned long length = b.bits / 8;
    const unsigned char *end = b.modulus + length;
    if (b.bits < QVMD_IMPORT_SPLIT_BITS)
        return sendPart(card, qvapdu::ImportKeyPart(qvapdu::IMPORT_MODULUS, length),
                        qvapdu::IMPORT_DATA_OFFSET, end, length);
    if (length > MAX_MODULUS)
        return QV_E_UNEXPECTED;
    const unsigned long first = 128;
    uint32_t rv = sendPart(card, qvapdu::ImportModulusPiece(false, first),
                           qvapdu::IMPORT_PIECE_OFFSET, end, first);
    if (rv != QV_OK)
        return rv;
    return sendPart(card, qvapdu::ImportModulusPiece(true, length - first),
                    qvapdu::IMPORT_PIECE_OFFSET, end - first, length - first);
}

} // namespace

uint32_t QVMD_ContainerImportKey(_qv_md_card_struct *card, const unsigned char *blob,
                                 unsigned long blobLength, unsigned char, unsigned char,
                                 unsigned long *count)
{
    Blob b;
    uint32_t rv = parse(blob, blobLength, &b);
    if (rv != QV_OK)
        return rv;
    if (count != nullptr) {
        *count = b.bits >= QVMD_IMPORT_SPLIT_BITS ? 8 : 7;
        return QV_OK;
    }
    rv = sendModulus(card, b);
    unsigned long half = b.bits / 16;
    for (unsigned char code = 1; rv == QV_OK && code <= PRIME_PARTS; code++) {
        const unsigned char *part = b.parts + (code - 1) * half;
        rv = sendPart(card, qvapdu::ImportKeyPart(code, half), qvapdu::IMPORT_DATA_OFFSET,
                      part + half, half);
    }
    if (rv == QV_OK)
        rv = sendPart(card, qvapdu::ImportKeyPart(qvapdu::IMPORT_PUBLIC_EXPONENT, EXPONENT_BYTES),
                      qvapdu::IMPORT_DATA_OFFSET, b.exponent + EXPONENT_BYTES, EXPONENT_BYTES);
    return rv;
}
