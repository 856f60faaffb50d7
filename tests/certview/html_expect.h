// The viewer's HTML rows written out literally, to state expected rich texts
// independently of the library's own fill-in code.
#pragma once

#include <QString>

namespace certtest
{

inline QString span(const QString &t)
{
    return QStringLiteral("<span style=\"font-weight:400;\">") + t + QStringLiteral("</span>\n");
}

inline QString boldSpan(const QString &t)
{
    return QStringLiteral("<span style=\"font-weight:600;\">") + t + QStringLiteral("</span>\n");
}

inline QString bold(const QString &t)
{
    return QStringLiteral("<p style=\"margin-top:2px; margin-bottom:0px; margin-left:0px; "
                          "margin-right:0px; font-weight:600;\">") +
           t + QStringLiteral("</p>\n");
}

inline QString indent(int margin, const QString &t)
{
    return QStringLiteral("<p style=\"margin-top:0px; margin-bottom:0px; margin-left:%1px; "
                          "margin-right:0px;\">")
               .arg(margin) +
           t + QStringLiteral("</p>\n");
}

inline QString boldIndent(int margin, const QString &t)
{
    return QStringLiteral("<p style=\"margin-top:2px; margin-bottom:0px; margin-left:%1px; "
                          "margin-right:0px; font-weight:600;\">")
               .arg(margin) +
           t + QStringLiteral("</p>\n");
}

inline QString block(int margin, const QString &t)
{
    return QStringLiteral("<div style=\"margin-top:0px; margin-bottom:0px; margin-left:%1px; "
                          "margin-right:0px;\">")
               .arg(margin) +
           t + QStringLiteral("</div>\n");
}

inline QString marginRow(int top, const QString &t)
{
    return QStringLiteral("<p style=\"margin-top:%1px; margin-bottom:0px; margin-left:0px; "
                          "margin-right:0px;\">")
               .arg(top) +
           t + QStringLiteral("</p>\n");
}

// The heading and the body of a page made from an info template.
struct Page {
    QString heading;
    QString body;
};

// Splits a page of either info template into its heading and body; empty parts
// when the text is no such page.
inline Page pageParts(const QString &page)
{
    const QString headOpen = QStringLiteral("<span style=\" font-size:10pt; font-weight:600;\">");
    const QString bodyOpen = QStringLiteral("<span style=\" font-size:10pt;\">");
    const QString headClose = QStringLiteral("</span></p>\n<hr />\n");
    const QString bodyClose = QStringLiteral("</span></p></body></html>\n");
    int h = page.indexOf(headOpen);
    int hc = page.indexOf(headClose, h);
    int b = page.indexOf(bodyOpen, hc);
    if (h < 0 || hc < 0 || b < 0 || !page.endsWith(bodyClose))
        return {};
    h += headOpen.size();
    b += bodyOpen.size();
    return {page.mid(h, hc - h), page.mid(b, page.size() - bodyClose.size() - b)};
}

// A page written as "<page>heading|body", so that rows of expected texts read easily.
inline QString page(const QString &heading, const QString &body)
{
    return QStringLiteral("<page>") + heading + QStringLiteral("|") + body;
}

// A rich page as page() writes it; any other text as it is.
inline QString asPage(const QString &text)
{
    Page p = pageParts(text);
    return p.heading.isNull() ? text : page(p.heading, p.body);
}

} // namespace certtest
