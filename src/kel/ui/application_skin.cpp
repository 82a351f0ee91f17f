#include "kel/ui/application_skin.h"

#include <QApplication>
#include <QScreen>
#include <QtGlobal>

#include "kel/ui/dpi.h"
#include "kel/ui/skin_style.h"

namespace kel {

TKELApplicationSkin& TKELApplicationSkin::Instance() {
  static TKELApplicationSkin* instance = new TKELApplicationSkin();
  return *instance;
}

void TKELApplicationSkin::SetResourceReader(TResourceReader reader) { reader_ = std::move(reader); }

void TKELApplicationSkin::SetOsVersion(uint32_t major, uint32_t build) {
  osMajor_ = major;
  osBuild_ = build;
}

void TKELApplicationSkin::Load(bool dark) {
  const std::string_view name = dark ? kelDefaultSkinDarkResource : kelDefaultSkinResource;
  skin_ = TKELSkin();
  if (const std::optional<std::string> text = reader_ ? reader_(name) : std::nullopt) {
    try {
      skin_ = TKELSkin::Parse(*text);
      skin_.ApplyWindows11Variants(osMajor_, osBuild_);
    } catch (const ESkinError& e) {
      qWarning("%s: %s", std::string(name).c_str(), e.what());
    }
  }
  if (dpi_ == 0) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    dpi_ = screen ? qRound(screen->logicalDotsPerInch()) : kelDesignDpi;
  }
  Apply();
}

void TKELApplicationSkin::SetDpi(int dpi) {
  if (dpi == dpi_) return;
  dpi_ = dpi;
  Apply();
}

void TKELApplicationSkin::Apply() {
  if (!style_ || QApplication::style() != style_) {
    style_ = new TKELSkinStyle();
    QApplication::setStyle(style_);
  }
  style_->SetSkin(skin_, dpi_);
  // Every control takes the new palette (Qt tells them through posted
  // events: they are delivered now) and repaints.
  QApplication::setPalette(kelSkinPalette(skin_, style_->standardPalette()));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::ApplicationPaletteChange);
  emit Changed();
}

}  // namespace kel
