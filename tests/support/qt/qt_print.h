// How GoogleTest prints Qt's strings in failure messages.
#pragma once

#include <QByteArray>
#include <QMargins>
#include <QRect>
#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList &texts, std::ostream *out)
{
    *out << "{ ";
    for (const QString &text : texts) {
        PrintTo(text, out);
        *out << ' ';
    }
    *out << '}';
}

inline void PrintTo(const QByteArray &bytes, std::ostream *out)
{
    *out << '"' << bytes.toStdString() << '"';
}

inline void PrintTo(const QRect &rect, std::ostream *out)
{
    *out << "QRect(" << rect.x() << ", " << rect.y() << " " << rect.width() << "x" << rect.height()
         << ')';
}

inline void PrintTo(const QMargins &margins, std::ostream *out)
{
    *out << "QMargins(" << margins.left() << ", " << margins.top() << ", " << margins.right()
         << ", " << margins.bottom() << ')';
}
