// What the system records about a file beyond its kind and size: its owner,
// its permission bits and its modification time. The backup archive stores
// the permissions and times and keeps itself private; the uninstaller asks
// who could have written its log.
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

// True when the owner is the administrator (root) and neither the group nor
// others may write: nobody but the administrator can have changed it.
bool OnlyAdministratorMayWrite(const FileDetails& details);

// Makes a file or folder private to this process's user: a folder gets mode
// 0700, a file 0600, and, when this process may give files away (as root),
// it is given to this process's user and group. A symbolic link is refused,
// never followed.
bool MakePrivate(const std::string& path, std::string* error = nullptr);

// The system's text for an error code that a library reported as a system
// error (an errno value).
std::string SystemErrorText(int code);

}  // namespace kel::platform
