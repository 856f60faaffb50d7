// The pieces from which the viewer's rich texts are built: rows and spans filled
// into the template fragments, the two page templates, and the byte formats.
// Every function takes its text as HTML; a caller escapes values from a certificate
// (escaped()) before it passes them. Templates are filled in one pass, so a value
// that holds "%1" stays as it is.
#pragma once

#include <QString>

namespace Orvane::Certificate::html
{

QString escaped(const QString &text);

QString span(const QString &text);                      // normal-weight span
QString boldSpan(const QString &text);                  // bold span
QString paragraph(const QString &text);                 // paragraph without margins
QString boldRow(const QString &text);                   // bold paragraph
QString indentRow(int margin, const QString &text);     // paragraph, left margin in px
QString boldIndentRow(int margin, const QString &text); // bold paragraph, left margin
QString indentBlock(int margin, const QString &text);   // division, left margin
QString marginRow(int top, int bottom, int left, int right, const QString &text);

// A base field's page: bold heading above a rule, the body indented below it.
QString infoPage(const QString &heading, const QString &body);
// An extension's page: "title - criticality" above a rule, the body below it.
QString extensionPage(const QString &title, const QString &criticality, const QString &body);

// Byte formats: "0A FF " (a space after every byte), "0A:FF", "10 255 ".
QString spacedHex(const unsigned char *data, int length);
QString colonHex(const unsigned char *data, int length);
QString spacedDecimal(const unsigned char *data, int length);

// The colon form for rich texts, with a break mark (a zero-width space) after every
// colon: a long value wraps between two bytes only, where Qt would otherwise break it
// inside a byte when no break is allowed in the line.
QString breakableColonHex(const unsigned char *data, int length);
// A hexadecimal text with a break mark between every two digits of its leading run of
// digits ("0A1B [x]" gives "0A", mark, "1B [x]"): it wraps between two bytes only.
QString breakableHex(const QString &hex);
// The text without break marks, as a copy of a rich text holds it (RichTextPane).
QString withoutBreakMarks(QString text);

} // namespace Orvane::Certificate::html
