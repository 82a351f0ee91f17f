// Paths, files, folders and searches.
//
// Paths are UTF-8. When paths are taken apart, ':', '\' and '/' all count as
// delimiters, so Windows-style paths ("C:\Music\a.mp3") and Linux paths
// ("/opt/ORVI/ORVI") are handled alike; the delimiter the routines add is
// '/'. Names that contain ':' or '\' are therefore not supported. Folder
// paths handed out carry a trailing delimiter.
//
// Result contract: routines that touch the file system report failure by
// their result (false, "", 0, kelInvalidFileAttributes, nullptr) and never
// throw, except `kelTempPath` and `kelTempFileName`, which raise `EOSError`
// with the system's text. "Already absent" is not success: deleting a missing
// file gives false.
//
// Linux notes:
// - Paths go to the system unchanged; Linux accepts paths up to 4,095 bytes
//   without any prefix. `kelLongPath` keeps the Windows rule as a string
//   routine for Windows-style paths.
// - Attributes are derived from the file's status: faReadOnly = no write
//   permission bits, faHidden = a name beginning with '.', faSysFile =
//   devices, pipes and sockets (searches skip them), faSymLink = a symbolic
//   link. Only faReadOnly can be set.
// - Symbolic links to folders are followed by searches and copies (each
//   folder at most once per branch, so link cycles end), but never by
//   `kelDeleteDirectory`, which removes the link and leaves its target alone.
// - Entries of a folder are handed out in name order (ignoring case).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kel/base/error.h"
#include "kel/base/string_list.h"
#include "kel/platform/filesystem.h"

