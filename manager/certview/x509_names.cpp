// Distinguished names, their entries and general names as plain or rich text.
#include "certview/x509_property.h"

#include <openssl/objects.h>

#include "certview/asn1_text.h"
#include "certview/html_parts.h"

namespace Orvane::Certificate
{

namespace
{

struct EntryLabel {
    int nid;
    const char *label;
};

// The attribute types the viewer names, in the order a name shows them.
const EntryLabel entryLabels[] = {
    {NID_commonName, QT_TRANSLATE_NOOP("X509Viewer", "Common name")},
    {NID_organizationName, QT_TRANSLATE_NOOP("X509Viewer", "Organization")},
    {NID_organizationalUnitName, QT_TRANSLATE_NOOP("X509Viewer", "Organization unit")},
    {NID_surname, QT_TRANSLATE_NOOP("X509Viewer", "Surname")},
    {NID_givenName, QT_TRANSLATE_NOOP("X509Viewer", "Given name")},
    {NID_title, QT_TRANSLATE_NOOP("X509Viewer", "Title")},
    {NID_initials, QT_TRANSLATE_NOOP("X509Viewer", "Initials")},
    {NID_pseudonym, QT_TRANSLATE_NOOP("X509Viewer", "Pseudonym")},
    {NID_generationQualifier, QT_TRANSLATE_NOOP("X509Viewer", "Generation qualifier")},
    {NID_pkcs9_emailAddress, QT_TRANSLATE_NOOP("X509Viewer", "Email address")},
    {NID_localityName, QT_TRANSLATE_NOOP("X509Viewer", "Locality")},
    {NID_stateOrProvinceName, QT_TRANSLATE_NOOP("X509Viewer", "State or province")},
    {NID_countryName, QT_TRANSLATE_NOOP("X509Viewer", "Country")},
    {NID_dnQualifier, QT_TRANSLATE_NOOP("X509Viewer", "Distinguished name qualifier")},
    {NID_domainComponent, QT_TRANSLATE_NOOP("X509Viewer", "Domain component")},
};

QString ipAddressText(const ASN1_OCTET_STRING *address)
{
    const unsigned char *b = ASN1_STRING_get0_data(address);
    if (ASN1_STRING_length(address) == 4)
        return QString::asprintf("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    QString text;
    for (int i = 0; i < 16; i += 2) {
        if (i > 0)
            text += QLatin1Char(':');
        text += QString::asprintf("%X", (b[i] << 8) | b[i + 1]);
    }
    return text;
}

// A user principal name's value; other values of an other-name are no text.
QString otherNameText(const OTHERNAME *other)
{
    const ASN1_TYPE *value = other->value;
    if (!value || value->type == V_ASN1_BOOLEAN || value->type == V_ASN1_NULL ||
        value->type == V_ASN1_OBJECT)
        return {};
    return asn1::utf8Text(value->value.asn1_string);
}

} // namespace

bool X509Property::parseX509NameEntry(const X509_NAME_ENTRY *entry, QString *label, QString *value)
{
    if (!entry || !label || !value)
        return false;
    const ASN1_OBJECT *object = X509_NAME_ENTRY_get_object(entry);
    const ASN1_STRING *data = X509_NAME_ENTRY_get_data(entry);
    if (!object || !data)
        return false;
    bool converted = false;
    *value = asn1::utf8Text(data, &converted);
    int nid = OBJ_obj2nid(object);
    for (const EntryLabel &row : entryLabels) {
        if (row.nid == nid && converted) {
            *label = tr(row.label);
            return true;
        }
    }
    *label = QString();
    *value = QString();
    return false;
}

bool X509Property::parseX509Name(const X509_NAME *name, QString *out, eTextReturnType form)
{
    if (!name || !out || X509_NAME_entry_count(name) < 1)
        return false;
    QStringList values;
    QString rich;
    for (const EntryLabel &row : entryLabels) {
        bool labelled = false;
        for (int i = X509_NAME_get_index_by_NID(name, row.nid, -1); i >= 0;
             i = X509_NAME_get_index_by_NID(name, row.nid, i)) {
            QString label, value;
            if (!parseX509NameEntry(X509_NAME_get_entry(name, i), &label, &value))
                continue;
            if (!labelled)
                rich += html::boldRow(label);
            labelled = true;
            rich += html::indentRow(10, html::escaped(value));
            values << value;
        }
    }
    switch (form) {
    case TextPlain:
        *out = values.join(QStringLiteral(", "));
        return true;
    case TextRich:
        *out = rich;
        return true;
    case TextShort:
        for (const QString &value : values) {
            if (!value.isEmpty()) {
                *out = value;
                return true;
            }
        }
        return false;
    default:
        *out = QString();
        return true;
    }
}

bool X509Property::parseGeneralName(const GENERAL_NAME *generalName, QString *label, QString *value,
                                    eTextReturnType form)
{
    if (!generalName || !label || !value || !generalName->d.ptr)
        return false;
    const bool rich = form == TextRich;
    switch (generalName->type) {
    case GEN_EMAIL:
    case GEN_DNS:
    case GEN_URI:
    case GEN_RID: {
        const char *kind = generalName->type == GEN_EMAIL ? QT_TRANSLATE_NOOP("X509Viewer", "Email")
                           : generalName->type == GEN_DNS ? QT_TRANSLATE_NOOP("X509Viewer", "DNS")
                           : generalName->type == GEN_URI
                               ? QT_TRANSLATE_NOOP("X509Viewer", "URI")
                               : QT_TRANSLATE_NOOP("X509Viewer", "Registered ID");
        QString text;
        if (generalName->type == GEN_RID) {
            char buffer[256] = {};
            i2t_ASN1_OBJECT(buffer, sizeof(buffer), generalName->d.registeredID);
            text = QString::fromUtf8(buffer);
        } else {
            text = asn1::utf8Text(generalName->d.ia5);
        }
        *label = rich ? html::boldSpan(tr(kind)) : tr(kind);
        *value = rich ? html::span(html::escaped(text)) : text;
        return true;
    }
    case GEN_DIRNAME:
        if (form != TextPlain && !rich)
            return false;
        if (rich)
            *label = html::boldRow(tr("Directory name"));
        else
            *label = tr("Directory name");
        return parseX509Name(generalName->d.directoryName, value, form);
    case GEN_EDIPARTY: {
        if (!rich) {
            *label = QString();
            *value = QString();
            return false;
        }
        const EDIPARTYNAME *edi = generalName->d.ediPartyName;
        *label = html::boldRow(tr("EDI party name"));
        *value = html::indentRow(10, tr("Name assigner")) +
                 html::indentRow(20, html::escaped(asn1::utf8Text(edi->nameAssigner))) +
                 html::indentRow(10, tr("Party name")) +
                 html::indentRow(20, html::escaped(asn1::utf8Text(edi->partyName)));
        return true;
    }
    case GEN_IPADD: {
        int length = ASN1_STRING_length(generalName->d.iPAddress);
        if (length != 4 && length != 16)
            return false;
        *label = length == 4 ? tr("IP address (IPv4)") : tr("IP address (IPv6)");
        *value += ipAddressText(generalName->d.iPAddress);
        return true;
    }
    case GEN_OTHERNAME: {
        const OTHERNAME *other = generalName->d.otherName;
        if (other->type_id && OBJ_obj2nid(other->type_id) == NID_ms_upn) {
            QString text = otherNameText(other);
            *label = tr("Principal name");
            *value = rich ? html::escaped(text) : text;
        } else {
            *label = tr("Other name");
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace Orvane::Certificate
