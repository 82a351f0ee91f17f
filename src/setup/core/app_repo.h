// The product's entry in the machine's list of installed applications.
//
// The entry is the key
//   HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\<name without spaces>
// (under Software\Wow6432Node\... in the 32-bit view) of the registry store
// (kel/platform/registry.h), with the values NoModify and NoRepair (DWORD 1),
// DisplayIcon, DisplayName, DisplayVersion, InstallDate ("yyyyMMdd", local
// date), InstallPath (with trailing delimiter), Publisher, UninstallString and
// URLInfoAbout, written in this order.
//
// Result contract: nothing throws. A name without anything but spaces does
// nothing. A store that cannot be opened or written (no rights, damaged) makes
// Register and Unregister do nothing and fail and FindInstallPath fail; the
// store file is never replaced.
#pragma once

#include <string>

namespace setup {

class TSetupAppRepo {
 public:
  // Replaces the entry (both views) with a new one in the native view, as one
  // transaction: readers see the old entry or the whole new one. True when
  // the new entry was written.
  static bool Register(const std::string& name, const std::string& uninstallExe, const std::string& version,
                       const std::string& publisher, const std::string& homePage);
  // Deletes the entry with its subkeys in the native view, then in the
  // 32-bit view; missing entries are no error. True when none is left;
  // `removed` tells whether there was one.
  static bool Unregister(const std::string& name, bool* removed = nullptr);
  // The installation folder (trailing delimiter) of a registered product: its
  // InstallPath, else the folder of its UninstallString, else that of its
  // DisplayIcon, the first that exists; the native view first, then the
  // 32-bit one.
  static bool FindInstallPath(const std::string& name, std::string& folder);
  // "Software\[Wow6432Node\]Microsoft\Windows\CurrentVersion\Uninstall\".
  static std::string UninstallKeyPath(bool wow6432);
};

}  // namespace setup
