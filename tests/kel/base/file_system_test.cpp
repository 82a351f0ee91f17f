#include "kel/base/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "support/temp_dir.h"
#include "support/testlib/environment.h"

namespace kel {
namespace {

namespace fs = std::filesystem;
using orvi::test::TempDir;

struct Case {
  std::string got;
  std::string want;
  const char* what;
};

void ExpectAll(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

std::string Bool(bool value) { return value ? "true" : "false"; }

TEST(PathStrings, TakingPathsApart) {
  ExpectAll({
      {kelIncludeTrailingPathDelimiter(""), "", "empty stays empty"},
      {kelIncludeTrailingPathDelimiter("/opt"), "/opt/", "adds '/'"},
      {kelIncludeTrailingPathDelimiter("C:\\a\\"), "C:\\a\\", "a '\\' counts"},
      {kelIncludeTrailingPathDelimiter("C:"), "C:/", "after ':' too"},
      {kelExtractFilePath("/opt/ORVI/x.ini"), "/opt/ORVI/", "folder of a Linux path"},
      {kelExtractFilePath("C:\\a\\b.txt"), "C:\\a\\", "folder of a Windows path"},
      {kelExtractFilePath("C:x"), "C:", "':' is a delimiter"},
      {kelExtractFilePath("name"), "", "no delimiter"},
      {kelExtractFileName("C:\\a/b\\c.txt"), "c.txt", "mixed delimiters"},
      {kelExtractFileName("dir/"), "", "folder path"},
      {kelExtractFileDir("C:\\a\\b.txt"), "C:\\a", "last '\\' dropped"},
      {kelExtractFileDir("C:\\b.txt"), "C:\\", "kept after ':'"},
      {kelExtractFileDir("/opt/x"), "/opt", "last '/' dropped"},
      {kelExtractFileDir("/x"), "/", "the root stays"},
      {kelExtractFileDir("a//b"), "a//", "kept after a delimiter"},
      {kelExtractFileDir("a:b"), "a:", "a last ':' stays"},
      {kelExtractFileDrive("C:\\x"), "C:", "drive letter"},
      {kelExtractFileDrive("\\\\server\\share\\x"), "\\\\server", "UNC"},
      {kelExtractFileDrive("\\\\server"), "\\\\server", "UNC without share"},
      {kelExtractFileDrive("\\\\?\\D:\\x"), "D:", "prefixed path"},
      {kelExtractFileDrive("/opt/x"), "", "Linux paths have none"},
      {kelExtractLastPathParts("C:\\a\\b\\", 1), "b", "one part"},
      {kelExtractLastPathParts("C:\\a\\b\\", 2), "a\\b", "two parts keep their delimiter"},
      {kelExtractLastPathParts("/opt/ORVI/x", 9), "opt/ORVI/x", "more parts than there are"},
      {kelExtractLastPathParts("/opt/x", 0), "", "none"},
      {kelExtractParentFolderName("/opt/ORVI/x.ini"), "ORVI", "parent folder"},
  });
}

TEST(PathStrings, Extensions) {
  ExpectAll({
      {kelExtractFileExt("a.b\\c"), "", "dot in a folder name"},
      {kelExtractFileExt("C:\\x\\file.TXT"), ".TXT", "case kept"},
      {kelExtractFileExt("name."), ".", "bare dot"},
      {kelExtractFileExt("a b.c d"), "", "space after the dot"},
      {kelExtractFileExt(".bashrc"), ".bashrc", "hidden file"},
      {kelExtractFileExt("http://h/x.php?a=b.c"), ".php", "URL query ignored"},
      {kelExtractFileExt("a.tar.gz", true), ".tar.gz", "double extension"},
      {kelExtractFileExt("dir.x/f.gz", true), ".gz", "no second extension across a folder"},
      {kelChangeFileExt("a.txt", ".ini"), "a.ini", "replaced"},
      {kelChangeFileExt("/opt/a", ".ini"), "/opt/a.ini", "appended"},
      {kelChangeFileExt("a.txt", ""), "a", "removed"},
      {kelChangeFileExt("a.tar.gz", ".zip", true), "a.zip", "double replaced"},
      {kelChangeFileExt("http://h/x.php?q=1.2", ".html"), "http://h/x.html?q=1.2", "URL query stays"},
      {kelExtractFileNameWithoutExt("/opt/ORVI.ini"), "ORVI", "name without extension"},
      {Bool(kelFileMaskListContains("*.bak;*.tmp;", ".TMP")), "true", "mask ignoring case"},
      {Bool(kelFileMaskListContains("*.bak", ".bak")), "false", "entries end with ';'"},
      {Bool(kelFileMaskListContains("*.tar.gz;", ".gz")), "false", "whole entries only"},
      {Bool(kelFileMaskListContains("", ".bak")), "false", "empty list"},
  });
}

TEST(PathStrings, KindsOfNames) {
  ExpectAll({
      {Bool(kelIsUrlFileName("http://x")), "true", "scheme://"},
      {Bool(kelIsUrlFileName("file:\\\\x")), "true", "scheme:\\\\"},
      {Bool(kelIsUrlFileName("C:\\x")), "false", "drive"},
      {Bool(kelIsUrlFileName("mailto:a@b")), "false", "no slashes"},
      {Bool(kelIsUrlFileName("a:/\\b")), "false", "unequal slashes"},
      {Bool(kelIsUncFileName("\\\\s\\x")), "true", "UNC"},
      {Bool(kelIsUncFileName("//s/x")), "false", "UNC uses backslashes"},
      {std::to_string(kelLastDelimiter("\\:", "C:\\a\\b")), "5", "1-based"},
      {std::to_string(kelLastDelimiter("/", "abc")), "0", "none"},
  });
}

TEST(PathStrings, Validation) {
  std::string accents;
  for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";  // 400 bytes of é
  ExpectAll({
      {kelValidateFileName(" a:b?. ", '_'), "a_b_", "replaced"},
      {kelValidateFileName(" a:b?. ", '\0'), "ab", "dropped"},
      {kelValidateFileName("\"q\"<>|*/\\", '-'), "'q'------", "quotes and reserved characters"},
      {kelValidateFileName("a\x01\tb", '_'), "ab", "control characters go"},
      {kelValidateFileName("...", '_'), ".", "the first character stays"},
      {kelValidateFileName("   ", '_'), "", "only spaces"},
      {std::to_string(kelValidateFileName(accents, '_').size()), "254", "cut below 255 bytes between characters"},
      {kelValidatePath("a\\b/c"), "a/b/c", "both delimiters"},
      {kelValidatePath("a//<b>/"), "a/b/", "empty parts dropped, trailing kept"},
      {kelValidatePath("..\\x"), "./x", "'..' cannot climb"},
      {kelValidatePath("\\"), "", "nothing left"},
      {kelValidateFilePath("C:\\a?\\b"), "C:/a/b", "drive kept"},
      {kelValidateFilePath("/opt/a|b/c"), "/opt/ab/c", "root kept"},
      {kelValidateFilePath("rel/x:y"), "rel/xy", "relative"},
  });
}

TEST(PathStrings, LongPathsAndNaturalOrder) {
  const std::string tail(300, 'a');
  ExpectAll({
      {kelLongPath("C:\\" + tail), "\\\\?\\C:\\" + tail, "long drive path"},
      {kelLongPath("\\\\server\\share\\" + tail), "\\\\?\\UNC\\server\\share\\" + tail, "long UNC path"},
      {kelLongPath("C:\\" + tail.substr(0, 97)), "C:\\" + tail.substr(0, 97), "short path unchanged"},
      {kelLongPath("\\\\?\\c:\\" + tail), "\\\\?\\c:\\" + tail, "already prefixed"},
  });
  EXPECT_LT(kelCompareLogical("Disc 2", "Disc 10"), 0);
  EXPECT_LT(kelCompareLogical("file9.mp3", "FILE10.mp3"), 0);
  EXPECT_GT(kelCompareLogical("b", "A"), 0);
  EXPECT_LT(kelCompareLogical("a", "a1"), 0);
  EXPECT_EQ(kelCompareLogical("x007", "x007"), 0);
}

// --- Real folders -------------------------------------------------------------------

class FileSystemTest : public ::testing::Test {
 protected:
  std::string Path(std::string_view relative) const { return dir_ / relative; }
  std::string Write(std::string_view relative, std::string_view bytes = "x") const {
    return dir_.WriteFile(relative, bytes);
  }
  TempDir dir_;
};

TEST_F(FileSystemTest, AttributesOfEntries) {
  Write("plain.txt");
  Write(".hidden");
  const std::string readOnly = Write("ro.txt");
  chmod(readOnly.c_str(), 0444);
  fs::create_directory(Path("folder"));
  fs::create_symlink(Path("nowhere"), Path("dangling"));
  mkfifo(Path("pipe").c_str(), 0600);

  struct Row {
    const char* name;
    uint32_t attributes;
  } rows[] = {
      {"plain.txt", faNormal},  {".hidden", faHidden},     {"ro.txt", faReadOnly},
      {"folder", faDirectory},  {"folder/", faDirectory},  {"dangling", faSymLink},
      {"pipe", faSysFile},      {"missing", kelInvalidFileAttributes},
  };
  for (const Row& row : rows) EXPECT_EQ(kelFileGetAttributes(Path(row.name)), row.attributes) << row.name;
  EXPECT_EQ(kelFileGetAttributes(""), kelInvalidFileAttributes);
  EXPECT_TRUE(kelFileExists(Path("plain.txt")));
  EXPECT_FALSE(kelFileExists(Path("folder")));
  EXPECT_TRUE(kelDirectoryExists(Path("folder")));

  EXPECT_TRUE(kelFileSetAttributes(readOnly, faNormal));
  EXPECT_EQ(kelFileGetAttributes(readOnly), faNormal);
  EXPECT_TRUE(kelFileSetAttributes(readOnly, faReadOnly | faHidden));
  EXPECT_EQ(kelFileGetAttributes(readOnly), faReadOnly);
  EXPECT_FALSE(kelFileSetAttributes(Path("missing"), faNormal));
}

TEST_F(FileSystemTest, FilesAreCopiedMovedAndDeleted) {
  const std::string source = Write("a.txt", "new");
  const std::string target = Write("b.txt", "old");
  chmod(source.c_str(), 0750);

  EXPECT_FALSE(kelCopyFile(source, target, true));
  EXPECT_EQ(dir_.ReadFile("b.txt"), "old");
  EXPECT_TRUE(kelCopyFile(source, target, false));
  EXPECT_EQ(dir_.ReadFile("b.txt"), "new");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0750));
  EXPECT_FALSE(kelCopyFile(Path("missing"), Path("c.txt"), false));
  EXPECT_FALSE(kelCopyFile(Path("."), Path("c.txt"), false)) << "folders are not files";
  EXPECT_EQ(kelFileGetSize(target), 3);
  EXPECT_EQ(kelFileGetSize(Path("missing")), 0);

