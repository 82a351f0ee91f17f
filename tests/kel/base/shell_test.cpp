#include "kel/base/shell.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "kel/base/file_system.h"
#include "kel/platform/process.h"
#include "support/temp_dir.h"
#include "support/testlib/environment.h"

namespace kel {
namespace {

namespace fs = std::filesystem;
using orvi::test::ScopedEnv;
using orvi::test::TempDir;

// --- Shortcuts ------------------------------------------------------------------

TEST(Shortcuts, WrittenAndReadBack) {
  TempDir dir;
  const char* names[] = {"ORVI", "with space", "quote\"d", "dollar $HOME", "back\\slash", "100% `tick`",
                         "tab\there", "Ünïcödé ☃", "semi;colon=equals"};
  const std::string validator = platform::FindExecutable("desktop-file-validate");
  for (const char* name : names) {
    const std::string target = dir.WriteFile(std::string("bin/") + name, "#!/bin/sh\n");
    const std::string link = dir / (std::string(name) + ".desktop");
    ASSERT_TRUE(kelShellCreateLink(link, target)) << name;
    EXPECT_EQ(kelShellGetLinkTarget(link), target) << name;
    EXPECT_EQ(fs::status(link).permissions() & fs::perms::all, fs::perms(0755));
    if (!validator.empty()) {
      const int code = platform::RunProgram(validator, {link});
      EXPECT_EQ(code, 0) << "desktop-file-validate rejects the shortcut for " << name;
    }
  }
  if (validator.empty()) GTEST_SKIP() << "desktop-file-validate is not installed";
}

TEST(Shortcuts, RewritingAndFailures) {
  TempDir dir;
  const std::string link = dir / "ORVI.desktop";
  const std::string first = dir.WriteFile("a", ""), second = dir.WriteFile("b", "");
  ASSERT_TRUE(kelShellCreateLink(link, first));
  ASSERT_TRUE(kelShellCreateLink(link, second));
  EXPECT_EQ(kelShellGetLinkTarget(link), second) << "an existing shortcut is replaced";

  EXPECT_FALSE(kelShellCreateLink(dir / "none.desktop", dir / "missing"));
  EXPECT_FALSE(fs::exists(dir / "none.desktop")) << "no shortcut to a missing target";
  EXPECT_FALSE(kelShellCreateLink(dir / "no/folder/x.desktop", first));
  EXPECT_FALSE(kelShellCreateLink(dir / "y.desktop", dir.Path())) << "a folder is no target";

  EXPECT_EQ(kelShellGetLinkTarget(dir / "missing.desktop"), "");
  EXPECT_EQ(kelShellGetLinkTarget(dir.WriteFile("garbage.desktop", "\x01\xff[Desktop Entry")), "");
  EXPECT_EQ(kelShellGetLinkTarget(dir.WriteFile("web.desktop", "[Desktop Entry]\nType=Link\nName=W\nURL=https://x.org/\n")),
            "https://x.org/");
  EXPECT_EQ(kelShellGetLinkTarget(dir.WriteFile("other.desktop",
                                                "[Desktop Entry]\nType=Application\nExec=/usr/bin/orvi %U\n"
                                                "[Desktop Action New]\nExec=/usr/bin/other\n")),
            "/usr/bin/orvi");
}

// --- Opening ---------------------------------------------------------------------

// A folder of fake programs on PATH: each writes its arguments, one per line,
// to <name>.out beside it and exits with the code given.
class OpeningTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(dir_ / "bin"); }

  std::string AddProgram(const std::string& name, int exitCode) {
    const std::string path = dir_.WriteFile("bin/" + name,
                                            "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                                                dir_ / (name + ".tmp") + "\"\n/bin/mv \"" + dir_ / (name + ".tmp") + "\" \"" +
                                                dir_ / (name + ".out") + "\"\nexit " + std::to_string(exitCode) + "\n");
    chmod(path.c_str(), 0755);
    return path;
  }

