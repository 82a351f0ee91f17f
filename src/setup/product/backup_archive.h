// The backup archive: a ZIP file written from scratch, one entry per file,
// compressed with Deflate at level 6 (level 9 takes about three times as
// long for about 1 % less). Entry names are UTF-8 with '/' between their
// parts, as the ZIP format requires; each entry carries its file's
// modification time (to the second, in an extended-timestamp field besides
// the format's two-second DOS time) and its permission bits.
//
// The archive is written when Commit runs: the files are read one by one in
// the order they were added, each opened for reading so that other readers
// may go on but no writer of this system can change it meanwhile. The
// archive is built in a temporary file beside the target and renamed over it
// at the end, so a failed backup leaves neither a broken archive nor an
// incomplete one that would later be taken for a complete backup.
//
// Result contract: failures raise EBackupArchiveError, which tells which
// file was being packed (if any), why, and the system's text for the cause.
// After a failure nothing of the archive exists (an older file of the same
// name is left as it was).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "kel/base/error.h"

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

class TSetupBackupArchive {
 public:
  static constexpr int kDefaultLevel = 6;
  using TFileEvent = std::function<void(size_t index)>;

  // Prepares a new archive at `fileName` (replacing an existing file when
  // Commit succeeds). `level` is the Deflate level, 1-9.
  explicit TSetupBackupArchive(const std::string& fileName, int level = kDefaultLevel);
  // Discards an archive that was not committed.
  ~TSetupBackupArchive();
  TSetupBackupArchive(const TSetupBackupArchive&) = delete;
  TSetupBackupArchive& operator=(const TSetupBackupArchive&) = delete;

  // Adds a file under an entry name. Its size, time and permissions are
  // taken now; its content is read by Commit. A name that is already in the
  // archive, or a file that cannot be examined, fails.
  void Add(const std::string& source, const std::string& entryName);
  size_t Count() const;

  // Packs the files in the order they were added and completes the archive.
  // `beforeFile` runs before a file is read, `afterFile` once it has been
  // packed completely. An exception they raise ends the backup and
  // propagates. A file whose size changed since Add fails.
  void Commit(const TFileEvent& beforeFile = {}, const TFileEvent& afterFile = {});

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace setup
