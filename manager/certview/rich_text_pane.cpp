#include "certview/rich_text_pane.h"

#include <QMimeData>
#include <QTextDocumentFragment>

#include "certview/html_parts.h"

namespace Orvane::Certificate
{

QMimeData *RichTextPane::createMimeDataFromSelection() const
{
    const QTextDocumentFragment selection = textCursor().selection();
    auto *data = new QMimeData;
    data->setText(html::withoutBreakMarks(selection.toPlainText()));
    data->setHtml(html::withoutBreakMarks(selection.toHtml()));
    return data;
}

} // namespace Orvane::Certificate
