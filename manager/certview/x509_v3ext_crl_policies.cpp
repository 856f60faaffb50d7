// Texts of the CRL distribution, extended key usage, directory attribute, name
// constraint, subject access, certificate policy and key usage period extensions.
#include "certview/x509_v3ext.h"

#include <openssl/objects.h>

#include <memory>

#include "certview/asn1_text.h"
#include "certview/der_helpers.h"
#include "certview/ext_text_parts.h"
#include "certview/html_parts.h"

namespace Orvane::Certificate
{

using namespace exttext;

namespace
{

const char *const reasonNames[] = {
    QT_TRANSLATE_NOOP("X509Viewer", "Unspecified"),
    QT_TRANSLATE_NOOP("X509Viewer", "Key compromise"),
    QT_TRANSLATE_NOOP("X509Viewer", "Certificate authority compromise"),
    QT_TRANSLATE_NOOP("X509Viewer", "Affiliation changed"),
    QT_TRANSLATE_NOOP("X509Viewer", "Superseded"),
    QT_TRANSLATE_NOOP("X509Viewer", "Cessation of operation"),
    QT_TRANSLATE_NOOP("X509Viewer", "Certificate hold"),
    QT_TRANSLATE_NOOP("X509Viewer", "Privilege withdrawn"),
    QT_TRANSLATE_NOOP("X509Viewer", "Attribute authority compromise"),
};

struct Purpose {
    int nid;
    const char *name;
    const char *description;
};

// Extended key purposes in the order they are compared.
const Purpose purposes[] = {
    {NID_server_auth, QT_TRANSLATE_NOOP("X509Viewer", "Server authentication"),
     QT_TRANSLATE_NOOP("X509Viewer", "TLS web server authentication")},
    {NID_client_auth, QT_TRANSLATE_NOOP("X509Viewer", "Client authentication"),
     QT_TRANSLATE_NOOP("X509Viewer", "TLS web client authentication")},
    {NID_email_protect, QT_TRANSLATE_NOOP("X509Viewer", "Email"),
     QT_TRANSLATE_NOOP("X509Viewer", "Email protection")},
    {NID_code_sign, QT_TRANSLATE_NOOP("X509Viewer", "Code signing"),
     QT_TRANSLATE_NOOP("X509Viewer", "Signing downloadable executable code")},
    {NID_ms_sgc, QT_TRANSLATE_NOOP("X509Viewer", "Microsoft SGC"),
     QT_TRANSLATE_NOOP("X509Viewer", "Microsoft Server Gated Cryptography (SGC)")},
    {NID_ns_sgc, QT_TRANSLATE_NOOP("X509Viewer", "Netscape SGC"),
     QT_TRANSLATE_NOOP("X509Viewer", "Netscape Server Gated Cryptography (SGC)")},
    {NID_OCSP_sign, QT_TRANSLATE_NOOP("X509Viewer", "Signing OCSP"),
     QT_TRANSLATE_NOOP("X509Viewer",
                       "Signing responses of the Online Certificate Status Protocol (OCSP)")},
    {NID_time_stamp, QT_TRANSLATE_NOOP("X509Viewer", "Timestamping"),
     QT_TRANSLATE_NOOP("X509Viewer", "Binding the hash of an object to a time")},
    {NID_dvcs, QT_TRANSLATE_NOOP("X509Viewer", "DVCS"),
     QT_TRANSLATE_NOOP("X509Viewer", "Data validation and certification server (DVCS)")},
    {NID_ipsecEndSystem, QT_TRANSLATE_NOOP("X509Viewer", "IPSec end system"),
     QT_TRANSLATE_NOOP("X509Viewer", "IP Security end system (IPSec)")},
    {NID_ipsecTunnel, QT_TRANSLATE_NOOP("X509Viewer", "IPSec tunnel"),
     QT_TRANSLATE_NOOP("X509Viewer", "IP Security tunnel termination (IPSec)")},
    {NID_ipsecUser, QT_TRANSLATE_NOOP("X509Viewer", "IPSec user"),
     QT_TRANSLATE_NOOP("X509Viewer", "IP Security user (IPSec)")},
};

QString translated(const char *source)
{
    return QCoreApplication::translate("X509Viewer", source);
}

QString numbered(const char *heading, int n)
{
    return html::boldRow(translated(heading) + QLatin1Char(' ') + QString::number(n));
}

// An object a DER helper made, freed with its own function.
template <typename T> std::unique_ptr<T, void (*)(T *)> owned(T *object, void (*free)(T *))
{
    return std::unique_ptr<T, void (*)(T *)>(object, free);
}

QString distributionPointRows(const DIST_POINT *point)
{
    QString body;
    const DIST_POINT_NAME *name = point->distpoint;
    if (name && name->type == 0) {
        for (int i = 0; i < sk_GENERAL_NAME_num(name->name.fullname); i++) {
            QString label, value;
            if (generalNameForRows(sk_GENERAL_NAME_value(name->name.fullname, i), TextPlain, &label,
                                   &value))
                body += html::boldIndentRow(10, label) + html::indentRow(20, value);
        }
    } else if (name && name->type == 1) {
        for (int i = 0; i < sk_X509_NAME_ENTRY_num(name->name.relativename); i++) {
            QString label, value;
            if (X509Property::parseX509NameEntry(
                    sk_X509_NAME_ENTRY_value(name->name.relativename, i), &label, &value))
                body += html::boldIndentRow(10, label) + html::indentRow(20, html::escaped(value));
        }
    }
    if (point->reasons) {
        QStringList reasons;
        for (int bit : setBits(point->reasons, 9))
            reasons << translated(reasonNames[bit]);
        if (!reasons.isEmpty())
            body += html::boldIndentRow(
                        10, translated(QT_TRANSLATE_NOOP("X509Viewer", "Reason of CRL"))) +
                    html::indentRow(20, reasons.join(QStringLiteral(", ")));
    }
    bool first = true;
    for (int i = 0; i < sk_GENERAL_NAME_num(point->CRLissuer); i++) {
        QString label, value;
        if (!X509Property::parseGeneralName(sk_GENERAL_NAME_value(point->CRLissuer, i), &label,
                                            &value, TextRich))
            continue;
        if (first)
            body +=
                html::boldIndentRow(10, translated(QT_TRANSLATE_NOOP("X509Viewer", "CRL Issuer")));
        first = false;
        body += html::indentBlock(20, label) + html::indentBlock(30, value);
    }
    return body;
}

QString subjectMethod(const ASN1_OBJECT *method)
{
    ASN1_OBJECT *repository = OBJ_txt2obj("1.3.6.1.5.5.7.48.5", 0);
    const bool isRepository = repository && OBJ_cmp(method, repository) == 0;
    ASN1_OBJECT_free(repository);
    if (isRepository)
        return QCoreApplication::translate("X509Viewer", "Certificate authority repository");
    if (OBJ_obj2nid(method) == NID_ad_timeStamping)
        return QCoreApplication::translate("X509Viewer", "Time Stamp Protocol (TSP)");
    return QString();
}

// The rows of one attribute of the directory attributes: its number, type and the
// character strings among its values.
QString attributeRows(const ASN1_OCTET_STRING *attribute, int number)
{
    const unsigned char *bytes = ASN1_STRING_get0_data(attribute);
    const int length = ASN1_STRING_length(attribute);
    auto type = owned(parseASN1_OID(bytes, length, -1), ASN1_OBJECT_free);
    DerElement typeElement;
    if (!type || !findDerElement(
                     bytes, length, -1, [](int tag) { return tag == V_ASN1_OBJECT; }, &typeElement))
        return QString();
    QString body = numbered(QT_TRANSLATE_NOOP("X509Viewer", "Attribute"), number);
    QString oid = asn1::oidText(type.get());
    if (!oid.isEmpty()) {
        QString name = asn1::longName(type.get());
        if (!name.isEmpty())
            oid += QStringLiteral(" (") + name + QLatin1Char(')');
        body += html::boldIndentRow(10, html::escaped(oid));
    }
    const int rest = length - static_cast<int>(typeElement.size());
    auto values =
        owned(parseASN1_Constructive(bytes + typeElement.size(), rest, -1), ASN1_OCTET_STRING_free);
    if (!values)
        return body;
    const unsigned char *valueBytes = ASN1_STRING_get0_data(values.get());
    const int valueLength = ASN1_STRING_length(values.get());
    for (int j = -1;; j++) {
        auto value = owned(parseASN1_AnyString(valueBytes, valueLength, j), ASN1_STRING_free);
        if (!value)
            break;
        bool converted = false;
        QString text = asn1::utf8Text(value.get(), &converted);
        if (converted)
            body += html::indentRow(20, html::escaped(text));
    }
    return body;
}

// The texts a certificate policy gives for form TextCPSPointer or TextUserNotice.
struct PolicyPick {
    eTextReturnType form;
    QString text;
    bool found = false;
};

QString userNoticeRows(const USERNOTICE *notice, PolicyPick *pick)
{
    QString body;
    if (notice->noticeref) {
        body += html::boldIndentRow(
                    10, translated(QT_TRANSLATE_NOOP("X509Viewer", "User notice reference")) +
                            QStringLiteral(": ")) +
                html::indentRow(20, html::escaped(asn1::utf8Text(notice->noticeref->organization)));
        const STACK_OF(ASN1_INTEGER) *numbers = notice->noticeref->noticenos;
        for (int i = 0; i < sk_ASN1_INTEGER_num(numbers); i++)
            body += html::boldIndentRow(
                20, translated(QT_TRANSLATE_NOOP("X509Viewer", "Notice number")) +
                        QStringLiteral(": ") +
                        html::span(asn1::integerText(sk_ASN1_INTEGER_value(numbers, i))));
    }
    if (notice->exptext) {
        body +=
            html::boldIndentRow(10, translated(QT_TRANSLATE_NOOP("X509Viewer", "User notice:")));
        QString text = asn1::utf8Text(notice->exptext);
        if (pick->form == TextUserNotice) {
            pick->text = text;
            pick->found = true;
        }
        body += html::indentRow(20, html::escaped(text));
    }
    return body;
}

QString policyRows(const POLICYINFO *policy, const ASN1_OBJECT *anyPolicy, PolicyPick *pick)
{
    QString identifier = OBJ_cmp(policy->policyid, anyPolicy) == 0
                             ? translated(QT_TRANSLATE_NOOP("X509Viewer", "Any policy"))
                             : asn1::oidText(policy->policyid);
    QString body =
        html::boldIndentRow(10, translated(QT_TRANSLATE_NOOP("X509Viewer", "Identifier")) +
                                    QStringLiteral(": ") + html::span(html::escaped(identifier)));
    for (int i = 0; i < sk_POLICYQUALINFO_num(policy->qualifiers) && !pick->found; i++) {
        const POLICYQUALINFO *qualifier = sk_POLICYQUALINFO_value(policy->qualifiers, i);
        switch (OBJ_obj2nid(qualifier->pqualid)) {
        case NID_id_qt_cps: {
            QString uri = asn1::utf8Text(qualifier->d.cpsuri);
            if (pick->form == TextCPSPointer) {
                pick->text = uri;
                pick->found = true;
            }
            body +=
                html::boldIndentRow(
                    10, translated(QT_TRANSLATE_NOOP(
                            "X509Viewer", "Pointer to a Certification Practice Statement (CPS)")) +
                            QStringLiteral(": ")) +
                html::indentRow(20, html::escaped(uri));
            break;
        }
        case NID_id_qt_unotice:
            body += userNoticeRows(qualifier->d.usernotice, pick);
            break;
        default:
            break;
        }
    }
    return body;
}

} // namespace

int X509v3Ext::getExCRLDistribPoints(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    if (form != TextPlain && form != TextRich && form != TextFreshestCRLRich &&
        form != TextFreshestCRLPlain)
        return 0;
    Decoded<CRL_DIST_POINTS, CRL_DIST_POINTS_free> points(out ? ext : nullptr);
    if (!points)
        return 0;
    if (form == TextPlain || form == TextFreshestCRLPlain) {
        *out = details();
        return 1;
    }
    QString body;
    for (int i = 0; i < sk_DIST_POINT_num(points.get()); i++) {
        body += numbered(QT_TRANSLATE_NOOP("X509Viewer", "Distribution point"), i + 1);
        if (const DIST_POINT *point = sk_DIST_POINT_value(points.get(), i))
            body += distributionPointRows(point);
    }
    *out = frame(form == TextRich ? tr("CRL distribution points")
                                  : tr("Freshest CRL (Delta CRL distribution point)"),
                 ext, body);
    return 1;
}

int X509v3Ext::getExFreshestCRL(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    if (form == TextRich)
        return getExCRLDistribPoints(ext, out, TextFreshestCRLRich);
    if (form == TextPlain)
        return getExCRLDistribPoints(ext, out, TextFreshestCRLPlain);
    return 0;
}

int X509v3Ext::getExExtendedKeyUsage(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free> usage(out ? ext : nullptr);
    if (!usage)
        return 0;
    QStringList names;
    QString body;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usage.get()); i++) {
        const ASN1_OBJECT *object = sk_ASN1_OBJECT_value(usage.get(), i);
        const Purpose *known = nullptr;
        for (const Purpose &purpose : purposes) {
            if (OBJ_cmp(object, OBJ_nid2obj(purpose.nid)) == 0) {
                known = &purpose;
                break;
            }
        }
        if (known) {
            QString description = tr(known->description);
            names << tr(known->name);
            body += html::boldRow(tr(known->name));
            if (!description.isEmpty())
                body += html::indentRow(10, description);
            continue;
        }
        QString oid = asn1::oidText(object);
        names << (oid.isEmpty() ? tr("unknown") : oid);
        if (!oid.isEmpty())
            body += html::boldRow(tr("Unknown usage") + QStringLiteral(": ") + oid);
    }
    if (form == TextPlain)
        *out = names.join(QStringLiteral(", "));
    else if (form == TextRich)
        *out = frame(tr("Extended key usage"), ext, body);
    else
        *out = QString();
    return 1;
}

