// Working below a folder that someone else controls, such as a user's home
// folder seen by a process that runs as root, so that no symbolic link and
// no folder swapped for a link can lead the work outside that folder.
//
// The folder (the root) is opened once by its path: links above it and the
// root itself are followed, since they belong to whoever set up the machine.
// Every path below it is walked one part at a time from an open folder, each
// part opened without following a link. A link anywhere below the root is
// therefore seen as a link and never followed, and a folder that was swapped
// for a link after it had been listed is refused when it is reached again.
// Deleting, renaming and creating act on an entry of an open folder, never on
// a path looked up again later.
//
// With an owner, the root must belong to that user (in the sandbox, where the
// person testing owns the whole machine folder, their own folders count too),
// and what is created below it is given to that user and their group when
// this process may give files away (as root); otherwise the process's own
// user keeps it. A regular file with more than one name (a hard link) is read
// or copied only when it belongs to that owner (or, in the sandbox, to this
// process's user): another name of someone else's file is not the user's
// file.
//
// Relative paths are '/'-separated parts below the root; empty parts and a
// trailing '/' are ignored, "." and ".." parts are refused; "" names the root
// itself.
//
// Result contract: every routine reports failure through its result (false,
// null, an invalid handle) and, when `error` is given, stores the system's
// error text there; nothing throws. A routine that fails changes nothing
// unless its comment says otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kel/platform/file.h"

namespace kel::platform {

struct FileOwner {
  uint32_t uid = 0;
  uint32_t gid = 0;
};

enum class EntryKind : uint8_t {
  File,       // a regular file
  Directory,  // a folder
  Link,       // a symbolic link (never followed)
  Other,      // a device, pipe or socket
};

// What a folder records about one of its entries, the entry itself and not
// what a link leads to.
struct ConfinedEntry {
  std::string name;
  EntryKind kind = EntryKind::File;
  uint64_t size = 0;         // bytes of a file, of a link's target text; 0 for the rest
  uint32_t permissions = 0;  // the permission bits (07777)
  int64_t modified = 0;      // last modification, seconds since 1970-01-01 UTC
  uint32_t owner = 0;        // user id of the owner
};

class ConfinedFolder {
 public:
  // Opens the folder `root`. With `owner`, a root that belongs to another
  // user is refused (see above). Null on failure.
  static std::unique_ptr<ConfinedFolder> Open(const std::string& root, std::optional<FileOwner> owner,
                                              std::string* error = nullptr);
  ~ConfinedFolder();
  ConfinedFolder(const ConfinedFolder&) = delete;
  ConfinedFolder& operator=(const ConfinedFolder&) = delete;

  // The root as it was opened, with a trailing '/'.
  const std::string& Path() const { return path_; }

  // The entry itself (a link is reported as a link).
  bool Examine(std::string_view relative, ConfinedEntry& entry, std::string* error = nullptr) const;
  // Every entry of a folder except "." and "..", in the system's order; an
  // entry that vanishes while it is listed is left out.
  bool ReadDirectory(std::string_view relative, std::vector<ConfinedEntry>& entries,
                     std::string* error = nullptr) const;
  // The text a symbolic link holds.
  bool ReadLink(std::string_view relative, std::string& target, std::string* error = nullptr) const;
  // Opens a regular file for reading with the share mode's lock (file.h);
  // links, folders, pipes and devices are refused, and so is a hard link to
  // someone else's file.
  FileHandle OpenFile(std::string_view relative, FileShare share, std::string* error = nullptr) const;

  // Deletes a file or a link (the link, not its target); folders are refused.
  bool DeleteFile(std::string_view relative, std::string* error = nullptr) const;
  // Removes an empty folder; a link is refused.
  bool RemoveDirectory(std::string_view relative, std::string* error = nullptr) const;
  // Deletes a folder with everything in it; links in it are removed, never
  // followed. A file or a link is simply deleted. As much as can be deleted
  // is; false when anything stayed. The root itself is refused.
  bool DeleteTree(std::string_view relative, std::string* error = nullptr) const;
  // Creates every missing folder of the path (mode 0777 minus the umask),
  // given to the owner. True when the folder exists afterwards; a link on
  // the way fails. What was created before a failure stays.
  bool CreateDirectories(std::string_view relative, std::string* error = nullptr) const;
  // Renames or moves an entry within the root; never replaces.
  bool MoveFile(std::string_view source, std::string_view target, std::string* error = nullptr) const;
  // Writes a whole file (replacing an existing entry of that name in one
  // step: a link there is replaced, not followed), with the permission bits,
  // given to the owner. The file's folder must exist.
  bool WriteFile(std::string_view relative, std::string_view bytes, uint32_t permissions,
                 std::string* error = nullptr) const;
  // Copies the folder `source` into the folder `target` (created as
  // needed): folders and files with their permission bits (and files with
  // their modification times), links as links; everything created is given
  // to the owner. Existing files of the target are replaced; pipes, devices
  // and hard links to someone else's files are left out. The first failure
  // stops the copy; what was copied before stays.
  bool CopyTree(std::string_view source, std::string_view target, std::string* error = nullptr) const;

 private:
  ConfinedFolder(int fd, std::string path, std::optional<FileOwner> owner);

  int fd_;
  std::string path_;
  std::optional<FileOwner> owner_;
};

}  // namespace kel::platform
