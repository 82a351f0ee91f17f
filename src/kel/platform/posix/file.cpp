// POSIX implementation of file handles. Only operating-system code lives
// here.
#include "kel/platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "kel/platform/posix/errors.h"
#include "kel/platform/posix/file_lock.h"
#include "kel/platform/posix/privileges.h"
#include "kel/platform/users.h"

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

namespace {

// What OpenAppending reports for a path that names no regular file (a value
// no errno takes).
constexpr int kNotRegularFile = 1 << 20;

struct Opened {
  int fd = -1;
  int error = 0;  // an errno value or kNotRegularFile
};

// Opens the file as OpenFileToAppend describes, with this process's rights.
// Only async-signal-safe calls: it also runs in a forked helper.
Opened OpenAppending(const char* path, AppendDisposition disposition) {
  // Not blocking keeps a pipe from holding the open up; the fd is made
  // blocking again below.
  int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
  if (disposition == AppendDisposition::CreateNew) flags |= O_EXCL;
  int fd;
  do {
    fd = ::open(path, flags, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return {-1, errno};
  struct stat info;
  int error = 0;
  if (::fstat(fd, &info) != 0)
    error = errno;
  else if (!S_ISREG(info.st_mode))
    error = kNotRegularFile;
  else if (::fcntl(fd, F_SETFL, O_APPEND) != 0 ||
           (disposition == AppendDisposition::CreateAlways && ::ftruncate(fd, 0) != 0))
    error = errno;
  if (error == 0) return {fd, 0};
  ::close(fd);
  return {-1, error};
}

std::string AppendingErrorText(int error) {
  // O_NOFOLLOW's answer for a link reads as a loop of links; a pipe that
  // nobody reads answers a non-blocking open as a missing device.
  if (error == ELOOP) return "Symbolic link not followed";
  if (error == kNotRegularFile || error == ENXIO) return "Not a regular file";
  return posix::ErrorText(error);
}

// The helper's answer: the error code, and the open file when there is one.
void SendOpened(int socket, const Opened& opened) {
  iovec part{const_cast<int*>(&opened.error), sizeof opened.error};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (opened.fd >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &opened.fd, sizeof(int));
  }
  while (::sendmsg(socket, &message, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

Opened ReceiveOpened(int socket) {
  Opened opened{-1, EIO};  // a helper that ended without answering
  iovec part{&opened.error, sizeof opened.error};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t n;
  do {
    n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof opened.error)) return {-1, EIO};
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header))
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
      std::memcpy(&opened.fd, CMSG_DATA(header), sizeof(int));
  if (opened.error == 0 && opened.fd < 0) opened.error = EIO;
  return opened;
}

// Runs OpenAppending in a child that has become `user`, which hands the
// open file back over a socket.
Opened OpenAppendingAs(const UserAccount& user, const char* path, AppendDisposition disposition) {
  const std::vector<gid_t> groups = posix::GroupsOf(user);
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return {-1, errno};
  const pid_t child = ::fork();
  if (child < 0) {
    const int error = errno;
    ::close(pair[0]);
    ::close(pair[1]);
    return {-1, error};
  }
  if (child == 0) {
    ::close(pair[0]);
    SendOpened(pair[1], posix::BecomeUser(user, groups) ? OpenAppending(path, disposition) : Opened{-1, EPERM});
    ::_exit(0);
  }
  ::close(pair[1]);
  const Opened opened = ReceiveOpened(pair[0]);
  ::close(pair[0]);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  return opened;
}

}  // namespace

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

FileHandle OpenFileToAppend(const std::string& path, AppendDisposition disposition, const UserAccount& user,
                            std::string* error) {
  const bool asUser = ::geteuid() == 0 && user.uid != 0 && user.uid != ::geteuid();
  const Opened opened =
      asUser ? OpenAppendingAs(user, path.c_str(), disposition) : OpenAppending(path.c_str(), disposition);
  if (opened.fd < 0 && error) *error = AppendingErrorText(opened.error);
  return opened.fd < 0 ? kInvalidFile : opened.fd;
}

}  // namespace kel::platform
