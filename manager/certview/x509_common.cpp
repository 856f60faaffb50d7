// The base fields of a certificate and their plain and rich texts.
#include "certview/x509_common.h"

#include <openssl/evp.h>
#include <openssl/objects.h>

#include "certview/asn1_text.h"
#include "certview/html_parts.h"

namespace Orvane::Certificate
{

namespace
{

struct FieldRow {
    int (X509Common::*builder)(X509 *, QString *, eTextReturnType) const;
    const char *name;
    const char *tooltip;
    const char *icon; // null: no icon
};

const FieldRow fieldRows[] = {
    {&X509Common::getSummary, QT_TRANSLATE_NOOP("X509Viewer", "Summary"),
     QT_TRANSLATE_NOOP("X509Viewer", "General information"), ":/image/cert_small"},
    {&X509Common::getSubject, QT_TRANSLATE_NOOP("X509Viewer", "Subject"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Subject identifies the entity associated with the public key stored in "
                       "the subject public key field."),
     ":/image/person"},
    {&X509Common::getIssuer, QT_TRANSLATE_NOOP("X509Viewer", "Issuer"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Issuer identifies the entity who has signed and issued the certificate."),
     ":/image/person"},
    {&X509Common::getValidity, QT_TRANSLATE_NOOP("X509Viewer", "Validity"),
     QT_TRANSLATE_NOOP("X509Viewer", "Validity of this certificate"), ":/image/ok"},
    {&X509Common::getFingerPrints, QT_TRANSLATE_NOOP("X509Viewer", "Fingerprints"),
     QT_TRANSLATE_NOOP("X509Viewer", "Fingerprints of the public key"), ":/image/key"},
    {&X509Common::getSignature, QT_TRANSLATE_NOOP("X509Viewer", "Digital Signature"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Digital signature and algorithm identifier for the algorithm used by the "
                       "CA to sign the certificate."),
     nullptr},
    {&X509Common::getPublicKeyInfo, QT_TRANSLATE_NOOP("X509Viewer", "Public Key Information"),
     QT_TRANSLATE_NOOP("X509Viewer", "Public key and algorithm with which the key is used."),
     nullptr},
    {&X509Common::getVersion, QT_TRANSLATE_NOOP("X509Viewer", "Version"),
     QT_TRANSLATE_NOOP("X509Viewer", "Version of the encoded certificate"), nullptr},
    {&X509Common::getSerialNumber, QT_TRANSLATE_NOOP("X509Viewer", "Serial Number"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Serial number is a positive integer assigned by the CA to each "
                       "certificate."),
     nullptr},
};

// OpenSSL's purpose ids 1 to 8, in order.
const char *const purposeNames[] = {
    QT_TRANSLATE_NOOP("X509Viewer", "SSL Client"),
    QT_TRANSLATE_NOOP("X509Viewer", "SSL Server"),
    QT_TRANSLATE_NOOP("X509Viewer", "Netscape SSL Server"),
    QT_TRANSLATE_NOOP("X509Viewer", "Sign email via S/MIME"),
    QT_TRANSLATE_NOOP("X509Viewer", "Encrypt email via S/MIME"),
    QT_TRANSLATE_NOOP("X509Viewer", "Sign a Certificate Revocation List (CRL)"),
    QT_TRANSLATE_NOOP("X509Viewer", "Any/All purposes"),
    QT_TRANSLATE_NOOP("X509Viewer", "OCSP Helper"),
};

// A label row and its value row, the unit of every base-field body.
QString labelled(const QString &label, const QString &value)
{
    return html::boldRow(label) + html::indentRow(10, value);
}

// The name of an algorithm: OpenSSL's long name, else the dotted OID, else empty.
QString algorithmName(const ASN1_OBJECT *object)
{
    QString name = asn1::longName(object);
    return name.isEmpty() ? asn1::oidText(object) : name;
}

} // namespace

X509Common::X509Common(const X509 *cert, eCertCommon type) : certificate(const_cast<X509 *>(cert))
{
    initState(type);
}

X509Common::X509Common(X509Common &other)
    : X509Property(other), certificate(other.certificate), type(other.type), icon(other.icon),
      builder(other.builder)
{
}

X509Common::~X509Common() = default;

bool X509Common::IsAvailable() const
{
    return certificate && type != Invalid;
}

const char *X509Common::ToString()
{
    return nameAsLocal8Bit();
}

X509Common::eCertCommon X509Common::GetType() const
{
    return type;
}

QIcon X509Common::GetIcon() const
{
    return icon.isEmpty() ? QIcon() : QIcon(icon);
}

QString X509Common::GetText(eTextReturnType form) const
{
    if (!certificate || !builder)
        return QString();
    QString text;
    return (this->*builder)(certificate, &text, form) == 1 ? text : QString();
}

void X509Common::initState(eCertCommon newType)
{
    version = 0;
    if (static_cast<unsigned int>(newType) > SerialNumber) {
        type = Invalid;
        builder = nullptr;
        name.clear();
        tooltip.clear();
        icon.clear();
        return;
    }
    const FieldRow &row = fieldRows[newType];
    type = newType;
    builder = row.builder;
    name = tr(row.name);
    tooltip = tr(row.tooltip);
    icon = QString::fromLatin1(row.icon);
}

int X509Common::getVersion(X509 *cert, QString *out, eTextReturnType form) const
{
    if (!cert || !out)
        return 0;
    long value = X509_get_version(cert);
    if (value < 0 || value > 2) {
        *out = tr("unknown");
        return 1;
    }
    QString text = QString::asprintf("V%d (0x0%x)", static_cast<int>(value) + 1,
                                     static_cast<unsigned int>(value));
    *out = form == TextRich ? html::infoPage(tr("Version"), html::span(text)) : text;
    return 1;
}

int X509Common::getPublicKeyInfo(X509 *cert, QString *out, eTextReturnType form) const
{
    if (!cert || !out)
        return 0;
    X509_PUBKEY *publicKey = X509_get_X509_PUBKEY(cert);
    ASN1_OBJECT *algorithm = nullptr;
    const unsigned char *keyBytes = nullptr;
    int keyLength = 0;
    if (!publicKey ||
        X509_PUBKEY_get0_param(&algorithm, &keyBytes, &keyLength, nullptr, publicKey) != 1 ||
        !keyBytes)
        return 0;
    // The size comes from the decoded key; a key that does not decode shows its
    // algorithm alone.
    QString description = algorithmName(algorithm);
    EVP_PKEY *key = X509_get0_pubkey(cert);
    if (description.isEmpty())
        description = tr("unknown");
    else if (key)
        description = tr("%1 (%2-bit)").arg(description, QString::number(EVP_PKEY_get_bits(key)));
    if (form == TextRich) {
        *out = html::infoPage(tr("Public key"),
                              labelled(tr("Encryption type"), html::escaped(description)) +
                                  labelled(tr("Value"), html::spacedHex(keyBytes, keyLength)));
    } else {
        *out = tr("Encryption") + QStringLiteral(": ") + description;
    }
    return 1;
}

int X509Common::getFingerPrints(X509 *cert, QString *out, eTextReturnType form) const
{
    if (!cert || !out)
        return 0;
    struct Digest {
        const char *label;
        const EVP_MD *md;
        eTextReturnType form;
    };
    const Digest digests[] = {
        {"MD5", EVP_md5(), TextMD5},
        {"SHA-1", EVP_sha1(), TextSHA1},
        {"SHA-256", EVP_sha256(), TextSHA256},
    };
    QString body;
    for (const Digest &digest : digests) {
        unsigned char value[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        QString text;
        if (digest.md && X509_digest(cert, digest.md, value, &length) == 1)
            text = html::colonHex(value, static_cast<int>(length));
        if (form == digest.form) {
            *out = text;
            return 1;
        }
        if (!text.isEmpty())
            body += labelled(QLatin1String(digest.label) + QStringLiteral(": "),
                             html::breakableColonHex(value, static_cast<int>(length)));
    }
    if (form == TextRich)
        *out = html::infoPage(tr("Fingerprints"), body);
    else if (form == TextPlain)
        *out = tr("<details>");
    else
        *out = QString();
    return 1;
}

int X509Common::getSignature(X509 *cert, QString *out, eTextReturnType form) const
{
    if (!cert || !out)
        return 0;
    const ASN1_BIT_STRING *signature = nullptr;
    const X509_ALGOR *algorithm = nullptr;
    X509_get0_signature(&signature, &algorithm, cert);
    const ASN1_OBJECT *object = nullptr;
    if (algorithm)
        X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    if (!signature || !object)
        return 0;
    QString name = algorithmName(object);
    if (name.isEmpty())
        name = tr("unknown");
    if (form == TextRich) {
        const unsigned char *bytes = ASN1_STRING_get0_data(signature);
        *out = html::infoPage(
            tr("Digital signature"),
            labelled(tr("Algorithm"), html::escaped(name)) +
                labelled(tr("Value"), html::spacedHex(bytes, ASN1_STRING_length(signature))));
    } else {
        *out = tr("Algorithm") + QStringLiteral(": ") + name;
    }
    return 1;
}

int X509Common::getSerialNumber(X509 *cert, QString *out, eTextReturnType form) const
{
    const ASN1_INTEGER *serial = cert ? X509_get0_serialNumber(cert) : nullptr;
    if (!serial || !out)
        return 0;
    const unsigned char *bytes = ASN1_STRING_get0_data(serial);
    int length = ASN1_STRING_length(serial);
    if (form == TextPlain) {
        *out = length > 0
                   ? QStringLiteral("0x(") + html::colonHex(bytes, length) + QStringLiteral(")")
                   : tr("unknown");
        return 1;
    }
    *out = html::infoPage(tr("Serial number"),
                          labelled(tr("Hexadecimal value"), html::spacedHex(bytes, length)) +
                              labelled(tr("Decimal value"), html::spacedDecimal(bytes, length)));
    return 1;
}

int X509Common::getValidity(X509 *cert, QString *out, eTextReturnType form) const
{
    if (!cert || !out || (form != TextPlain && form != TextRich))
        return 0;
    QString text = periodText(X509_get0_notBefore(cert), X509_get0_notAfter(cert), form);
    *out = form == TextRich ? html::infoPage(tr("Certificate validity"), text) : text;
    return 1;
}

int X509Common::getName(const X509_NAME *name, const QString &label, QString *out,
                        eTextReturnType form) const
{
    bool ok;
    if (form == TextRich) {
        QString body;
        ok = parseX509Name(name, &body, TextRich);
        *out = html::infoPage(label, body);
    } else if (form == TextRichLine) {
        QString plain;
        ok = parseX509Name(name, &plain, TextPlain);
        *out = html::boldSpan(label + QStringLiteral(": ")) + html::escaped(plain);
    } else {
        ok = parseX509Name(name, out, form);
    }
    return ok ? 1 : 0;
}

int X509Common::getSubject(X509 *cert, QString *out, eTextReturnType form) const
{
    if (!cert || !out)
        return 0;
    return getName(X509_get_subject_name(cert), tr("Subject"), out, form);
}

int X509Common::getIssuer(X509 *cert, QString *out, eTextReturnType form) const
{
    if (!cert || !out)
        return 0;
    return getName(X509_get_issuer_name(cert), tr("Issuer"), out, form);
}

int X509Common::getSummary(X509 *cert, QString *out, eTextReturnType form) const
{
    if (!cert || !out || form != TextRich)
        return 0;
    // Only a self-signed certificate verifies with its own key; for any other the
    // viewer says so, and lists the purposes in both cases. A purpose counts when
    // OpenSSL grants it (a positive answer; -1 is an error, such as extensions that
    // do not decode).
    EVP_PKEY *key = X509_get0_pubkey(cert);
    QString heading;
    if (!key || X509_verify(cert, key) != 1)
        heading = tr("Unable to verify this certificate.");
    heading += html::boldRow(tr("Certificate purpose") + QStringLiteral(": "));
    for (int id = 1; id <= 8; id++) {
        for (int ca = 0; ca <= 1; ca++) {
            if (X509_check_purpose(cert, id, ca) > 0)
                heading +=
                    html::indentRow(10, tr(purposeNames[id - 1]) + (ca ? tr("(CA)") : QString()));
        }
    }

    QString issuer, subject, from, to;
    if (getIssuer(cert, &issuer, TextShort) != 1)
        issuer = tr("N/A");
    else
        issuer = html::escaped(issuer);
    if (getSubject(cert, &subject, TextShort) != 1)
        subject = tr("N/A");
    else
        subject = html::escaped(subject);
    if (!parseASN1Time(X509_get0_notBefore(cert), &from, TextDate))
        from = tr("N/A");
    if (!parseASN1Time(X509_get0_notAfter(cert), &to, TextDate))
        to = tr("N/A");
    QString line =
        html::boldSpan(tr("Valid from") + QStringLiteral(" %1 ") + tr("to") + QStringLiteral(" %2"))
            .arg(html::span(html::escaped(from)), html::span(html::escaped(to)));
    QString body = labelled(tr("Issued by") + QStringLiteral(": "), issuer) +
                   labelled(tr("Issued for") + QStringLiteral(": "), subject) +
                   html::marginRow(3, 0, 0, 0, line);
    *out = html::infoPage(heading, body);
    return 1;
}

} // namespace Orvane::Certificate
