// The language dialog: "Select Language", a drop-down of the setup's
// languages with their icons and an OK button. It has no way to cancel: the
// entry selected when it closes is the choice.
#pragma once

#include <QDialog>
#include <vector>

#include "setup/core/language_choice.h"

class QComboBox;
class QPushButton;

namespace setup {

class TSetupLanguageDialog : public QDialog {
  Q_OBJECT

 public:
  TSetupLanguageDialog(const std::vector<TSetupLanguageEntry>& entries, int preselected);

  // The position of the selected entry; -1 when none is.
  int Selected() const;
  QComboBox* List() const { return list_; }

 protected:
  // Neither Escape nor the window's close button closes it.
  void reject() override {}

 private:
  QComboBox* list_;
  QPushButton* ok_;
};

// The language choice of the wizard's front end: shows the dialog modally
// (answered at once when the dialog answers are armed: the answer names the
// entry) and returns the entry selected when it closes.
class TWizardLanguageChoice : public ISetupLanguageDialog {
 public:
  int Choose(const std::vector<TSetupLanguageEntry>& entries, int preselected) override;
};

}  // namespace setup
