// The item base, the template fragments and the formatting of times.
#include "certview/x509_property.h"

#include <QFile>
#include <QStringList>

#include <ctime>

#include "certview/html_parts.h"

// The resource bundle lives in this static library: naming its registration here
// links it into every program that uses the viewer (the object also registers it
// when the program loads; registering again is harmless). The templates themselves
// are read on first use, never before main.
static void registerCertviewResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(certview);
        return true;
    }();
    (void)registered;
}

namespace Orvane::Certificate
{

X509Property::~X509Property() = default;

unsigned int X509Property::GetVersion() const
{
    return version;
}

QString X509Property::GetName() const
{
    return name;
}

QString X509Property::GetTooltip() const
{
    return tooltip;
}

const char *X509Property::nameAsLocal8Bit()
{
    nameBytes = name.toLocal8Bit();
    return nameBytes.constData();
}

const X509Property::Fragments &X509Property::fragments()
{
    static const Fragments loaded{
        readParamText(QStringLiteral(":/template/span/normal"), 1),
        readParamText(QStringLiteral(":/template/span/bold"), 1),
        readParamText(QStringLiteral(":/template/span/indent"), 2),
        readParamText(QStringLiteral(":/template/paragraph/normal"), 1),
        readParamText(QStringLiteral(":/template/paragraph/indent"), 2),
        readParamText(QStringLiteral(":/template/paragraph/bold"), 1),
        readParamText(QStringLiteral(":/template/paragraph/bold_indent"), 2),
        readParamText(QStringLiteral(":/template/paragraph/indent_all"), 5),
        readParamText(QStringLiteral(":/template/div/normal"), 1),
        readParamText(QStringLiteral(":/template/div/indent"), 2),
        readParamText(QStringLiteral(":/template/div/bold"), 1),
        readParamText(QStringLiteral(":/template/div/bold_indent"), 2),
    };
    return loaded;
}

QString X509Property::readParamText(const QString &path, int parameterCount)
{
    registerCertviewResources();
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QByteArray content = file.readAll();
        int nul = content.indexOf('\0');
        if (nul >= 0)
            content.truncate(nul);
        return QString::fromLatin1(content);
    }
    QString markers;
    for (int i = 0; i < parameterCount; i++)
        markers += QStringLiteral("<!--%") + QString::number(i) + QStringLiteral("-->");
    return markers;
}

bool X509Property::parseASN1Time(const ASN1_TIME *time, QString *out, eTextReturnType form)
{
    if (!time || !out || ASN1_STRING_length(time) < 1)
        return false;
    if (form != TextDate && form != TextDateTime)
        return false;
    // OpenSSL reads both time types, UTCTime years as 1950-2049, and turns an offset
    // into UTC.
    struct tm broken = {};
    if (ASN1_TIME_to_tm(time, &broken) != 1)
        return false;
    char buffer[256];
    // the date as the locale writes it, two-digit years included
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
    size_t length =
        strftime(buffer, sizeof(buffer), form == TextDateTime ? "%x %X GMT" : "%x", &broken);
#pragma GCC diagnostic pop
    if (length == 0)
        return false;
    *out = QString::fromUtf8(buffer, static_cast<qsizetype>(length));
    return true;
}

QString X509Property::periodText(const ASN1_TIME *from, const ASN1_TIME *to, eTextReturnType form)
{
    const eTextReturnType timeForm = form == TextRich ? TextDateTime : TextDate;
    const struct {
        const ASN1_TIME *time;
        QString label;
    } times[] = {{from, tr("Valid from")}, {to, tr("Valid to")}};
    QStringList dates;
    QString rows;
    for (const auto &t : times) {
        QString text;
        if (!parseASN1Time(t.time, &text, timeForm))
            continue;
        dates << text;
        rows += html::boldRow(t.label) + html::indentRow(10, html::escaped(text));
    }
    return form == TextRich ? rows : dates.join(QStringLiteral(" - "));
}

} // namespace Orvane::Certificate
