// Self-unregistration of libraries: a library's exported function is called
// after loading it (dlopen), and the library is unloaded again.
//
// Loading runs the library's code with the rights of this process, which is
// elevated: a library is loaded only when nobody but the administrator can
// have changed it or a folder above it (OnlyAdministratorMayChange in
// kel/platform/file_details.h), never one from a folder that others may
// write.
//
// Result contract: nothing throws; a library that must not or cannot be
// loaded, or has no such export, is skipped.
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
