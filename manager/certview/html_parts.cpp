// Rows, pages and byte formats of the viewer's rich texts.
#include "certview/html_parts.h"

#include "certview/x509_property.h"

#include <cctype>

namespace Orvane::Certificate::html
{

namespace
{

const QChar kBreakMark(0x200B);

const X509Property::Fragments &f()
{
    return X509Property::fragments();
}

// Each byte as two upper-case hex digits (or its decimal value), with after[] after
// every byte and between[] between two bytes.
QString byteText(const unsigned char *data, int length, bool decimal, const char *after,
                 const char *between)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    for (int i = 0; data && i < length; i++) {
        if (i > 0)
            out += QLatin1String(between);
        if (decimal) {
            out += QString::number(data[i]);
        } else {
            out += QLatin1Char(digits[data[i] >> 4]);
            out += QLatin1Char(digits[data[i] & 15]);
        }
        out += QLatin1String(after);
    }
    return out;
}

} // namespace

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString span(const QString &text)
{
    return f().sNormal.arg(text);
}

QString boldSpan(const QString &text)
{
    return f().sBold.arg(text);
}

QString paragraph(const QString &text)
{
    return f().pNormal.arg(text);
}

QString boldRow(const QString &text)
{
    return f().pBold.arg(text);
}

QString indentRow(int margin, const QString &text)
{
    return f().pIndent.arg(QString::number(margin), text);
}

QString boldIndentRow(int margin, const QString &text)
{
    return f().pBoldIndent.arg(QString::number(margin), text);
}

QString indentBlock(int margin, const QString &text)
{
    return f().dIndent.arg(QString::number(margin), text);
}

QString marginRow(int top, int bottom, int left, int right, const QString &text)
{
    return f().pIndentAll.arg(QString::number(top), QString::number(bottom), QString::number(left),
                              QString::number(right), text);
}

QString infoPage(const QString &heading, const QString &body)
{
    return X509Property::readParamText(QStringLiteral(":template/info/common.html"), 2)
        .arg(heading, body);
}

QString extensionPage(const QString &title, const QString &criticality, const QString &body)
{
    return X509Property::readParamText(QStringLiteral(":template/info/ex_common.html"), 3)
        .arg(title, criticality, body);
}

QString spacedHex(const unsigned char *data, int length)
{
    return byteText(data, length, false, " ", "");
}

QString colonHex(const unsigned char *data, int length)
{
    return byteText(data, length, false, "", ":");
}

QString spacedDecimal(const unsigned char *data, int length)
{
    return byteText(data, length, true, " ", "");
}

QString breakableColonHex(const unsigned char *data, int length)
{
    return colonHex(data, length).replace(QLatin1Char(':'), QStringLiteral(":") + kBreakMark);
}

QString breakableHex(const QString &hex)
{
    auto digit = [&](qsizetype i) {
        return i < hex.size() && hex[i].unicode() < 128 && std::isxdigit(hex[i].unicode()) != 0;
    };
    QString text;
    qsizetype i = 0;
    for (; digit(i); ++i) {
        if (i > 0 && i % 2 == 0)
            text += kBreakMark;
        text += hex[i];
    }
    return text + hex.mid(i);
}

QString withoutBreakMarks(QString text)
{
    return text.remove(kBreakMark);
}

} // namespace Orvane::Certificate::html