  // The arguments a program received (waits for it; "<none>" when it never
  // ran). The record is used up.
  std::string Received(const std::string& name) {
    const std::string out = dir_ / (name + ".out");
    for (int i = 0; i < 500 && !fs::exists(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!fs::exists(out)) return "<none>";
    const std::string arguments = dir_.ReadFile(name + ".out");
    fs::remove(out);
    return arguments;
  }

  TempDir dir_;
  ScopedEnv path_{"PATH", (dir_ / "bin").c_str()};
};

TEST_F(OpeningTest, ProgramsGetTheirParameters) {
  const std::string program = AddProgram("player", 0);
  EXPECT_TRUE(kelShellExecute(program, "/AUTO \"/opt/My Player/\" a\\\"b \"\""));
  EXPECT_EQ(Received("player"), "/AUTO\n/opt/My Player/\na\"b\n\n");

  EXPECT_TRUE(kelShellExecute("player", "x")) << "found in PATH";
  EXPECT_EQ(Received("player"), "x\n");
}

TEST_F(OpeningTest, DocumentsAndUrlsGoToTheOpener) {
  AddProgram("xdg-open", 0);
  fs::create_directory(dir_ / "folder");
  const struct {
    std::string text;
    std::string opened;
  } urls[] = {
      {"example.org", "http://example.org"},
      {"https://example.org/a", "https://example.org/a"},
      {dir_ / "folder", dir_ / "folder"},
  };
  for (const auto& url : urls) {
    EXPECT_TRUE(kelShellExecuteUrl(url.text)) << url.text;
    EXPECT_EQ(Received("xdg-open"), url.opened + "\n");
  }
  const std::string document = dir_.WriteFile("notes.txt", "x");
  EXPECT_TRUE(kelShellExecute(document, "ignored"));
  EXPECT_EQ(Received("xdg-open"), document + "\n");
  EXPECT_FALSE(kelShellExecuteUrl(""));
  EXPECT_FALSE(kelShellExecute(""));
}

TEST_F(OpeningTest, OpenerFailures) {
  EXPECT_FALSE(kelShellExecute("https://example.org")) << "no xdg-open";
  AddProgram("xdg-open", 3);
  EXPECT_FALSE(kelShellExecute("https://example.org")) << "xdg-open reports failure";
  EXPECT_EQ(Received("xdg-open"), "https://example.org\n");
}

// --- Special folders and the association notice ------------------------------------

TEST(SpecialFolders, SandboxedMachine) {
  orvi::test::Sandbox sandbox;
  ScopedEnv sudoUid("SUDO_UID", "1000");
  sandbox.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
  sandbox.WriteFile("/home/alice/.config/user-dirs.dirs",
                          "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                          "XDG_MUSIC_DIR=\"/srv/music\"\n");
  const std::string home = sandbox / "/home/alice/";
  const struct {
    int id;
    std::string folder;
  } rows[] = {
      {CSIDL_DESKTOP, home + "Schreibtisch/"},
      {CSIDL_COMMON_DESKTOPDIRECTORY, home + "Schreibtisch/"},
      {CSIDL_MYMUSIC, sandbox / "/srv/music/"},
      {CSIDL_PERSONAL, home + "Documents/"},
      {CSIDL_APPDATA, home + ".config/"},
      {CSIDL_LOCAL_APPDATA, home + ".local/share/"},
      {CSIDL_STARTMENU, home + ".local/share/applications/"},
      {CSIDL_COMMON_PROGRAMS, sandbox / "/usr/local/share/applications/"},
      {CSIDL_PROGRAM_FILES, sandbox / "/opt/"},
      {CSIDL_SYSTEM, sandbox / "/usr/bin/"},
  };
  for (const auto& row : rows) EXPECT_EQ(kelShellGetSpecialFolder(row.id), row.folder) << row.id;
  EXPECT_EQ(kelShellGetAppData(), home + ".config/");
  EXPECT_EQ(kelShellGetSpecialFolder(12345), kelTempPath()) << "unknown ids give the temporary folder";
}

TEST(SpecialFolders, AssociationNoticeUpdatesTheMenuDatabase) {
  if (platform::FindExecutable("update-desktop-database").empty()) GTEST_SKIP() << "desktop-file-utils missing";
  orvi::test::Sandbox sandbox;
  const std::string applications = sandbox / "/usr/local/share/applications/";
  sandbox.WriteFile("/usr/local/share/applications/orvi.desktop",
                          "[Desktop Entry]\nType=Application\nName=ORVI\nExec=/opt/ORVI/ORVI %F\n"
                          "MimeType=audio/x-orvi-playlist;\n");
  kelShellNotifyAssociationsChanged();
  const std::string cache = applications + "mimeinfo.cache";
  ASSERT_TRUE(fs::exists(cache));
  EXPECT_NE(orvi::test::ReadFileBytes(cache).find("audio/x-orvi-playlist=orvi.desktop"), std::string::npos);
}

// --- File operations -----------------------------------------------------------------

class FileOperationTest : public ::testing::Test {
 protected:
  std::string P(std::string_view relative) const { return dir_ / relative; }
  TempDir dir_;
};

TEST_F(FileOperationTest, CopyMoveRenameDelete) {
  dir_.WriteFile("a.txt", "a");
  dir_.WriteFile("b.txt", "b");
  dir_.WriteFile("tree/sub/c.txt", "c");
  fs::create_directories(P("tree/empty"));

  EXPECT_TRUE(kelShellFileOperation(P("a.txt") + "\r\n" + P("b.txt"), P("copies"), foCopy, fofSilent));
  EXPECT_EQ(dir_.ReadFile("copies/a.txt"), "a");
  EXPECT_EQ(dir_.ReadFile("copies/b.txt"), "b");

  EXPECT_TRUE(kelShellFileOperation(P("tree"), P("copies"), foCopy, 0)) << "into an existing folder";
  EXPECT_TRUE(fs::exists(P("copies/tree/sub/c.txt")));
  EXPECT_TRUE(fs::is_directory(P("copies/tree/empty")));

  EXPECT_TRUE(kelShellFileOperation(P("a.txt"), P("renamed.txt"), foCopy, 0)) << "one source to a new name";
  EXPECT_EQ(dir_.ReadFile("renamed.txt"), "a");

  EXPECT_TRUE(kelShellFileOperation(P("tree"), P("moved"), foMove, 0));
  EXPECT_FALSE(fs::exists(P("tree")));
  EXPECT_TRUE(fs::exists(P("moved/sub/c.txt")));
  EXPECT_FALSE(kelShellFileOperation(P("moved"), P("moved/inside"), foMove, 0)) << "never into itself";

  EXPECT_TRUE(kelShellFileOperation(P("b.txt"), P("c.txt"), foRename, 0));
  EXPECT_TRUE(fs::exists(P("c.txt")));

  EXPECT_TRUE(kelShellFileOperation(P("copies/*.TXT"), "", foDelete, 0)) << "wildcards ignore case";
  EXPECT_FALSE(fs::exists(P("copies/a.txt")));
  EXPECT_TRUE(fs::exists(P("copies/tree")));
  EXPECT_TRUE(kelShellDeleteFolder(P("copies/"), 0));
  EXPECT_FALSE(fs::exists(P("copies")));
  EXPECT_EQ(kelShellFileOperationResult(), kelFoDone);
}

// A folder holding a pipe or a socket (which searches skip) goes too.
TEST_F(FileOperationTest, DeleteFolderWithPipesAndSockets) {
  fs::create_directories(P("t/sub"));
  ASSERT_EQ(mkfifo(P("t/pipe").c_str(), 0600), 0);
  ASSERT_EQ(mknod(P("t/sub/socket").c_str(), S_IFSOCK | 0600, 0), 0);
  EXPECT_TRUE(kelShellDeleteFolder(P("t/"), 0));
  EXPECT_FALSE(fs::exists(P("t")));
}

TEST_F(FileOperationTest, Failures) {
  dir_.WriteFile("a.txt", "a");
  const struct {
    std::string from, to;
    int operation;
    int result;
  } rows[] = {
      {"", P("x"), foCopy, kelFoBadArguments},
      {P("a.txt"), "", foCopy, kelFoBadArguments},
      {P("a.txt"), P("x") + "\r\n" + P("y"), foRename, kelFoBadArguments},
      {P("a.txt"), P("x"), 9, kelFoBadArguments},
      {P("missing"), P("x"), foMove, kelFoNoSource},
      {P("missing"), "", foDelete, kelFoNoSource},
      {P("a.txt"), P("a.txt/x"), foCopy, kelFoFailed},
  };
  for (const auto& row : rows) {
    EXPECT_FALSE(kelShellFileOperation(row.from, row.to, row.operation, 0)) << row.from << " -> " << row.to;
    EXPECT_EQ(kelShellFileOperationResult(), row.result) << row.from << " -> " << row.to;
  }
  EXPECT_TRUE(fs::exists(P("a.txt")));
}

TEST(Libraries, LoadAndLookUp) {
  EXPECT_EQ(kelLoadLibrary("/no/such/library.so"), nullptr);
  EXPECT_EQ(kelLoadLibrary(""), nullptr);
  TKELModule library = kelLoadLibrary(ORVI_TESTLIB_PATH);
  ASSERT_NE(library, nullptr);
  EXPECT_NE(kelGetProcAddress(library, "DllUnregisterServer"), nullptr);
  EXPECT_EQ(kelGetProcAddress(library, "NoSuchExport"), nullptr);
  kelFreeLibrary(library);
}

}  // namespace
}  // namespace kel
