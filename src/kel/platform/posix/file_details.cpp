// POSIX implementation of file details. Only operating-system code lives
// here.
#include "kel/platform/file_details.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "kel/platform/posix/errors.h"

namespace kel::platform {

bool GetFileDetails(const std::string& path, FileDetails& details, std::string* error) {
  struct stat info;
  if (path.empty()) {
    if (error) *error = posix::ErrorText(ENOENT);
    return false;
  }
  if (::stat(path.c_str(), &info) != 0) {
    posix::ReportErrno(error);
    return false;
  }
  details.owner = static_cast<uint32_t>(info.st_uid);
  details.permissions = static_cast<uint32_t>(info.st_mode & 07777);
  details.directory = S_ISDIR(info.st_mode);
  details.size = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
  details.modified = static_cast<int64_t>(info.st_mtim.tv_sec);
  return true;
}

bool OnlyAdministratorMayWrite(const FileDetails& details) {
  return details.owner == 0 && (details.permissions & (S_IWGRP | S_IWOTH)) == 0;
}

bool MakePrivate(const std::string& path, std::string* error) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    posix::ReportErrno(error);
    return false;
  }
  struct stat info;
  bool ok = ::fstat(fd, &info) == 0;
  if (ok && ::geteuid() == 0 && (info.st_uid != 0 || info.st_gid != ::getegid()))
    ok = ::fchown(fd, 0, ::getegid()) == 0;
  if (ok) ok = ::fchmod(fd, S_ISDIR(info.st_mode) ? 0700 : 0600) == 0;
  if (!ok) posix::ReportErrno(error);
  ::close(fd);
  return ok;
}

std::string SystemErrorText(int code) { return posix::ErrorText(code); }

}  // namespace kel::platform
