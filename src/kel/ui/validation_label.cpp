#include "kel/ui/validation_label.h"

#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "kel/ui/dpi.h"

namespace kel {

namespace {

constexpr int kIconSize = 16;  // at 96 DPI
constexpr int kIconGap = 6;

}  // namespace

TKELValidationLabel::TKELValidationLabel(TKELValidationLabelIcon icon, const QString& text, QWidget* parent)
    : QLabel(text, parent), icon_(icon) {
  setWordWrap(true);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // The text begins after the icon.
  setContentsMargins(IconSize() + kelScaleByDpi(kIconGap, logicalDpiX()), 0, 0, 0);
}

int TKELValidationLabel::IconSize() const { return kelScaleByDpi(kIconSize, logicalDpiX()); }

int TKELValidationLabel::HeightFor(int width) const { return std::max(heightForWidth(width), IconSize()); }

void TKELValidationLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  const QStyle::StandardPixmap pixmap =
      icon_ == TKELValidationLabelIcon::vliError ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning;
  QPainter painter(this);
  style()->standardIcon(pixmap, nullptr, this).paint(&painter, QRect(0, 0, IconSize(), IconSize()));
}

}  // namespace kel
