#include "item_texts.h"

#include <QByteArray>

namespace item_text
{

namespace
{

QString hexByte(uint8_t byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString field(const char *text, std::size_t width)
{
    return QString::fromUtf8(text, qsizetype(qstrnlen(text, width)));
}

QString atr(const uint8_t *bytes, int length, int capacity)
{
    QString text;
    for (int i = 0; i < qMin(length, capacity); ++i)
        text += hexByte(bytes[i]) + QLatin1Char(' ');
    return text;
}

QString counters(const uint64_t (&values)[3])
{
    return QStringLiteral("%1/%2[%3]").arg(values[1]).arg(values[0]).arg(values[0]);
}

QString usedOfTotal(uint64_t used, uint64_t free)
{
    return QStringLiteral("%1/%2").arg(used).arg(used + free);
}

QString serial(const uint8_t *bytes, uint32_t length, std::size_t capacity, bool withValue)
{
    std::size_t shown = qMin<std::size_t>(length, capacity);
    QString text;
    for (std::size_t i = 0; i < shown; ++i)
        text += hexByte(bytes[i]);
    if (withValue && shown == 1)
        text += QStringLiteral(" [%1]").arg(int(int8_t(bytes[0])));
    return text;
}

QString validity(const QDate &from, const QDate &to)
{
    const QString format = QStringLiteral("dd.MM.yyyy");
    return from.toString(format) + QStringLiteral(" - ") + to.toString(format);
}

QString keyType(const uint8_t (&flags)[3])
{
    if (flags[1] != 0 || flags[2] != 0)
        return QStringLiteral("AT_KEYEXCHANGE");
    if (flags[0] != 0)
        return QStringLiteral("AT_SIGNATURE");
    return QString();
}

} // namespace item_text

namespace item_actions
{

QList<int> card(bool pinBlocked, bool pukBlocked)
{
    if (pinBlocked && pukBlocked)
        return {};
    return pinBlocked ? QList<int>{1, 2} : QList<int>{0, 1, 11};
}

// Deleting needs expert mode and a usable PIN; importing a certificate needs a key
// without one, and in expert mode a usable PIN as well.
QList<int> key(bool expert, bool certificate, bool pinBlocked)
{
    QList<int> ids = {12, 10};
    if (expert && !pinBlocked)
        ids << 13;
    if (!certificate && !(expert && pinBlocked))
        ids << 8;
    return ids;
}

QList<int> certificate(bool expert, bool pinBlocked)
{
    return expert && !pinBlocked ? QList<int>{6, 7, 9} : QList<int>{6, 7};
}

} // namespace item_actions
