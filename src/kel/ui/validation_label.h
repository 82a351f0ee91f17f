// TKELValidationLabel: a word-wrapped message with an icon before it that
// tells its weight (a warning, an error). Forms stack these under their
// fields to say what is wrong with an entry or what it will lead to.
#pragma once

#include <QLabel>

namespace kel {

enum class TKELValidationLabelIcon { vliWarning, vliError };

class TKELValidationLabel : public QLabel {
  Q_OBJECT

 public:
  TKELValidationLabel(TKELValidationLabelIcon icon, const QString& text, QWidget* parent);

  TKELValidationLabelIcon Icon() const { return icon_; }
  // The height the text takes at `width` (icon included), at least the
  // icon's.
  int HeightFor(int width) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int IconSize() const;

  TKELValidationLabelIcon icon_;
};

}  // namespace kel
