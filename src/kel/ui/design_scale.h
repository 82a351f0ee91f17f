// Widgets laid out at a DPI, that remember their design (their bounds and
// font size at 96 DPI) so that they can be laid out again when the window
// moves to a screen of another DPI.
#pragma once

#include <QObject>
#include <QRect>

class QWidget;

namespace kel {

// Gives the widget the bounds, designed at 96 DPI, at `dpi`.
void kelSetDesignBounds(QWidget* widget, const QRect& designed, int dpi);
// Gives the widget its font (family and styles kept) at `points`, at `dpi`.
void kelSetDesignFontSize(QWidget* widget, int points, int dpi);
// Lays out again, at `dpi`, every widget below `root` (not `root` itself;
// only its children with FindDirectChildrenOnly) that was given design
// bounds or a design font size.
void kelRescaleChildren(QWidget* root, int dpi, Qt::FindChildOptions options = Qt::FindChildrenRecursively);

}  // namespace kel
