// Filling the numbered markers of a page.
#pragma once

#include <QString>
#include <QStringList>

// Replaces %1, %2, ... in the page with the texts, escaped for HTML, in one pass: a
// text that itself holds "%3" or markup shows as it is and is never read again as a
// marker or a link. Markers without a text (and any other '%') stay as they are.
// Every value that comes from a card, a certificate, a reader or a file goes into a
// page through here.
QString fillPage(const QString &page, const QStringList &texts);
// The same with fragments of HTML that the caller has built and escaped itself: they
// go in as they are, still in one pass.
QString fillPageHtml(const QString &page, const QStringList &fragments);
