#include "page_fill.h"

namespace
{

bool isDigitAt(const QString &text, qsizetype i)
{
    return i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9';
}

} // namespace

QString fillPage(const QString &page, const QStringList &texts)
{
    QString filled;
    filled.reserve(page.size());
    for (qsizetype i = 0; i < page.size(); ++i) {
        QChar c = page.at(i);
        // a marker is '%' and one or two digits, as QString::arg reads it
        if (c == u'%' && isDigitAt(page, i + 1)) {
            qsizetype digits = isDigitAt(page, i + 2) ? 2 : 1;
            int n = page.mid(i + 1, digits).toInt();
            if (n >= 1 && n <= texts.size()) {
                filled += texts.at(n - 1).toHtmlEscaped();
                i += digits;
                continue;
            }
        }
        filled += c;
    }
    return filled;
}
