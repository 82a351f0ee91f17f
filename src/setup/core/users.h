// The user profiles of the machine with their application-data folders:
// the accounts that can log in (kel/platform/users.h), each with its
// ~/.config/ folder; and the files of those users as the elevated setup
// touches them.
//
// Result contract: nothing throws; a passwd database that cannot be read
// gives the current user alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kel::platform {
class ConfinedFolder;
}

namespace setup {

class TSetupUsers {
 public:
  using TCallback = std::function<void(const std::string& userName, const std::string& appDataFolder)>;

  // Calls `callback` for the current user (the one who started the setup)
  // first, then for every account with a real login and an existing home, in
  // the order of the database. The user name is the last part of the home
  // folder; the folder has a trailing delimiter. The current user usually
  // comes twice: callers tolerate repeats.
  static void Populate(const TCallback& callback);
};

// The users' files as the setup, running as root, works on them. A path
// below a user's home folder is worked on through that home opened as a
// confined folder (kel/platform/confined_folder.h): no link and no swap of a
// folder for a link that the user makes can lead the work outside the user's
// own files, and what is created there belongs to the user. A home that does
// not belong to its user is not used at all: nothing below it is touched.
// Neither is the desktop of the user who started the setup when it lies
// outside their home. Paths anywhere else are worked on as usual (the
// library's file routines).
//
// The operations take full paths; for paths below a home they never follow a
// link that lies below the home. A home is opened when a path below it is
// first worked on and stays open only while something uses it (besides the
// one used last), so that a machine with many homes does not run out of
// descriptors. One object serves one thread. Result contract as the
// library's: failures give false or "", nothing throws.
class TSetupUserFiles {
 public:
  // Reads the accounts: the user who started the setup and those that can
  // log in.
  TSetupUserFiles();
  ~TSetupUserFiles();
  TSetupUserFiles(const TSetupUserFiles&) = delete;
  TSetupUserFiles& operator=(const TSetupUserFiles&) = delete;

  // Where a path lies: below a usable home (Home and the path relative to
  // it), below one that is refused (Refused), or elsewhere (neither).
  struct TPlace {
    std::shared_ptr<const kel::platform::ConfinedFolder> Home;
    std::string Relative;
    bool Refused = false;
  };
  TPlace Locate(const std::string& path) const;

  // The folder `path` opened as a confined folder with the path of the
  // folder below it ("" for the root itself): the home that holds it, or,
  // elsewhere, a confined folder opened at `path`. Null when the path is
  // refused or is no folder.
  std::shared_ptr<const kel::platform::ConfinedFolder> OpenTree(const std::string& path, std::string& relative) const;

  // A folder (below a home: not a link).
  bool IsFolder(const std::string& path) const;
  // A file or (below a home) a link.
  bool Exists(const std::string& path) const;
  // Deletes a file or a link (the link itself); elsewhere a file that cannot
  // be deleted is moved aside (DeleteFileOrSchedule). Failures are not
  // reported.
  void DeleteFile(const std::string& path) const;
  // Removes an empty folder.
  bool RemoveFolder(const std::string& path) const;
  // Deletes a folder with everything in it (links are removed, never
  // followed).
  bool DeleteTree(const std::string& path) const;
  // Creates every missing folder of the path.
  bool ForceFolders(const std::string& path) const;
  // Copies the folder tree `source` into `target`; both below the same home,
  // or both elsewhere.
  bool CopyFolder(const std::string& source, const std::string& target) const;
  // Renames a file without replacing; both below the same home, or both
  // elsewhere. The system's error text goes to `error`.
  bool MoveFile(const std::string& source, const std::string& target, std::string* error) const;
  // Writes a shortcut to an existing target file, and reads one back (""
  // when there is none).
  bool WriteShortcut(const std::string& linkFile, const std::string& target) const;
  std::string ReadShortcutTarget(const std::string& linkFile) const;

 private:
  struct THome {
    std::string Path;  // with a trailing '/'
    uint32_t Uid = 0;
    uint32_t Gid = 0;
    mutable std::weak_ptr<const kel::platform::ConfinedFolder> Folder;
  };
  std::vector<THome> homes_;
  std::vector<std::string> ownFolders_;  // the invoking user's folders outside their home, with a trailing '/'
  mutable std::shared_ptr<const kel::platform::ConfinedFolder> recent_;  // the home used last
};

}  // namespace setup
