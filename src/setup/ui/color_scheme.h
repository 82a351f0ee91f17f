// The wizard's colour scheme, shared by the window and its pages, in a light
// and a dark variant. The current scheme is computed at start and again when
// the theme changes (UpdateColorScheme).
#pragma once

#include <QColor>
#include <functional>

namespace setup {

struct TWizardColorScheme {
  QColor Accent;            // footer fill and lines, header bottom line, step strip
  QColor WindowBackground;  // step-strip background
  QColor PageBackground;    // client area and every page
  QColor Text;              // header title and description
  QColor FooterText;        // the version label in the footer

  static TWizardColorScheme Light();
  static TWizardColorScheme Dark();
};

// The scheme in force.
const TWizardColorScheme& WizardColors();
// Whether the dark theme is in force, as the theme query answers.
bool IsDarkTheme();
// Asks the theme query again and recomputes the scheme.
void UpdateColorScheme();
// Replaces the theme query (the desktop's preference); without one the light
// theme is in force. Takes effect at the next UpdateColorScheme.
void SetDarkThemeQuery(std::function<bool()> query);

}  // namespace setup
