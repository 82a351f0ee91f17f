#include "setup/product/backup_archive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "kel/platform/confined_folder.h"
#include "kel/platform/file.h"
#include "support/temp_dir.h"
#include "update_fixture.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
using orvi::test::ReadFileBytes;
using orvi::test::TempDir;

// One record of an archive's central directory.
struct CentralEntry {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint8_t system = 0;  // the system the attributes belong to
  uint32_t attributes = 0;
  uint32_t compressedSize = 0;
  uint32_t size = 0;
};

uint32_t Le(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes.at(at + static_cast<size_t>(i)));
  return value;
}

// Reads the central directory straight from the bytes, independently of any
// ZIP library.
std::vector<CentralEntry> CentralDirectory(const std::string& bytes) {
  const size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
  EXPECT_NE(end, std::string::npos);
  if (end == std::string::npos) return {};
  const uint32_t count = Le(bytes, end + 10, 2);
  size_t at = Le(bytes, end + 16, 4);
  std::vector<CentralEntry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    EXPECT_EQ(Le(bytes, at, 4), 0x02014b50u);
    CentralEntry entry;
    entry.system = static_cast<uint8_t>(Le(bytes, at + 5, 1));
    entry.flags = static_cast<uint16_t>(Le(bytes, at + 8, 2));
    entry.method = static_cast<uint16_t>(Le(bytes, at + 10, 2));
    entry.compressedSize = Le(bytes, at + 20, 4);
    entry.size = Le(bytes, at + 24, 4);
    const uint32_t nameLength = Le(bytes, at + 28, 2);
    const uint32_t extraLength = Le(bytes, at + 30, 2);
    const uint32_t commentLength = Le(bytes, at + 32, 2);
    entry.attributes = Le(bytes, at + 38, 4);
    entry.name = bytes.substr(at + 46, nameLength);
    entries.push_back(entry);
    at += 46 + nameLength + extraLength + commentLength;
  }
  return entries;
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

struct SourceFile {
  std::string relative;  // below the source folder
  std::string entry;     // name in the archive
  std::string bytes;
  fs::perms permissions;
};

// Files of every kind the backup meets, packed and unpacked again by the
// system's unzip: the same bytes, names, permissions and times.
TEST(BackupArchive, WhatUnzipGetsBack) {
  TempDir source, target;
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "[Track" + std::to_string(i) + "]\r\nVolume=80\r\n";
  const std::vector<SourceFile> files = {
      {"ORVI.ini", "Program/ORVI.ini", text, fs::perms(0644)},
      {"J\xC3\xBCrgen/\xD0\x9F\xD1\x80\xD0\xBE\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C.ini",
       "Profiles/J\xC3\xBCrgen/\xD0\x9F\xD1\x80\xD0\xBE\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C.ini", "Volume=75\r\n",
       fs::perms(0600)},
      {"random.bin", "Program/Plugins/random.bin", RandomBytes(300000, 7), fs::perms(0755)},
      {"empty", "Program/empty", "", fs::perms(0444)},
  };
  // An odd second, which the DOS time of the format cannot hold.
  auto modified = std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  if (modified.time_since_epoch().count() % 2 == 0) modified += std::chrono::seconds(1);
  const std::string archiveName = target / "backup.zip";
  std::vector<std::string> events;
  {
    TSetupBackupArchive archive(archiveName);
    for (const SourceFile& file : files) {
      const std::string path = source.WriteFile(file.relative, file.bytes);
      fs::permissions(path, file.permissions);
      fs::last_write_time(path, modified);
      archive.Add(path, file.entry);
    }
    EXPECT_EQ(archive.Count(), files.size());
    EXPECT_FALSE(fs::exists(archiveName)) << "nothing is written before Commit";
    archive.Commit([&](size_t i) { events.push_back("before " + std::to_string(i)); },
                   [&](size_t i) { events.push_back("after " + std::to_string(i)); });
  }
  EXPECT_EQ(events, (std::vector<std::string>{"before 0", "after 0", "before 1", "after 1", "before 2", "after 2",
                                              "before 3", "after 3"}));

  EXPECT_EQ(orvi::test::RunTool("unzip", {"-t", "-qq", archiveName}), 0);
  const std::unique_ptr<TempDir> unpacked = orvi::test::Unzipped(archiveName);
  ASSERT_TRUE(unpacked);
  for (const SourceFile& file : files) {
    SCOPED_TRACE(file.entry);
    const std::string path = *unpacked / file.entry;
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(ReadFileBytes(path), file.bytes);
    EXPECT_EQ(fs::status(path).permissions(), file.permissions);
    EXPECT_EQ(std::chrono::floor<std::chrono::seconds>(fs::last_write_time(path)), modified)
        << "to the second, not the two seconds of the DOS time";
  }

  const std::vector<CentralEntry> entries = CentralDirectory(ReadFileBytes(archiveName));
  ASSERT_EQ(entries.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].entry);
    EXPECT_EQ(entries[i].name, files[i].entry) << "in the order added";
    EXPECT_EQ(entries[i].method, 8) << "Deflate";
    EXPECT_EQ(entries[i].system, 3) << "Unix attributes";
    EXPECT_EQ(entries[i].attributes >> 16, 0100000u | static_cast<uint32_t>(files[i].permissions));
    EXPECT_EQ(entries[i].size, files[i].bytes.size());
  }
  EXPECT_TRUE(entries[1].flags & 0x0800) << "a name beyond ASCII is marked UTF-8";
  EXPECT_EQ(fs::status(archiveName).permissions(), fs::perms(0600)) << "the owner's alone";
  EXPECT_LT(entries[0].compressedSize, text.size() / 5) << "text is compressed";
  EXPECT_TRUE(entries[3].attributes & 1) << "read-only in DOS terms too";
}

