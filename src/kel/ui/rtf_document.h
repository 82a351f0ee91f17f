// Turning RTF into a Qt text document: the reader of rtf_reader.h with a
// sink that writes paragraphs, tables and links through a text cursor.
//
// Links become anchors whose href is the link's target; a link written
// without a colour of its own gets `linkColor` and an underline. Lengths
// are converted at the resolution Qt lays documents out with.
#pragma once

#include <QColor>
#include <string_view>

class QTextDocument;

namespace kel {

// Replaces the content of `document` with the RTF document. False, and the
// document untouched, when the data is no RTF (it does not begin with
// "{\rtf"). Memory stays proportional to the data: the cells of all tables
// together are capped by its size.
bool kelReadRtfDocument(std::string_view rtf, QTextDocument& document, const QColor& linkColor);

// The resolution at which Qt lays out documents that have no paint device of
// their own: the logical DPI of the primary screen (96 without a screen).
qreal kelDocumentDpi();

}  // namespace kel
