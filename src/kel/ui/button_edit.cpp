#include "kel/ui/button_edit.h"

#include <QPushButton>

namespace kel {

TKELButtonEdit::TKELButtonEdit(QWidget* parent) : QLineEdit(parent), button_(new QPushButton(this)) {
  button_->setCursor(Qt::ArrowCursor);
  button_->setAutoDefault(false);
  SetButtonWidth(button_->sizeHint().width());
}

void TKELButtonEdit::SetButtonWidth(int width) {
  buttonWidth_ = width;
  setTextMargins(0, 0, width, 0);
  PlaceButton();
}

void TKELButtonEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  PlaceButton();
}

void TKELButtonEdit::PlaceButton() { button_->setGeometry(width() - buttonWidth_, 0, buttonWidth_, height()); }

}  // namespace kel
