// The certificate dialog's rich-text panes.
//
// A pane is a text edit whose copies (and drags) hold the selected text without the
// break marks that let long hexadecimal values wrap between bytes (html_parts.h): a
// copied fingerprint reads exactly as the pane shows it.
#pragma once

#include <QTextEdit>

class QMimeData;
class QTextCursor;

namespace Orvane::Certificate
{

// The cursor's selection as text and HTML without break marks: what a copy or drag of
// a rich text that shows them holds (the card manager's page area does the same).
QMimeData *selectionWithoutBreakMarks(const QTextCursor &cursor);

class RichTextPane : public QTextEdit
{
  public:
    using QTextEdit::QTextEdit;

  protected:
    QMimeData *createMimeDataFromSelection() const override;
};

} // namespace Orvane::Certificate