int X509v3Ext::getExSubjectDirectory(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    const ASN1_OCTET_STRING *value = ext ? X509_EXTENSION_get_data(ext) : nullptr;
    if (!value || !out)
        return 0;
    if (form != TextRich) {
        *out = form == TextPlain ? details() : QString();
        return 1;
    }
    auto attributes =
        owned(parseASN1_Constructive(ASN1_STRING_get0_data(value), ASN1_STRING_length(value), -1),
              ASN1_OCTET_STRING_free);
    if (!attributes)
        return 0;
    const unsigned char *bytes = ASN1_STRING_get0_data(attributes.get());
    const int length = ASN1_STRING_length(attributes.get());
    QString body;
    for (int k = -1;; k++) {
        auto attribute = owned(parseASN1_Constructive(bytes, length, k), ASN1_OCTET_STRING_free);
        if (!attribute)
            break;
        body += attributeRows(attribute.get(), k + 2);
    }
    *out = frame(tr("Subject directory attributes"), ext, body);
    return 1;
}

int X509v3Ext::getExNameConstraints(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<NAME_CONSTRAINTS, NAME_CONSTRAINTS_free> constraints(out ? ext : nullptr);
    if (!constraints)
        return 0;
    *out = detailsOrPage(form, [&] {
        const struct {
            const STACK_OF(GENERAL_SUBTREE) * subtrees;
            QString heading;
        } sections[] = {
            {constraints->excludedSubtrees, tr("Excluded subtrees")},
            {constraints->permittedSubtrees, tr("Permitted subtrees")},
        };
        QString body;
        for (const auto &section : sections) {
            if (sk_GENERAL_SUBTREE_num(section.subtrees) < 1)
                continue;
            body += html::boldRow(section.heading);
            for (int i = 0; i < sk_GENERAL_SUBTREE_num(section.subtrees); i++) {
                const GENERAL_SUBTREE *subtree = sk_GENERAL_SUBTREE_value(section.subtrees, i);
                QString label, value;
                if (subtree &&
                    X509Property::parseGeneralName(subtree->base, &label, &value, TextRich))
                    body += html::indentRow(10, label + QStringLiteral(": ") + value);
            }
        }
        return frame(tr("Name constraints"), ext, body);
    });
    return 1;
}

