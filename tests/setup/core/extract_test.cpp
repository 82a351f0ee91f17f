#include "setup/core/extract.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kel/base/ini_file.h"
#include "kel/base/stream.h"
#include "kel/platform/process.h"
#include "setup/core/app_repo.h"
#include "setup/core/resources.h"
#include "setup/core/session.h"
#include "setup/package/package.h"
#include "support/session_fixture.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
using orvi::test::ReadFileBytes;
using orvi::test::SessionFixture;
using orvi::test::SessionSpec;
using orvi::test::TRecordingListener;
using orvi::test::TTestProduct;

const TSetupActionClass kExtract = TSetupActionClass::Of<TSetupActionExtract>("TSetupActionExtract");

SessionSpec Spec(const std::string& params, const std::string& components, orvi::test::PackageFiles files) {
  SessionSpec spec;
  spec.params = params;
  spec.installXml = orvi::test::MinimalInstallXml("<Components>" + components + "</Components>");
  spec.productFiles = std::move(files);
  return spec;
}

// The uninstall log inside <folder>Uninstall.dat.
void ReadUninstallLog(const std::string& folder, kel::TKELIniFile& ini) {
  kel::TKELFileStream file(folder + "Uninstall.dat", kel::fmOpenRead);
  TSetupPackageReader package(file);
  std::unique_ptr<kel::TKELMemoryStream> log;
  ASSERT_TRUE(package.GetFile("Uninstall.ini", log));
  ini.LoadFromStream(*log);
}

class ExtractTest : public ::testing::Test {
 protected:
  ExtractTest() { TTestProduct::Actions = {kExtract}; }
  orvi::test::TTestProductScope product_;
};

// The progress of a file is reported before the file is written: listeners
// run while the worker waits, so they see the folder as it is then.
TEST_F(ExtractTest, ProgressBeforeEachFile) {
  SessionFixture fixture(Spec("/AUTO=/home/u/App",
                              "<File name=\"$DEST/a\"/><File name=\"$DEST/sub/b\"/><File name=\"$DEST/c\"/>",
                              {{"a", "A"}, {"b", "B"}, {"c", "C"}}));
  TSetup& session = fixture.Session();
  const std::string dest = session.DestPath();
  struct Seen : IInstallerNotify {
    std::string dest;
    std::vector<std::string> atProgress;
    std::vector<std::string> status;
    void Notify(int code, intptr_t value) override {
      if (code == neStatusText) status.push_back(StatusTextOf(value));
      if (code != neProgress) return;
      std::string existing = std::to_string(ActionPercentOf(value)) + ":";
      for (const char* name : {"a", "sub/b", "c"})
        if (fs::exists(dest + name)) existing += std::string(" ") + name;
      atProgress.push_back(existing);
    }
  } seen;
  seen.dest = dest;
  session.AddListener(&seen);
  session.Start(true);

  ASSERT_FALSE(session.HasErrors()) << session.Errors().Text();
  EXPECT_EQ(seen.atProgress, (std::vector<std::string>{"0:", "33:", "66: a", "100: a sub/b"}));
  EXPECT_EQ(seen.status, (std::vector<std::string>{"A4 extracting", "A7 uninstall data"}));
  EXPECT_EQ(ReadFileBytes(dest + "sub/b"), "B");
  EXPECT_EQ(ReadFileBytes(dest + "c"), "C");
}

