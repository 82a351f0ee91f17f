// POSIX implementation of file handles. Only operating-system code lives
// here.
#include "kel/platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "kel/platform/posix/errors.h"
#include "kel/platform/posix/file_lock.h"

namespace kel::platform {

namespace posix {

namespace {

// The flock held for a share mode (see file.h); 0 for none.
int HeldLock(FileAccess access, FileShare share) {
  switch (share) {
    case FileShare::None: return LOCK_EX;
    case FileShare::Read: return access == FileAccess::Read ? LOCK_SH : LOCK_EX;
    case FileShare::Write:
    case FileShare::ReadWrite: return 0;
  }
  return 0;
}

bool TryLock(int fd, int lock) {
  int result;
  do {
    result = ::flock(fd, lock | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

}  // namespace

bool LockForShare(int fd, FileAccess access, FileShare share, std::string* error) {
  const int held = HeldLock(access, share);
  const int lock = held != 0 ? held : access == FileAccess::Read ? LOCK_SH : LOCK_EX;
  if (TryLock(fd, lock)) {
    if (held == 0) ::flock(fd, LOCK_UN);
  } else if (errno == EWOULDBLOCK) {
    if (error) *error = SharingViolationText();
    return false;
  }  // a file system without locks opens without them
  return true;
}

}  // namespace posix

FileHandle OpenFile(const std::string& path, FileAccess access, FileDisposition disposition, FileShare share,
                    std::string* error) {
  int flags = O_CLOEXEC;
  switch (access) {
    case FileAccess::Read: flags |= O_RDONLY; break;
    case FileAccess::Write: flags |= O_WRONLY; break;
    case FileAccess::ReadWrite: flags |= O_RDWR; break;
  }
  // Truncation waits until the lock is held (below).
  if (disposition == FileDisposition::CreateAlways) flags |= O_CREAT;
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    posix::ReportErrno(error);
    return kInvalidFile;
  }
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    if (error) *error = posix::ErrorText(EISDIR);
    return kInvalidFile;
  }
  // Hold the share mode's lock, or check that nobody's lock denies access.
  if (!posix::LockForShare(fd, access, share, error)) {
    ::close(fd);
    return kInvalidFile;
  }
  if (disposition == FileDisposition::CreateAlways && ::ftruncate(fd, 0) != 0) {
    posix::ReportErrno(error);
    ::close(fd);
    return kInvalidFile;
  }
  return fd;
}

int64_t ReadFile(FileHandle file, void* buffer, size_t count, std::string* error) {
  ssize_t n;
  do {
    n = ::read(static_cast<int>(file), buffer, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) posix::ReportErrno(error);
  return n;
}

int64_t WriteFile(FileHandle file, const void* buffer, size_t count, std::string* error) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(static_cast<int>(file), static_cast<const char*>(buffer) + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      posix::ReportErrno(error);
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t SeekFile(FileHandle file, int64_t offset, SeekOrigin origin) {
  const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
  return ::lseek(static_cast<int>(file), offset, whence);
}

int64_t GetFileSize(FileHandle file) {
  struct stat info;
  if (::fstat(static_cast<int>(file), &info) != 0) return -1;
  return info.st_size;
}

bool SetFileSize(FileHandle file, int64_t size) { return ::ftruncate(static_cast<int>(file), size) == 0; }

void CloseFile(FileHandle file) {
  if (file != kInvalidFile) ::close(static_cast<int>(file));
}

}  // namespace kel::platform
