// Texts of the key-usage, name, key-identifier, authority-access, constraint and
// Netscape extensions, and of unsupported extensions.
#include "certview/x509_v3ext.h"

#include <openssl/objects.h>

#include "certview/asn1_text.h"
#include "certview/ext_text_parts.h"
#include "certview/html_parts.h"

namespace Orvane::Certificate
{

using namespace exttext;

namespace
{

const NamedBit keyUsageBits[] = {
    {"digitalSignature",
     QT_TRANSLATE_NOOP("X509Viewer", "Public key is used with a digital signature mechanism to "
                                     "support security.")},
    {"contentCommitment", QT_TRANSLATE_NOOP("X509Viewer", "Verifying digital signatures")},
    {"keyEncipherment", QT_TRANSLATE_NOOP("X509Viewer", "Enciphering of key")},
    {"dataEncipherment", QT_TRANSLATE_NOOP("X509Viewer", "Enciphering of user data")},
    {"keyAgreement", QT_TRANSLATE_NOOP("X509Viewer", "Agreement of public key")},
    {"keyCertSign",
     QT_TRANSLATE_NOOP("X509Viewer", "Verifying a signature on public key certificates")},
    {"cRLSign",
     QT_TRANSLATE_NOOP("X509Viewer", "Verifying a signature on Certificate Revocation List (CRL)")},
    {"encipherOnly", QT_TRANSLATE_NOOP("X509Viewer", "Public key may be used only for enciphering "
                                                     "data while performing key agreement.")},
    {"decipherOnly", QT_TRANSLATE_NOOP("X509Viewer", "Public key may be used only for deciphering "
                                                     "data while performing key agreement.")},
};

const NamedBit netscapeTypeBits[] = {
    {QT_TRANSLATE_NOOP("X509Viewer", "SSL Client"),
     QT_TRANSLATE_NOOP("X509Viewer", "The certificate can be used by clients for authentication "
                                     "during SSL connections.")},
    {QT_TRANSLATE_NOOP("X509Viewer", "SSL Server"),
     QT_TRANSLATE_NOOP("X509Viewer", "The certificate can be used by servers for authentication "
                                     "during SSL connections.")},
    {QT_TRANSLATE_NOOP("X509Viewer", "S/MIME"),
     QT_TRANSLATE_NOOP("X509Viewer", "The certificate can be used to send secure email messages.")},
    {QT_TRANSLATE_NOOP("X509Viewer", "Object-signing"),
     QT_TRANSLATE_NOOP("X509Viewer", "The certificate can be used for signing objects such as "
                                     "Java applets and plugins.")},
    {QT_TRANSLATE_NOOP("X509Viewer", "!Asserted bit 4!"),
     QT_TRANSLATE_NOOP("X509Viewer", "This bit is reserved for future use.")},
    {QT_TRANSLATE_NOOP("X509Viewer", "SSL CA"),
     QT_TRANSLATE_NOOP("X509Viewer", "The certificate can be used by a CA to issue certificates "
                                     "for SSL connections.")},
    {QT_TRANSLATE_NOOP("X509Viewer", "S/MIME CA"),
     QT_TRANSLATE_NOOP("X509Viewer", "The certificate can be used by a CA to issue certificates "
                                     "for secure email.")},
    {QT_TRANSLATE_NOOP("X509Viewer", "Object-signing CA"),
     QT_TRANSLATE_NOOP("X509Viewer", "The certificate can be used by a CA to issue certificates "
                                     "for object signing.")},
};

// A text of the tables above in the installed language.
QString translated(const char *source)
{
    return QCoreApplication::translate("X509Viewer", source);
}

// Plain: the names of the set bits; any other form: the rich page.
QString bitTexts(X509_EXTENSION *ext, const ASN1_BIT_STRING *bits, const NamedBit *table, int count,
                 bool translatedNames, const QString &title, eTextReturnType form)
{
    QStringList names;
    QString body;
    for (int bit : setBits(bits, count)) {
        QString name =
            translatedNames ? translated(table[bit].name) : QString::fromLatin1(table[bit].name);
        names << name;
        body += html::boldRow(name) + html::indentRow(10, translated(table[bit].description));
    }
    return form == TextPlain ? names.join(QStringLiteral(", ")) : frame(title, ext, body);
}

// Plain: the values of the names shown; rich: a label and a value row for each,
// with the names asked in nameForm.
QString nameTexts(X509_EXTENSION *ext, const GENERAL_NAMES *names, const QString &title,
                  eTextReturnType form, eTextReturnType nameForm)
{
    QStringList values;
    QString body;
    for (int i = 0; i < sk_GENERAL_NAME_num(names); i++) {
        QString label, value;
        if (form == TextPlain) {
            if (X509Property::parseGeneralName(sk_GENERAL_NAME_value(names, i), &label, &value,
                                               TextPlain))
                values << value;
        } else if (generalNameForRows(sk_GENERAL_NAME_value(names, i), nameForm, &label, &value)) {
            body += html::boldRow(label) + html::indentRow(10, value);
        }
    }
    return form == TextPlain ? values.join(QStringLiteral(", ")) : frame(title, ext, body);
}

QString hexOf(const ASN1_STRING *string)
{
    return html::spacedHex(ASN1_STRING_get0_data(string), ASN1_STRING_length(string));
}

QString authorityMethod(const ASN1_OBJECT *method)
{
    switch (OBJ_obj2nid(method)) {
    case NID_ad_ca_issuers:
        return QCoreApplication::translate("X509Viewer", "Certificate authority issuers");
    case NID_ad_OCSP:
        return QCoreApplication::translate("X509Viewer",
                                           "Online Certificate Status Protocol (OCSP)");
    default:
        return QString();
    }
}

} // namespace

int X509v3Ext::getExKeyUsage(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<ASN1_BIT_STRING, ASN1_BIT_STRING_free> bits(out ? ext : nullptr);
    if (!bits)
        return 0;
    *out = bitTexts(ext, bits.get(), keyUsageBits, 9, false, tr("Public key usage"), form);
    return 1;
}

int X509v3Ext::getExNSCertType(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<ASN1_BIT_STRING, ASN1_BIT_STRING_free> bits(out ? ext : nullptr);
    if (!bits)
        return 0;
    *out =
        bitTexts(ext, bits.get(), netscapeTypeBits, 8, true, tr("Netscape certificate type"), form);
    return 1;
}

int X509v3Ext::getExSubjectAltNames(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<GENERAL_NAMES, GENERAL_NAMES_free> names(out ? ext : nullptr);
    if (!names)
        return 0;
    if (form == TextPlain || form == TextRich)
        *out = nameTexts(ext, names.get(), tr("Subject alternative names"), form, TextRich);
    else
        *out = QString();
    return 1;
}

int X509v3Ext::getExIssuerAltNames(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<GENERAL_NAMES, GENERAL_NAMES_free> names(out ? ext : nullptr);
    if (!names)
        return 0;
    *out = nameTexts(ext, names.get(), tr("Issuer alternative names"), form, form);
    return 1;
}

int X509v3Ext::getExKeySubjectID(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free> id(out ? ext : nullptr);
    if (!id)
        return 0;
    if (form == TextPlain)
        *out = tr("ID") + QStringLiteral(": ") + hexOf(id.get());
    else if (form == TextRich)
        *out = frame(tr("Subject key identifier"), ext,
                     html::boldRow(tr("Key identifier")) + html::indentRow(10, hexOf(id.get())));
    else
        *out = QString();
    return 1;
}

int X509v3Ext::getExKeyAuthID(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<AUTHORITY_KEYID, AUTHORITY_KEYID_free> id(out ? ext : nullptr);
    if (!id)
        return 0;
    if (form == TextPlain) {
        *out = id->keyid ? tr("ID") + QStringLiteral(": ") + hexOf(id->keyid) : QString();
        return 1;
    }
    if (form != TextRich) {
        *out = QString();
        return 1;
    }
    QString body;
    if (id->keyid)
        body += html::boldRow(tr("Key identifier")) + html::indentRow(10, hexOf(id->keyid));
    if (id->issuer) {
        body += html::boldRow(tr("Certificate issuer"));
        for (int i = 0; i < sk_GENERAL_NAME_num(id->issuer); i++) {
            QString label, value;
            if (generalNameForRows(sk_GENERAL_NAME_value(id->issuer, i), TextPlain, &label, &value))
                body += html::boldIndentRow(10, label) + html::indentRow(20, value);
        }
    }
    if (id->serial)
        body +=
            html::boldRow(tr("Certificate serial number")) + html::indentRow(10, hexOf(id->serial));
    *out = frame(tr("Authority key identifier"), ext, body);
    return 1;
}

int X509v3Ext::getExAuthorityInfoAccess(X509_EXTENSION *ext, QString *out,
                                        eTextReturnType form) const
{
    Decoded<AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_free> access(out ? ext : nullptr);
    if (!access)
        return 0;
    *out = detailsOrPage(form, [&] {
        return frame(tr("Authority information access"), ext,
                     accessDescriptionRows(access.get(), authorityMethod));
    });
    return 1;
}

int X509v3Ext::getExInhibitAnyPolicy(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<ASN1_INTEGER, ASN1_INTEGER_free> count(out ? ext : nullptr);
    if (!count)
        return 0;
    *out = detailsOrPage(form, [&] {
        return frame(tr("Inhibit any policy"), ext,
                     html::boldRow(tr("Number of additional non-self-issued certificates")) +
                         html::indentRow(10, asn1::integerText(count.get())));
    });
    return 1;
}

int X509v3Ext::getExPolicyConstraints(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<POLICY_CONSTRAINTS, POLICY_CONSTRAINTS_free> constraints(out ? ext : nullptr);
    if (!constraints)
        return 0;
    *out = detailsOrPage(form, [&] {
        const struct {
            const ASN1_INTEGER *value;
            QString label;
            QString sentence;
        } fields[] = {
            {constraints->inhibitPolicyMapping, tr("inhibitPolicyMapping"),
             tr("%1 additional certificate(s) that may appear in the path before policy mapping "
                "is no longer permitted.")},
            {constraints->requireExplicitPolicy, tr("requireExplicitPolicy"),
             tr("%1 additional certificate(s) that may appear in the path before an explicit "
                "policy is required for the entire path.")},
        };
        QString body;
        for (const auto &field : fields)
            if (field.value)
                body += html::boldRow(field.label) +
                        html::indentRow(10, field.sentence.arg(asn1::integerText(field.value)));
        return frame(tr("Policy Constraints"), ext, body);
    });
    return 1;
}

int X509v3Ext::getExBasicConstraints(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<BASIC_CONSTRAINTS, BASIC_CONSTRAINTS_free> constraints(out ? ext : nullptr);
    if (!constraints)
        return 0;
    const bool ca = constraints->ca != 0;
    const QString type = ca ? tr("CA or Self-issued certificate") : tr("End entity certificate");
    if (form != TextRich) {
        *out = type;
        return 1;
    }
    QString body = html::boldRow(tr("Certificate Type")) + html::indentRow(10, type) +
                   html::boldRow(tr("Subject type")) +
                   html::indentRow(10, ca ? tr("Subject is a Certificate Authority (CA).")
                                          : tr("Subject is not a Certificate Authority (CA)."));
    if (ca)
        body += html::boldRow(tr("Path length constraint")) +
                html::indentRow(10, constraints->pathlen ? asn1::integerText(constraints->pathlen)
                                                         : tr("&lt;unlimited&gt;"));
    *out = frame(tr("Basic constraints"), ext, body);
    return 1;
}

int X509v3Ext::getExNSComment(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<ASN1_IA5STRING, ASN1_IA5STRING_free> comment(out ? ext : nullptr);
    if (!comment)
        return 0;
    const QString text = asn1::utf8Text(comment.get());
    if (form == TextPlain)
        *out = text;
    else if (form == TextRich)
        *out = frame(tr("Netscape comment"), ext, html::span(html::escaped(text)));
    else
        *out = QString();
    return 1;
}

int X509v3Ext::getExPolicyMappings(X509_EXTENSION *, QString *, eTextReturnType) const
{
    return 0;
}

int X509v3Ext::getExUnsupported(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    const ASN1_OCTET_STRING *value = ext ? X509_EXTENSION_get_data(ext) : nullptr;
    if (!value || !out)
        return 0;
    const ASN1_OBJECT *object = X509_EXTENSION_get_object(ext);
    const QString oidText = asn1::oidText(object);
    const QString nameText = asn1::longName(object);
    switch (form) {
    case TextRich: {
        const unsigned char *bytes = ASN1_STRING_get0_data(value);
        const int length = ASN1_STRING_length(value);
        QString body;
        if (!oidText.isEmpty())
            body += html::boldRow(tr("Extension identifier")) + html::indentRow(10, oidText);
        if (!nameText.isEmpty())
            body +=
                html::boldRow(tr("Extension name")) + html::indentRow(10, html::escaped(nameText));
        body += html::boldRow(tr("Binary data")) +
                html::indentRow(10, html::escaped(QString::fromLatin1(
                                        reinterpret_cast<const char *>(bytes), length)));
        body += html::boldRow(tr("Hexadecimal data")) +
                html::indentRow(10, html::spacedHex(bytes, length));
        *out = frame(tr("Unsupported extension"), ext, body);
        return 1;
    }
    case TextPlain:
        *out = nameText.isEmpty() ? details() : nameText;
        return 1;
    case TextOID:
        if (oidText.isEmpty())
            return 0;
        *out = oidText;
        return 1;
    default:
        *out = QString();
        return 1;
    }
}

} // namespace Orvane::Certificate
