// The desktop's dark or light preference for the application: read when this
// is made and followed while it lives; listeners hear of each switch.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace kel {

namespace platform {
class DesktopColorScheme;
}

class TKELDesktopTheme : public QObject {
  Q_OBJECT

 public:
  explicit TKELDesktopTheme(QObject* parent = nullptr);
  ~TKELDesktopTheme() override;

  bool Dark() const;

 signals:
  // The desktop switched between dark and light.
  void DarkChanged(bool dark);

 private:
  void TakeChanges();

  std::unique_ptr<platform::DesktopColorScheme> scheme_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kel
