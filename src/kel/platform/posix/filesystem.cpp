// POSIX implementation of files and folders. Only operating-system code
// lives here.
#include "kel/platform/filesystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "kel/platform/file_details.h"
#include "kel/platform/posix/errors.h"
#include "kel/platform/posix/io.h"
#include "kel/platform/sandbox.h"

namespace kel::platform {

namespace {

using posix::Fail;
using posix::FailWith;

void FillStatus(const struct stat& info, FileStatus& status) {
  status.kind = S_ISREG(info.st_mode)   ? FileKind::File
                : S_ISDIR(info.st_mode) ? FileKind::Directory
                                        : FileKind::Other;
  status.readOnly = (info.st_mode & 0222) == 0;
  status.size = status.kind == FileKind::File ? static_cast<uint64_t>(info.st_size) : 0;
  status.id = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// Status of `name` relative to the folder `dir` (AT_FDCWD for plain paths).
bool StatAt(int dir, const char* name, FileStatus& status, std::string* error) {
  struct stat info;
  if (::fstatat(dir, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return Fail(error);
  status = FileStatus{};
  if (!S_ISLNK(info.st_mode)) {
    FillStatus(info, status);
    return true;
  }
  status.isLink = true;
  struct stat target;
  if (::fstatat(dir, name, &target, 0) == 0) {
    FillStatus(target, status);
  } else {
    status.dangling = true;
    status.kind = FileKind::File;
    status.id = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  }
  return true;
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The private temporary folders of runs are named this + six random
// characters.
constexpr std::string_view kRunFolderPrefix = "orvi-setup-";

// The folder in which the private temporary folders are made, without a
// trailing '/': $TMPDIR or /tmp, in the sandbox DIR/tmp.
std::string TemporaryBase() {
  if (IsSandboxed()) return SystemPath("/tmp");
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base;
}

}  // namespace

bool GetFileStatus(const std::string& path, FileStatus& status, std::string* error) {
  if (path.empty()) return FailWith(ENOENT, error);
  return StatAt(AT_FDCWD, path.c_str(), status, error);
}

bool SetReadOnly(const std::string& path, bool readOnly, std::string* error) {
  struct stat info;
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return path.empty() ? FailWith(ENOENT, error) : Fail(error);
  const mode_t mode = readOnly ? (info.st_mode & ~static_cast<mode_t>(0222)) : (info.st_mode | S_IWUSR);
  if ((mode & 07777) == (info.st_mode & 07777)) return true;
  return ::chmod(path.c_str(), mode & 07777) == 0 || Fail(error);
}

bool CopyFile(const std::string& source, const std::string& target, bool failIfExists, std::string* error) {
  const int from = OpenRetrying(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) return Fail(error);
  struct stat info;
  if (::fstat(from, &info) != 0) {
    const int code = errno;
    ::close(from);
    return FailWith(code, error);
  }
  if (!S_ISREG(info.st_mode)) {  // folders, devices and pipes are not copied
    ::close(from);
    return FailWith(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, error);
  }
  const mode_t mode = info.st_mode & 0777;

  // Either the target itself (which must not exist) or a hidden sibling that
  // is renamed over the target at the end.
  std::string written = target;
  int to;
  if (failIfExists) {
    to = OpenRetrying(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  } else {
    std::string parent = ParentOf(target);
    written = parent + "/." + NameOf(target) + ".XXXXXX";
    to = ::mkostemp(written.data(), O_CLOEXEC);
  }
  if (to < 0) {
    const int code = errno;
    ::close(from);
    return FailWith(code, error);
  }
  bool ok = posix::CopyBytes(from, to);
  int code = ok ? 0 : errno;
  if (ok && ::fchmod(to, mode) != 0) ok = false, code = errno;
  if (ok) {
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(to, times);
  }
  if (::close(to) != 0 && ok) ok = false, code = errno;
  ::close(from);
  if (ok && !failIfExists && ::rename(written.c_str(), target.c_str()) != 0) ok = false, code = errno;
  if (!ok) {
    ::unlink(written.c_str());
    return FailWith(code, error);
  }
  return true;
}

bool MoveFile(const std::string& source, const std::string& target, std::string* error) {
  if (source.empty() || target.empty()) return FailWith(ENOENT, error);
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  int code = errno;
  if (code == EINVAL || code == ENOSYS) {
    // The file system cannot refuse to replace; check first.
    struct stat info;
    if (::lstat(target.c_str(), &info) == 0) return FailWith(EEXIST, error);
    if (::rename(source.c_str(), target.c_str()) == 0) return true;
    code = errno;
  }
  if (code != EXDEV) return FailWith(code, error);
  struct stat info;
  if (::lstat(source.c_str(), &info) != 0) return Fail(error);
  if (!S_ISREG(info.st_mode)) return FailWith(EXDEV, error);
  if (!CopyFile(source, target, true, error)) return false;
  if (::unlink(source.c_str()) != 0) {
    code = errno;
    ::unlink(target.c_str());
    return FailWith(code, error);
  }
  return true;
}

bool ReplaceFile(const std::string& source, const std::string& target, std::string* error) {
  if (source.empty() || target.empty()) return FailWith(ENOENT, error);
  return ::rename(source.c_str(), target.c_str()) == 0 || Fail(error);
}

bool SetExecutable(const std::string& path, bool executable, std::string* error) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return Fail(error);
  mode_t mode = info.st_mode & 07777;
  if (executable)
    mode |= (mode & 0444) >> 2;  // execute for whoever may read
  else
    mode &= ~0111;
  return ::chmod(path.c_str(), mode) == 0 || Fail(error);
}

bool DeleteFile(const std::string& path, std::string* error) {
  struct stat info;
  if (path.empty()) return FailWith(ENOENT, error);
  if (::lstat(path.c_str(), &info) != 0) return Fail(error);
  if (S_ISDIR(info.st_mode)) return FailWith(EISDIR, error);
  return ::unlink(path.c_str()) == 0 || Fail(error);
}

bool RemoveDirectory(const std::string& path, std::string* error) {
  if (path.empty()) return FailWith(ENOENT, error);
  return ::rmdir(path.c_str()) == 0 || Fail(error);
}

bool CreateDirectories(const std::string& path, std::string* error) {
  if (path.empty()) return FailWith(ENOENT, error);
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode) || FailWith(EEXIST, error);
  // Create each missing level from the top.
  size_t pos = 0;
  for (;;) {
    pos = path.find('/', pos + 1);
    const std::string level = path.substr(0, pos);
    if (!level.empty() && ::mkdir(level.c_str(), 0777) != 0) {
      const int code = errno;
      if (code != EEXIST || ::stat(level.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return FailWith(code == EEXIST ? ENOTDIR : code, error);
    }
    if (pos == std::string::npos) return true;
  }
}

bool ReadDirectory(const std::string& folder, std::vector<DirectoryEntry>& entries, std::string* error) {
  entries.clear();
  const int fd = OpenRetrying(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(error);
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    const int code = errno;
    ::close(fd);
    return FailWith(code, error);
  }
  for (;;) {
    errno = 0;
    const struct dirent* entry = ::readdir(dir);
    if (!entry) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    DirectoryEntry item;
    item.name = name;
    // An entry that vanished meanwhile is left out.
    if (StatAt(::dirfd(dir), entry->d_name, item.status, nullptr)) entries.push_back(std::move(item));
  }
  const int code = errno;
  ::closedir(dir);
  return code == 0 || FailWith(code, error);
}

std::string CurrentDirectory() {
  std::string buffer(4096, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size())) return buffer.c_str();
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool SetCurrentDirectory(const std::string& path, std::string* error) {
  if (path.empty()) return FailWith(ENOENT, error);
  return ::chdir(path.c_str()) == 0 || Fail(error);
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return {};
  if (path[0] == '/') return NormalizePath(path);
  return NormalizePath(CurrentDirectory() + "/" + path);
}

std::string ResolvedPath(const std::string& path) {
  if (path.empty()) return {};
  std::string absolute = AbsolutePath(path);
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  // The deepest existing folder resolved, the rest appended.
  std::string existing = absolute, rest;
  for (;;) {
    const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(existing.c_str(), nullptr), &::free);
    if (resolved) return NormalizePath(std::string(resolved.get()) + (rest.empty() ? "" : "/" + rest));
    if (existing == "/") return absolute;
    const std::string name = NameOf(existing);
    rest = rest.empty() ? name : name + "/" + rest;
    existing = ParentOf(existing);
  }
}

bool SameFileContent(const std::string& first, const std::string& second) {
  const int a = OpenRetrying(first.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const int b = a < 0 ? -1 : OpenRetrying(second.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  bool same = false;
  struct stat infoA, infoB;
  if (b >= 0 && ::fstat(a, &infoA) == 0 && ::fstat(b, &infoB) == 0 && S_ISREG(infoA.st_mode) &&
      S_ISREG(infoB.st_mode) && infoA.st_size == infoB.st_size) {
    static constexpr size_t kChunk = 64 * 1024;
    std::string bufferA(kChunk, '\0'), bufferB(kChunk, '\0');
    for (;;) {
      const ssize_t n = ::read(a, bufferA.data(), kChunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        same = n == 0 && ::read(b, bufferB.data(), 1) == 0;
        break;
      }
      // Regular files give what they hold; a shorter piece is read on.
      size_t got = 0;
      while (got < static_cast<size_t>(n)) {
        const ssize_t m = ::read(b, bufferB.data() + got, static_cast<size_t>(n) - got);
        if (m < 0 && errno == EINTR) continue;
        if (m <= 0) break;
        got += static_cast<size_t>(m);
      }
      if (got != static_cast<size_t>(n) || bufferA.compare(0, got, bufferB, 0, got) != 0) break;
    }
  }
  if (b >= 0) ::close(b);
  if (a >= 0) ::close(a);
  return same;
}

std::string TemporaryDirectory(std::string* error) {
  const std::string base = TemporaryBase();
  static std::mutex mutex;
  static std::map<std::string, std::string> made;  // base -> this run's folder
  std::lock_guard lock(mutex);
  auto found = made.find(base);
  if (found != made.end()) {
    struct stat info;
    if (::lstat(found->second.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid())
      return found->second + "/";
  }
  if (IsSandboxed() && !CreateDirectories(base, error)) return {};
  // Whoever may rename entries of the base could swap this run's folder for
  // one of their own after it was made, with the files put in it.
  if (!OnlyAdministratorMayChange(base)) {
    if (error)
      *error = "The temporary folder \"" + base +
               "\" can be changed by other users (it, or a folder above it, is theirs or open to their writing).";
    return {};
  }
  std::string folder = base + "/" + std::string(kRunFolderPrefix) + "XXXXXX";
  if (!::mkdtemp(folder.data())) {  // mode 0700
    posix::ReportErrno(error);
    return {};
  }
  made[base] = folder;
  return folder + "/";
}

bool IsTemporaryDirectory(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::string name = NameOf(path);
  if (name.size() != kRunFolderPrefix.size() + 6 || !name.starts_with(kRunFolderPrefix)) return false;
  struct stat info, parent, base;
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & 0777) != 0700)
    return false;
  return ::stat(ParentOf(path).c_str(), &parent) == 0 && ::stat(TemporaryBase().c_str(), &base) == 0 &&
         parent.st_dev == base.st_dev && parent.st_ino == base.st_ino;
}

std::string CreateTemporaryFile(const std::string& folder, const std::string& prefix, std::string* error) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  for (char c : prefix)
    if (c != '/') path += c;
  path += "XXXXXX.tmp";
  const int fd = ::mkostemps(path.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    posix::ReportErrno(error);
    return {};
  }
  ::close(fd);
  return path;
}

bool DeleteAtRestart(const std::string& path, std::string* error) {
  const std::string absolute = AbsolutePath(path);
  for (std::string folder = ParentOf(absolute); folder.size() > 1; folder = ParentOf(folder)) {
    if (!IsTemporaryDirectory(folder)) continue;
    struct stat info;
    return ::lstat(absolute.c_str(), &info) == 0 || Fail(error);
  }
  return DeleteFile(path, error);
}

}  // namespace kel::platform
