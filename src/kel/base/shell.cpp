#include "kel/base/shell.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "kel/base/file_system.h"
#include "kel/platform/shell.h"
#include "kel/platform/well_known_folders.h"

namespace kel {

namespace {

std::atomic<int> lastFileOperationResult{kelFoDone};

std::string TempFolderOrEmpty() {
  try {
    return kelTempPath();
  } catch (const Exception&) {
    return {};
  }
}

// "a\r\nb" -> {"a", "b"}; an empty entry ends the list.
std::vector<std::string> SplitList(std::string_view list) {
  std::vector<std::string> items;
  while (!list.empty()) {
    const size_t end = list.find("\r\n");
    const std::string_view item = list.substr(0, end);
    if (item.empty()) break;
    items.emplace_back(item);
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 2);
  }
  return items;
}

// Sources with their wildcards expanded (files and folders).
std::vector<std::string> ExpandSources(const std::vector<std::string>& sources) {
  std::vector<std::string> expanded;
  for (const std::string& source : sources) {
    const std::string name = kelExtractFileName(source);
    if (name.find_first_of("*?") == std::string::npos) {
      expanded.push_back(kelExcludeTrailingPathDelimiter(source));
      continue;
    }
    for (auto info = kelFindFirst(kelExtractFilePath(source), "", name, fkAll); info; kelFindNext(info))
      expanded.push_back(info->FullName());
  }
  return expanded;
}

bool Exists(const std::string& path) { return kelFileGetAttributes(path) != kelInvalidFileAttributes; }

// A full copy of a folder, empty folders included.
bool CopyTree(const std::string& source, const std::string& target, std::vector<platform::FileId>& ancestors) {
  const std::string from = kelIncludeTrailingPathDelimiter(source);
  const std::string to = kelIncludeTrailingPathDelimiter(target);
  if (!kelForceDirectories(to)) return false;
  platform::FileStatus status;
  if (!platform::GetFileStatus(from, status)) return false;
  ancestors.push_back(status.id);
  bool ok = true;
  for (auto info = kelFindFirst(from, "", "*", fkAll); info && ok; kelFindNext(info)) {
    if (info->Kind == 0) {
      ok = kelCopyFile(from + info->Name, to + info->Name, false);
    } else if (std::find(ancestors.begin(), ancestors.end(), info->Id) == ancestors.end()) {
      ok = CopyTree(from + info->Name, to + info->Name, ancestors);
    }
  }
  ancestors.pop_back();
  return ok;
}

bool CopyItem(const std::string& source, const std::string& target) {
  if (kelDirectoryExists(source)) {
    std::vector<platform::FileId> ancestors;
    return CopyTree(source, target, ancestors);
  }
  return kelForceDirectoriesForFile(target) && kelCopyFile(source, target, false);
}

bool MoveItem(const std::string& source, const std::string& target) {
  const bool folder = kelDirectoryExists(source);
  // Never into itself.
  const std::string inside = kelIncludeTrailingPathDelimiter(source);
  if (folder && kelIncludeTrailingPathDelimiter(target).compare(0, inside.size(), inside) == 0) return false;
  if (kelForceDirectoriesForFile(target) && kelMoveFile(source, target)) return true;
  if (folder) return CopyItem(source, target) && kelDeleteDirectory(source, true);
  return kelCopyFile(source, target, false) && kelDeleteFile(source);
}

int RunFileOperation(const std::string& from, const std::string& to, int operation) {
  const std::vector<std::string> sources = ExpandSources(SplitList(from));
  const std::vector<std::string> targets = SplitList(to);
  if (SplitList(from).empty()) return kelFoBadArguments;
  switch (operation) {
    case foDelete:
      for (const std::string& source : sources) {
        if (!Exists(source)) return kelFoNoSource;
        const bool ok = kelDirectoryExists(source) ? kelDeleteDirectory(source, true) : kelDeleteFile(source);
        if (!ok) return kelFoFailed;
      }
      return kelFoDone;
    case foRename:
      if (sources.size() != 1 || targets.size() != 1) return kelFoBadArguments;
      if (!Exists(sources[0])) return kelFoNoSource;
      return kelMoveFile(sources[0], targets[0]) ? kelFoDone : kelFoFailed;
    case foMove:
    case foCopy: {
      if (targets.size() != 1) return kelFoBadArguments;
      const std::string& destination = targets[0];
      const bool intoFolder = sources.size() > 1 || kelDirectoryExists(destination);
      for (const std::string& source : sources) {
        if (!Exists(source)) return kelFoNoSource;
        const std::string target =
            intoFolder ? kelIncludeTrailingPathDelimiter(destination) + kelExtractFileName(source) : destination;
        const bool ok = operation == foCopy ? CopyItem(source, target) : MoveItem(source, target);
        if (!ok) return kelFoFailed;
      }
      return kelFoDone;
    }
    default: return kelFoBadArguments;
  }
}

}  // namespace

