#include "text_fit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include "setup/ui/wizard_form.h"

namespace {

QString Describe(const QWidget& control) {
  return QString("%1 %2").arg(control.metaObject()->className(),
                              control.objectName().isEmpty() ? QString("(unnamed)") : control.objectName());
}

void Check(std::vector<std::string>& cut, const QString& what, const QString& text, QSize needed, QSize has) {
  if (needed.width() <= has.width() && needed.height() <= has.height()) return;
  cut.push_back(QString("%1 \"%2\" needs %3 x %4, has %5 x %6")
                    .arg(what, text)
                    .arg(needed.width())
                    .arg(needed.height())
                    .arg(has.width())
                    .arg(has.height())
                    .toStdString());
}

// A label's text: wrapped within its width when the label wraps words (a
// word longer than the width sticks out), else on one line.
QSize NeededBy(const QLabel& label) {
  const QFontMetrics metrics(label.font());
  const QRect area = label.contentsRect();
  if (!label.wordWrap()) return QSize(metrics.horizontalAdvance(label.text()), metrics.height());
  const QRect bounds = metrics.boundingRect(QRect(0, 0, area.width(), 1 << 20),
                                            Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, label.text());
  return bounds.size();
}

}  // namespace

std::vector<std::string> CutOffTexts(const setup::TWizardForm& form) {
  std::vector<std::string> cut;
  for (const QLabel* label : form.findChildren<QLabel*>()) {
    if (!label->isVisible() || label->text().isEmpty() || label->textFormat() == Qt::RichText) continue;
    Check(cut, Describe(*label), label->text(), NeededBy(*label), label->contentsRect().size());
  }
  for (const QAbstractButton* button : form.findChildren<QAbstractButton*>()) {
    if (!button->isVisible() || button->text().isEmpty()) continue;
    const QFontMetrics metrics(button->font());
    QSize needed(metrics.horizontalAdvance(button->text()), metrics.height());
    if (qobject_cast<const QCheckBox*>(button) || qobject_cast<const QRadioButton*>(button))
      needed.setWidth(button->sizeHint().width());  // the mark, the gap and the text
    else
      needed.rwidth() += 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    Check(cut, Describe(*button), button->text(), needed, button->size());
  }
  if (const auto* page = dynamic_cast<const setup::TSetupPage*>(form.ActivePage())) {
    const QRect area = form.FormViewInfo().HeaderText();
    const QFontMetrics title(form.FormViewInfo().TitleFont()), description(form.FormViewInfo().DescriptionFont());
    Check(cut, "the header's title", page->Title, QSize(title.horizontalAdvance(page->Title), 0), area.size());
    Check(cut, "the header's description", page->Description,
          QSize(description.horizontalAdvance(page->Description), 0), area.size());
    const int bothLines = title.height() + description.height();
    Check(cut, "the header's two lines", page->Title + " / " + page->Description, QSize(0, bothLines), area.size());
  }
  return cut;
}