// Packages keep no file modes: programs are recognised by their content.
TEST_F(ExtractTest, ProgramsBecomeExecutable) {
  const struct {
    const char* name;
    std::string content;
    bool executable;
  } rows[] = {
      {"elf", std::string("\x7F" "ELF\x02\x01\x01", 7), true},
      {"script", "#!/bin/sh\nexit 0\n", true},
      {"text", "just text #!", false},
      {"empty", "", false},
      {"short", "#", false},
  };
  std::string components;
  orvi::test::PackageFiles files;
  for (const auto& row : rows) {
    components += std::string("<File name=\"$DEST/") + row.name + "\"/>";
    files.push_back({row.name, row.content});
  }
  SessionFixture fixture(Spec("/AUTO=/home/u/App /SILENT", components, files));
  fixture.Session().Start(true);
  ASSERT_FALSE(fixture.Session().HasErrors()) << fixture.Session().Errors().Text();
  for (const auto& row : rows) {
    const std::string path = fixture.Session().DestPath() + row.name;
    EXPECT_EQ(ReadFileBytes(path), row.content);
    EXPECT_EQ((fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none, row.executable) << row.name;
  }
}

TEST_F(ExtractTest, UninstallLog) {
  struct Case {
    const char* what;
    const char* components;
    std::string log;                  // [Uninstall], DIR standing for the sandbox
    std::vector<std::string> absent;  // below DIR
    bool caseIgnored = false;         // /opt/testproduct names the destination
  };
  const Case cases[] = {
      {"two files", "<File name=\"$DEST/ORVI\"/><File name=\"$DEST/Plugins/a.so\"/>",
       "0=ORVI\r\nCount=4\r\n1=Plugins/a.so\r\n2=Uninstall.dat\r\n3=Uninstall\r\n", {}},
      {"other language families are neither written nor logged; files elsewhere are logged absolute",
       "<File name=\"$DEST/ORVI\"/><File name=\"$DEST/ru.txt\" lang-family=\"RU\">ORVI</File>"
       "<File name=\"$DEST/en.txt\" lang-family=\"en\">ORVI</File><File name=\"$PROGRAMS/Shared/x\">ORVI</File>",
       "0=ORVI\r\nCount=5\r\n1=en.txt\r\n2=DIR/opt/Shared/x\r\n3=Uninstall.dat\r\n4=Uninstall\r\n",
       {"/opt/TestProduct/ru.txt"}},
      {"a folder whose name differs in case only is another folder",
       "<File name=\"$DEST/ORVI\"/><File name=\"$PROGRAMS/testproduct/x\">ORVI</File>",
       "0=ORVI\r\nCount=4\r\n1=DIR/opt/testproduct/x\r\n2=Uninstall.dat\r\n3=Uninstall\r\n",
       {"/opt/TestProduct/x"}},
      {"... unless the file system takes it for the same",
       "<File name=\"$DEST/ORVI\"/><File name=\"$PROGRAMS/testproduct/x\">ORVI</File>",
       "0=ORVI\r\nCount=4\r\n1=x\r\n2=Uninstall.dat\r\n3=Uninstall\r\n", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SessionFixture fixture(Spec("/AUTO /SILENT", c.components, {{"ORVI", "program"}, {"a.so", "library"}}));
    TSetup& session = fixture.Session();
    const std::string root = fixture.Machine().Root();
    const std::string dest = session.DestPath();
    ASSERT_EQ(dest, root + "/opt/TestProduct/");
    if (c.caseIgnored) {
      // Stands for a file system that ignores case.
      fs::create_directories(dest);
      fs::create_directory_symlink("TestProduct", root + "/opt/testproduct");
    }
    // The options the pages stored go into the log; an [Uninstall] there is
    // rebuilt.
    session.Settings().WriteString("Options", "Key", "1");
    session.Settings().WriteString("Uninstall", "0", "stale");
    session.Start(true);
    ASSERT_FALSE(session.HasErrors()) << session.Errors().Text();

    EXPECT_EQ(ReadFileBytes(dest + "ORVI"), "program");
    for (const std::string& path : c.absent) EXPECT_FALSE(fs::exists(root + path)) << path;
    kel::TKELIniFile log;
    ReadUninstallLog(dest, log);
    std::string expected = c.log;
    for (size_t at; (at = expected.find("DIR")) != std::string::npos;) expected.replace(at, 3, root);
    EXPECT_EQ(log.ReadSection("Uninstall"), expected);
    EXPECT_EQ(log.ReadString("Options", "Key", ""), "1");
    EXPECT_EQ(session.Settings().ReadString("Uninstall", "0", ""), "stale");  // the session's own stays

    // The uninstaller is executable, and its data makes a session an
    // uninstaller; the installation is registered.
    EXPECT_NE(fs::status(dest + "Uninstall").permissions() & fs::perms::owner_exec, fs::perms::none);
    kel::TKELMemoryStream setupPackage(orvi::test::BuildPackage({{"Install.xml", orvi::test::MinimalInstallXml("")}}));
    kel::TKELFileStream data(dest + "Uninstall.dat", kel::fmOpenRead);
    EXPECT_TRUE(TSetupResources(setupPackage, data).HasProductFile("Uninstall.ini"));
    std::string registered;
    EXPECT_TRUE(TSetupAppRepo::FindInstallPath("TestProduct", registered));
    EXPECT_EQ(registered, dest);
  }
}

TEST_F(ExtractTest, APortableCopyIsNotRegistered) {
  SessionFixture fixture(Spec("/AUTO=/home/u/Portable /PORTABLE /SILENT", "<File name=\"$DEST/ORVI\"/>",
                              {{"ORVI", "program"}}));
  TSetup& session = fixture.Session();
  ASSERT_TRUE(session.HasFlag(sfPORTABLE));
  session.Start(true);
  ASSERT_FALSE(session.HasErrors()) << session.Errors().Text();
  for (const char* name : {"ORVI", "Uninstall", "Uninstall.dat"})
    EXPECT_TRUE(fs::exists(session.DestPath() + name)) << name;
  kel::TKELIniFile log;
  ReadUninstallLog(session.DestPath(), log);
  EXPECT_EQ(log.ReadString("Uninstall", "Count", ""), "3");
  std::string registered;
  EXPECT_FALSE(TSetupAppRepo::FindInstallPath("TestProduct", registered)) << registered;
}

// Linux folder names may hold characters that target paths lose when they
// are made valid; the files still land beside the uninstall data.
TEST_F(ExtractTest, AFolderNameWithCharactersTargetsCannotHold) {
  SessionFixture fixture(Spec("/AUTO=/home/u/App", "<File name=\"$DEST/ORVI\"/>", {{"ORVI", "program"}}));
  TSetup& session = fixture.Session();
  session.SetDestination("/home/u/Apps: 2024?/");
  session.Start(true);
  ASSERT_FALSE(session.HasErrors()) << session.Errors().Text();
  const std::string dest = session.DestPath();
  EXPECT_EQ(ReadFileBytes(dest + "ORVI"), "program");
  kel::TKELIniFile log;
  ReadUninstallLog(dest, log);
  EXPECT_EQ(log.ReadSection("Uninstall"), "0=ORVI\r\nCount=3\r\n1=Uninstall.dat\r\n2=Uninstall\r\n");
}

TEST_F(ExtractTest, FailuresEndTheRunBeforeTheUninstallData) {
  struct Case {
    const char* what;
    const char* components;
    std::string error;  // DEST standing for the destination
  };
  const Case cases[] = {
      {"a file missing from the packages", "<File name=\"$DEST/a\"/><File name=\"$DEST/missing\"/>",
       "DESTmissing\r\nCannot locate \"missing\" file in setup archive"},
      {"a folder that cannot be made", "<File name=\"$DEST/a\"/><File name=\"$DEST/a/b\">a</File>",
       "DESTa/b\r\nE3 DESTa/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SessionFixture fixture(Spec("/AUTO=/home/u/App", c.components, {{"a", "A"}}));
    TSetup& session = fixture.Session();
    session.Start(true);
    const std::string dest = session.DestPath();
    std::string expected = c.error;
    for (size_t at; (at = expected.find("DEST")) != std::string::npos;) expected.replace(at, 4, dest);
    EXPECT_EQ(session.Errors().Text(), expected + "\r\n");
    EXPECT_EQ(ReadFileBytes(dest + "a"), "A");  // what was written stays
    EXPECT_FALSE(fs::exists(dest + "Uninstall.dat"));
  }
}

// Targets that cannot be written: a copy of the shell, running from the
// destination until its run file goes away. Linux refuses to write a running
// program, but it may be renamed.
TEST_F(ExtractTest, TargetsInUse) {
  const std::string shell = kel::platform::FindExecutable("sh");
  ASSERT_FALSE(shell.empty());
  const std::string shellBytes = ReadFileBytes(shell);
  struct Case {
    const char* what;
    std::string content;  // what the package holds for the program
    bool oldBackup;       // a .bak is there already, so renaming fails
    std::deque<TSetupAnswer> answers;
    std::string program;  // its content afterwards ("<shell>": the running program's)
    std::string backup;   // the .bak's content afterwards ("" none)
    size_t questions;
    bool failed;
  };
  const Case cases[] = {
      {"different content: the program is renamed to .bak", "new", false, {}, "new", "<shell>", 0, false},
      {"the same content: skipped without a question", shellBytes, false, {}, "<shell>", "", 0, false},
      {"Retry, then Ignore: left as it is", "new", true, {TSetupAnswer::Retry, TSetupAnswer::Ignore}, "<shell>",
       "old", 2, false},
      {"Abort: the run fails", "new", true, {TSetupAnswer::Abort}, "<shell>", "old", 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SessionFixture fixture(Spec("/AUTO=/home/u/App", "<File name=\"$DEST/prog\"/><File name=\"$DEST/after\"/>",
                                {{"prog", c.content}, {"after", "after"}}));
    TSetup& session = fixture.Session();
    const std::string dest = session.DestPath();
    const std::string program = dest + "prog";
    const std::string runFile = fixture.Machine().WriteFile("/run/prog.run", "");
    fixture.Machine().WriteFile("/home/u/App/prog", shellBytes);
    fs::permissions(program, fs::perms::owner_all);
    if (c.oldBackup) fixture.Machine().WriteFile("/home/u/App/prog.bak", "old");
    const kel::platform::StartResult running = kel::platform::StartProgram(
        program, {"-c", "i=0; while [ -e '" + runFile + "' ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done"});
    ASSERT_TRUE(running.started) << running.error;
    fixture.Prompt().answers = c.answers;

    session.Start(true);
    fs::remove(runFile);  // the program ends

    // The shell's bytes are named rather than shown.
    auto label = [&](const std::string& path) {
      if (!fs::exists(path)) return std::string();
      const std::string bytes = ReadFileBytes(path);
      return bytes == shellBytes ? std::string("<shell>") : bytes;
    };
    EXPECT_EQ(label(program), c.program);
    EXPECT_EQ(label(program + ".bak"), c.backup);
    ASSERT_EQ(fixture.Prompt().questions.size(), c.questions);
    if (c.questions > 0) {
      EXPECT_EQ(fixture.Prompt().questions[0], "QM2 " + program);
    }
    EXPECT_EQ(session.HasErrors(), c.failed);
    EXPECT_EQ(session.AbortedByUser(), c.failed);
    if (c.failed) {
      EXPECT_EQ(session.Errors().Text(), program + "\r\nE1 " + program + "\r\n");
      EXPECT_FALSE(fs::exists(dest + "after"));
    } else {
      EXPECT_EQ(ReadFileBytes(dest + "after"), "after");
      EXPECT_TRUE(fs::exists(dest + "Uninstall.dat"));
    }
  }
}

}  // namespace
}  // namespace setup

namespace setup {
namespace {

TEST(FileServices, FileList) {
  orvi::test::Sandbox machine;
  const std::string root = machine / "/src";
  machine.WriteFile("/src/a.txt", "a");
  machine.WriteFile("/src/Sub/B.TXT", "b");
  machine.WriteFile("/src/!Backup/old.txt", "old");
  TSetupFileList list;
  list.Add("/x/b.txt", "/y/b.txt");
  list.AddFolder(root, root + "/!backup", "/target/");
  std::set<std::string> items;
  for (const TSetupFileListItem& item : list) items.insert(item.Source + " -> " + item.Target);
  EXPECT_EQ(items, (std::set<std::string>{"/x/b.txt -> /y/b.txt", root + "/a.txt -> /target/a.txt",
                                          root + "/Sub/B.TXT -> /target/Sub/B.TXT"}));
  list.RemoveByName("b.txt");
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list[0].Target, "/target/a.txt");
}

TEST(FileServices, DeleteAndRun) {
  orvi::test::Sandbox machine;
  const std::string file = machine.WriteFile("/data/file", "x");
  DeleteFileOrSchedule(file);
  EXPECT_FALSE(fs::exists(file));
  DeleteFileOrSchedule(file);  // already gone: nothing to do
  fs::create_directories(machine / "/data/folder");
  DeleteFileOrSchedule(machine / "/data/folder");  // folders are not its business
  EXPECT_TRUE(fs::is_directory(machine / "/data/folder"));

  // RunAndWait returns when the program has ended; the program may sit in a
  // folder with spaces and take parameters.
  const std::string program = machine.WriteFile("/my programs/write", "#!/bin/sh\nsleep 0.2\necho \"$1\" > \"$2\"\n");
  fs::permissions(program, fs::perms::owner_all);
  const std::string out = machine / "/data/out";
  EXPECT_TRUE(RunAndWait(program + " done " + out));
  EXPECT_EQ(ReadFileBytes(out), "done\n");
  EXPECT_FALSE(RunAndWait(machine / "/missing program"));
}

}  // namespace
}  // namespace setup
