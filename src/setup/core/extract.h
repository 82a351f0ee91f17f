// Writing the product's files and the uninstall data, and the small file
// services the product's actions share: the (source, target) file list,
// deletion that falls back to moving a file aside, and running a program to
// its end.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/stream.h"
#include "setup/core/action.h"

namespace kel {
class TKELIniFile;
}

namespace setup {

class TSetupScriptFile;

// Writes script files to disk; owned by the session.
class TSetupExtractHelper {
 public:
  // Writes one item of the script to its expanded target; a program (an
  // ELF image or a "#!" script) is made executable. Any failure becomes
  // EInstallerInstallError "<target>\r\n<reason>".
  void ExtractFile(const TSetupScriptFile& item);
  // Opens the target for writing (true), or decides to leave it as it is
  // (false): a target that cannot be opened but already holds the content is
  // skipped; one with other content is renamed to "<target>.bak" and opened
  // again; if that fails too, the user is asked (Abort, Retry, Ignore).
  bool CreateTargetStream(const std::string& target, kel::TKELStream& source,
                          std::unique_ptr<kel::TKELBufferedFileStream>& stream);
  // Copies the running program to <folder>Uninstall, writes
  // <folder>Uninstall.dat with the log of the given items and, unless the
  // run is portable, registers the installation.
  void WriteUninstallData(const std::string& folder, const std::vector<const TSetupScriptFile*>& items);
};

// The engine's extraction action.
class TSetupActionExtract : public TSetupAction {
 public:
  void Execute() override;
};

struct TSetupFileListItem {
  std::string Target;
  std::string Source;
};

class TSetupFileList {
 public:
  void Add(const std::string& source, const std::string& target) { items_.push_back({target, source}); }
  // Every file below root except those whose path begins (ignoring case)
  // with excludedPrefix, as (path, targetRoot + path relative to root).
  void AddFolder(const std::string& root, const std::string& excludedPrefix, const std::string& targetRoot);
  // Removes every item whose source file name equals fileName (ignoring case).
  void RemoveByName(std::string_view fileName);

  size_t Count() const { return items_.size(); }
  const TSetupFileListItem& operator[](size_t index) const { return items_[index]; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<TSetupFileListItem> items_;
};

// Deletes an existing file. When that fails, moves it to a new name in the
// private temporary folder (where it is deleted later) so the path is free.
void DeleteFileOrSchedule(const std::string& path);

// Starts a command line (the program is the shortest space-separated prefix
// that names an executable file, the rest its parameters, split as Windows
// programs split them) and waits for it to end. False when it could not be
// started. The exit code is not examined.
bool RunAndWait(const std::string& commandLine);

}  // namespace setup
