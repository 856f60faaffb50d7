#include "certview/rich_text_pane.h"

#include <QMimeData>
#include <QTextCursor>
#include <QTextDocumentFragment>

#include "certview/html_parts.h"

namespace Orvane::Certificate
{

QMimeData *selectionWithoutBreakMarks(const QTextCursor &cursor)
{
    const QTextDocumentFragment selection = cursor.selection();
    auto *data = new QMimeData;
    data->setText(html::withoutBreakMarks(selection.toPlainText()));
    data->setHtml(html::withoutBreakMarks(selection.toHtml()));
    return data;
}

QMimeData *RichTextPane::createMimeDataFromSelection() const
{
    return selectionWithoutBreakMarks(textCursor());
}

} // namespace Orvane::Certificate
