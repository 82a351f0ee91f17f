// The backup archive over libzip. This is the only unit that talks to
// libzip: each file becomes a libzip source whose callbacks read it through
// its confined folder, so that the file is opened with the sharing the
// backup wants and only while it is being packed (an archive of thousands of
// files never holds more than one open).
//
// libzip writes an entry's header before its data and cannot leave an entry
// out once it has begun; a file that turns out unreadable while the archive
// is written becomes an empty (or partial) entry that is deleted from the
// finished archive afterwards, in one more pass that copies the other
// entries as they are.
#include "setup/product/backup_archive.h"

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <vector>

#include "kel/base/file_system.h"
#include "kel/base/format.h"
#include "kel/base/text.h"
#include "kel/platform/confined_folder.h"
#include "kel/platform/file.h"
#include "kel/platform/file_details.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/heap_tuning.h"

namespace setup {

namespace {

namespace platform = kel::platform;

// Unix file types "regular file" and "symbolic link" in the upper bits of a
// mode.
constexpr uint32_t kUnixRegularFile = 0100000;
constexpr uint32_t kUnixSymbolicLink = 0120000;
// The DOS attribute bit "read-only" in the low byte of external attributes.
constexpr uint32_t kDosReadOnly = 0x01;
// The extended-timestamp extra field: flags (bit 0: modification time
// follows) and the time as unsigned 32-bit seconds (little-endian).
constexpr zip_uint16_t kExtendedTimestampId = 0x5455;
// What is read from a file at a time.
constexpr size_t kReadPiece = size_t{256} << 10;
// Heap thresholds for the compressor's per-file state (see heap_tuning.h).
constexpr size_t kHeapBlockBytes = size_t{16} << 20;
constexpr size_t kHeapRetainedBytes = size_t{64} << 20;

std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// The system part of a libzip error, when it has one.
std::string SystemTextOf(zip_error_t* error) {
  return zip_error_system_type(error) == ZIP_ET_SYS ? platform::SystemErrorText(zip_error_code_system(error))
                                                    : std::string();
}

}  // namespace

struct TSetupBackupArchive::TImpl {
  // One file of the archive and the state of its libzip source.
  struct TEntry {
    TImpl* owner = nullptr;
    size_t index = 0;     // in the order of Add
    zip_uint64_t at = 0;  // in the archive
    std::shared_ptr<const platform::ConfinedFolder> folder;
    std::string relative;
    bool link = false;
    std::string linkTarget;
    uint64_t size = 0;
    int64_t modified = 0;
    platform::FileHandle file = platform::kInvalidFile;
    uint64_t read = 0;
    bool skipped = false;
    zip_error_t error;
  };

  std::string fileName;
  int level = kDefaultLevel;
  zip_t* archive = nullptr;
  std::vector<std::unique_ptr<TEntry>> entries;
  size_t added = 0;  // calls of Add
  std::vector<TSkipped> skipped;
  // The folder of the last file added by its path.
  std::shared_ptr<const platform::ConfinedFolder> lastFolder;

  // The read buffer of the file being packed.
  std::vector<uint8_t> buffer;
  size_t bufferPos = 0;
  size_t bufferEnd = 0;

  TFileEvent beforeFile;
  TFileEvent afterFile;
  // The first failure a callback met: which file, why, the system's text;
  // or an exception of the caller's events.
  bool failed = false;
  std::ptrdiff_t failedIndex = -1;
  std::string failureText;
  std::string failureSystemText;
  std::exception_ptr eventError;
  // The file whose data is being read, -1 between files.
  std::ptrdiff_t current = -1;

  ~TImpl() {
    if (archive) zip_discard(archive);
    for (auto& entry : entries) {
      if (entry->file != platform::kInvalidFile) platform::CloseFile(entry->file);
      zip_error_fini(&entry->error);
    }
  }

  void Fail(TEntry& entry, int zipCode, const std::string& text, const std::string& systemText) {
    if (!failed) {
      failed = true;
      failedIndex = static_cast<std::ptrdiff_t>(entry.index);
      failureText = text;
      failureSystemText = systemText;
    }
    zip_error_set(&entry.error, zipCode, 0);
  }

  // Runs one of the caller's events; false (with the exception kept) when
  // it raised, since nothing may propagate through libzip.
  bool RunEvent(const TFileEvent& event, TEntry& entry) {
    if (!event) return true;
    try {
      event(entry.index);
      return true;
    } catch (...) {
      if (!eventError) eventError = std::current_exception();
      Fail(entry, ZIP_ER_INTERNAL, "Stopped", "");
      return false;
    }
  }

  // Leaves a file out: its entry is written without (the rest of) its data
  // and deleted from the finished archive.
  void Skip(TEntry& entry, const std::string& reason, const std::string& systemText) {
    if (entry.skipped) return;
    entry.skipped = true;
    skipped.push_back({entry.index, reason, systemText});
  }

