// Files as the operating system sees them: handles, reads, writes, seeks.
//
// Result contract: every routine reports failure through its result (an
// invalid handle, -1, false) and fills `error` with the system's error text
// when one is passed. None of them throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kel::platform {

using FileHandle = intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

enum class FileAccess : uint8_t { Read, Write, ReadWrite };

enum class FileDisposition : uint8_t {
  OpenExisting,  // fail when the file is missing
  CreateAlways,  // create, or truncate an existing file
};

// What other openers of the same file may do meanwhile.
//
// Linux has no share modes; they become advisory `flock` locks, which every
// opener in this system honours (other programs may not):
//   None                          holds an exclusive lock: nobody else opens
//   Read, opened for reading      holds a shared lock: others may read
//   Read, opened for writing      holds an exclusive lock (flock cannot let
//                                 readers in and keep writers out)
//   Write, ReadWrite              holds no lock, but checks at opening that
//                                 no holder denies its access (a reader needs
//                                 a shared lock to be possible, a writer an
//                                 exclusive one)
// A conflicting lock makes the open fail at once with "The file is in use by
// another process."; so do the system's own "in use" answers (ETXTBSY,
// "Text file busy", for a running program opened for writing). CreateAlways
// truncates only after the lock is held, so a file in use is never emptied.
enum class FileShare : uint8_t { None, Read, Write, ReadWrite };

enum class SeekOrigin : uint8_t { Begin, Current, End };

FileHandle OpenFile(const std::string& path, FileAccess access, FileDisposition disposition, FileShare share,
                    std::string* error = nullptr);
// Bytes read (0 at the end of the file) or -1.
int64_t ReadFile(FileHandle file, void* buffer, size_t count, std::string* error = nullptr);
// Bytes written or -1.
int64_t WriteFile(FileHandle file, const void* buffer, size_t count, std::string* error = nullptr);
// The new position or -1.
int64_t SeekFile(FileHandle file, int64_t offset, SeekOrigin origin);
// The size of the open file or -1.
int64_t GetFileSize(FileHandle file);
bool SetFileSize(FileHandle file, int64_t size);
void CloseFile(FileHandle file);

// --- Files a user names -----------------------------------------------------------
//
// A file whose path a user gave (the log of a run) is opened to append to,
// with that user's rights: a process with administrator rights must not write
// where the user could not, nor through a link the user planted.

struct UserAccount;

enum class AppendDisposition : uint8_t {
  CreateNew,     // fail when the name is taken
  CreateAlways,  // create, or empty an existing file
  OpenOrCreate,  // create, or append to an existing file
};

// Opens `path` for writing at its end (every write appends, also after
// other writers). A symbolic link as the last part of the path is refused,
// and so is anything that is not a regular file (a pipe is not waited for).
// When this process runs as root and `user` is someone else, the file is
// opened by a helper process that holds only the user's ids and groups and
// hands it back: the file is what the user may write, and a new one belongs
// to the user. Otherwise this process opens it itself. A new file gets mode
// 0644 less the umask. Takes no lock.
FileHandle OpenFileToAppend(const std::string& path, AppendDisposition disposition, const UserAccount& user,
                            std::string* error = nullptr);

}  // namespace kel::platform