  EXPECT_FALSE(kelMoveFile(source, target)) << "never replaces";
  EXPECT_TRUE(kelMoveFile(source, Path("moved.txt")));
  EXPECT_FALSE(kelFileExists(source));

  fs::create_directory(Path("folder"));
  EXPECT_FALSE(kelDeleteFile(Path("folder")));
  EXPECT_TRUE(kelDeleteFile(target));
  EXPECT_FALSE(kelDeleteFile(target)) << "already absent is not success";

  EXPECT_TRUE(kelForceDirectories(Path("x/y/z/")));
  EXPECT_TRUE(kelDirectoryExists(Path("x/y/z")));
  EXPECT_TRUE(kelForceDirectoriesForFile(Path("p/q/file.txt")));
  EXPECT_TRUE(kelDirectoryExists(Path("p/q")));
  EXPECT_FALSE(kelForceDirectories(Path("moved.txt/sub"))) << "a file is in the way";
  EXPECT_FALSE(kelForceDirectories(""));
  EXPECT_FALSE(kelRemoveDirectory(Path("x"))) << "not empty";
  EXPECT_TRUE(kelRemoveDirectory(Path("x/y/z")));
}

TEST_F(FileSystemTest, CopyDirectoryWithMasksAndSubfolders) {
  Write("src/a.mp3");
  Write("src/b.TMP");
  Write("src/sub/c.mp3");
  Write("src/sub/deeper/d.mp3");

  EXPECT_TRUE(kelCopyDirectory(Path("src"), Path("flat"), "*.mp3;", false));
  EXPECT_TRUE(fs::exists(Path("flat/a.mp3")));
  EXPECT_FALSE(fs::exists(Path("flat/b.TMP")));
  EXPECT_FALSE(fs::exists(Path("flat/sub")));

  EXPECT_TRUE(kelCopyDirectoryInto(Path("src/"), Path("into"), "", true));
  for (const char* file : {"into/src/a.mp3", "into/src/b.TMP", "into/src/sub/deeper/d.mp3"})
    EXPECT_TRUE(fs::exists(Path(file))) << file;

  EXPECT_FALSE(kelCopyDirectory(Path("missing"), Path("t"), "", true));
  EXPECT_FALSE(kelCopyDirectory(Path("src/a.mp3"), Path("t"), "", true));
}

TEST_F(FileSystemTest, CopyDirectoryStopsAtTheFirstFailure) {
  Write("src/a.txt", "a");
  Write("src/b.txt", "b");
  Write("src/c.txt", "c");
  fs::create_directories(Path("dst/b.txt"));  // a folder where b.txt must go

  EXPECT_FALSE(kelCopyDirectory(Path("src"), Path("dst"), "", true));
  EXPECT_EQ(dir_.ReadFile("dst/a.txt"), "a") << "copied before the failure";
  EXPECT_FALSE(fs::exists(Path("dst/c.txt"))) << "nothing after it";
}

TEST_F(FileSystemTest, CopyDirectoryFollowsLinksButNotInCycles) {
  Write("src/a.txt");
  Write("elsewhere/e.txt");
  fs::create_directory_symlink(Path("elsewhere"), Path("src/linked"));
  fs::create_directory_symlink(Path("src"), Path("src/loop"));

  EXPECT_TRUE(kelCopyDirectory(Path("src"), Path("dst"), "", true));
  EXPECT_TRUE(fs::exists(Path("dst/linked/e.txt")));
  EXPECT_FALSE(fs::exists(Path("dst/loop/loop")));
}

TEST_F(FileSystemTest, DeleteDirectory) {
  Write("t/a.txt");
  Write("t/b.txt");
  Write("t/sub/c.txt");

  EXPECT_FALSE(kelDeleteDirectory(Path("t"), false)) << "a subfolder keeps it";
  EXPECT_FALSE(fs::exists(Path("t/a.txt")));
  EXPECT_FALSE(fs::exists(Path("t/b.txt")));
  EXPECT_TRUE(fs::exists(Path("t/sub/c.txt")));

  EXPECT_TRUE(kelDeleteDirectory(Path("t/"), true));
  EXPECT_FALSE(fs::exists(Path("t")));
  EXPECT_FALSE(kelDeleteDirectory(Path("t"), true)) << "already absent";
  EXPECT_FALSE(kelDeleteDirectory("", true));
}

TEST_F(FileSystemTest, DeleteDirectoryNeverFollowsLinks) {
  Write("keep/precious.txt");
  Write("t/a.txt");
  fs::create_directory_symlink(Path("keep"), Path("t/link"));
  fs::create_directory_symlink(Path("keep"), Path("alias"));

  EXPECT_TRUE(kelDeleteDirectory(Path("t"), true));
  EXPECT_TRUE(kelDeleteDirectory(Path("alias/"), true));
  EXPECT_FALSE(fs::exists(Path("t")));
  EXPECT_FALSE(fs::is_symlink(Path("alias")));
  EXPECT_TRUE(fs::exists(Path("keep/precious.txt")));
}

// Searches skip pipes, sockets and devices; deleting a folder must not, or a
// folder holding one would never go. Links go, their targets stay.
TEST_F(FileSystemTest, DeleteDirectoryRemovesEveryKindOfEntry) {
  const std::string kept = Write("keep/precious.txt", "precious");
  const struct {
    const char* what;
    std::function<int(const std::string&)> make;
  } kinds[] = {
      {"a pipe", [](const std::string& p) { return mkfifo(p.c_str(), 0600); }},
      {"a socket", [](const std::string& p) { return mknod(p.c_str(), S_IFSOCK | 0600, 0); }},
      {"a dangling link", [](const std::string& p) { return symlink("nowhere", p.c_str()); }},
      {"a link to a file", [&](const std::string& p) { return symlink(kept.c_str(), p.c_str()); }},
  };
  for (const auto& kind : kinds) {
    for (const bool recursive : {false, true}) {
      SCOPED_TRACE(std::string(kind.what) + (recursive ? ", in a subfolder too" : ""));
      fs::create_directories(Path("t"));
      ASSERT_EQ(kind.make(Path("t/entry")), 0);
      if (recursive) {
        fs::create_directories(Path("t/sub"));
        ASSERT_EQ(kind.make(Path("t/sub/entry")), 0);
      }
      EXPECT_TRUE(kelDeleteDirectory(Path("t"), recursive));
      EXPECT_FALSE(fs::exists(fs::symlink_status(Path("t"))));
      fs::remove_all(Path("t"));
    }
  }
  EXPECT_EQ(dir_.ReadFile("keep/precious.txt"), "precious");
}

TEST_F(FileSystemTest, FindFirstAndNext) {
  Write("Beta.mp3");
  Write("alpha.MP3");
  Write("gamma.txt");
  fs::create_directory(Path("Delta"));
  mkfifo(Path("pipe.mp3").c_str(), 0600);

  const auto names = [&](std::string_view masks, std::string_view pattern, uint32_t kinds) {
    std::string result;
    for (auto info = kelFindFirst(dir_.Path(), masks, pattern, kinds); info; kelFindNext(info)) {
      EXPECT_EQ(info->Folder, dir_.Path() + "/");
      result += info->Name + (info->Kind == 1 ? "/ " : " ");
    }
    return result;
  };
  EXPECT_EQ(names("", "*", fkAll), "alpha.MP3 Beta.mp3 Delta/ gamma.txt ") << "sorted; no '.', '..' or pipes";
  EXPECT_EQ(names("*.mp3;", "*", fkAll), "alpha.MP3 Beta.mp3 Delta/ ") << "masks apply to files only";
  EXPECT_EQ(names("", "*", fkFolders), "Delta/ ");
  EXPECT_EQ(names("", "?ETA.*", fkFiles), "Beta.mp3 ") << "pattern ignores case";
  EXPECT_EQ(names("", "nothing*", fkAll), "");
  EXPECT_EQ(kelFindFirst(Path("missing"), "", "*", fkAll), nullptr);

  auto info = kelFindFirst(dir_.Path(), "", "*", fkAll);
  ASSERT_NE(info, nullptr);
  kelFindClose(info);
  EXPECT_EQ(info, nullptr);
  EXPECT_FALSE(kelFindNext(info));

  std::string found;
  int64_t size = 0;
  EXPECT_TRUE(kelFindFile(Path("BETA.MP3"), found, size));
  EXPECT_EQ(found, Path("Beta.mp3"));
  EXPECT_EQ(size, 1);
  EXPECT_FALSE(kelFindFile(Path("Delta"), found, size)) << "files only";
}

TEST_F(FileSystemTest, EnumerationIsDepthFirst) {
  Write("r/top.txt");
  Write("r/a/one.txt");
  Write("r/a/b/two.txt");
  Write("r/a/b/skip.dat");

  std::string order;
  kelEnumFilesEx(Path("r"), "*.txt;", fkAll, true, [&](const TKELFindFileInfo& info) {
    order += info.FullName().substr(Path("r").size()) + " ";
  });
  EXPECT_EQ(order, "/a/b/two.txt /a/b /a/one.txt /a /top.txt ");

  TKELStringList files;
  kelEnumFiles(Path("r/a/b"), "*.txt;", files);
  EXPECT_EQ(files.Join(","), Path("r/a/b/two.txt"));
}

TEST_F(FileSystemTest, SearchVisitsFoldersInNaturalOrder) {
  for (const char* file : {"Disc 10/x.mp3", "Disc 2/x.mp3", "Disc 1/x.mp3", "Disc 2/skip/y.mp3", "top.mp3", "n.txt"})
    Write(std::string("music/") + file);
  fs::create_directory_symlink(Path("music"), Path("music/loop"));

  TKELSearch search;
  std::string found;
  search.StartFolder = Path("music");
  search.Masks = "*.mp3;";
  search.Receiver = [&](const std::string& file) { found += file.substr(Path("music/").size()) + " "; };
  search.OnFilterFolder = [](const std::string& folder) { return folder.find("skip") == std::string::npos; };
  search.Start(true);
  EXPECT_EQ(found, "top.mp3 Disc 1/x.mp3 Disc 2/x.mp3 Disc 10/x.mp3 ");
  EXPECT_FALSE(search.Active());

  found.clear();
  search.Start(false);
  EXPECT_EQ(found, "top.mp3 ");

  for (bool byAbort : {false, true}) {
    int count = 0;
    search.Receiver = [&](const std::string&) {
      if (++count == 2) {
        if (byAbort) throw EAbort();
        search.Stop();
      }
    };
    search.Start(true);
    EXPECT_EQ(count, 2) << (byAbort ? "abort" : "stop") << " ends the whole search";
  }
}

TEST_F(FileSystemTest, ExpandFileName) {
  const std::string cwd = fs::current_path().string();
  ExpectAll({
      {kelExpandFileName("./x"), cwd + "/x", "relative to the current folder"},
      {kelExpandFileName("/a/b/../c/./d"), "/a/c/d", "dots resolved"},
      {kelExpandFileName("rel/x"), "rel/x", "no dot: unchanged"},
      {kelExpandFileName("/x/~y"), "/x/~y", "'~' is ordinary"},
  });
}

TEST_F(FileSystemTest, CurrentFolder) {
  const std::string before = kelGetCurrentDir();
  EXPECT_EQ(before.back(), '/');
  ASSERT_TRUE(kelSetCurrentDir(dir_.Path()));
  EXPECT_EQ(kelGetCurrentDir(), fs::canonical(dir_.Path()).string() + "/");
  EXPECT_TRUE(kelSetCurrentDir(before));
  EXPECT_FALSE(kelSetCurrentDir(Path("missing")));
}

TEST(TempPath, PrivateFolderOfThisRun) {
  TempDir base;
  orvi::test::ScopedEnv tmpdir("TMPDIR", base.Path().c_str());
  orvi::test::ScopedEnv noSandbox("ORVI_SETUP_SANDBOX", nullptr);

  const std::string folder = kelTempPath();
  EXPECT_EQ(folder, kelTempPath()) << "made once";
  EXPECT_EQ(folder.rfind(base.Path() + "/orvi-setup-", 0), 0u) << folder;
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);