  zip_int64_t Open(TEntry& entry) {
    if (!RunEvent(beforeFile, entry)) return -1;
    entry.read = 0;
    bufferPos = bufferEnd = 0;
    current = static_cast<std::ptrdiff_t>(entry.index);
    if (entry.link) return 0;
    std::string error;
    entry.file = entry.folder->OpenFile(entry.relative, platform::FileShare::Read, &error);
    if (entry.file == platform::kInvalidFile) Skip(entry, "The file cannot be opened.", error);
    return 0;
  }

  // Fills the read buffer from the file; false at its end or on an error.
  bool Refill(TEntry& entry) {
    std::string error;
    const int64_t n = platform::ReadFile(entry.file, buffer.data(), buffer.size(), &error);
    if (n < 0) Skip(entry, "The file cannot be read.", error);
    if (n <= 0) return false;
    bufferPos = 0;
    bufferEnd = static_cast<size_t>(n);
    return true;
  }

  zip_int64_t Read(TEntry& entry, void* data, zip_uint64_t length) {
    if (entry.skipped) return 0;
    uint8_t* out = static_cast<uint8_t*>(data);
    // Never more than the size in the entry's header, which libzip wrote
    // before the data.
    length = std::min<zip_uint64_t>(length, entry.size - entry.read);
    if (entry.link) {
      std::memcpy(out, entry.linkTarget.data() + entry.read, static_cast<size_t>(length));
      entry.read += length;
      return static_cast<zip_int64_t>(length);
    }
    zip_uint64_t done = 0;
    while (done < length) {
      if (bufferPos == bufferEnd && !Refill(entry)) break;
      const size_t piece = static_cast<size_t>(std::min<zip_uint64_t>(length - done, bufferEnd - bufferPos));
      std::memcpy(out + done, buffer.data() + bufferPos, piece);
      bufferPos += piece;
      done += piece;
    }
    entry.read += done;
    // A file that shrank, or one that goes on beyond its size, changed since
    // it was listed: what was read is no faithful copy.
    if (done == 0 && !entry.skipped && (entry.read != entry.size || bufferPos != bufferEnd || Refill(entry)))
      Skip(entry, "The file changed while it was being packed.", "");
    return static_cast<zip_int64_t>(done);
  }

  zip_int64_t Close(TEntry& entry) {
    if (entry.file != platform::kInvalidFile) {
      platform::CloseFile(entry.file);
      entry.file = platform::kInvalidFile;
    }
    const bool complete = current == static_cast<std::ptrdiff_t>(entry.index) && entry.read == entry.size;
    current = -1;
    if (complete && !entry.skipped && !failed && !RunEvent(afterFile, entry)) return -1;
    return 0;
  }

  // Deletes the entries of skipped files from the finished archive.
  void DropSkippedEntries() {
    int code = 0;
    zip_t* written = zip_open(fileName.c_str(), 0, &code);
    if (!written) {
      zip_error_t error;
      zip_error_init_with_code(&error, code);
      const std::string text = zip_error_strerror(&error);
      const std::string systemText = SystemTextOf(&error);
      zip_error_fini(&error);
      throw EBackupArchiveError(kel::kelFormat("Cannot write \"%s\": %s", {fileName, text}), systemText, -1);
    }
    for (const auto& entry : entries)
      if (entry->skipped) zip_delete(written, entry->at);
    if (zip_close(written) != 0) {
      zip_error_t* failure = zip_get_error(written);
      const std::string text = zip_error_strerror(failure);
      const std::string systemText = SystemTextOf(failure);
      zip_discard(written);
      throw EBackupArchiveError(kel::kelFormat("Cannot write \"%s\": %s", {fileName, text}), systemText, -1);
    }
  }

  static zip_int64_t Callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    TEntry& entry = *static_cast<TEntry*>(state);
    TImpl& self = *entry.owner;
    switch (command) {
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS, -1);
      case ZIP_SOURCE_STAT: {
        zip_stat_t* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &entry.error);
        if (!stat) return -1;
        zip_stat_init(stat);
        stat->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        stat->size = entry.size;
        stat->mtime = static_cast<time_t>(entry.modified);
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_OPEN:
        return self.Open(entry);
      case ZIP_SOURCE_READ:
        return self.Read(entry, data, length);
      case ZIP_SOURCE_CLOSE:
        return self.Close(entry);
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&entry.error, data, length);
      case ZIP_SOURCE_FREE:
        return 0;
      default:
        zip_error_set(&entry.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }
};