bool kelShellExecute(const std::string& file, const std::string& parameters) {
  return !file.empty() && platform::ShellOpen(file, parameters);
}

bool kelShellExecute(const std::string& file) { return kelShellExecute(file, ""); }

bool kelShellExecuteUrl(const std::string& text) {
  if (text.empty()) return false;
  if (text.find("//") != std::string::npos || kelDirectoryExists(text)) return kelShellExecute(text);
  return kelShellExecute("http://" + text);
}

std::string kelShellGetSpecialFolder(int folderId) {
  using platform::SpecialFolder;
  std::string folder;
  switch (folderId) {
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY: folder = platform::GetSpecialFolder(SpecialFolder::Desktop); break;
    case CSIDL_COMMON_DESKTOPDIRECTORY: folder = platform::GetSpecialFolder(SpecialFolder::CommonDesktop); break;
    case CSIDL_PROGRAMS: folder = platform::GetSpecialFolder(SpecialFolder::Programs); break;
    case CSIDL_STARTMENU: folder = platform::GetSpecialFolder(SpecialFolder::StartMenu); break;
    case CSIDL_COMMON_PROGRAMS: folder = platform::GetSpecialFolder(SpecialFolder::CommonPrograms); break;
    case CSIDL_COMMON_STARTMENU: folder = platform::GetSpecialFolder(SpecialFolder::CommonStartMenu); break;
    case CSIDL_PERSONAL: folder = platform::GetSpecialFolder(SpecialFolder::Documents); break;
    case CSIDL_MYMUSIC: folder = platform::GetSpecialFolder(SpecialFolder::Music); break;
    case CSIDL_MYVIDEO: folder = platform::GetSpecialFolder(SpecialFolder::Videos); break;
    case CSIDL_MYPICTURES: folder = platform::GetSpecialFolder(SpecialFolder::Pictures); break;
    case CSIDL_APPDATA: folder = platform::GetSpecialFolder(SpecialFolder::AppData); break;
    case CSIDL_LOCAL_APPDATA: folder = platform::GetSpecialFolder(SpecialFolder::LocalAppData); break;
    case CSIDL_COMMON_APPDATA: folder = platform::GetSpecialFolder(SpecialFolder::CommonAppData); break;
    case CSIDL_SYSTEM: folder = platform::GetSpecialFolder(SpecialFolder::System); break;
    case CSIDL_PROGRAM_FILES: folder = platform::GetSpecialFolder(SpecialFolder::ProgramFiles); break;
    default: break;
  }
  return folder.empty() ? TempFolderOrEmpty() : kelIncludeTrailingPathDelimiter(folder);
}

std::string kelShellGetAppData() { return kelShellGetSpecialFolder(CSIDL_APPDATA); }
std::string kelShellGetDesktop() { return kelShellGetSpecialFolder(CSIDL_DESKTOP); }
std::string kelShellGetStartMenu() { return kelShellGetSpecialFolder(CSIDL_STARTMENU); }
std::string kelShellGetSystemDir() { return kelShellGetSpecialFolder(CSIDL_SYSTEM); }

bool kelShellCreateLink(const std::string& linkFile, const std::string& target) {
  return !linkFile.empty() && kelFileExists(target) && platform::WriteShortcut(linkFile, target);
}

std::string kelShellGetLinkTarget(const std::string& linkFile) { return platform::ReadShortcutTarget(linkFile); }

TKELModule kelLoadLibrary(const std::string& path, uint32_t /*flags*/) { return platform::LoadLibrary(path); }

void* kelGetProcAddress(TKELModule module, const char* name) { return platform::LibrarySymbol(module, name); }

void kelFreeLibrary(TKELModule module) { platform::FreeLibrary(module); }

void kelShellNotifyAssociationsChanged() { platform::NotifyApplicationsChanged(); }

bool kelShellFileOperation(const std::string& from, const std::string& to, int operation, uint32_t /*flags*/) {
  const int result = RunFileOperation(from, to, operation);
  lastFileOperationResult = result;
  return result == kelFoDone;
}

int kelShellFileOperationResult() { return lastFileOperationResult; }

bool kelShellDeleteFolder(const std::string& path, uint32_t flags) {
  return kelShellFileOperation(kelExcludeTrailingPathDelimiter(path), "", foDelete, flags);
}

}  // namespace kel
