// POSIX backend: the share modes of file.h as advisory flock locks, for
// every place that opens files for the rest of the program.
#pragma once

#include <string>

#include "kel/platform/file.h"

namespace kel::platform::posix {

// Holds the lock that `share` asks of a descriptor opened with `access`, or
// checks that no holder denies that access (see file.h). False, with the
// text for a file in use, when another holder's lock is in the way; the
// descriptor stays open either way. A file system without locks passes.
bool LockForShare(int fd, FileAccess access, FileShare share, std::string* error);

}  // namespace kel::platform::posix
