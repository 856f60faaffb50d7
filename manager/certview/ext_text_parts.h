// What the extension text builders share: the page frame with its criticality text,
// decoded values that free themselves, named bits and general names ready for rich
// rows.
#pragma once

#include <QString>
#include <QStringList>

#include <openssl/x509v3.h>

#include "certview/viewer_enums.h"

namespace Orvane::Certificate::exttext
{

// "Critical" or "Noncritical", translated.
QString criticality(const X509_EXTENSION *ext);
// An extension's page: "title - criticality" above a rule, the body below it.
QString frame(const QString &title, const X509_EXTENSION *ext, const QString &body);
// "<details>", translated: the plain text of extensions told only in rich form.
QString details();

// The text of an extension told in full only as a page: "<details>" in TextPlain,
// the page makePage() builds in TextRich, the empty text in any other form.
template <typename MakePage> QString detailsOrPage(eTextReturnType form, MakePage makePage)
{
    if (form == TextPlain)
        return details();
    return form == TextRich ? makePage() : QString();
}

// The extension's value decoded by OpenSSL, freed with the type's own function.
template <typename T, void (*Free)(T *)> class Decoded
{
  public:
    explicit Decoded(X509_EXTENSION *ext)
        : value(ext ? static_cast<T *>(X509V3_EXT_d2i(ext)) : nullptr)
    {
    }
    Decoded(const Decoded &) = delete;
    Decoded &operator=(const Decoded &) = delete;
    ~Decoded()
    {
        if (value)
            Free(value);
    }
    T *get() const { return value; }
    T *operator->() const { return value; }
    explicit operator bool() const { return value != nullptr; }

  private:
    T *value;
};

// One bit of a named bit string: its name and a sentence about it (translation
// sources; the name is translated only where the table says so).
struct NamedBit {
    const char *name;
    const char *description;
};

// The bits among the first count that are set (ASN1_BIT_STRING_get_bit above 0).
QList<int> setBits(const ASN1_BIT_STRING *bits, int count);

// A general name as a label and a value that can stand in rich rows: in form
// TextRich as parseGeneralName makes them, in any other form with the value escaped.
// False for a name that is not shown.
bool generalNameForRows(const GENERAL_NAME *name, eTextReturnType form, QString *label,
                        QString *value);

// The rows of access descriptions (authority or subject information access): a
// heading "Access description n", the method rows methodText gives (none for an
// empty text) and the location.
QString accessDescriptionRows(const AUTHORITY_INFO_ACCESS *access,
                              QString (*methodText)(const ASN1_OBJECT *method));

} // namespace Orvane::Certificate::exttext
