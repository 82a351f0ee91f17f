// TKELButtonEdit: a single-line edit field with a push button embedded at
// its right edge (a "Browse..." button beside a path). The text stops short
// of the button.
#pragma once

#include <QLineEdit>

class QPushButton;

namespace kel {

class TKELButtonEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TKELButtonEdit(QWidget* parent = nullptr);

  QPushButton* Button() const { return button_; }
  // The button's width in pixels (its height is the field's).
  void SetButtonWidth(int width);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceButton();

  QPushButton* button_;
  int buttonWidth_ = 0;
};

}  // namespace kel
