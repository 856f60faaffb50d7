// Shared pieces of the extension text builders.
#include "certview/ext_text_parts.h"

#include <QCoreApplication>

#include "certview/html_parts.h"
#include "certview/x509_property.h"

namespace Orvane::Certificate::exttext
{

QString criticality(const X509_EXTENSION *ext)
{
    return X509_EXTENSION_get_critical(ext)
               ? QCoreApplication::translate("X509Viewer", "Critical")
               : QCoreApplication::translate("X509Viewer", "Noncritical");
}

QString frame(const QString &title, const X509_EXTENSION *ext, const QString &body)
{
    return html::extensionPage(title, criticality(ext), body);
}

QString details()
{
    return QCoreApplication::translate("X509Viewer", "<details>");
}

QList<int> setBits(const ASN1_BIT_STRING *bits, int count)
{
    QList<int> set;
    for (int bit = 0; bit < count; bit++)
        if (ASN1_BIT_STRING_get_bit(bits, bit) > 0)
            set << bit;
    return set;
}

bool generalNameForRows(const GENERAL_NAME *name, eTextReturnType form, QString *label,
                        QString *value)
{
    if (!X509Property::parseGeneralName(name, label, value, form))
        return false;
    if (form != TextRich)
        *value = html::escaped(*value);
    return true;
}

QString accessDescriptionRows(const AUTHORITY_INFO_ACCESS *access,
                              QString (*methodText)(const ASN1_OBJECT *method))
{
    QString body;
    for (int i = 0; i < sk_ACCESS_DESCRIPTION_num(access); i++) {
        const ACCESS_DESCRIPTION *description = sk_ACCESS_DESCRIPTION_value(access, i);
        body += html::boldRow(QCoreApplication::translate("X509Viewer", "Access description") +
                              QLatin1Char(' ') + QString::number(i + 1));
        if (!description)
            continue;
        QString method = methodText(description->method);
        if (!method.isEmpty())
            body += html::boldIndentRow(10, QCoreApplication::translate("X509Viewer", "Method")) +
                    html::indentRow(20, method);
        QString label, value;
        if (generalNameForRows(description->location, TextPlain, &label, &value))
            body += html::boldIndentRow(10, QCoreApplication::translate("X509Viewer", "Location")) +
                    html::boldIndentRow(20, label) + html::indentRow(30, value);
    }
    return body;
}

} // namespace Orvane::Certificate::exttext
