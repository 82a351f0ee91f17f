// Self-unregistration of libraries: a library's exported function is called
// after loading it (dlopen), and the library is unloaded again.
//
// Result contract: nothing throws; a library that cannot be loaded, or has
// no such export, is skipped.
#pragma once

#include <string>

namespace setup {

class TSetupActiveX {
 public:
  // Loads the library, calls the export (no arguments; its 32-bit result is
  // ignored) when it exists, unloads the library.
  static void CallExport(const std::string& libraryPath, const std::string& exportName);
  // CallExport(libraryPath, "DllUnregisterServer").
  static void UnregisterServer(const std::string& libraryPath);
};

}  // namespace setup