  const std::string file = kelTempFileName("delete");
  EXPECT_EQ(kelExtractFilePath(file), folder);
  EXPECT_EQ(kelExtractFileName(file).rfind("delete", 0), 0u);
  EXPECT_EQ(kelExtractFileExt(file), ".tmp");
  EXPECT_EQ(fs::file_size(file), 0u);
  EXPECT_NE(file, kelTempFileName("delete"));

  fs::remove_all(folder);
  const std::string again = kelTempPath();
  EXPECT_NE(again, folder) << "a vanished folder is made anew";
  EXPECT_TRUE(fs::is_directory(again));
}

TEST(TempPath, InsideTheSandbox) {
  orvi::test::Sandbox sandbox;
  const std::string folder = kelTempPath();
  EXPECT_EQ(folder.rfind(sandbox / "/tmp/orvi-setup-", 0), 0u) << folder;
}

TEST(SearchPaths, TextFormAndContainment) {
  TKELSearchPaths paths;
  paths.Add("/home/u/Music", true);
  paths.Add("C:\\Other\\", false);
  paths.Add("", true);
  EXPECT_EQ(paths.GetText(), "1/home/u/Music/;0C:\\Other\\");

  TKELSearchPaths copy;
  copy.SetText("1/stale/");
  copy.SetText(";0/a/;;x/b;1/c");
  ASSERT_EQ(copy.Count(), 3) << "cleared first; empty entries skipped";
  EXPECT_FALSE(copy.Get(0).Recursive);
  EXPECT_TRUE(copy.Get(1).Recursive) << "anything but '0' is recursive";
  EXPECT_EQ(copy.Get(2).Folder, "/c/");

  copy = paths;
  const TKELStringList folders = copy.GetFolders();
  ASSERT_EQ(folders.Count(), 2);
  EXPECT_EQ(folders[0], "/home/u/Music/");
  EXPECT_EQ(folders.GetTag(0), 1u);
  EXPECT_EQ(folders.GetTag(1), 0u);

  EXPECT_TRUE(paths.Contains("/HOME/u/music/a.mp3")) << "inside, ignoring case";
  EXPECT_TRUE(paths.Contains("/home")) << "contains a listed folder";
  EXPECT_FALSE(paths.Contains("/home/u/Mus")) << "a name prefix is not a folder";
  EXPECT_FALSE(paths.Contains("/var"));
  paths.Clear();
  EXPECT_FALSE(paths.Contains("/home"));
}

}  // namespace
}  // namespace kel