namespace kel {

// Raised by a search's receiver or folder filter to end the search quietly.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

inline constexpr char kelPathDelim = '/';
inline constexpr std::string_view kelPathDelimiters = ":\\/";

// --- Path strings (no file-system access) ----------------------------------

// Adds '/' unless the path ends with '/' or '\'; "" stays "".
std::string kelIncludeTrailingPathDelimiter(std::string_view path);
// Removes the trailing '/' or '\' (but never the only character).
std::string kelExcludeTrailingPathDelimiter(std::string_view path);
// Up to and including the last delimiter; "" when there is none.
std::string kelExtractFilePath(std::string_view path);
// After the last delimiter.
std::string kelExtractFileName(std::string_view path);
// Up to the last delimiter. A last '\' or '/' is dropped unless it is the
// first character or follows another delimiter: "C:\a\b.txt" -> "C:\a",
// "C:\b.txt" -> "C:\", "/opt/x" -> "/opt", "/x" -> "/"; a last ':' stays.
std::string kelExtractFileDir(std::string_view path);
// "C:" for "C:\x"; "\\server" for "\\server\share\x" (the whole path when it
// has no further '\'); for "\\?\" paths the drive of the rest; else "".
std::string kelExtractFileDrive(std::string_view path);
// The extension with its dot: the last of ' ', '.', '\', '/', ':' must be a
// '.'. URLs are looked at before their last '?'. With `doubleExt` a second
// extension in front joins it ("a.tar.gz" -> ".tar.gz").
std::string kelExtractFileExt(std::string_view path, bool doubleExt = false);
// The path with its extension replaced (appended when it has none); a URL's
// query stays in place.
std::string kelChangeFileExt(std::string_view path, std::string_view extension, bool doubleExt = false);
std::string kelExtractFileNameWithoutExt(std::string_view path);
// The last `count` parts, without leading or trailing delimiters
// ("C:\a\b\" with 1 -> "b", with 2 -> "a\b").
std::string kelExtractLastPathParts(std::string_view path, int count);
// The name of the folder a path is in ("/opt/ORVI/x.ini" -> "ORVI").
std::string kelExtractParentFolderName(std::string_view path);
// True when the ';'-terminated mask list ("*.bak;*.tmp;") holds "*" +
// extension + ";", ignoring case.
bool kelFileMaskListContains(std::string_view maskList, std::string_view extension);
// Begins with "\\".
bool kelIsUncFileName(std::string_view path);
// The first ':' is followed by "//" or "\\".
bool kelIsUrlFileName(std::string_view text);
// 1-based byte position of the last byte of `text` that is in `delimiters`;
// 0 when there is none.
size_t kelLastDelimiter(std::string_view delimiters, std::string_view text);
// A name every file system accepts: '"' becomes '\'', each of \ < > * : ? | /
// becomes `replacement` (or is dropped when it is '\0'), control characters
// go, leading spaces and trailing spaces and dots go (never the first
// character), and the result is cut to 255 bytes (Linux's limit), never
// inside a character.
std::string kelValidateFileName(std::string_view name, char replacement);
// Every part of a relative path validated; empty parts dropped; parts joined
// with '/'; a trailing delimiter kept when the path had one.
std::string kelValidatePath(std::string_view path);
// Like kelValidatePath, but a drive ("C:", "\\server") or the root '/' of an
// absolute path is kept in front.
std::string kelValidateFilePath(std::string_view path);
// The form a Windows system needs for a path of 260 or more UTF-16 units:
// "\\?\" + path, or "\\?\UNC\" + path without its first two characters for
// "\\server" paths; shorter or already prefixed paths unchanged. The Linux
// routines below do not use it.
std::string kelLongPath(std::string_view path);
// Natural order of names: runs of digits compare by their value, other runs
// ignoring case ("Disc 2" < "Disc 10"); < 0, 0, > 0.
int kelCompareLogical(std::string_view a, std::string_view b);

// --- Files and folders --------------------------------------------------------

enum : uint32_t {
  faReadOnly = 0x0001,
  faHidden = 0x0002,
  faSysFile = 0x0004,
  faDirectory = 0x0010,
  faArchive = 0x0020,
  faNormal = 0x0080,
  faSymLink = 0x0400,
};
inline constexpr uint32_t kelInvalidFileAttributes = 0xFFFFFFFF;

// The attributes, or kelInvalidFileAttributes for a missing or empty path.
uint32_t kelFileGetAttributes(const std::string& path);
bool kelFileExists(const std::string& path);
bool kelDirectoryExists(const std::string& path);
// Only faReadOnly has an effect (see above).
bool kelFileSetAttributes(const std::string& path, uint32_t attributes);
// Size of a file; 0 when it cannot be told.
int64_t kelFileGetSize(const std::string& path);
// Replaces an existing target unless `failIfExists` (atomically; a failed
// copy leaves the old target).
bool kelCopyFile(const std::string& source, const std::string& target, bool failIfExists);
// Renames or moves; never replaces.
bool kelMoveFile(const std::string& source, const std::string& target);
bool kelDeleteFile(const std::string& path);
// Only an empty folder.
bool kelRemoveDirectory(const std::string& path);
// Deletes the folder's entries of every kind but folders (files, links,
// pipes, sockets, devices; searches skip some of them, this does not) and,
// when recursive, its folders, stopping at the first failure, then removes
// the folder; the result is that removal's. Links are removed, never
// followed; a link to a folder counts as a folder. A folder holding a folder
// is therefore not removed without `recursive`, but its files are gone.
bool kelDeleteDirectory(const std::string& path, bool recursive);
// Creates every missing folder; false for "" or on failure.
bool kelForceDirectories(const std::string& path);
bool kelForceDirectoriesForFile(const std::string& file);
// Copies the accepted entries of `source` into `target` (created when there
// is something to copy), files replacing existing ones, folders only when
// recursive. The first failure stops the copy and gives false; what was
// copied before stays. False when `source` is not a folder.
bool kelCopyDirectory(const std::string& source, const std::string& target, std::string_view masks, bool recursive);
// kelCopyDirectory into target + the last part of source.
bool kelCopyDirectoryInto(const std::string& source, const std::string& target, std::string_view masks,
                          bool recursive);
// A path containing "./" or ".\" is made absolute against the current folder
// with "." and ".." resolved; others stay. (Linux has no short names, so '~'
// is an ordinary character.)
std::string kelExpandFileName(const std::string& path);
std::string kelGetCurrentDir();
bool kelSetCurrentDir(const std::string& path);
// The private temporary folder of this run (mode 0700, made once), with a
// trailing '/'. Raises EOSError.
std::string kelTempPath();
// A new empty file `prefix` + random + ".tmp" in kelTempPath(); raises
// EOSError.
std::string kelTempFileName(std::string_view prefix);
std::string kelModuleFileName();
std::string kelModuleFolder();

// --- Searches -----------------------------------------------------------------

// Kinds of entries a search wants.
enum : uint32_t { fkFiles = 1, fkFolders = 2, fkAll = 3 };

// One running search: the current entry and the rest of the listing.
struct TKELFindFileInfo {
  std::string Folder;  // with trailing delimiter
  std::string Name;
  int Kind = 0;  // 0 file, 1 folder
  uint32_t Attributes = 0;
  int64_t Size = 0;
  platform::FileId Id;
  std::string Masks;
  uint32_t Kinds = fkAll;

