// POSIX implementation of confined folders: every path below the root is
// walked with openat(O_NOFOLLOW | O_DIRECTORY) from the root's descriptor,
// entries are examined with fstatat(AT_SYMLINK_NOFOLLOW) and changed with
// unlinkat, renameat2, mkdirat and symlinkat relative to the open folder
// that holds them. Only operating-system code lives here.
#include "kel/platform/confined_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <utility>

#include "kel/platform/posix/errors.h"
#include "kel/platform/posix/file_lock.h"
#include "kel/platform/posix/io.h"
#include "kel/platform/sandbox.h"

namespace kel::platform {

namespace {

// A descriptor that is closed when it goes away.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

using posix::Fail;
using posix::FailWith;

int OpenAt(int folder, const char* name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::openat(folder, name, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The folder `name` of `folder`, opened without following a link.
Fd OpenFolderAt(int folder, const std::string& name) {
  return Fd(OpenAt(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The parts of a relative path; false (EINVAL) for a "." or ".." part.
bool SplitParts(std::string_view relative, std::vector<std::string>& parts) {
  parts.clear();
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    const std::string_view part = relative.substr(start, end - start);
    if (part == "." || part == "..") {
      errno = EINVAL;
      return false;
    }
    if (!part.empty()) parts.emplace_back(part);
    start = end + 1;
  }
  return true;
}

void FillEntry(const struct stat& info, ConfinedEntry& entry) {
  entry.kind = S_ISREG(info.st_mode)   ? EntryKind::File
               : S_ISDIR(info.st_mode) ? EntryKind::Directory
               : S_ISLNK(info.st_mode) ? EntryKind::Link
                                       : EntryKind::Other;
  entry.size = entry.kind == EntryKind::File || entry.kind == EntryKind::Link ? static_cast<uint64_t>(info.st_size) : 0;
  entry.permissions = static_cast<uint32_t>(info.st_mode & 07777);
  entry.modified = static_cast<int64_t>(info.st_mtim.tv_sec);
  entry.owner = static_cast<uint32_t>(info.st_uid);
}

// The names in an open folder, "." and ".." left out.
bool NamesIn(int folder, std::vector<std::string>& names) {
  names.clear();
  const int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return false;
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    const int code = errno;
    ::close(copy);
    errno = code;
    return false;
  }
  ::rewinddir(dir);
  for (;;) {
    errno = 0;
    const struct dirent* entry = ::readdir(dir);
    if (!entry) break;
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  const int code = errno;
  ::closedir(dir);
  errno = code;
  return code == 0;
}

bool ReadLinkAt(int folder, const std::string& name, std::string& target) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlinkat(folder, name.c_str(), buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      target = std::move(buffer);
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// A new name for a file that is written beside its final name and renamed
// over it: short, so that it fits wherever the final name fits.
std::string TemporaryName() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::string name = ".orvi-";
  for (int i = 0; i < 8; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

// Creates a new file (mode 0600) with a fresh name in `folder`.
Fd CreateTemporaryAt(int folder, std::string& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = TemporaryName();
    Fd fd(OpenAt(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.Valid() || errno != EEXIST) return fd;
  }
  return Fd();
}

// Renames without replacing; file systems that cannot refuse to replace get
// a check first.
bool RenameNoReplace(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
  if (::renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat info;
  if (::fstatat(toFolder, to.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::renameat(fromFolder, from.c_str(), toFolder, to.c_str()) == 0;
}

// What the methods share: the walk from the root and the owner's rules.
class ConfinedFolderWalk {
 public:
  explicit ConfinedFolderWalk(int root, const std::optional<FileOwner>& owner) : root_(root), owner_(owner) {}

  // Opens the folders of the first `count` parts one after another.
  bool Walk(const std::vector<std::string>& parts, size_t count, Fd& folder) const {
    Fd current(::fcntl(root_, F_DUPFD_CLOEXEC, 0));
    if (!current.Valid()) return false;
    for (size_t i = 0; i < count; ++i) {
      Fd next = OpenFolderAt(current.Get(), parts[i]);
      if (!next.Valid()) return false;
      current = std::move(next);
    }
    folder = std::move(current);
    return true;
  }

  // The open folder that holds the entry `relative` names, and its name;
  // false (EINVAL) for the root itself.
  bool Locate(std::string_view relative, Fd& folder, std::string& name) const {
    std::vector<std::string> parts;
    if (!SplitParts(relative, parts)) return false;
    if (parts.empty()) {
      errno = EINVAL;
      return false;
    }
    if (!Walk(parts, parts.size() - 1, folder)) return false;
    name = parts.back();
    return true;
  }

  // The folder `relative` names, opened (the root itself for "").
  bool OpenFolder(std::string_view relative, Fd& folder) const {
    std::vector<std::string> parts;
    return SplitParts(relative, parts) && Walk(parts, parts.size(), folder);
  }

  // Whether a file of this user may be read as one of the owner's.
  bool Owns(uid_t uid) const {
    return !owner_ || uid == owner_->uid || (IsSandboxed() && uid == ::geteuid());
  }

  // Gives what was just created to the owner, when this process may.
  void GiveAway(int fd) const {
    if (owner_ && ::geteuid() == 0) (void)::fchown(fd, owner_->uid, owner_->gid);
  }
  void GiveAwayAt(int folder, const std::string& name) const {
    if (owner_ && ::geteuid() == 0)
      (void)::fchownat(folder, name.c_str(), owner_->uid, owner_->gid, AT_SYMLINK_NOFOLLOW);
  }

  // A regular file of `folder` opened for reading, without following a link
  // and without waiting on a pipe; someone else's file under a second name
  // is refused (EPERM).
  Fd OpenRegularAt(int folder, const std::string& name, struct stat& info) const {
    Fd fd(OpenAt(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.Valid()) return fd;
    if (::fstat(fd.Get(), &info) != 0) return Fd();
    if (!S_ISREG(info.st_mode)) {
      errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
      return Fd();
    }
    if (info.st_nlink > 1 && !Owns(info.st_uid)) {
      errno = EPERM;
      return Fd();
    }
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
  }

  // The folder `name` of `folder`, created when missing (with `mode` when
  // given, else 0777 minus the umask) and then given to the owner.
  Fd MakeFolderAt(int folder, const std::string& name, std::optional<mode_t> mode) const {
    Fd next = OpenFolderAt(folder, name);
    if (next.Valid() || errno != ENOENT) return next;
    if (::mkdirat(folder, name.c_str(), mode ? *mode : 0777) != 0 && errno != EEXIST) return Fd();
    next = OpenFolderAt(folder, name);
    if (!next.Valid()) return next;
    GiveAway(next.Get());
    if (mode) (void)::fchmod(next.Get(), *mode);
    return next;
  }

  // Deletes everything in an open folder; as much as can be deleted is.
  bool DeleteContents(int folder) const {
    std::vector<std::string> names;
    if (!NamesIn(folder, names)) return false;
    int firstError = 0;
    for (const std::string& name : names) {
      struct stat info;
      if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      bool ok;
      if (S_ISDIR(info.st_mode)) {
        const Fd child = OpenFolderAt(folder, name);
        ok = child.Valid() && DeleteContents(child.Get());
        ok = ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 && ok;
      } else {
        ok = ::unlinkat(folder, name.c_str(), 0) == 0;
      }
      if (!ok && firstError == 0) firstError = errno;
    }
    errno = firstError;
    return firstError == 0;
  }

  // Copies a regular file of `from` into `to` under the same name, through a
  // fresh file renamed over the target.
  bool CopyFileAt(int from, const std::string& name, int to) const {
    struct stat info;
    Fd source = OpenRegularAt(from, name, info);
    // Someone else's file under a second name is left out, and so is one
    // that went meanwhile.
    if (!source.Valid()) return errno == EPERM || errno == ENOENT;
    std::string temporary;
    Fd target = CreateTemporaryAt(to, temporary);
    if (!target.Valid()) return false;
    bool ok = posix::CopyBytes(source.Get(), target.Get());
    if (ok) {
      GiveAway(target.Get());
      const struct timespec times[2] = {info.st_atim, info.st_mtim};
      ok = ::fchmod(target.Get(), info.st_mode & 0777) == 0 && ::futimens(target.Get(), times) == 0;
    }
    ok = ::close(target.Release()) == 0 && ok;
    ok = ok && ::renameat(to, temporary.c_str(), to, name.c_str()) == 0;
    if (!ok) {
      const int code = errno;
      ::unlinkat(to, temporary.c_str(), 0);
      errno = code;
    }
    return ok;
  }

  // Copies a link of `from` into `to` under the same name.
  bool CopyLinkAt(int from, const std::string& name, int to) const {
    std::string target;
    if (!ReadLinkAt(from, name, target)) return false;
    std::string temporary;
    for (int attempt = 0;; ++attempt) {
      temporary = TemporaryName();
      if (::symlinkat(target.c_str(), to, temporary.c_str()) == 0) break;
      if (errno != EEXIST || attempt == 100) return false;
    }
    GiveAwayAt(to, temporary);
    if (::renameat(to, temporary.c_str(), to, name.c_str()) == 0) return true;
    const int code = errno;
    ::unlinkat(to, temporary.c_str(), 0);
    errno = code;
    return false;
  }

  bool CopyContents(int from, int to) const {
    std::vector<std::string> names;
    if (!NamesIn(from, names)) return false;
    for (const std::string& name : names) {
      struct stat info;
      if (::fstatat(from, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;  // gone meanwhile
        return false;
      }
      bool ok = true;
      if (S_ISDIR(info.st_mode)) {
        const Fd source = OpenFolderAt(from, name);
        const Fd target = source.Valid() ? MakeFolderAt(to, name, info.st_mode & 0777) : Fd();
        ok = target.Valid() && CopyContents(source.Get(), target.Get());
      } else if (S_ISREG(info.st_mode)) {
        ok = CopyFileAt(from, name, to);
      } else if (S_ISLNK(info.st_mode)) {
        ok = CopyLinkAt(from, name, to);
      }
      if (!ok) return false;
    }
    return true;
  }

 private:
  int root_;
  const std::optional<FileOwner>& owner_;
};

}  // namespace

ConfinedFolder::ConfinedFolder(int fd, std::string path, std::optional<FileOwner> owner)
    : fd_(fd), path_(std::move(path)), owner_(owner) {}

ConfinedFolder::~ConfinedFolder() { ::close(fd_); }

std::unique_ptr<ConfinedFolder> ConfinedFolder::Open(const std::string& root, std::optional<FileOwner> owner,
                                                     std::string* error) {
  if (root.empty()) {
    FailWith(ENOENT, error);
    return nullptr;
  }
  Fd fd(OpenAt(AT_FDCWD, root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat info;
  if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0) {
    Fail(error);
    return nullptr;
  }
  if (owner && info.st_uid != owner->uid && !(IsSandboxed() && info.st_uid == ::geteuid())) {
    if (error) *error = "The folder belongs to another user.";
    return nullptr;
  }
  std::string path = root;
  if (path.back() != '/') path += '/';
  return std::unique_ptr<ConfinedFolder>(new ConfinedFolder(fd.Release(), std::move(path), owner));
}

bool ConfinedFolder::Examine(std::string_view relative, ConfinedEntry& entry, std::string* error) const {
  const ConfinedFolderWalk walk(fd_, owner_);
  std::vector<std::string> parts;
  if (!SplitParts(relative, parts)) return Fail(error);
  struct stat info;
  if (parts.empty()) {
    if (::fstat(fd_, &info) != 0) return Fail(error);
    entry.name.clear();
  } else {
    Fd folder;
    if (!walk.Walk(parts, parts.size() - 1, folder) ||
        ::fstatat(folder.Get(), parts.back().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
      return Fail(error);
    entry.name = parts.back();
  }
  FillEntry(info, entry);
  return true;
}

bool ConfinedFolder::ReadDirectory(std::string_view relative, std::vector<ConfinedEntry>& entries,
                                   std::string* error) const {
  entries.clear();
  Fd folder;
  std::vector<std::string> names;
  if (!ConfinedFolderWalk(fd_, owner_).OpenFolder(relative, folder) || !NamesIn(folder.Get(), names))
    return Fail(error);
  for (std::string& name : names) {
    struct stat info;
    if (::fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    ConfinedEntry entry;
    entry.name = std::move(name);
    FillEntry(info, entry);
    entries.push_back(std::move(entry));
  }
  return true;
}

bool ConfinedFolder::ReadLink(std::string_view relative, std::string& target, std::string* error) const {
  Fd folder;
  std::string name;
  if (!ConfinedFolderWalk(fd_, owner_).Locate(relative, folder, name) || !ReadLinkAt(folder.Get(), name, target))
    return Fail(error);
  return true;
}

FileHandle ConfinedFolder::OpenFile(std::string_view relative, FileShare share, std::string* error) const {
  const ConfinedFolderWalk walk(fd_, owner_);
  Fd folder;
  std::string name;
  struct stat info;
  Fd file;
  if (walk.Locate(relative, folder, name)) file = walk.OpenRegularAt(folder.Get(), name, info);
  if (!file.Valid()) {
    Fail(error);
    return kInvalidFile;
  }
  if (!posix::LockForShare(file.Get(), FileAccess::Read, share, error)) return kInvalidFile;
  return file.Release();
}

bool ConfinedFolder::DeleteFile(std::string_view relative, std::string* error) const {
  Fd folder;
  std::string name;
  struct stat info;
  if (!ConfinedFolderWalk(fd_, owner_).Locate(relative, folder, name) ||
      ::fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return Fail(error);
  if (S_ISDIR(info.st_mode)) return FailWith(EISDIR, error);
  return ::unlinkat(folder.Get(), name.c_str(), 0) == 0 || Fail(error);
}

bool ConfinedFolder::RemoveDirectory(std::string_view relative, std::string* error) const {
  Fd folder;
  std::string name;
  if (!ConfinedFolderWalk(fd_, owner_).Locate(relative, folder, name) ||
      ::unlinkat(folder.Get(), name.c_str(), AT_REMOVEDIR) != 0)
    return Fail(error);
  return true;
}

bool ConfinedFolder::DeleteTree(std::string_view relative, std::string* error) const {
  const ConfinedFolderWalk walk(fd_, owner_);
  Fd folder;
  std::string name;
  struct stat info;
  if (!walk.Locate(relative, folder, name) || ::fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return Fail(error);
  if (!S_ISDIR(info.st_mode)) return ::unlinkat(folder.Get(), name.c_str(), 0) == 0 || Fail(error);
  const Fd tree = OpenFolderAt(folder.Get(), name);
  const bool emptied = tree.Valid() && walk.DeleteContents(tree.Get());
  const int code = errno;
  if (::unlinkat(folder.Get(), name.c_str(), AT_REMOVEDIR) == 0) return true;
  return emptied ? Fail(error) : FailWith(code, error);
}

bool ConfinedFolder::CreateDirectories(std::string_view relative, std::string* error) const {
  const ConfinedFolderWalk walk(fd_, owner_);
  std::vector<std::string> parts;
  if (!SplitParts(relative, parts)) return Fail(error);
  Fd current;
  if (!walk.Walk(parts, 0, current)) return Fail(error);
  for (const std::string& part : parts) {
    current = walk.MakeFolderAt(current.Get(), part, std::nullopt);
    if (!current.Valid()) return Fail(error);
  }
  return true;
}

bool ConfinedFolder::MoveFile(std::string_view source, std::string_view target, std::string* error) const {
  const ConfinedFolderWalk walk(fd_, owner_);
  Fd fromFolder, toFolder;
  std::string from, to;
  if (!walk.Locate(source, fromFolder, from) || !walk.Locate(target, toFolder, to) ||
      !RenameNoReplace(fromFolder.Get(), from, toFolder.Get(), to))
    return Fail(error);
  return true;
}

bool ConfinedFolder::WriteFile(std::string_view relative, std::string_view bytes, uint32_t permissions,
                               std::string* error) const {
  const ConfinedFolderWalk walk(fd_, owner_);
  Fd folder;
  std::string name, temporary;
  if (!walk.Locate(relative, folder, name)) return Fail(error);
  Fd file = CreateTemporaryAt(folder.Get(), temporary);
  if (!file.Valid()) return Fail(error);
  bool ok = posix::WriteAll(file.Get(), bytes.data(), bytes.size());
  if (ok) {
    walk.GiveAway(file.Get());
    ok = ::fchmod(file.Get(), permissions & 07777) == 0;
  }
  ok = ::close(file.Release()) == 0 && ok;
  ok = ok && ::renameat(folder.Get(), temporary.c_str(), folder.Get(), name.c_str()) == 0;
  if (ok) return true;
  const int code = errno;
  ::unlinkat(folder.Get(), temporary.c_str(), 0);
  return FailWith(code, error);
}

bool ConfinedFolder::CopyTree(std::string_view source, std::string_view target, std::string* error) const {
  const ConfinedFolderWalk walk(fd_, owner_);
  std::vector<std::string> parts;
  Fd from, to;
  struct stat info;
  if (!walk.OpenFolder(source, from) || ::fstat(from.Get(), &info) != 0 || !SplitParts(target, parts) ||
      !walk.Walk(parts, 0, to))
    return Fail(error);
  // The missing folders of the target: those above it as any folder is
  // made, the target itself as the source is.
  for (size_t i = 0; i < parts.size(); ++i) {
    to = walk.MakeFolderAt(to.Get(), parts[i], i + 1 == parts.size() ? std::optional<mode_t>(info.st_mode & 0777)
                                                                      : std::nullopt);
    if (!to.Valid()) return Fail(error);
  }
  return walk.CopyContents(from.Get(), to.Get()) || Fail(error);
}

}  // namespace kel::platform
