// The base of every displayable item of a certificate (a base field or an
// extension), with what all text builders share: the HTML fragments of the viewer's
// templates and the formatting of times, names and general names.
//
// Rich texts escape every value taken from a certificate, so a crafted certificate
// cannot bring markup or links into the viewer's pages. Plain texts are the values
// as they stand. The fragments are read from the viewer's resources once, on first
// use; a missing resource falls back to comment markers, so its values stay hidden.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "certview/viewer_enums.h"

namespace Orvane::Certificate
{

class X509Property
{
    Q_DECLARE_TR_FUNCTIONS(X509Viewer)

  public:
    // The HTML fragments, each one element with its content placeholders (%1 ...).
    struct Fragments {
        QString sNormal;     // span, normal weight: %1 text
        QString sBold;       // span, bold: %1 text
        QString sIndent;     // span with a left margin: %1 pixels, %2 text
        QString pNormal;     // paragraph: %1 text
        QString pIndent;     // paragraph with a left margin: %1 pixels, %2 text
        QString pBold;       // bold paragraph: %1 text
        QString pBoldIndent; // bold paragraph with a left margin: %1 pixels, %2 text
        QString pIndentAll;  // paragraph with margins top, bottom, left, right: %1..%4, %5 text
        QString dNormal;     // division: %1 text
        QString dIndent;     // division with a left margin: %1 pixels, %2 text
        QString dBold;       // bold division: %1 text
        QString dBoldIndent; // bold division with a left margin: %1 pixels, %2 text
    };

    X509Property() = default;
    X509Property(const X509Property &) = default;
    X509Property &operator=(const X509Property &) = delete;
    virtual ~X509Property();

    // 0 for a base field, 2 for an extension.
    virtual unsigned int GetVersion() const;
    virtual bool IsAvailable() const = 0;
    virtual QString GetName() const;
    virtual QString GetTooltip() const;
    // The name in the local 8-bit encoding; valid until the next call or the item's end.
    virtual const char *ToString() = 0;

    // The fragments, read from the resources on the first call.
    static const Fragments &fragments();

    // The whole resource at path as Latin-1 text (up to a NUL byte); when it cannot be
    // read, parameterCount comment markers "<!--%0-->", "<!--%1-->", ...
    static QString readParamText(const QString &path, int parameterCount);

    // A certificate time as text: form TextDate (locale date) or TextDateTime (locale
    // date and time, " GMT"). UTCTime years 50-99 are 19xx, 00-49 20xx. False for a
    // null argument, a time that does not read, or any other form.
    static bool parseASN1Time(const ASN1_TIME *time, QString *out, eTextReturnType form);

    // The label of the entry's attribute type and its value as text. False for a null
    // argument, an entry without object or data, a value that does not convert, or an
    // attribute type the viewer does not name (label and value then empty).
    static bool parseX509NameEntry(const X509_NAME_ENTRY *entry, QString *label, QString *value);

    // A distinguished name in form TextPlain (values joined by ", "), TextRich (a bold
    // label per attribute type, an indented row per value) or TextShort (the first
    // non-empty value; false when there is none). Other forms give the empty text.
    static bool parseX509Name(const X509_NAME *name, QString *out, eTextReturnType form);

    // The kind of a general name and its value; in form TextRich both as HTML with the
    // value escaped. False for a name the viewer cannot show.
    static bool parseGeneralName(const GENERAL_NAME *generalName, QString *label, QString *value,
                                 eTextReturnType form);

  protected:
    // A period between two times: in TextPlain the dates shown joined by " - ", in
    // TextRich a "Valid from" and a "Valid to" row with date and time for each time
    // shown. A time that is absent or does not read is left out.
    static QString periodText(const ASN1_TIME *from, const ASN1_TIME *to, eTextReturnType form);

    // The name held as local 8-bit text for ToString().
    const char *nameAsLocal8Bit();

    unsigned int version = 0;
    QString name;
    QString tooltip;

  private:
    QByteArray nameBytes;
};

} // namespace Orvane::Certificate