int X509v3Ext::getExSubjectInfoAccess(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_free> access(out ? ext : nullptr);
    if (!access)
        return 0;
    *out = detailsOrPage(form, [&] {
        return frame(tr("Subject information access"), ext,
                     accessDescriptionRows(access.get(), subjectMethod));
    });
    return 1;
}

int X509v3Ext::getExCertPolicies(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    Decoded<CERTIFICATEPOLICIES, CERTIFICATEPOLICIES_free> policies(out ? ext : nullptr);
    if (!policies)
        return 0;
    if (form != TextRich && form != TextCPSPointer && form != TextUserNotice) {
        *out = form == TextPlain ? details() : QString();
        return 1;
    }
    const ASN1_OBJECT *anyPolicy = OBJ_nid2obj(NID_any_policy);
    PolicyPick pick{form, QString()};
    QString body;
    for (int i = 0; i < sk_POLICYINFO_num(policies.get()) && !pick.found; i++) {
        body += numbered(QT_TRANSLATE_NOOP("X509Viewer", "Certificate policy"), i + 1);
        if (const POLICYINFO *policy = sk_POLICYINFO_value(policies.get(), i))
            body += policyRows(policy, anyPolicy, &pick);
    }
    if (form != TextRich) {
        if (!pick.found)
            return 0;
        *out = pick.text;
        return 1;
    }
    *out = frame(tr("Certificate policies"), ext, body);
    return 1;
}

int X509v3Ext::getExPrivateKeyPeriod(X509_EXTENSION *ext, QString *out, eTextReturnType form) const
{
    if (form != TextPlain && form != TextRich)
        return 0;
    Decoded<PKEY_USAGE_PERIOD, PKEY_USAGE_PERIOD_free> period(out ? ext : nullptr);
    if (!period)
        return 0;
    QString text = periodText(period->notBefore, period->notAfter, form);
    *out = form == TextRich ? frame(tr("Private key usage period"), ext, text) : text;
    return 1;
}

} // namespace Orvane::Certificate