// Every way a file can fail once it has been listed: it is left out with the
// reason, the files after it are packed all the same, and the archive holds
// the others only.
TEST(BackupArchive, AFileThatCannotBeReadIsLeftOut) {
  struct Case {
    const char* name;
    // Spoils file 1 between Add and Commit; may return a handle to close.
    std::function<kel::platform::FileHandle(const std::string& path, const std::string& elsewhere)> spoil;
    const char* reason;
    const char* systemText;
  };
  using kel::platform::FileHandle;
  using kel::platform::kInvalidFile;
  const std::vector<Case> cases = {
      {"deleted", [](const std::string& path, const std::string&) { fs::remove(path); return kInvalidFile; },
       "The file cannot be opened.", "No such file or directory"},
      {"grown",
       [](const std::string& path, const std::string&) {
         orvi::test::WriteFileBytes(path, "more than before");
         return kInvalidFile;
       },
       "The file changed while it was being packed.", ""},
      {"shrunk",
       [](const std::string& path, const std::string&) {
         orvi::test::WriteFileBytes(path, "s");
         return kInvalidFile;
       },
       "The file changed while it was being packed.", ""},
      {"locked",
       [](const std::string& path, const std::string&) {
         return kel::platform::OpenFile(path, kel::platform::FileAccess::ReadWrite,
                                        kel::platform::FileDisposition::OpenExisting, kel::platform::FileShare::None);
       },
       "The file cannot be opened.", "The file is in use by another process."},
      {"its folder swapped for a link",
       [](const std::string& path, const std::string& elsewhere) {
         const fs::path folder = fs::path(path).parent_path();
         fs::rename(folder, elsewhere + "/moved");
         orvi::test::WriteFileBytes(elsewhere + "/b.txt", "second");
         fs::create_directory_symlink(elsewhere, folder);
         return kInvalidFile;
       },
       "The file cannot be opened.", "Not a directory"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempDir folder, elsewhere;
    const std::string archiveName = folder / "backup.zip";
    const std::string first = folder.WriteFile("a.txt", "first");
    const std::string second = folder.WriteFile("sub/b.txt", "second");
    const std::string third = folder.WriteFile("c.txt", "third");
    TSetupBackupArchive archive(archiveName);
    const std::shared_ptr<const kel::platform::ConfinedFolder> source =
        kel::platform::ConfinedFolder::Open(folder.Path(), std::nullopt);
    ASSERT_TRUE(source);
    archive.Add({source, "a.txt", first, "a.txt", 5});
    archive.Add({source, "sub/b.txt", second, "sub/b.txt", 6});
    archive.Add({source, "c.txt", third, "c.txt", 5});
    const FileHandle held = test.spoil(second, elsewhere.Path());
    std::vector<size_t> packed;
    archive.Commit({}, [&](size_t i) { packed.push_back(i); });
    if (held != kInvalidFile) kel::platform::CloseFile(held);

    ASSERT_EQ(archive.Skipped().size(), 1u);
    EXPECT_EQ(archive.Skipped()[0].Index, 1u);
    EXPECT_EQ(archive.Skipped()[0].Reason, test.reason);
    EXPECT_EQ(archive.Skipped()[0].SystemText, test.systemText);
    EXPECT_EQ(packed, (std::vector<size_t>{0, 2}));
    EXPECT_EQ(orvi::test::RunTool("unzip", {"-t", "-qq", archiveName}), 0);
    const std::unique_ptr<TempDir> unpacked = orvi::test::Unzipped(archiveName);
    ASSERT_TRUE(unpacked);
    EXPECT_EQ(orvi::test::TreeOf(unpacked->Path()), (std::vector<std::string>{"a.txt", "c.txt"}));
    EXPECT_EQ(ReadFileBytes(*unpacked / "c.txt"), "third");
    EXPECT_EQ(fs::status(archiveName).permissions(), fs::perms(0600));
  }
}

// A link is stored as a link, with its target text, whether or not the
// target exists; what it leads to is never read.
TEST(BackupArchive, LinksAreStoredAsLinks) {
  TempDir folder, elsewhere;
  const std::string secret = elsewhere.WriteFile("secret.txt", "someone else's secret");
  fs::create_symlink(secret, folder / "stolen.txt");
  fs::create_symlink("missing.txt", folder / "dangling.txt");
  const std::string archiveName = folder / "backup.zip";
  {
    TSetupBackupArchive archive(archiveName);
    archive.Add(folder / "stolen.txt", "Profiles/alice/stolen.txt");
    archive.Add(folder / "dangling.txt", "Profiles/alice/dangling.txt");
    archive.Commit();
    EXPECT_TRUE(archive.Skipped().empty());
  }
  const std::string bytes = ReadFileBytes(archiveName);
  EXPECT_EQ(bytes.find("secret"), bytes.find("secret.txt")) << "only the link's text";
  const std::vector<CentralEntry> entries = CentralDirectory(bytes);
  ASSERT_EQ(entries.size(), 2u);
  for (const CentralEntry& entry : entries) EXPECT_EQ(entry.attributes >> 28, 0xAu) << entry.name << ": a link";
  const std::unique_ptr<TempDir> unpacked = orvi::test::Unzipped(archiveName);
  ASSERT_TRUE(unpacked);
  EXPECT_EQ(fs::read_symlink(*unpacked / "Profiles/alice/stolen.txt"), secret);
  EXPECT_EQ(fs::read_symlink(*unpacked / "Profiles/alice/dangling.txt"), "missing.txt");
}

TEST(BackupArchive, EventErrorsStopTheBackup) {
  TempDir folder;
  const std::string archiveName = folder / "backup.zip";
  TSetupBackupArchive archive(archiveName);
  archive.Add(folder.WriteFile("a.txt", "first"), "a.txt");
  archive.Add(folder.WriteFile("b.txt", "second"), "b.txt");
  std::vector<size_t> started;
  EXPECT_THROW(archive.Commit([&](size_t i) {
    started.push_back(i);
    if (i == 1) throw std::runtime_error("stopped");
  }),
               std::runtime_error);
  EXPECT_EQ(started, (std::vector<size_t>{0, 1}));
  EXPECT_FALSE(fs::exists(archiveName));
}

TEST(BackupArchive, AddSkipsWhatIsGoneAndRefusesWhatCannotBePacked) {
  TempDir folder;
  TSetupBackupArchive archive(folder / "backup.zip");
  archive.Add(folder.WriteFile("a.txt", "a"), "same/name.txt");
  archive.Add(folder / "missing.txt", "missing.txt");
  ASSERT_EQ(archive.Skipped().size(), 1u);
  EXPECT_EQ(archive.Skipped()[0].Index, 1u);
  EXPECT_EQ(archive.Skipped()[0].Reason + " | " + archive.Skipped()[0].SystemText,
            "The file cannot be examined. | No such file or directory");
  const auto failure = [&](const std::string& source, const std::string& entry) {
    try {
      archive.Add(source, entry);
    } catch (const EBackupArchiveError& e) {
      return std::to_string(e.FileIndex()) + " " + e.Message() + " | " + e.SystemText();
    }
    return std::string("added");
  };
  EXPECT_EQ(failure(folder.WriteFile("b.txt", "b"), "same/name.txt"),
            "2 Cannot add \"same/name.txt\": File already exists | ");
  EXPECT_EQ(failure(folder.Path(), "folder"), "3 The path is a folder. | ");
  EXPECT_EQ(archive.Count(), 1u);
}

}  // namespace
}  // namespace setup
