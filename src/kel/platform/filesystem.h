// Files and folders as the operating system sees them: status, copying,
// moving, deleting, folders, listings, the current folder and the private
// temporary folder of this run.
//
// Paths are UTF-8 and use '/' as the only separator; they are passed to the
// system unchanged (Linux accepts paths up to 4,095 bytes, names up to 255).
//
// Result contract: every routine reports failure through its result (false,
// an empty string) and, when `error` is given, stores the system's error text
// there. None of them throws. A routine that fails changes nothing unless its
// comment says otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kel::platform {

// Identity of a file or folder on this machine (device and inode).
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};

enum class FileKind : uint8_t {
  File,       // a regular file, or a symbolic link whose target is missing
  Directory,  // a folder
  Other,      // a device, pipe or socket
};

struct FileStatus {
  FileKind kind = FileKind::File;
  bool isLink = false;    // the path itself is a symbolic link
  bool dangling = false;  // ... whose target does not exist
  bool readOnly = false;  // nobody has write permission
  uint64_t size = 0;      // bytes of a file (0 for folders)
  FileId id;              // of the target for a link that resolves
};

// Status of the path, following a symbolic link to its target; a link whose
// target is missing is reported as a dangling file. False when the path
// does not exist.
bool GetFileStatus(const std::string& path, FileStatus& status, std::string* error = nullptr);

// Read-only means "no write permission bits": setting it removes them all,
// clearing it gives the owner write permission back.
bool SetReadOnly(const std::string& path, bool readOnly, std::string* error = nullptr);

// Copies a regular file with its permission bits and modification time. With
// `failIfExists` an existing target is an error; otherwise the target is
// replaced atomically (the copy is written beside it and renamed over it), so
// a failed copy leaves the old target intact. A running program can be
// replaced this way.
bool CopyFile(const std::string& source, const std::string& target, bool failIfExists,
              std::string* error = nullptr);

// Renames or moves a file or folder; never replaces an existing target. A
// regular file is moved across file systems by copying it and deleting the
// source; folders are not.
bool MoveFile(const std::string& source, const std::string& target, std::string* error = nullptr);

// Renames `source` over `target`, replacing it in one step (a running
// program can be replaced this way); both must be on one file system.
bool ReplaceFile(const std::string& source, const std::string& target, std::string* error = nullptr);

// Gives everyone who may read the file the right to execute it, or takes
// execution rights away.
bool SetExecutable(const std::string& path, bool executable, std::string* error = nullptr);

// Deletes a file or a symbolic link (never follows it); folders are refused.
// Linux deletes files that are in use: whoever has one open keeps its data.
bool DeleteFile(const std::string& path, std::string* error = nullptr);

// Removes an empty folder.
bool RemoveDirectory(const std::string& path, std::string* error = nullptr);

// Creates the folder and every missing folder above it (mode 0777 minus the
// umask). True when the folder exists afterwards.
bool CreateDirectories(const std::string& path, std::string* error = nullptr);

struct DirectoryEntry {
  std::string name;
  FileStatus status;
};

// Every entry of a folder except "." and "..", in the system's order.
bool ReadDirectory(const std::string& folder, std::vector<DirectoryEntry>& entries, std::string* error = nullptr);

// The current folder without a trailing '/' ("" when the system cannot tell).
std::string CurrentDirectory();
bool SetCurrentDirectory(const std::string& path, std::string* error = nullptr);

// The absolute form of a path: a relative path is put below the current
// folder; "." and ".." parts are resolved lexically (symbolic links are not
// resolved).
std::string AbsolutePath(const std::string& path);

// The absolute form of a path with every symbolic link resolved, as far as
// the path exists; the rest, which does not exist yet, follows as written
// (lexically normalised). "" for an empty path.
std::string ResolvedPath(const std::string& path);

// Whether two paths name regular files with the same bytes. Neither is
// waited for (a pipe is not read) nor read whole into memory.
bool SameFileContent(const std::string& first, const std::string& second);

// The temporary folder of this run, with a trailing '/': a folder with a
// random name and mode 0700, made once per process below $TMPDIR (or /tmp),
// in the sandbox below DIR/tmp/. Nobody else can have prepared it, nor
// rename it or put another in its place: the folder it is made in must be
// one that only the administrator (or this process's user) may change, or
// a sticky one such as /tmp (see OnlyAdministratorMayChange in
// file_details.h); otherwise none is made. When it has disappeared
// meanwhile a new one is made. "" on failure.
std::string TemporaryDirectory(std::string* error = nullptr);

// Creates a new, empty file with a unique name `prefix` + six random
// characters + ".tmp" in `folder` (which ends with '/'); its path, or "".
std::string CreateTemporaryFile(const std::string& folder, const std::string& prefix,
                                std::string* error = nullptr);

// Whether `folder` is the private temporary folder of a run of this program,
// made by this process or by another one: a folder as TemporaryDirectory
// makes them (named orvi-setup-XXXXXX, directly in the folder they are made
// in, not a link, belonging to this user alone). Only asks: creates nothing.
bool IsTemporaryDirectory(const std::string& folder);

// Deletion at the next restart. Linux has no such service and needs none for
// files in use: they can be deleted at once (whoever has one open keeps its
// data). A file inside the private temporary folder of a run (see
// IsTemporaryDirectory) is left there for the system, which clears the
// temporary folders when it starts: the setup moves files it cannot delete
// there and runs its relocated copy from there, so they must live on until
// then. True when it exists. Any other file is deleted now, also one that
// lies elsewhere below the temporary folders ($TMPDIR or /tmp).
bool DeleteAtRestart(const std::string& path, std::string* error = nullptr);

}  // namespace kel::platform
