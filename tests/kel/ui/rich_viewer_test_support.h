// What the tests of the rich viewer and its RTF reader share: the Qt
// application that widgets need, and the RTF fixtures written by real word
// processors (tests/kel/ui/data/rtf/, see the README there).
#pragma once

#include <QApplication>

#include <string>

#include "support/temp_dir.h"

namespace orvi::test {

// Creates the application once for the whole test program, on Qt's
// offscreen platform unless another one is asked for.
inline void EnsureQtApplication() {
  if (QApplication::instance()) return;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "kel_ui_tests";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

inline std::string RtfFixture(const std::string& name) {
  return ReadFileBytes(std::string(ORVI_SOURCE_DIR) + "/tests/kel/ui/data/rtf/" + name);
}

}  // namespace orvi::test
