// CryptoAPI PRIVATEKEYBLOB of an RSA private key, the form the card's key import
// takes: a 20-byte header (BLOBHEADER, RSAPUBKEY "RSA2") followed by modulus,
// prime1, prime2, exponent1, exponent2, coefficient and private exponent, all
// little-endian in fields of n or n/2 bytes.
#include <cstring>

#include "objects/p11_frame.h"
#include "objects/p11_rsa_private_key.h"

namespace
{

unsigned char const PRIVATEKEYBLOB = 7;
unsigned char const CUR_BLOB_VERSION = 2;
unsigned long const HEADER_SIZE = 20;

// A big-endian component without its leading zero bytes.
struct Component {
    unsigned long type;
    unsigned char const *data;
    unsigned long size;
};

Component readComponent(CP11Object const *key, unsigned long type)
{
    unsigned long size = 0;
    unsigned char const *data = (unsigned char const *)key->FindBinaryAttribute(type, &size);
    if (data == nullptr)
        size = 0;
    while (size > 0 && *data == 0) {
        ++data;
        --size;
    }
    return Component{type, data, size};
}

// Refuses a component that does not fit its field.
void checkFits(Component const &c, unsigned long field, unsigned long rv)
{
    if (c.size > field) {
        vok_log::hl_log(vok_log::HL_ERROR, "Attribute [ %s ] size invalid ( 0x%.8lx / 0x%.8lx )!\n",
                        p11_frame::ckaName(c.type), c.size, field);
        throw CP11Exception(rv);
    }
}

// Writes the component least significant byte first at the start of its field.
void putReversed(unsigned char *field, Component const &c)
{
    if (c.size == 0)
        return;
    std::memcpy(field, c.data, c.size);
    CP11Key::revert(field, c.size);
}

void putLittle32(unsigned char *out, unsigned long v)
{
    for (int i = 0; i < 4; ++i)
        out[i] = (unsigned char)(v >> (8 * i));
}

} // namespace

unsigned long CP11RSAPrivateKey::ToCApi(unsigned char *buffer, unsigned long size)
{
    vok_log::hl_log(vok_log::HL_ENTER, "CP11RSAPrivateKey::ToCApi(%p,0x%.8lx)\n", (void *)buffer,
                    size);
    Component modulus = readComponent(this, CKA_MODULUS);
    unsigned long n = modulus.size;
    unsigned long h = n / 2;
    unsigned long total = HEADER_SIZE + 4 * n + h;
    if (buffer == nullptr) {
        vok_log::hl_log(vok_log::HL_LEAVE, "CP11RSAPrivateKey::ToCApi( 0x%.8lx )\n", total);
        return total;
    }

    try {
        if (size < total) {
            vok_log::hl_log(vok_log::HL_ERROR,
                            "Attribute [ %s ] small buffer ( 0x%.8lx / 0x%.8lx )!\n",
                            p11_frame::ckaName(CKA_MODULUS), size, total);
            throw CP11Exception(CKR_BUFFER_TOO_SMALL);
        }
        Component exponent = readComponent(this, CKA_PUBLIC_EXPONENT);
        checkFits(exponent, 4, CKR_DATA_INVALID);
        // Each component must fit its field; a key whose primes are not n/2 bytes
        // (odd or unbalanced modulus) has no blob.
        Component parts[] = {readComponent(this, CKA_PRIME_1), readComponent(this, CKA_PRIME_2),
                             readComponent(this, CKA_EXPONENT_1),
                             readComponent(this, CKA_EXPONENT_2),
                             readComponent(this, CKA_COEFFICIENT)};
        for (Component const &c : parts)
            checkFits(c, h, CKR_ATTRIBUTE_VALUE_INVALID);
        Component privateExponent = readComponent(this, CKA_PRIVATE_EXPONENT);
        checkFits(privateExponent, n, CKR_ATTRIBUTE_VALUE_INVALID);

        std::memset(buffer, 0, total);
        buffer[0] = PRIVATEKEYBLOB;
        buffer[1] = CUR_BLOB_VERSION;
        // aiKeyAlg: CALG_RSA_SIGN 0x2400, or CALG_RSA_KEYX 0xA400 for a key that
        // can decrypt or unwrap (an exchange key that also signs stays KEYX).
        if (FindByteAttribute(CKA_SIGN) == 1)
            buffer[5] = 0x24;
        if (FindByteAttribute(CKA_DECRYPT) == 1 || FindByteAttribute(CKA_UNWRAP) == 1)
            buffer[5] = 0xA4;
        std::memcpy(buffer + 8, "RSA2", 4);
        putLittle32(buffer + 12, n * 8);
        putReversed(buffer + 16, exponent);

        unsigned char *field = buffer + HEADER_SIZE;
        putReversed(field, modulus);
        field += n;
        for (Component const &c : parts) {
            putReversed(field, c);
            field += h;
        }
        putReversed(field, privateExponent);
    } catch (CP11Exception const &e) {
        p11_frame::rethrow("CP11RSAPrivateKey::ToCApi ", e);
    }
    vok_log::hl_log(vok_log::HL_LEAVE, "CP11RSAPrivateKey::ToCApi( 0x%.8lx )\n", total);
    return total;
}
