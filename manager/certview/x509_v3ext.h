// One X.509 v3 extension of a certificate: recognised by OID among twenty known
// extensions (anything else is the unsupported type), named, marked critical or not,
// and told as text by the builder of its type.
//
// The item owns its own duplicate of the extension. Name and tooltip are translated
// when the extension is set, in the language installed then.
#pragma once

#include "certview/x509_property.h"

namespace Orvane::Certificate
{

class X509v3Ext : public X509Property
{
    Q_DECLARE_TR_FUNCTIONS(X509Viewer)

  public:
    enum eCertExt : int {
        Invalid = -1,
        BasicConstraints = 0,
        NameConstraints = 1,
        PolicyConstraints = 2,
        KeyUsage = 3,
        ExtendedKeyUsage = 4,
        AuthorityKeyIdentifier = 5,
        SubjectKeyIdentifier = 6,
        CertificatePolicies = 7,
        SubjectAltNames = 8,
        IssuerAltNames = 9,
        InhibitAnyPolicy = 10,
        CRLDistributionPoints = 11,
        AuthorityInfoAccess = 12,
        SubjectInfoAccess = 13,
        PrivateKeyUsagePeriod = 14,
        PolicyMappings = 15,
        SubjectDirectoryAttributes = 16,
        FreshestCRL = 17,
        NetscapeCertType = 18,
        NetscapeComment = 19,
        Unsupported = 20,
    };

    explicit X509v3Ext(const X509_EXTENSION *ext);
    // length bytes of DER holding one Extension.
    X509v3Ext(const unsigned char *der, int length);
    X509v3Ext(const X509v3Ext &other);
    X509v3Ext &operator=(const X509v3Ext &) = delete;
    ~X509v3Ext() override;

    // The item holds an extension.
    bool IsAvailable() const override;
    const char *ToString() override;
    virtual void SetData(const X509_EXTENSION *ext);
    virtual void SetData(const unsigned char *der, int length);
    // The held extension, owned by the item; null when none.
    virtual X509_EXTENSION *GetData() const;
    virtual eCertExt GetType() const;
    // The extension's text in the form, or the empty text when its builder gives none.
    virtual QString GetText(eTextReturnType form) const;
    virtual QString GetOID() const;
    virtual bool IsCritical() const;
    // One of the twenty known extensions.
    virtual bool IsSupported() const;
    virtual void initState(const X509_EXTENSION *ext);

    // The text builders: 1 when they wrote the extension's text in the form into out,
    // any other result when they build none.
    int getExBasicConstraints(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExPolicyConstraints(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExKeyUsage(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExKeyAuthID(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExKeySubjectID(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExSubjectAltNames(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExIssuerAltNames(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExInhibitAnyPolicy(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExAuthorityInfoAccess(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExPolicyMappings(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExNSCertType(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExNSComment(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExUnsupported(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExCRLDistribPoints(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExFreshestCRL(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExExtendedKeyUsage(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExSubjectDirectory(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExNameConstraints(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExSubjectInfoAccess(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExCertPolicies(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;
    int getExPrivateKeyPeriod(X509_EXTENSION *ext, QString *out, eTextReturnType form) const;

  private:
    using Builder = int (X509v3Ext::*)(X509_EXTENSION *, QString *, eTextReturnType) const;
    struct Row;
    static const Row rows[];

    eCertExt type = Invalid;
    QString oid;
    bool critical = false;
    X509_EXTENSION *extension = nullptr;
    Builder builder = nullptr;
};

} // namespace Orvane::Certificate
