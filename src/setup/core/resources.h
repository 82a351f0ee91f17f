// The setup resources: one view of everything the installer carries — the
// two packages, the setup script, the language texts — plus the special
// folders and the expansion of the variables the script and the texts use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/format.h"
#include "kel/base/ini_file.h"
#include "kel/base/stream.h"
#include "kel/base/string_list.h"

namespace setup {

class TSetupPackageReader;
class TSetupScript;
class ISetupLanguageDialog;

class TSetupResources {
 public:
  // Reads both packages (the setup package first), then Install.xml from
  // them, collects the language files and fills the special folders.
  // Package errors ("Package was corrupted", stream errors) and a missing
  // Install.xml propagate.
  TSetupResources(kel::TKELStream& setupPackage, kel::TKELStream& productPackage);
  ~TSetupResources();
  TSetupResources(const TSetupResources&) = delete;
  TSetupResources& operator=(const TSetupResources&) = delete;

  // The packages of a setup program: its embedded SETUP and PRODUCT
  // resources or, when the program's file is named "Uninstall" (ignoring
  // case), its SETUP resource and the "Uninstall.dat" beside it.
  static std::unique_ptr<TSetupResources> OpenProgram(const std::string& programPath);

  // A new stream of the named file; the product-side package is searched
  // first. Fails with EInstallerInstallError "Cannot locate "%s" file in
  // setup archive".
  std::unique_ptr<kel::TKELStream> GetFile(std::string_view name) const;
  bool HasProductFile(std::string_view name) const;
  // The file's lines (byte order mark detected as for INI files).
  kel::TKELStringList GetStringList(std::string_view name) const;

  // The language text with "\n" turned into CR LF and the variables
  // expanded; empty when missing.
  std::string GetText(std::string_view section, std::string_view key) const;
  // [Common] key used as a format with the arguments.
  std::string FormatCommonText(std::string_view key, std::initializer_list<kel::TKELFormatArg> args) const;
  std::string GetLanguageFamily() const;
  // The licence for the language's family (or "EN"); nullptr when none.
  std::unique_ptr<kel::TKELStream> GetLicense() const;

  std::string ExpandVariables(std::string_view text) const;
  // ExpandVariables, then the path made valid for the file system.
  std::string ExpandPath(std::string_view text) const;

  // Loads English.lng, lets the dialog (none with AUTO) choose a language
  // from the entries, and merges the chosen file over English.
  void InitializeLanguages(ISetupLanguageDialog* dialog);

  kel::TKELIniFile& LanguageIni() { return languageIni_; }
  const std::string& LanguageName() const { return languageName_; }
  const kel::TKELStringList& Languages() const { return languages_; }
  TSetupScript& Script() { return *script_; }
  const TSetupPackageReader& SetupPackage() const { return *setupPackage_; }
  const TSetupPackageReader& ProductPackage() const { return *productPackage_; }

  // The file the product-side package was read from ("Uninstall.dat" beside
  // the uninstaller); empty when it came from the program itself.
  std::string ProductPackageFile;
  std::string CommonDesktopPath;
  std::string ProgramFilesPath;
  std::string ProgramFilesX86Path;
  std::string CommonProgramsPath;

 private:
  std::unique_ptr<TSetupScript> script_;
  kel::TKELIniFile languageIni_;
  std::string languageName_;
  kel::TKELStringList languages_;
  std::unique_ptr<TSetupPackageReader> productPackage_;
  std::unique_ptr<TSetupPackageReader> setupPackage_;
};

}  // namespace setup