  std::string FullName() const { return Folder + Name; }

  // The folder's listing (read whole at the start) and the next position.
  std::vector<platform::DirectoryEntry> Entries;
  size_t Next = 0;
};

// An entry is accepted when it is not "." or "..", has no faSysFile, is of a
// wanted kind and, for files, passes the mask list (empty = no filter).
// `pattern` ("*" when empty) matches names with '*' and '?', ignoring case;
// "*.*" matches every name.
std::unique_ptr<TKELFindFileInfo> kelFindFirst(const std::string& folder, std::string_view masks,
                                               std::string_view pattern = "*", uint32_t kinds = fkAll);
// The next accepted entry; at the end the info is freed (set to nullptr).
bool kelFindNext(std::unique_ptr<TKELFindFileInfo>& info);
void kelFindClose(std::unique_ptr<TKELFindFileInfo>& info);
// The first file in the path's folder whose name matches the path's file
// name (which may hold wildcards; case is ignored).
bool kelFindFile(const std::string& path, std::string& fullName, int64_t& size);
// Every accepted file of the folder (not recursive), as full paths.
void kelEnumFiles(const std::string& folder, std::string_view masks, TKELStringList& receiver);
// Every accepted entry of the wanted kinds; when recursive, each accepted
// subfolder is enumerated first (depth first), then the folder's own
// entries are handed to the callback.
void kelEnumFilesEx(const std::string& folder, std::string_view masks, uint32_t kinds, bool recursive,
                    const std::function<void(const TKELFindFileInfo&)>& callback);

// A list of folders, each with a recursive flag and stored with a trailing
// delimiter. Text form: entries joined by ';', each '1' (recursive) or '0'
// followed by the folder ("1/home/u/Music/;0/media/x/"). All operations lock
// the list; Lock/Unlock hold it across several.
class TKELSearchPaths {
 public:
  struct TEntry {
    std::string Folder;
    bool Recursive = false;
  };

  TKELSearchPaths() = default;
  TKELSearchPaths(const TKELSearchPaths& other) { Assign(other); }
  TKELSearchPaths& operator=(const TKELSearchPaths& other) {
    if (this != &other) Assign(other);
    return *this;
  }
  virtual ~TKELSearchPaths() = default;

  void Lock() const { mutex_.lock(); }
  void Unlock() const { mutex_.unlock(); }

  // An empty folder is not added.
  virtual void Add(std::string_view folder, bool recursive);
  virtual void Clear();
  virtual void Assign(const TKELSearchPaths& source);
  // The folders as a new list; each item's tag is 1 when recursive.
  virtual TKELStringList GetFolders() const;

  int Count() const;
  TEntry Get(int index) const;

  std::string GetText() const;
  // Clears the list, then adds every non-empty entry; an entry whose first
  // character is anything but '0' is recursive.
  void SetText(std::string_view text);

  // True when `path` lies inside a listed folder or contains one, comparing
  // ignoring case.
  bool Contains(std::string_view path) const;

 private:
  mutable std::recursive_mutex mutex_;
  std::vector<TEntry> entries_;
};

// A file search below a start folder. Files (passing `Masks`) go to
// `Receiver` as full paths, folder by folder: first a folder's files, then
// its subfolders in natural order, each searched the same way when
// recursive. `OnFilterFolder` may refuse a folder (with its subtree).
// `Stop`, or an EAbort raised by the receiver or the filter, ends the whole
// search quietly.
class TKELSearch {
 public:
  std::function<void(const std::string& fileName)> Receiver;
  std::function<bool(const std::string& folder)> OnFilterFolder;
  std::string Masks;
  std::string StartFolder;

  virtual ~TKELSearch() = default;

  // Runs the search to its end (or until stopped).
  void Start(bool recursive);
  void Stop() { active_ = false; }
  bool Active() const { return active_; }
  bool Recursive() const { return recursive_; }

 private:
  void SearchFolder(const std::string& folder, std::vector<platform::FileId>& ancestors);

  bool recursive_ = false;
  std::atomic<bool> active_{false};
};

}  // namespace kel
