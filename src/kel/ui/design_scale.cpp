#include "kel/ui/design_scale.h"

#include <QFont>
#include <QVariant>
#include <QWidget>

#include "kel/ui/dpi.h"

namespace kel {

namespace {

constexpr const char* kBoundsProperty = "kelDesignBounds";
constexpr const char* kFontProperty = "kelDesignFontSize";

QRect Scaled(const QRect& designed, int dpi) {
  return QRect(kelScaleByDpi(designed.x(), dpi), kelScaleByDpi(designed.y(), dpi),
               kelScaleByDpi(designed.width(), dpi), kelScaleByDpi(designed.height(), dpi));
}

void ApplyFontSize(QWidget* widget, int points, int dpi) {
  QFont font = widget->font();
  font.setPixelSize(kelPointsToPixels(points, dpi));
  widget->setFont(font);
}

}  // namespace

void kelSetDesignBounds(QWidget* widget, const QRect& designed, int dpi) {
  widget->setProperty(kBoundsProperty, designed);
  widget->setGeometry(Scaled(designed, dpi));
}

void kelSetDesignFontSize(QWidget* widget, int points, int dpi) {
  widget->setProperty(kFontProperty, points);
  ApplyFontSize(widget, points, dpi);
}

void kelRescaleChildren(QWidget* root, int dpi, Qt::FindChildOptions options) {
  for (QWidget* widget : root->findChildren<QWidget*>(QString(), options)) {
    if (const QVariant points = widget->property(kFontProperty); points.isValid())
      ApplyFontSize(widget, points.toInt(), dpi);
    if (const QVariant bounds = widget->property(kBoundsProperty); bounds.isValid())
      widget->setGeometry(Scaled(bounds.toRect(), dpi));
  }
}

}  // namespace kel
