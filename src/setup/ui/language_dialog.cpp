#include "setup/ui/language_dialog.h"

#include <QComboBox>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "kel/base/text.h"
#include "kel/ui/dialog_answers.h"
#include "kel/ui/dpi.h"

namespace setup {

namespace {

// The entry's 16 x 16 icon; a null icon when it has none or it cannot be
// read.
QIcon IconOf(const TSetupLanguageEntry& entry) {
  if (entry.Icon.empty()) return {};
  QImage image = QImage::fromData(reinterpret_cast<const uchar*>(entry.Icon.data()), static_cast<int>(entry.Icon.size()));
  if (image.isNull()) return {};
  if (image.size() != QSize(16, 16)) image = image.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return QIcon(QPixmap::fromImage(image));
}

}  // namespace

TSetupLanguageDialog::TSetupLanguageDialog(const std::vector<TSetupLanguageEntry>& entries, int preselected)
    : QDialog(nullptr), list_(new QComboBox(this)), ok_(new QPushButton("OK", this)) {
  setObjectName("TSetupLanguageDialog");
  setWindowTitle("Select Language");
  // A fixed frame with the window menu but no close button, above the
  // other windows.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowStaysOnTopHint);
  const int dpi = logicalDpiX();
  const auto scale = [dpi](int length) { return kel::kelScaleByDpi(length, dpi); };
  setFixedSize(scale(220), scale(75));
  if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());

  list_->setIconSize(QSize(16, 16));
  for (const TSetupLanguageEntry& entry : entries) list_->addItem(IconOf(entry), QString::fromStdString(entry.Name));
  list_->setCurrentIndex(preselected);
  list_->setGeometry(scale(8), scale(8), width() - 2 * scale(8), list_->sizeHint().height());
  const int okHeight = ok_->sizeHint().height();
  ok_->setGeometry(scale(60), height() - scale(8) - okHeight, width() - 2 * scale(60), okHeight);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

int TSetupLanguageDialog::Selected() const { return list_->currentIndex(); }

int TWizardLanguageChoice::Choose(const std::vector<TSetupLanguageEntry>& entries, int preselected) {
  TSetupLanguageDialog dialog(entries, preselected);
  kel::TKELDialogRecord record{dialog.windowTitle().toStdString(), {}, {}, {}, false};
  const bool armed = kel::TKELDialogAnswers::Armed();
  if (armed) {
    if (dialog.Selected() >= 0) record.defaultAnswer = entries[static_cast<size_t>(dialog.Selected())].Name;
    const std::optional<std::string> answer = kel::TKELDialogAnswers::Take();
    QTimer::singleShot(0, &dialog, [&, answer] {
      for (size_t i = 0; answer && i < entries.size(); ++i)
        if (kel::kelSameText(entries[i].Name, *answer)) {
          dialog.List()->setCurrentIndex(static_cast<int>(i));
          record.scripted = true;
        }
      dialog.accept();
    });
  }
  dialog.exec();
  const int chosen = dialog.Selected();
  if (armed) {
    if (chosen >= 0) record.answer = entries[static_cast<size_t>(chosen)].Name;
    kel::TKELDialogAnswers::Record(std::move(record));
  }
  return chosen;
}

}  // namespace setup
