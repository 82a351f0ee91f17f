#include "setup/ui/color_scheme.h"

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
}

void SetDarkThemeQuery(std::function<bool()> query) { DarkThemeQuery() = std::move(query); }

}  // namespace setup
