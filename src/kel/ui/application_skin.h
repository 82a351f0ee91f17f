// The skin of the application: the root collection every control takes its
// look from. Loading reads the default skin of the theme in force from the
// program's resources and gives the application the palette and the style
// built from it; every control then repaints.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "kel/graphics/skin.h"

namespace kel {

class TKELSkinStyle;

class TKELApplicationSkin : public QObject {
  Q_OBJECT

 public:
  // The bytes of a named resource of the program; nothing when it has none.
  using TResourceReader = std::function<std::optional<std::string>(std::string_view name)>;

  static TKELApplicationSkin& Instance();

  // Where the skins are read from; until set, nothing is found and the
  // controls keep the style's own look.
  void SetResourceReader(TResourceReader reader);
  // The system version the Windows 11 variants are chosen by.
  void SetOsVersion(uint32_t major, uint32_t build);

  // Reads KELDEFAULTSKIN, or KELDEFAULTSKIN_DARK for the dark theme, and
  // applies it to the application (which must exist). A missing or damaged
  // skin leaves an empty one: the controls keep the style's own look.
  void Load(bool dark);
  // The skin's lengths at another DPI.
  void SetDpi(int dpi);

  const TKELSkin& Skin() const { return skin_; }
  int Dpi() const { return dpi_; }

 signals:
  // The skin was (re)loaded and applied.
  void Changed();

 private:
  TKELApplicationSkin() = default;
  void Apply();

  TResourceReader reader_;
  uint32_t osMajor_ = 0;
  uint32_t osBuild_ = 0;
  TKELSkin skin_;
  int dpi_ = 0;
  TKELSkinStyle* style_ = nullptr;  // owned by the application
};

}  // namespace kel
