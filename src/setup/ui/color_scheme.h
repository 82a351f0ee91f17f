// The wizard's colour scheme, shared by the window and its pages, in a light
// and a dark variant. The current scheme is computed at start and again when
// the theme changes (UpdateColorScheme), which also reloads the skin of the
// controls for the theme.
#pragma once

#include <QColor>
#include <QObject>
#include <functional>
#include <string>

namespace kel {
class TKELDesktopTheme;
}

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
// Whether the dark theme is in force, as the theme query answered at the
// last UpdateColorScheme.
bool IsDarkTheme();
// Asks the theme query again, recomputes the scheme and, when an application
// object exists, loads the skin of the theme; then tells ColorSchemeEvents.
void UpdateColorScheme();
// Replaces the theme query; without one the light theme is in force. Takes
// effect at the next UpdateColorScheme.
void SetDarkThemeQuery(std::function<bool()> query);
// The desktop's preference becomes the theme query, and each switch of it
// runs UpdateColorScheme. Needs the application object, which owns what is
// returned (deleting it ends the following; the theme query must then be
// replaced).
kel::TKELDesktopTheme* FollowDesktopTheme();
// The skins are read from the resources of this program file, and their
// variants chosen for the system's version.
void UseSkinsOf(const std::string& programPath);

class TWizardColorSchemeEvents : public QObject {
  Q_OBJECT

 signals:
  // UpdateColorScheme ran: the scheme and the skin are those of the theme
  // in force now.
  void Updated();
};
TWizardColorSchemeEvents& ColorSchemeEvents();

}  // namespace setup
