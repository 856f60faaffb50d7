#include "page_fill.h"

namespace
{

bool isDigitAt(const QString &text, qsizetype i)
{
    return i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9';
}

QString fill(const QString &page, const QStringList &texts, bool escape)
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
                filled += escape ? texts.at(n - 1).toHtmlEscaped() : texts.at(n - 1);
                i += digits;
                continue;
            }
        }
        filled += c;
    }
    return filled;
}

} // namespace

QString fillPage(const QString &page, const QStringList &texts)
{
    return fill(page, texts, true);
}

QString fillPageHtml(const QString &page, const QStringList &fragments)
{
    return fill(page, fragments, false);
}
