// One X.509 certificate for the card manager, presented as two lists of displayable
// items: its nine base fields (in eCertCommon order) and its extensions (in the
// certificate's order), with sorting, counting and a one-paragraph summary.
//
// The holder owns its own duplicate of the certificate and all its items; input that
// does not parse gives an empty holder (every text empty, every count 0). Item
// pointers handed out stay valid until the holder is deleted or given another
// certificate. Nothing here throws.
#pragma once

#include <QCoreApplication>
#include <QString>

#include <memory>
#include <vector>

#include <openssl/x509.h>

#include "certview/viewer_enums.h"
#include "certview/x509_common.h"
#include "certview/x509_v3ext.h"

namespace Orvane::Certificate
{

class X509Cert
{
    Q_DECLARE_TR_FUNCTIONS(X509Viewer)

  public:
    enum eCertSortBy : int {
        SortByName = 1,
        SortByType = 2,
        SortByIndex = 3,    // the type number, as SortByType
        SortByOID = 4,      // extension lists only
        SortByCritical = 5, // extension lists only
    };

    // A duplicate of cert; null gives an empty holder.
    explicit X509Cert(const X509 *cert);
    X509Cert(const X509Cert &other);
    // A PEM or DER certificate file.
    explicit X509Cert(const char *fileName);
    // A PEM or DER certificate in memory.
    X509Cert(const unsigned char *data, long long length);
    X509Cert &operator=(const X509Cert &) = delete;
    virtual ~X509Cert();

    // Holds a duplicate of cert (none for null) and rebuilds both lists.
    void SetCertificate(const X509 *cert);
    // Deletes every item; the certificate stays.
    void Clear();
    bool IsEmpty() const;
    bool IsCertificateOK() const;
    // The held certificate itself (still owned by the holder), or null.
    X509 *GetCertificate() const;

    // The number of extensions that meet every condition of the set bits.
    int ExtensionCount(eItemFilter filter) const;
    // The text of the first item of the type, or the empty text.
    QString GetCommonText(X509Common::eCertCommon type, eTextReturnType form) const;
    QString GetExtensionText(X509v3Ext::eCertExt type, eTextReturnType form) const;

    // A new array of the item pointers, sorted, for the caller to delete[]; an array
    // passed in is deleted first. False, count untouched, when there are no items.
    bool GetCommonList(const X509Common ***list, int *count, eCertSortBy by, bool ascending) const;
    bool GetExtensionList(const X509v3Ext ***list, int *count, eCertSortBy by,
                          bool ascending) const;
    // Stable sorts in place; an unknown key leaves the list as it is.
    static void sortCommonBy(const X509Common **list, int count, eCertSortBy by, bool ascending);
    static void sortExtBy(const X509v3Ext **list, int count, eCertSortBy by, bool ascending);

    // Issuer, subject, serial number, extension count and names (form TextPlain; the
    // empty text for an empty holder); "N/A" in any other form.
    QString GetCertInfo(eTextReturnType form) const;

    // Writes length bytes into bio in chunks; false for bad arguments or a failed write.
    static bool writeToBIO(BIO *bio, const unsigned char *data, long long length);

  protected:
    bool loadProperties(X509 *cert);
    bool loadExtensions(X509 *cert);

  private:
    X509 *certificate = nullptr;
    std::vector<std::unique_ptr<X509Common>> commons;
    std::vector<std::unique_ptr<X509v3Ext>> extensions;
};

} // namespace Orvane::Certificate
