#include "kel/ui/desktop_theme.h"

#include <QSocketNotifier>

#include "kel/platform/desktop_theme.h"

namespace kel {

TKELDesktopTheme::TKELDesktopTheme(QObject* parent)
    : QObject(parent), scheme_(std::make_unique<platform::DesktopColorScheme>()) {
  if (const int fd = scheme_->ChangeDescriptor(); fd >= 0) {
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { TakeChanges(); });
  }
}

TKELDesktopTheme::~TKELDesktopTheme() = default;

bool TKELDesktopTheme::Dark() const { return scheme_->PrefersDark(); }

void TKELDesktopTheme::TakeChanges() {
  const bool changed = scheme_->ProcessChanges();
  // The bus went away: nothing more will come.
  if (scheme_->ChangeDescriptor() < 0) notifier_->setEnabled(false);
  if (changed) emit DarkChanged(scheme_->PrefersDark());
}

}  // namespace kel
