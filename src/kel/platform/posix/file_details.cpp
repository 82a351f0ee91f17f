// POSIX implementation of file details. Only operating-system code lives
// here.
#include "kel/platform/file_details.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

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

namespace {

bool TrustedOwner(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

// The path as written (absolute, without "." or ".." parts), then each
// folder above it up to "/": every one must be trusted. A symbolic link is
// judged by its owner alone (its mode means nothing); where it leads is
// checked on the resolved path.
bool EveryLevelTrusted(std::string path) {
  for (;;) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !TrustedOwner(info.st_uid)) return false;
    const bool othersMayWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (!S_ISLNK(info.st_mode) && othersMayWrite && !(S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX)))
      return false;
    if (path == "/") return true;
    const size_t slash = path.find_last_of('/');
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
}

}  // namespace

bool OnlyAdministratorMayChange(const std::string& path) {
  if (path.empty() || path.front() != '/' || path.find("/./") != std::string::npos ||
      path.find("/../") != std::string::npos)
    return false;
  std::string written = path;
  while (written.size() > 1 && written.back() == '/') written.pop_back();
  if (written.ends_with("/.") || written.ends_with("/..") || !EveryLevelTrusted(written)) return false;
  const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(written.c_str(), nullptr), &::free);
  return resolved && (written == resolved.get() || EveryLevelTrusted(resolved.get()));
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
