// What the system records about a file beyond its kind and size: its owner,
// its permission bits and its modification time. The backup archive stores
// the permissions and times and keeps itself private; the elevated setup asks
// who could have changed a file before it trusts it (its uninstall log, a
// library it loads, its temporary folder).
//
// Result contract: nothing throws; a path that cannot be examined gives
// false and, when `error` is given, the system's error text.
#pragma once

#include <cstdint>
#include <string>

namespace kel::platform {

struct FileDetails {
  uint32_t owner = 0;        // user id of the owner
  uint32_t permissions = 0;  // the permission bits (07777)
  bool directory = false;
  uint64_t size = 0;         // bytes of a file (0 for folders)
  int64_t modified = 0;      // last modification, seconds since 1970-01-01 UTC
};

// Details of the path, following a symbolic link to its target.
bool GetFileDetails(const std::string& path, FileDetails& details, std::string* error = nullptr);

// True when nobody but the administrator can have changed what the path
// names: the path and every folder above it belong to root, or to the user
// this process runs as (the same for an elevated run; in a sandbox run by an
// ordinary user, that user stands for the administrator), and neither their
// group nor others may write them. A folder with the sticky bit (as /tmp)
// may be writable by all: there only an entry's owner can rename or delete
// it. Symbolic links on the way are followed, and the folders they lead to
// are held to the same rule. False when the path does not exist.
bool OnlyAdministratorMayChange(const std::string& path);

// Makes a file or folder private to this process's user: a folder gets mode
// 0700, a file 0600, and, when this process may give files away (as root),
// it is given to this process's user and group. A symbolic link is refused,
// never followed.
bool MakePrivate(const std::string& path, std::string* error = nullptr);

// The system's text for an error code that a library reported as a system
// error (an errno value).
std::string SystemErrorText(int code);

}  // namespace kel::platform
