#include "kel/base/file_system.h"

#include <algorithm>

#include "kel/base/text.h"
#include "kel/platform/module.h"

namespace kel {

namespace {

bool IsDelimiter(char c) { return c == ':' || c == '\\' || c == '/'; }
bool IsSlash(char c) { return c == '\\' || c == '/'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t LastDelimiterIndex(std::string_view path) { return path.find_last_of(kelPathDelimiters); }

// Where the extension of `path` starts and where the part that is looked at
// ends (before a URL's query); start == npos when there is no extension.
struct ExtensionSpan {
  size_t start = std::string_view::npos;
  size_t end = 0;
};

ExtensionSpan FindExtension(std::string_view path, bool doubleExt) {
  ExtensionSpan span;
  span.end = path.size();
  if (kelIsUrlFileName(path)) {
    const size_t query = path.find_last_of('?');
    if (query != std::string_view::npos) span.end = query;
  }
  constexpr std::string_view kStops = " .\\/:";
  const std::string_view view = path.substr(0, span.end);
  const size_t dot = view.find_last_of(kStops);
  if (dot == std::string_view::npos || view[dot] != '.') return span;
  span.start = dot;
  if (doubleExt && dot > 0) {
    const size_t before = view.find_last_of(kStops, dot - 1);
    if (before != std::string_view::npos && view[before] == '.') span.start = before;
  }
  return span;
}

// The part of a path that holds its drive: "C:", "\\server", "\\?\C:".
size_t DriveLength(std::string_view path) {
  if (path.substr(0, 4) == "\\\\?\\") {
    const size_t rest = DriveLength(path.substr(4));
    return rest == 0 ? 0 : 4 + rest;
  }
  if (path.size() >= 2 && path[1] == ':') return 2;
  if (path.substr(0, 2) == "\\\\") {
    const size_t slash = path.find('\\', 2);
    return slash == std::string_view::npos ? path.size() : slash;
  }
  return 0;
}

// Wildcard match of a whole name, code point by code point ignoring case.
bool MatchWildcard(std::string_view pattern, std::string_view name) {
  if (pattern == "*" || pattern == "*.*") return true;
  std::u32string p, n;
  for (size_t i = 0; i < pattern.size();) p += kelCaseKey(kelNextCodePoint(pattern, i));
  for (size_t i = 0; i < name.size();) n += kelCaseKey(kelNextCodePoint(name, i));
  size_t pi = 0, ni = 0, starP = std::u32string::npos, starN = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == U'?' || p[pi] == n[ni])) {
      ++pi, ++ni;
    } else if (pi < p.size() && p[pi] == U'*') {
      starP = pi++;
      starN = ni;
    } else if (starP != std::u32string::npos) {
      pi = starP + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

uint32_t AttributesOf(std::string_view name, const platform::FileStatus& status) {
  uint32_t attributes = 0;
  if (status.kind == platform::FileKind::Directory) attributes |= faDirectory;
  if (status.kind == platform::FileKind::Other) attributes |= faSysFile;
  if (status.readOnly) attributes |= faReadOnly;
  if (status.isLink) attributes |= faSymLink;
  if (!name.empty() && name.front() == '.') attributes |= faHidden;
  return attributes == 0 ? faNormal : attributes;
}

bool Accepted(const TKELFindFileInfo& info) {
  if (info.Name == "." || info.Name == "..") return false;
  if (info.Attributes & faSysFile) return false;
  if (!(info.Kinds & (info.Kind == 1 ? fkFolders : fkFiles))) return false;
  if (info.Kind == 0 && !info.Masks.empty() && !kelFileMaskListContains(info.Masks, kelExtractFileExt(info.Name)))
    return false;
  return true;
}

// Moves to the next accepted entry of the listing.
bool Advance(TKELFindFileInfo& info) {
  while (info.Next < info.Entries.size()) {
    const platform::DirectoryEntry& entry = info.Entries[info.Next++];
    info.Name = entry.name;
    info.Kind = entry.status.kind == platform::FileKind::Directory ? 1 : 0;
    info.Attributes = AttributesOf(entry.name, entry.status);
    info.Size = static_cast<int64_t>(entry.status.size);
    info.Id = entry.status.id;
    if (Accepted(info)) return true;
  }
  return false;
}

bool Contains(const std::vector<platform::FileId>& ids, const platform::FileId& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

platform::FileId IdOf(const std::string& path) {
  platform::FileStatus status;
  return platform::GetFileStatus(path, status) ? status.id : platform::FileId{};
}

bool CopyDirectory(const std::string& source, const std::string& target, std::string_view masks, bool recursive,
                   std::vector<platform::FileId>& ancestors) {
  bool result = kelDirectoryExists(source);
  const std::string from = kelIncludeTrailingPathDelimiter(source);
  const std::string to = kelIncludeTrailingPathDelimiter(target);
  if (!result) return false;
  ancestors.push_back(IdOf(from));
  for (auto info = kelFindFirst(from, masks, "*", fkAll); info && result; kelFindNext(info)) {
    result = kelForceDirectories(to);
    if (!result) break;
    if (info->Kind == 0) {
      result = kelCopyFile(from + info->Name, to + info->Name, false);
    } else if (recursive && !Contains(ancestors, info->Id)) {
      result = CopyDirectory(from + info->Name, to + info->Name, masks, recursive, ancestors);
    }
  }
  ancestors.pop_back();
  return result;
}

void EnumFiles(const std::string& folder, std::string_view masks, uint32_t kinds, bool recursive,
               const std::function<void(const TKELFindFileInfo&)>& callback,
               std::vector<platform::FileId>& ancestors) {
  const std::string dir = kelIncludeTrailingPathDelimiter(folder);
  if (recursive) {
    ancestors.push_back(IdOf(dir));
    for (auto info = kelFindFirst(dir, "", "*", fkFolders); info; kelFindNext(info)) {
      if (!Contains(ancestors, info->Id)) EnumFiles(dir + info->Name, masks, kinds, recursive, callback, ancestors);
    }
    ancestors.pop_back();
  }
  for (auto info = kelFindFirst(dir, masks, "*", kinds); info; kelFindNext(info)) callback(*info);
}

}  // namespace

// --- Path strings ---------------------------------------------------------------

std::string kelIncludeTrailingPathDelimiter(std::string_view path) {
  if (path.empty() || IsSlash(path.back())) return std::string(path);
  return std::string(path) + kelPathDelim;
}

std::string kelExcludeTrailingPathDelimiter(std::string_view path) {
  if (path.size() > 1 && IsSlash(path.back())) path.remove_suffix(1);
  return std::string(path);
}

std::string kelExtractFilePath(std::string_view path) {
  const size_t i = LastDelimiterIndex(path);
  return i == std::string_view::npos ? std::string() : std::string(path.substr(0, i + 1));
}

std::string kelExtractFileName(std::string_view path) {
  const size_t i = LastDelimiterIndex(path);
  return std::string(i == std::string_view::npos ? path : path.substr(i + 1));
}

std::string kelExtractFileDir(std::string_view path) {
  const size_t i = LastDelimiterIndex(path);
  if (i == std::string_view::npos) return {};
  if (i > 0 && IsSlash(path[i]) && !IsDelimiter(path[i - 1])) return std::string(path.substr(0, i));
  return std::string(path.substr(0, i + 1));
}

std::string kelExtractFileDrive(std::string_view path) {
  if (path.substr(0, 4) == "\\\\?\\") return kelExtractFileDrive(path.substr(4));
  return std::string(path.substr(0, DriveLength(path)));
}

std::string kelExtractFileExt(std::string_view path, bool doubleExt) {
  const ExtensionSpan span = FindExtension(path, doubleExt);
  if (span.start == std::string_view::npos) return {};
  return std::string(path.substr(span.start, span.end - span.start));
}

std::string kelChangeFileExt(std::string_view path, std::string_view extension, bool doubleExt) {
  const ExtensionSpan span = FindExtension(path, doubleExt);
  const size_t cut = span.start == std::string_view::npos ? span.end : span.start;
  std::string result(path.substr(0, cut));
  result += extension;
  result += path.substr(span.end);
  return result;
}

std::string kelExtractFileNameWithoutExt(std::string_view path) {
  return kelChangeFileExt(kelExtractFileName(path), "");
}

std::string kelExtractLastPathParts(std::string_view path, int count) {
  if (count <= 0) return {};
  size_t end = path.size();
  while (end > 0 && IsDelimiter(path[end - 1])) --end;
  size_t start = end;
  for (int part = 0; part < count && start > 0; ++part) {
    if (part > 0) {
      while (start > 0 && IsDelimiter(path[start - 1])) --start;
      if (start == 0) break;
    }
    while (start > 0 && !IsDelimiter(path[start - 1])) --start;
  }
  while (start < end && IsDelimiter(path[start])) ++start;
  return std::string(path.substr(start, end - start));
}

std::string kelExtractParentFolderName(std::string_view path) {
  return kelExtractLastPathParts(kelExtractFileDir(path), 1);
}

bool kelFileMaskListContains(std::string_view maskList, std::string_view extension) {
  if (maskList.empty()) return false;
  const std::string needle = "*" + std::string(extension) + ";";
  return kelUpperCaseKeys(maskList).find(kelUpperCaseKeys(needle)) != std::string::npos;
}

bool kelIsUncFileName(std::string_view path) { return path.substr(0, 2) == "\\\\"; }

bool kelIsUrlFileName(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon + 2 >= text.size()) return false;
  const char a = text[colon + 1], b = text[colon + 2];
  return a == b && IsSlash(a);
}

size_t kelLastDelimiter(std::string_view delimiters, std::string_view text) {
  const size_t i = text.find_last_of(delimiters);
  return i == std::string_view::npos ? 0 : i + 1;
}

std::string kelValidateFileName(std::string_view name, char replacement) {
  std::string result;
  for (char c : name) {
    switch (c) {
      case '"': result += '\''; break;
      case '\\':
      case '<':
      case '>':
      case '*':
      case ':':
      case '?':
      case '|':
      case '/':
        if (replacement != '\0') result += replacement;
        break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20) result += c;
        break;
    }
  }
  const size_t first = result.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  result.erase(0, first);
  constexpr size_t kMaxName = 255;
  if (result.size() > kMaxName) {
    size_t cut = kMaxName;
    while (cut > 0 && (static_cast<unsigned char>(result[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    result.resize(cut);
  }
  while (result.size() > 1 && (result.back() == ' ' || result.back() == '.')) result.pop_back();
  return result;
}

std::string kelValidatePath(std::string_view path) {
  std::string result;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    const std::string part = kelValidateFileName(path.substr(start, end - start), '\0');
    if (!part.empty()) {
      if (!result.empty()) result += kelPathDelim;
      result += part;
    }
    start = end + 1;
  }
  if (!result.empty() && !path.empty() && IsSlash(path.back())) result += kelPathDelim;
  return result;
}

std::string kelValidateFilePath(std::string_view path) {
  const size_t drive = DriveLength(path);
  if (drive > 0) return std::string(path.substr(0, drive)) + kelPathDelim + kelValidatePath(path.substr(drive));
  if (!path.empty() && path.front() == '/') return "/" + kelValidatePath(path.substr(1));
  return kelValidatePath(path);
}

std::string kelLongPath(std::string_view path) {
  if (kelUtf16Length(path) < 260 || kelStartsText("\\\\?\\", path)) return std::string(path);
  if (kelIsUncFileName(path)) return "\\\\?\\UNC\\" + std::string(path.substr(2));
  return "\\\\?\\" + std::string(path);
}

int kelCompareLogical(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool digitA = IsDigit(a[i]), digitB = IsDigit(b[j]);
    size_t endA = i, endB = j;
    while (endA < a.size() && IsDigit(a[endA]) == digitA) ++endA;
    while (endB < b.size() && IsDigit(b[endB]) == digitB) ++endB;
    std::string_view runA = a.substr(i, endA - i), runB = b.substr(j, endB - j);
    int order;
    if (digitA && digitB) {
      // By value: without leading zeros, a longer run is larger.
      const size_t zerosA = std::min(runA.find_first_not_of('0'), runA.size() - 1);
      const size_t zerosB = std::min(runB.find_first_not_of('0'), runB.size() - 1);
      const std::string_view valueA = runA.substr(zerosA), valueB = runB.substr(zerosB);
      order = valueA.size() != valueB.size() ? (valueA.size() < valueB.size() ? -1 : 1) : valueA.compare(valueB);
    } else {
      order = kelCompareText(runA, runB);
    }
    if (order != 0) return order < 0 ? -1 : 1;
    i = endA;
    j = endB;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  const int bytes = a.compare(b);  // equal ignoring case and zeros: keep a fixed order
  return bytes < 0 ? -1 : bytes > 0 ? 1 : 0;
}

// --- Files and folders ------------------------------------------------------------

uint32_t kelFileGetAttributes(const std::string& path) {
  platform::FileStatus status;
  if (path.empty() || !platform::GetFileStatus(path, status)) return kelInvalidFileAttributes;
  return AttributesOf(kelExtractFileName(kelExcludeTrailingPathDelimiter(path)), status);
}

bool kelFileExists(const std::string& path) {
  const uint32_t attributes = kelFileGetAttributes(path);
  return attributes != kelInvalidFileAttributes && !(attributes & faDirectory);
}

bool kelDirectoryExists(const std::string& path) {
  const uint32_t attributes = kelFileGetAttributes(path);
  return attributes != kelInvalidFileAttributes && (attributes & faDirectory);
}

bool kelFileSetAttributes(const std::string& path, uint32_t attributes) {
  return platform::SetReadOnly(path, (attributes & faReadOnly) != 0);
}

int64_t kelFileGetSize(const std::string& path) {
  platform::FileStatus status;
  if (platform::GetFileStatus(path, status)) return static_cast<int64_t>(status.size);
  std::string found;
  int64_t size = 0;
  return kelFindFile(path, found, size) ? size : 0;
}

bool kelCopyFile(const std::string& source, const std::string& target, bool failIfExists) {
  return platform::CopyFile(source, target, failIfExists);
}

bool kelMoveFile(const std::string& source, const std::string& target) { return platform::MoveFile(source, target); }

bool kelDeleteFile(const std::string& path) { return platform::DeleteFile(path); }

bool kelRemoveDirectory(const std::string& path) { return platform::RemoveDirectory(path); }

bool kelDeleteDirectory(const std::string& path, bool recursive) {
  if (path.empty()) return false;
  const std::string folder = kelExcludeTrailingPathDelimiter(path);
  platform::FileStatus status;
  if (platform::GetFileStatus(folder, status) && status.isLink) return platform::DeleteFile(folder);  // not its target
  const std::string dir = kelIncludeTrailingPathDelimiter(folder);
  // Every entry, not only those a search accepts: a pipe or a socket left
  // behind would keep the folder for ever.
  std::vector<platform::DirectoryEntry> entries;
  platform::ReadDirectory(dir, entries);
  for (const platform::DirectoryEntry& entry : entries) {
    const std::string full = dir + entry.name;
    bool ok = true;
    if (entry.status.kind != platform::FileKind::Directory) {
      ok = platform::DeleteFile(full);
    } else if (recursive) {
      ok = entry.status.isLink ? platform::DeleteFile(full) : kelDeleteDirectory(full, true);  // a link is a link
    }
    if (!ok) break;
  }
  return platform::RemoveDirectory(folder);
}

bool kelForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  return platform::CreateDirectories(kelExcludeTrailingPathDelimiter(path));
}

bool kelForceDirectoriesForFile(const std::string& file) { return kelForceDirectories(kelExtractFilePath(file)); }

bool kelCopyDirectory(const std::string& source, const std::string& target, std::string_view masks, bool recursive) {
  std::vector<platform::FileId> ancestors;
  return CopyDirectory(source, target, masks, recursive, ancestors);
}

bool kelCopyDirectoryInto(const std::string& source, const std::string& target, std::string_view masks,
                          bool recursive) {
  return kelCopyDirectory(source, kelIncludeTrailingPathDelimiter(target) + kelExtractLastPathParts(source, 1), masks,
                          recursive);
}

std::string kelExpandFileName(const std::string& path) {
  if (path.find("./") == std::string::npos && path.find(".\\") == std::string::npos) return path;
  return platform::AbsolutePath(path);
}

std::string kelGetCurrentDir() { return kelIncludeTrailingPathDelimiter(platform::CurrentDirectory()); }

bool kelSetCurrentDir(const std::string& path) { return platform::SetCurrentDirectory(path); }

std::string kelTempPath() {
  std::string error;
  std::string folder = platform::TemporaryDirectory(&error);
  if (folder.empty()) throw EOSError(error);
  return folder;
}

std::string kelTempFileName(std::string_view prefix) {
  std::string error;
  std::string file = platform::CreateTemporaryFile(kelTempPath(), std::string(prefix), &error);
  if (file.empty()) throw EOSError(error);
  return file;
}

std::string kelModuleFileName() { return platform::ExecutablePath(); }

std::string kelModuleFolder() { return kelExtractFilePath(kelModuleFileName()); }

// --- Searches ---------------------------------------------------------------------

std::unique_ptr<TKELFindFileInfo> kelFindFirst(const std::string& folder, std::string_view masks,
                                               std::string_view pattern, uint32_t kinds) {
  auto info = std::make_unique<TKELFindFileInfo>();
  info->Folder = kelIncludeTrailingPathDelimiter(folder);
  info->Masks = masks;
  info->Kinds = kinds;
  if (!platform::ReadDirectory(info->Folder.empty() ? "." : info->Folder, info->Entries)) return nullptr;
  if (pattern.empty()) pattern = "*";
  std::erase_if(info->Entries, [&](const platform::DirectoryEntry& entry) { return !MatchWildcard(pattern, entry.name); });
  std::sort(info->Entries.begin(), info->Entries.end(), [](const auto& a, const auto& b) {
    const int order = kelCompareText(a.name, b.name);
    return order != 0 ? order < 0 : a.name < b.name;
  });
  if (!Advance(*info)) return nullptr;
  return info;
}

bool kelFindNext(std::unique_ptr<TKELFindFileInfo>& info) {
  if (!info) return false;
  if (Advance(*info)) return true;
  info.reset();
  return false;
}

void kelFindClose(std::unique_ptr<TKELFindFileInfo>& info) { info.reset(); }

bool kelFindFile(const std::string& path, std::string& fullName, int64_t& size) {
  const std::string name = kelExtractFileName(path);
  if (name.empty()) return false;
  const auto info = kelFindFirst(kelExtractFilePath(path), "", name, fkFiles);
  if (!info) return false;
  fullName = info->FullName();
  size = info->Size;
  return true;
}

void kelEnumFiles(const std::string& folder, std::string_view masks, TKELStringList& receiver) {
  kelEnumFilesEx(folder, masks, fkFiles, false, [&](const TKELFindFileInfo& info) { receiver.Add(info.FullName()); });
}

void kelEnumFilesEx(const std::string& folder, std::string_view masks, uint32_t kinds, bool recursive,
                    const std::function<void(const TKELFindFileInfo&)>& callback) {
  std::vector<platform::FileId> ancestors;
  EnumFiles(folder, masks, kinds, recursive, callback, ancestors);
}

// --- TKELSearchPaths ----------------------------------------------------------------

void TKELSearchPaths::Add(std::string_view folder, bool recursive) {
  if (folder.empty()) return;
  std::lock_guard lock(mutex_);
  entries_.push_back({kelIncludeTrailingPathDelimiter(folder), recursive});
}

void TKELSearchPaths::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

void TKELSearchPaths::Assign(const TKELSearchPaths& source) {
  if (&source == this) return;
  std::vector<TEntry> copy;
  {
    std::lock_guard lock(source.mutex_);
    copy = source.entries_;
  }
  std::lock_guard lock(mutex_);
  entries_ = std::move(copy);
}

TKELStringList TKELSearchPaths::GetFolders() const {
  std::lock_guard lock(mutex_);
  TKELStringList folders;
  for (const TEntry& entry : entries_) folders.Add(entry.Folder, entry.Recursive ? 1 : 0);
  return folders;
}

int TKELSearchPaths::Count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(entries_.size());
}

TKELSearchPaths::TEntry TKELSearchPaths::Get(int index) const {
  std::lock_guard lock(mutex_);
  return entries_.at(static_cast<size_t>(index));
}

std::string TKELSearchPaths::GetText() const {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const TEntry& entry : entries_) {
    if (!text.empty()) text += ';';
    text += entry.Recursive ? '1' : '0';
    text += entry.Folder;
  }
  return text;
}

void TKELSearchPaths::SetText(std::string_view text) {
  std::lock_guard lock(mutex_);
  Clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view entry = text.substr(start, end - start);
    if (!entry.empty()) Add(entry.substr(1), entry.front() != '0');
    start = end + 1;
  }
}