TSetupBackupArchive::TSetupBackupArchive(const std::string& fileName, int level) : impl_(std::make_unique<TImpl>()) {
  impl_->fileName = fileName;
  impl_->level = std::clamp(level, 1, 9);
  int code = 0;
  impl_->archive = zip_open(fileName.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!impl_->archive) {
    std::string systemText;
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    systemText = SystemTextOf(&error);
    zip_error_fini(&error);
    throw EBackupArchiveError(kel::kelFormat("Cannot create \"%s\": %s", {fileName, ZipErrorText(code)}),
                              systemText, -1);
  }
}

TSetupBackupArchive::~TSetupBackupArchive() = default;

size_t TSetupBackupArchive::Count() const { return impl_->entries.size(); }

void TSetupBackupArchive::Add(const std::string& source, const std::string& entryName) {
  TImpl& impl = *impl_;
  const std::string folder = kel::kelExtractFilePath(source);
  std::string error;
  if (!impl.lastFolder || impl.lastFolder->Path() != folder)
    impl.lastFolder = platform::ConfinedFolder::Open(folder, std::nullopt, &error);
  if (!impl.lastFolder) {
    impl.skipped.push_back({impl.added++, "The file cannot be examined.", error});
    return;
  }
  Add({impl.lastFolder, kel::kelExtractFileName(source), source, entryName, 0});
}

void TSetupBackupArchive::Add(const TSetupBackupSource& source) {
  TImpl& impl = *impl_;
  const size_t index = impl.added++;
  const std::ptrdiff_t errorIndex = static_cast<std::ptrdiff_t>(index);
  if (!impl.archive) throw EBackupArchiveError("The archive is closed.", "", errorIndex);
  std::string error;
  platform::ConfinedEntry details;
  std::string linkTarget;
  if (!source.Folder->Examine(source.Relative, details, &error) ||
      (details.kind == platform::EntryKind::Link && !source.Folder->ReadLink(source.Relative, linkTarget, &error))) {
    impl.skipped.push_back({index, "The file cannot be examined.", error});
    return;
  }
  if (details.kind == platform::EntryKind::Directory)
    throw EBackupArchiveError("The path is a folder.", "", errorIndex);
  if (details.kind == platform::EntryKind::Other) {
    impl.skipped.push_back({index, "The path is no file.", ""});
    return;
  }
  const bool link = details.kind == platform::EntryKind::Link;

  auto entry = std::make_unique<TImpl::TEntry>();
  entry->owner = &impl;
  entry->index = index;
  entry->folder = source.Folder;
  entry->relative = source.Relative;
  entry->link = link;
  entry->size = link ? linkTarget.size() : details.size;
  entry->linkTarget = std::move(linkTarget);
  entry->modified = details.modified;
  zip_error_init(&entry->error);

  const auto libraryFailure = [&](const char* what) {
    zip_error_t* failure = zip_get_error(impl.archive);
    const std::string text = kel::kelFormat("%s: %s", {what, zip_error_strerror(failure)});
    const std::string systemText = SystemTextOf(failure);
    zip_error_clear(impl.archive);
    return EBackupArchiveError(text, systemText, errorIndex);
  };

  zip_source_t* zipSource = zip_source_function(impl.archive, &TImpl::Callback, entry.get());
  if (!zipSource) {
    zip_error_fini(&entry->error);
    throw libraryFailure("Cannot add the file");
  }
  // Names that are not valid UTF-8 are stored as they are, without the flag
  // that declares them UTF-8.
  const std::string& entryName = source.Entry;
  const zip_flags_t nameFlags = kel::kelIsValidUtf8(entryName) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_GUESS;
  const zip_int64_t added = zip_file_add(impl.archive, entryName.c_str(), zipSource, nameFlags);
  if (added < 0) {
    zip_source_free(zipSource);
    zip_error_fini(&entry->error);
    throw libraryFailure(kel::kelFormat("Cannot add \"%s\"", {entryName}).c_str());
  }
  // From here on the archive refers to the entry's state.
  const zip_uint64_t at = static_cast<zip_uint64_t>(added);
  entry->at = at;
  impl.entries.push_back(std::move(entry));
  // A link's target text is tiny: stored as it is.
  const uint32_t mode = (link ? kUnixSymbolicLink : kUnixRegularFile) | details.permissions;
  const uint32_t attributes = (mode << 16) | (!link && (details.permissions & 0222) == 0 ? kDosReadOnly : 0);
  if (zip_set_file_compression(impl.archive, at, link ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                               link ? 0 : static_cast<zip_uint32_t>(impl.level)) != 0 ||
      zip_file_set_mtime(impl.archive, at, static_cast<time_t>(details.modified), 0) != 0 ||
      zip_file_set_external_attributes(impl.archive, at, 0, ZIP_OPSYS_UNIX, attributes) != 0)
    throw libraryFailure("Cannot describe the file");
  if (details.modified >= 0 && details.modified <= INT32_MAX) {
    const uint32_t seconds = static_cast<uint32_t>(details.modified);
    const zip_uint8_t timestamp[5] = {1, static_cast<zip_uint8_t>(seconds), static_cast<zip_uint8_t>(seconds >> 8),
                                      static_cast<zip_uint8_t>(seconds >> 16), static_cast<zip_uint8_t>(seconds >> 24)};
    if (zip_file_extra_field_set(impl.archive, at, kExtendedTimestampId, ZIP_EXTRA_FIELD_NEW, timestamp,
                                 sizeof timestamp, ZIP_FL_LOCAL | ZIP_FL_CENTRAL) != 0)
      throw libraryFailure("Cannot describe the file");
  }
}

