// The backup archive: a ZIP file written from scratch, one entry per file,
// compressed with Deflate at level 6 (level 9 takes about three times as
// long for about 1 % less). Entry names are UTF-8 with '/' between their
// parts, as the ZIP format requires; each entry carries its file's
// modification time (to the second, in an extended-timestamp field besides
// the format's two-second DOS time) and its permission bits. A symbolic link
// is stored as a link (its target text, marked as a link), never followed.
//
// The files are read through confined folders (kel/platform/
// confined_folder.h): no link on the way to a file is followed, so a folder
// swapped for a link while the backup runs cannot lead it to someone else's
// files.
//
// The archive is written when Commit runs: the files are read one by one in
// the order they were added, each opened for reading so that other readers
// may go on but no writer of this system can change it meanwhile. The
// archive is built in a temporary file beside the target and renamed over it
// at the end, so a failed backup leaves neither a broken archive nor an
// incomplete one that would later be taken for a complete backup. The
// finished archive is private: mode 0600, its owner's alone.
//
// A file that cannot be backed up as it was listed (gone, unreadable, in use,
// changed while it was packed, no longer a file) is left out and recorded
// in Skipped(); it does not stop the backup.
//
// Result contract: failures of the archive as a whole raise
// EBackupArchiveError, which tells which file was being packed (if any),
// why, and the system's text for the cause. After a failure nothing of the
// archive exists (an older file of the same name is left as it was).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kel/base/error.h"

namespace kel::platform {
class ConfinedFolder;
}

namespace setup {

class EBackupArchiveError : public kel::Exception {
 public:
  EBackupArchiveError(const std::string& message, std::string systemText, std::ptrdiff_t fileIndex)
      : Exception(message), systemText_(std::move(systemText)), fileIndex_(fileIndex) {}
  // The system's text for the cause; "" when the system reported nothing.
  const std::string& SystemText() const { return systemText_; }
  // The file being added or packed (its position in the order of Add), or
  // -1 when the failure concerns the archive as a whole.
  std::ptrdiff_t FileIndex() const { return fileIndex_; }

 private:
  std::string systemText_;
  std::ptrdiff_t fileIndex_;
};

// One file or link to back up: where it is read from, where it lies and
// what it was when it was listed.
struct TSetupBackupSource {
  std::shared_ptr<const kel::platform::ConfinedFolder> Folder;
  std::string Relative;  // the path below Folder
  std::string Path;      // the full path
  std::string Entry;     // the name in the archive
  uint64_t Size = 0;     // bytes of a file, of a link's target text
};

// Appends every file and link below the folder `relative` of `folder` (whose
// full path is `path`, with a trailing '/') in the order of a file search:
// a folder's files by name (ignoring case), then its subfolders in natural
// order, each the same way. Links are listed as themselves and never
// followed; pipes and devices are left out, and so is every path that
// begins with `excludedPrefix` (ignoring case; "" excludes nothing). Entry
// names are `entryRoot` + the path below `path`. A folder that cannot be
// read is left out.
void ListBackupSources(const std::shared_ptr<const kel::platform::ConfinedFolder>& folder, const std::string& relative,
                       const std::string& path, const std::string& excludedPrefix, const std::string& entryRoot,
                       std::vector<TSetupBackupSource>& sources);

class TSetupBackupArchive {
 public:
  static constexpr int kDefaultLevel = 6;
  using TFileEvent = std::function<void(size_t index)>;

  // A file that was left out: its position in the order of Add, why, and
  // the system's text for the cause ("" when the system reported nothing).
  struct TSkipped {
    size_t Index;
    std::string Reason;
    std::string SystemText;
  };

  // Prepares a new archive at `fileName` (replacing an existing file when
  // Commit succeeds). `level` is the Deflate level, 1-9.
  explicit TSetupBackupArchive(const std::string& fileName, int level = kDefaultLevel);
  // Discards an archive that was not committed.
  ~TSetupBackupArchive();
  TSetupBackupArchive(const TSetupBackupArchive&) = delete;
  TSetupBackupArchive& operator=(const TSetupBackupArchive&) = delete;

  // Adds a file or link under its entry name. Its kind, size, time and
  // permissions are taken now (a link's target too); a file's content is
  // read by Commit. One that cannot be examined, or is neither a file nor a
  // link, is skipped. A name that is already in the archive, or a folder,
  // fails.
  void Add(const TSetupBackupSource& source);
  // The same for a path: its folder is opened as it is, the file itself is
  // never followed if it is a link.
  void Add(const std::string& source, const std::string& entryName);
  // The files and links added (skipped ones not counted).
  size_t Count() const;

  // Packs the files in the order they were added and completes the archive.
  // `beforeFile` runs before a file is read, `afterFile` once it has been
  // packed completely. An exception they raise ends the backup and
  // propagates.
  void Commit(const TFileEvent& beforeFile = {}, const TFileEvent& afterFile = {});

  // What was left out, in the order of Add: at Add, and by Commit.
  const std::vector<TSkipped>& Skipped() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace setup
