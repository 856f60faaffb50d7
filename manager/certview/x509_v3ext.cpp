// Extension items: the table of the twenty known extensions, recognition by OID
// and the call of the text builder.
#include "certview/x509_v3ext.h"

#include <openssl/objects.h>

#include "certview/asn1_text.h"

namespace Orvane::Certificate
{

struct X509v3Ext::Row {
    Builder builder;
    const char *oid;
    const char *name;
    const char *tooltip;
};

// Rows in eCertExt order; an extension takes the first row whose OID it has.
const X509v3Ext::Row X509v3Ext::rows[] = {
    {&X509v3Ext::getExBasicConstraints, "2.5.29.19",
     QT_TRANSLATE_NOOP("X509Viewer", "Basic Constraints"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension identifies whether the subject of the certificate is a CA and "
                       "the maximum depth of valid certification paths that include this "
                       "certificate.")},
    {&X509v3Ext::getExNameConstraints, "2.5.29.30",
     QT_TRANSLATE_NOOP("X509Viewer", "Name Constraints"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Constraints extension indicates a name space within which all subject "
                       "names in subsequent certificates in a certification path are located.")},
    {&X509v3Ext::getExPolicyConstraints, "2.5.29.36",
     QT_TRANSLATE_NOOP("X509Viewer", "Policy Constraints"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension constrains path validation in two ways. It can be used to "
                       "prohibit policy mapping or require that each certificate in a path "
                       "contain an acceptable policy identifier.")},
    {&X509v3Ext::getExKeyUsage, "2.5.29.15", QT_TRANSLATE_NOOP("X509Viewer", "Public Key Usage"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension defines the purpose of the key contained in the certificate.")},
    {&X509v3Ext::getExExtendedKeyUsage, "2.5.29.37",
     QT_TRANSLATE_NOOP("X509Viewer", "Extended Key Usage"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension indicates one or more purposes for which the certified public "
                       "key may be used, in addition to or in place of the basic purposes "
                       "indicated in the key usage extension.")},
    {&X509v3Ext::getExKeyAuthID, "2.5.29.35",
     QT_TRANSLATE_NOOP("X509Viewer", "Authority Key Identifier"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension provides a means of identifying the public key corresponding "
                       "to the private key used to sign a certificate.")},
    {&X509v3Ext::getExKeySubjectID, "2.5.29.14",
     QT_TRANSLATE_NOOP("X509Viewer", "Subject Key Identifier"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension provides a means of identifying certificates that contain a "
                       "particular public key.")},
    {&X509v3Ext::getExCertPolicies, "2.5.29.32",
     QT_TRANSLATE_NOOP("X509Viewer", "Certificate Policies"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension contains a sequence of one or more policy information terms.")},
    {&X509v3Ext::getExSubjectAltNames, "2.5.29.17",
     QT_TRANSLATE_NOOP("X509Viewer", "Subject Alternative Names"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "This extension allows additional identities to be bound to the subject "
                       "of the certificate.")},
    {&X509v3Ext::getExIssuerAltNames, "2.5.29.18",
     QT_TRANSLATE_NOOP("X509Viewer", "Issuer Alternative Names"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "This extension allows additional identities to be bound to the issuer "
                       "of the certificate.")},
    {&X509v3Ext::getExInhibitAnyPolicy, "2.5.29.54",
     QT_TRANSLATE_NOOP("X509Viewer", "Inhibit Any-Policy"),
     QT_TRANSLATE_NOOP("X509Viewer", "The inhibit any-policy indicates that the special anyPolicy "
                                     "(2.5.29.32.0).")},
    {&X509v3Ext::getExCRLDistribPoints, "2.5.29.31",
     QT_TRANSLATE_NOOP("X509Viewer", "CRL Distribution Points"),
     QT_TRANSLATE_NOOP("X509Viewer", "Extension identifies how CRL information is obtained.")},
    {&X509v3Ext::getExAuthorityInfoAccess, "1.3.6.1.5.5.7.1.1",
     QT_TRANSLATE_NOOP("X509Viewer", "Authority Information Access"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension indicates how to access CA information and services for the "
                       "issuer of the certificate in which the extension appears.")},
    {&X509v3Ext::getExSubjectInfoAccess, "1.3.6.1.5.5.7.1.11",
     QT_TRANSLATE_NOOP("X509Viewer", "Subject Information Access"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension indicates how to access information and services for the "
                       "subject of the certificate in which the extension appears.")},
    {&X509v3Ext::getExPrivateKeyPeriod, "2.5.29.16",
     QT_TRANSLATE_NOOP("X509Viewer", "Private Key Usage Period"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension allows the certificate issuer to specify a different validity "
                       "period for the private key than the certificate.")},
    {&X509v3Ext::getExPolicyMappings, "2.5.29.33",
     QT_TRANSLATE_NOOP("X509Viewer", "Policy Mappings"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "This extension indicates the issuing CA considers its "
                       "issuerDomainPolicy equivalent to the subject CA's subjectDomainPolicy.")},
    {&X509v3Ext::getExSubjectDirectory, "2.5.29.9",
     QT_TRANSLATE_NOOP("X509Viewer", "Subject Directory Attributes"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Subject directory attributes extension is used to convey identification "
                       "attributes of the subject.")},
    {&X509v3Ext::getExFreshestCRL, "2.5.29.46", QT_TRANSLATE_NOOP("X509Viewer", "Freshest CRL"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension identifies how delta CRL information is obtained.")},
    {&X509v3Ext::getExNSCertType, "2.16.840.1.113730.1.1",
     QT_TRANSLATE_NOOP("X509Viewer", "Netscape Certificate Type"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension is used to identify whether the certificate subject is an SSL "
                       "client, an SSL server, or a CA.")},
    {&X509v3Ext::getExNSComment, "2.16.840.1.113730.1.13",
     QT_TRANSLATE_NOOP("X509Viewer", "Netscape Comment"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Extension is a comment that can be displayed to the user when the "
                       "certificate is viewed.")},
};

X509v3Ext::X509v3Ext(const X509_EXTENSION *ext)
{
    version = 2;
    SetData(ext);
}

X509v3Ext::X509v3Ext(const unsigned char *der, int length)
{
    version = 2;
    SetData(der, length);
}

X509v3Ext::X509v3Ext(const X509v3Ext &other)
    : X509Property(other), type(other.type), oid(other.oid), critical(other.critical),
      extension(other.extension ? X509_EXTENSION_dup(other.extension) : nullptr),
      builder(other.builder)
{
    version = 2;
}

X509v3Ext::~X509v3Ext()
{
    X509_EXTENSION_free(extension);
}

bool X509v3Ext::IsAvailable() const
{
    return extension != nullptr;
}

const char *X509v3Ext::ToString()
{
    return nameAsLocal8Bit();
}

void X509v3Ext::SetData(const X509_EXTENSION *ext)
{
    initState(ext);
}

void X509v3Ext::SetData(const unsigned char *der, int length)
{
    X509_EXTENSION *decoded = nullptr;
    if (der && length > 0)
        decoded = d2i_X509_EXTENSION(nullptr, &der, length);
    initState(decoded);
    X509_EXTENSION_free(decoded);
}

X509_EXTENSION *X509v3Ext::GetData() const
{
    return extension;
}

X509v3Ext::eCertExt X509v3Ext::GetType() const
{
    return type;
}

QString X509v3Ext::GetOID() const
{
    return oid;
}

bool X509v3Ext::IsCritical() const
{
    return critical;
}

bool X509v3Ext::IsSupported() const
{
    return static_cast<unsigned int>(type) <= NetscapeComment;
}

QString X509v3Ext::GetText(eTextReturnType form) const
{
    if (!extension || !builder)
        return QString();
    QString text;
    return (this->*builder)(extension, &text, form) == 1 ? text : QString();
}

void X509v3Ext::initState(const X509_EXTENSION *ext)
{
    X509_EXTENSION_free(extension);
    extension = ext ? X509_EXTENSION_dup(ext) : nullptr;
    if (!extension) {
        type = Invalid;
        return;
    }
    critical = X509_EXTENSION_get_critical(extension) != 0;
    const ASN1_OBJECT *object = X509_EXTENSION_get_object(extension);
    int index = 0;
    for (const Row &row : rows) {
        ASN1_OBJECT *known = OBJ_txt2obj(row.oid, 1);
        bool same = known && object && OBJ_cmp(known, object) == 0;
        ASN1_OBJECT_free(known);
        if (same) {
            type = static_cast<eCertExt>(index);
            builder = row.builder;
            oid = QString::fromLatin1(row.oid);
            name = tr(row.name);
            tooltip = tr(row.tooltip);
            return;
        }
        index++;
    }
    type = Unsupported;
    builder = &X509v3Ext::getExUnsupported;
    oid = asn1::oidText(object);
    name = asn1::longName(object);
    if (name.isEmpty())
        name = oid.isEmpty() ? tr("N/A") : oid;
    tooltip = tr("Unsupported extension");
}

} // namespace Orvane::Certificate
