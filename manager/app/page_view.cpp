#include "page_view.h"

#include "certview/rich_text_pane.h"

QMimeData *PageView::createMimeDataFromSelection() const
{
    return Orvane::Certificate::selectionWithoutBreakMarks(textCursor());
}
