#include "client/record_fill.h"

#include <QByteArray>
#include <QString>

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace
{

// Copies a value and a zero byte into a text field; the zero byte must fit.
bool fillText(char *field, size_t width, AttributeBytes const &value)
{
    if (value.size() >= width)
        return false;
    std::memcpy(field, value.data(), value.size());
    field[value.size()] = 0;
    return true;
}

template <size_t N, typename Length>
bool fillBytes(uint8_t (&field)[N], Length &length, unsigned char const *bytes, size_t size)
{
    if (size > N)
        return false;
    if (size != 0)
        std::memcpy(field, bytes, size);
    length = static_cast<Length>(size);
    return true;
}

QDate dateOf(AttributeBytes const &value)
{
    if (value.empty())
        return QDate();
    QString text = QString::fromLatin1(reinterpret_cast<char const *>(value.data()),
                                       static_cast<qsizetype>(value.size()));
    return QDate::fromString(text, QStringLiteral("yyyyMMdd"));
}

// The content bytes of a DER INTEGER (as many as are there of those its
// length announces); none for a value of two bytes or fewer.
void integerContent(AttributeBytes const &der, size_t &offset, size_t &length)
{
    offset = 0;
    length = 0;
    if (der.size() <= 2)
        return;
    size_t declared = der[1];
    offset = 2;
    if ((der[1] & 0x80) != 0) {
        size_t digits = der[1] & 0x7F;
        if (digits == 0 || digits > sizeof(uint32_t) || der.size() < 2 + digits)
            return;
        declared = 0;
        for (size_t i = 0; i < digits; ++i)
            declared = declared << 8 | der[2 + i];
        offset = 2 + digits;
    }
    length = std::min(declared, der.size() - offset);
}

QString sha1Hex(AttributeBytes const &value)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(value.data(), value.size(), digest, &size, EVP_sha1(), nullptr) != 1)
        return QString();
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<char const *>(digest), static_cast<qsizetype>(size))
            .toHex()
            .toUpper());
}

uint64_t nativeValue(AttributeBytes const &value, size_t index)
{
    uint64_t v = 0;
    if ((index + 1) * sizeof(v) <= value.size())
        std::memcpy(&v, value.data() + index * sizeof(v), sizeof(v));
    return v;
}

} // namespace

bool FillKeyRecord(key_info &key, std::vector<AttributeBytes> const &values)
{
    if (values.size() != 6 || !fillText(key.containerName, sizeof(key.containerName), values[0]))
        return false;
    for (size_t i = 0; i < 3; ++i)
        key.flags[i] = !values[1 + i].empty() && values[1 + i][0] != 0 ? 1 : 0;
    AttributeBytes const &modulus = values[4];
    if (!fillBytes(key.modulus, key.modulusLen, modulus.data(), modulus.size()))
        return false;
    key.modulusBits = uint64_t{key.modulusLen} * 8;
    AttributeBytes const &exponent = values[5];
    size_t zeros = 0;
    while (zeros < exponent.size() && exponent[zeros] == 0)
        ++zeros;
    return fillBytes(key.exponent, key.exponentLen, exponent.data() + zeros,
                     exponent.size() - zeros);
}

bool FillCertRecord(cert_info &cert, std::vector<AttributeBytes> const &values)
{
    if (values.size() != 5 || !fillText(cert.containerName, sizeof(cert.containerName), values[0]))
        return false;
    size_t offset = 0;
    size_t length = 0;
    integerContent(values[1], offset, length);
    if (!fillBytes(cert.serial, cert.serialLen, values[1].data() + offset, length))
        return false;
    if (length < sizeof(cert.serial))
        cert.serial[length] = 0;
    cert.notBefore = dateOf(values[2]);
    cert.notAfter = dateOf(values[3]);
    cert.value = values[4];
    cert.valueLen = static_cast<uint32_t>(cert.value.size());
    cert.sha1 = sha1Hex(values[4]);
    return true;
}

void FillPinInfo(uint64_t (&pin)[3], AttributeBytes const &value)
{
    for (size_t i = 0; i < 3; ++i)
        pin[i] = nativeValue(value, i);
}

void FillContainersUsage(card_info &card, AttributeBytes const &value)
{
    card.containersUsed = 0;
    card.containersFree = 0;
    std::fill(std::begin(card.rsa2048), std::end(card.rsa2048), 0);
    for (size_t entry = 0; (entry + 1) * 3 * sizeof(uint64_t) <= value.size(); ++entry) {
        uint64_t const bits = nativeValue(value, entry * 3);
        card.containersUsed += nativeValue(value, entry * 3 + 1);
        card.containersFree += nativeValue(value, entry * 3 + 2);
        if (bits == 2048)
            for (size_t i = 0; i < 3; ++i)
                card.rsa2048[i] = nativeValue(value, entry * 3 + i);
    }
}