void TSetupBackupArchive::Commit(const TFileEvent& beforeFile, const TFileEvent& afterFile) {
  TImpl& impl = *impl_;
  if (!impl.archive) throw EBackupArchiveError("The archive is closed.", "", -1);
  impl.beforeFile = beforeFile;
  impl.afterFile = afterFile;
  impl.buffer.resize(kReadPiece);
  // The compressor sets up and frees its large state once per file.
  platform::RetainFreedHeapMemory(kHeapBlockBytes, kHeapRetainedBytes);

  if (zip_close(impl.archive) == 0) {
    impl.archive = nullptr;
    impl.buffer = {};
    std::sort(impl.skipped.begin(), impl.skipped.end(),
              [](const TSkipped& a, const TSkipped& b) { return a.Index < b.Index; });
    try {
      if (std::any_of(impl.entries.begin(), impl.entries.end(), [](const auto& entry) { return entry->skipped; }))
        impl.DropSkippedEntries();
      std::string error;
      if (!platform::MakePrivate(impl.fileName, &error))
        throw EBackupArchiveError(kel::kelFormat("Cannot protect \"%s\"", {impl.fileName}), error, -1);
    } catch (const EBackupArchiveError&) {
      platform::DeleteFile(impl.fileName);
      throw;
    }
    return;
  }
  zip_error_t* failure = zip_get_error(impl.archive);
  const std::string libraryText = zip_error_strerror(failure);
  const std::string librarySystemText = SystemTextOf(failure);
  const std::ptrdiff_t current = impl.current;
  zip_discard(impl.archive);
  impl.archive = nullptr;
  impl.buffer = {};
  for (auto& entry : impl.entries) {
    if (entry->file != platform::kInvalidFile) platform::CloseFile(entry->file);
    entry->file = platform::kInvalidFile;
  }
  if (impl.eventError) std::rethrow_exception(impl.eventError);
  if (impl.failed) throw EBackupArchiveError(impl.failureText, impl.failureSystemText, impl.failedIndex);
  throw EBackupArchiveError(current >= 0 ? libraryText
                                         : kel::kelFormat("Cannot write \"%s\": %s", {impl.fileName, libraryText}),
                            librarySystemText, current);
}

const std::vector<TSetupBackupArchive::TSkipped>& TSetupBackupArchive::Skipped() const { return impl_->skipped; }

void ListBackupSources(const std::shared_ptr<const platform::ConfinedFolder>& folder, const std::string& relative,
                       const std::string& path, const std::string& excludedPrefix, const std::string& entryRoot,
                       std::vector<TSetupBackupSource>& sources) {
  std::vector<platform::ConfinedEntry> entries;
  if (!folder->ReadDirectory(relative, entries)) return;
  std::sort(entries.begin(), entries.end(), [](const platform::ConfinedEntry& a, const platform::ConfinedEntry& b) {
    const int order = kel::kelCompareText(a.name, b.name);
    return order != 0 ? order < 0 : a.name < b.name;
  });
  const auto excluded = [&](const std::string& full) {
    return !excludedPrefix.empty() && kel::kelStartsText(excludedPrefix, full);
  };
  const std::string below = relative.empty() || relative.back() == '/' ? relative : relative + "/";
  std::vector<std::string> subfolders;
  for (const platform::ConfinedEntry& entry : entries) {
    const std::string full = path + entry.name;
    if (entry.kind == platform::EntryKind::Directory) {
      if (!excluded(full + "/")) subfolders.push_back(entry.name);
    } else if (entry.kind != platform::EntryKind::Other && !excluded(full)) {
      sources.push_back({folder, below + entry.name, full, entryRoot + entry.name, entry.size});
    }
  }
  std::sort(subfolders.begin(), subfolders.end(),
            [](const std::string& a, const std::string& b) { return kel::kelCompareLogical(a, b) < 0; });
  for (const std::string& name : subfolders)
    ListBackupSources(folder, below + name, path + name + "/", excludedPrefix, entryRoot + name + "/", sources);
}

}  // namespace setup
