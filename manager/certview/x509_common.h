// One base field of a certificate (summary, subject, issuer, validity, fingerprints,
// signature, public key, version, serial number) and its texts.
//
// The item reads the certificate at every GetText and never owns it: the X509Cert
// that made the item owns both and deletes the item first. Texts are built at each
// call, in the translation installed when the item was made (name, tooltip) or when
// the text is asked (everything else).
#pragma once

#include <QIcon>

#include "certview/x509_property.h"

namespace Orvane::Certificate
{

class X509Common : public X509Property
{
    Q_DECLARE_TR_FUNCTIONS(X509Viewer)

  public:
    enum eCertCommon : int {
        Invalid = -1,
        Summary = 0,
        Subject = 1,
        Issuer = 2,
        Validity = 3,
        Fingerprints = 4,
        Signature = 5,
        PublicKey = 6,
        Version = 7,
        SerialNumber = 8,
    };

    // Keeps cert (not a copy); a type outside 0 to 8 gives an item of type -1.
    X509Common(const X509 *cert, eCertCommon type);
    X509Common(X509Common &other);
    ~X509Common() override;

    // A certificate is set and the type is 0 to 8.
    bool IsAvailable() const override;
    const char *ToString() override;
    virtual eCertCommon GetType() const;
    // The list icon (a null icon for four of the fields); needs a QGuiApplication.
    virtual QIcon GetIcon() const;
    // The field's text in the form, or the empty text when its builder gives none.
    virtual QString GetText(eTextReturnType form) const;
    virtual void initState(eCertCommon type);

    // The builders: 1 when they wrote a text into out, 0 when they build none.
    int getSummary(X509 *cert, QString *out, eTextReturnType form) const;
    int getSubject(X509 *cert, QString *out, eTextReturnType form) const;
    int getIssuer(X509 *cert, QString *out, eTextReturnType form) const;
    int getValidity(X509 *cert, QString *out, eTextReturnType form) const;
    int getFingerPrints(X509 *cert, QString *out, eTextReturnType form) const;
    int getSignature(X509 *cert, QString *out, eTextReturnType form) const;
    int getPublicKeyInfo(X509 *cert, QString *out, eTextReturnType form) const;
    int getVersion(X509 *cert, QString *out, eTextReturnType form) const;
    int getSerialNumber(X509 *cert, QString *out, eTextReturnType form) const;

  private:
    using Builder = int (X509Common::*)(X509 *, QString *, eTextReturnType) const;

    int getName(const X509_NAME *name, const QString &label, QString *out,
                eTextReturnType form) const;

    X509 *certificate;
    eCertCommon type = Invalid;
    QString icon; // resource path; empty: no icon. Made into a QIcon on demand, so
                  // that texts need no GUI.
    Builder builder = nullptr;
};

} // namespace Orvane::Certificate
