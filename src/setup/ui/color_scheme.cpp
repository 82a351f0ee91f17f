#include "setup/ui/color_scheme.h"

#include <QApplication>

#include "kel/platform/process.h"
#include "kel/ui/application_skin.h"
#include "kel/ui/desktop_theme.h"
#include "setup/package/embedded_resources.h"

namespace setup {

namespace {

std::function<bool()>& DarkThemeQuery() {
  static std::function<bool()> query;
  return query;
}

bool gDark = false;

TWizardColorScheme& Current() {
  static TWizardColorScheme scheme = TWizardColorScheme::Light();
  return scheme;
}

}  // namespace

TWizardColorScheme TWizardColorScheme::Light() {
  return {QColor(0xDE, 0x8C, 0x33), QColor(0xFF, 0xFF, 0xFF), QColor(0xFF, 0xFF, 0xFF), QColor(0x00, 0x00, 0x00),
          QColor(0xF0, 0xF0, 0xF0)};
}

TWizardColorScheme TWizardColorScheme::Dark() {
  return {QColor(0xAC, 0x67, 0x1C), QColor(0x2A, 0x2A, 0x2A), QColor(0x26, 0x26, 0x26), QColor(0xFF, 0xFF, 0xFF),
          QColor(0xF0, 0xF0, 0xF0)};
}

const TWizardColorScheme& WizardColors() { return Current(); }

bool IsDarkTheme() { return gDark; }

void UpdateColorScheme() {
  const std::function<bool()>& query = DarkThemeQuery();
  gDark = query && query();
  Current() = gDark ? TWizardColorScheme::Dark() : TWizardColorScheme::Light();
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) kel::TKELApplicationSkin::Instance().Load(gDark);
  emit ColorSchemeEvents().Updated();
}

void SetDarkThemeQuery(std::function<bool()> query) { DarkThemeQuery() = std::move(query); }

kel::TKELDesktopTheme* FollowDesktopTheme() {
  auto* desktop = new kel::TKELDesktopTheme(QCoreApplication::instance());
  SetDarkThemeQuery([desktop] { return desktop->Dark(); });
  QObject::connect(desktop, &kel::TKELDesktopTheme::DarkChanged, desktop, [] { UpdateColorScheme(); });
  return desktop;
}

void UseSkinsOf(const std::string& programPath) {
  kel::TKELApplicationSkin& skin = kel::TKELApplicationSkin::Instance();
  skin.SetResourceReader([programPath](std::string_view name) -> std::optional<std::string> {
    try {
      const TEmbeddedResources resources = TEmbeddedResources::OpenFile(programPath);
      if (!resources.Find(name)) return std::nullopt;
      return resources.Open(name)->ReadRest();
    } catch (const kel::Exception&) {
      return std::nullopt;
    }
  });
  const kel::platform::OsVersion version = kel::platform::GetOsVersion();
  skin.SetOsVersion(version.major, version.build);
}

TWizardColorSchemeEvents& ColorSchemeEvents() {
  static TWizardColorSchemeEvents* events = new TWizardColorSchemeEvents();
  return *events;
}

}  // namespace setup
