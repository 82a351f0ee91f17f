// What the tests of the formatted text on Qt share: one QApplication for the
// test program (made on first use, unless the program already has one), and
// the fonts the tests measure with, and the folder of screenshots.
#pragma once

#include <QApplication>
#include <QFont>
#include <filesystem>
#include <string>

namespace kel::test {

inline void EnsureApplication() {
  if (QApplication::instance()) return;
  static int argc = 1;
  static char name[] = "kel_ui_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

// DejaVu Sans at 9 points: the family the bootstrap installs.
inline QFont TestFont(double points = 9) {
  QFont font("DejaVu Sans");
  font.setPointSizeF(points);
  return font;
}

// Where a test leaves a picture for people to look at: build/screenshots/.
inline QString ScreenshotPath(const std::string& name) {
  const std::filesystem::path folder = std::filesystem::path(ORVI_BINARY_DIR) / "screenshots";
  std::filesystem::create_directories(folder);
  return QString::fromStdString((folder / (name + ".png")).string());
}

}  // namespace kel::test