bool TKELSearchPaths::Contains(std::string_view path) const {
  const std::string candidate = kelIncludeTrailingPathDelimiter(path);
  if (candidate.empty()) return false;
  std::lock_guard lock(mutex_);
  return std::any_of(entries_.begin(), entries_.end(), [&](const TEntry& entry) {
    return kelStartsText(entry.Folder, candidate) || kelStartsText(candidate, entry.Folder);
  });
}

// --- TKELSearch -----------------------------------------------------------------------

void TKELSearch::Start(bool recursive) {
  recursive_ = recursive;
  active_ = true;
  std::vector<platform::FileId> ancestors;
  try {
    SearchFolder(kelIncludeTrailingPathDelimiter(StartFolder), ancestors);
  } catch (const EAbort&) {
    // an abort ends the search quietly
  }
  active_ = false;
}

void TKELSearch::SearchFolder(const std::string& folder, std::vector<platform::FileId>& ancestors) {
  if (!active_ || (OnFilterFolder && !OnFilterFolder(folder))) return;
  struct Subfolder {
    std::string name;
    platform::FileId id;
  };
  std::vector<Subfolder> subfolders;
  for (auto info = kelFindFirst(folder, Masks, "*", recursive_ ? fkAll : fkFiles); info; kelFindNext(info)) {
    if (!active_) return;
    if (info->Kind == 0) {
      if (Receiver) Receiver(info->FullName());
    } else {
      subfolders.push_back({info->Name, info->Id});
    }
  }
  std::sort(subfolders.begin(), subfolders.end(),
            [](const Subfolder& a, const Subfolder& b) { return kelCompareLogical(a.name, b.name) < 0; });
  ancestors.push_back(IdOf(folder));
  for (const Subfolder& subfolder : subfolders) {
    if (!active_) break;
    if (!Contains(ancestors, subfolder.id)) SearchFolder(folder + subfolder.name + kelPathDelim, ancestors);
  }
  ancestors.pop_back();
}

}  // namespace kel
