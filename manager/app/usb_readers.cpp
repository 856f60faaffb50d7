#include "usb_readers.h"

#include <QProcess>
#include <QRegularExpression>

namespace
{

constexpr int kStartMs = 2000;
constexpr int kRunMs = 5000;

// The name without its PC/SC index pair and the blanks before it; the whole name when
// it has no index pair.
QString model(const QString &name)
{
    static const QRegularExpression indexPair(QStringLiteral("[0-9][0-9] [0-9][0-9]"));
    qsizetype p = name.indexOf(indexPair);
    if (p <= 0)
        return name;
    QString prefix = name.left(p);
    while (prefix.endsWith(QLatin1Char(' ')))
        prefix.chop(1);
    return prefix.isEmpty() ? name : prefix;
}

// "USB, Bus 001 Device 004" from the line in which the model was found at q; only
// "USB" when that line does not have the listing's form.
QString locationAt(const QString &listing, qsizetype q)
{
    qsizetype start = q > 0 ? listing.lastIndexOf(QLatin1Char('\n'), q - 1) + 1 : 0;
    QString front = listing.mid(start, q - start);
    qsizetype colon = front.indexOf(QLatin1Char(':'));
    if (!front.startsWith(QLatin1String("Bus")) || colon < 0)
        return QStringLiteral("USB");
    return QStringLiteral("USB, ") + front.left(colon);
}

} // namespace

UsbListingSource systemUsbListing()
{
    return [] {
        QProcess lsusb;
        lsusb.start(QStringLiteral("lsusb"), QStringList());
        if (!lsusb.waitForStarted(kStartMs) || !lsusb.waitForFinished(kRunMs)) {
            lsusb.kill();
            lsusb.waitForFinished(kStartMs);
            return QString();
        }
        if (lsusb.exitStatus() != QProcess::NormalExit || lsusb.exitCode() != 0)
            return QString();
        return QString::fromLocal8Bit(lsusb.readAllStandardOutput());
    };
}

UsbLocation findUsbReader(const QString &listing, const QStringList &names, int index)
{
    UsbLocation result;
    if (index < 0 || index >= names.size())
        return result;
    const QString wanted = model(names.at(index));
    if (wanted.isEmpty())
        return result;
    qsizetype from = 0;
    for (int j = 0; j < index; ++j) {
        if (model(names.at(j)) != wanted)
            continue;
        qsizetype earlier = listing.indexOf(wanted, from);
        if (earlier < 0)
            return result;
        from = earlier + wanted.size();
    }
    qsizetype q = listing.indexOf(wanted, from);
    if (q < 0)
        return result;
    result.found = true;
    result.location = locationAt(listing, q);
    return result;
}
