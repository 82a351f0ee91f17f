#include "setup/core/session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "setup/core/errors.h"
#include "setup/core/resources.h"
#include "support/session_fixture.h"
#include "support/temp_dir.h"

namespace setup {
namespace {

using orvi::test::SessionFixture;
using orvi::test::SessionSpec;
using orvi::test::TTestProduct;
using orvi::test::TTestProductScope;

// The product-side package of an uninstaller holds the uninstall log.
const orvi::test::PackageFiles kUninstallerFiles = {{"Uninstall.ini", "[Uninstall]\r\nCount=0\r\n"}};

SessionSpec Spec(const std::string& params, bool uninstaller = false) {
  SessionSpec spec;
  spec.params = params;
  if (uninstaller) spec.productFiles = kUninstallerFiles;
  return spec;
}

TEST(SessionSwitches, ModeFlagsAndDestination) {
  struct Case {
    const char* params;
    bool uninstaller;  // the product package holds Uninstall.ini
    bool canUpdate;
    bool portable;  // the installation found is a portable copy
    TSetupMode mode;
    uint8_t flags;
    const char* dest;  // inside the sandbox; "" when none is set
  };
  constexpr auto I = TSetupMode::Install;
  constexpr auto U = TSetupMode::Uninstall;
  const Case cases[] = {
      // No switches: UPDATE only, re-evaluated against the default folder
      // (below the program files, so never portable).
      {"", false, false, false, I, 0, "/opt/TestProduct/"},
      {"", false, true, false, I, UPDATE, "/opt/TestProduct/"},
      {"", false, true, true, I, UPDATE, "/opt/TestProduct/"},
      {"/UPDATE /SILENT /PORTABLE", false, false, false, I, 0, "/opt/TestProduct/"},
      {"/AUTO /SILENT", false, false, false, I, AUTO | SILENT, "/opt/TestProduct/"},
      {"/auto /Silent", false, true, false, I, AUTO | SILENT | UPDATE, "/opt/TestProduct/"},
      {"/AUTO=/home/u/ORVI /PORTABLE /SILENT", false, false, false, I, AUTO | PORTABLE | SILENT, "/home/u/ORVI/"},
      {"/AUTO=/home/u/ORVI", false, true, true, I, AUTO | UPDATE | PORTABLE, "/home/u/ORVI/"},
      // With UPDATE neither PORTABLE nor SILENT is read.
      {"/AUTO /UPDATE /SILENT", false, true, false, I, AUTO | UPDATE, "/opt/TestProduct/"},
      {"/AUTO=/home/u/ORVI /UPDATE /PORTABLE", false, true, false, I, AUTO | UPDATE, "/home/u/ORVI/"},
      {"/AUTO=/home/u/ORVI /NOBACKUP /RUN", false, false, false, I, AUTO | NOBACKUP | RUN, "/home/u/ORVI/"},
      // An uninstaller reads AUTO, and SILENT only with it; nothing else.
      {"/SILENT", true, true, false, U, 0, ""},
      {"/AUTO /SILENT /PORTABLE /NOBACKUP /RUN", true, false, false, U, AUTO | SILENT, ""},
      {"/AUTO=/home/u/ORVI /UPDATE", true, true, false, U, AUTO, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.params) + (c.uninstaller ? " (uninstaller)" : ""));
    TTestProductScope product;
    TTestProduct::canUpdate = c.canUpdate;
    TTestProduct::portable = c.portable;
    SessionFixture fixture(Spec(c.params, c.uninstaller));
    TSetup& session = fixture.Session();
    EXPECT_EQ(session.Mode(), c.mode);
    EXPECT_EQ(session.Flags(), c.flags);
    EXPECT_EQ(session.DestPath(), *c.dest ? fixture.Machine().Root() + c.dest : "");
    // Every destination set was read once; an uninstaller sets none here.
    EXPECT_EQ(fixture.Product().loads, *c.dest ? 1 : 0);
  }
}

TEST(SessionSwitches, UpdateOfAnInstallationThatCannotBeUpdatedFails) {
  TTestProductScope product;
  TTestProduct::installedVersion = 4990;
  try {
    SessionFixture fixture(Spec("/AUTO=/home/u/ORVI /UPDATE"));
    FAIL() << "no error";
  } catch (const EInstallerUpdateError& e) {
    EXPECT_EQ(e.Message(), "Cannot install update on v4.99");
  }
  EXPECT_FALSE(TSetup::Exists());
}

TEST(SessionFlags, SetFlagAndSetFlags) {
  TTestProductScope product;
  SessionFixture fixture(Spec("/AUTO=/home/u/ORVI"));
  TSetup& session = fixture.Session();
  struct Step {
    const char* what;
    std::function<void()> change;
    uint8_t flags;  // afterwards
    bool fails;     // with "Invalid Arguments"
  };
  const Step steps[] = {
      {"AUTO may not go", [&] { session.SetFlags(0); }, AUTO, true},
      {"SILENT may not come", [&] { session.SetFlag(sfSILENT, true); }, AUTO, true},
      {"the same value is no change", [&] { session.SetFlags(AUTO); }, AUTO, false},
      {"NOBACKUP", [&] { session.SetFlag(sfNOBACKUP, true); }, AUTO | NOBACKUP, false},
      {"UPDATE without an updatable installation is dropped", [&] { session.SetFlag(sfUPDATE, true); },
       AUTO | NOBACKUP, false},
      {"PORTABLE outside the program files", [&] { session.SetFlag(sfPORTABLE, true); },
       AUTO | NOBACKUP | PORTABLE, false},
      {"an index above 7 changes nothing", [&] { session.SetFlag(8, true); }, AUTO | NOBACKUP | PORTABLE, false},
      {"a negative index changes nothing", [&] { session.SetFlag(-1, true); }, AUTO | NOBACKUP | PORTABLE, false},
      {"several bits at once", [&] { session.SetFlags(AUTO | RUN); }, AUTO | RUN, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.fails) {
      try {
        step.change();
        ADD_FAILURE() << "no error";
      } catch (const EInstallerMysteryError& e) {
        EXPECT_EQ(e.Message(), "Invalid Arguments");
      }
    } else {
      step.change();
    }
    EXPECT_EQ(session.Flags(), step.flags);
  }
  EXPECT_FALSE(session.HasFlag(8));
  EXPECT_FALSE(session.HasFlag(-1));
  EXPECT_TRUE(session.HasFlag(sfRUN));
}

TEST(SessionDestination, NormalisedAndReEvaluated) {
  TTestProductScope product;
  SessionFixture fixture(Spec("/AUTO=/home/u/ORVI"));
  TSetup& session = fixture.Session();
  const std::string root = fixture.Machine().Root();
  ASSERT_EQ(session.Resources().ProgramFilesPath, root + "/opt/");
  struct Step {
    std::string path;          // "" for the current destination
    bool canUpdate, portable;  // what the product finds there
    bool tickPortable;         // afterwards the user asks for a portable copy
    std::string dest;
    uint8_t flags;
    int loads;  // LoadInstalledInfo calls so far
  };
  const Step steps[] = {
      // The same text as the current destination: nothing is read again.
      {"", true, true, false, root + "/home/u/ORVI/", AUTO, 1},
      {"/home/u/x/../Other", true, true, false, root + "/home/u/Other/", AUTO | UPDATE | PORTABLE, 2},
      // A portable copy found keeps PORTABLE; another folder does not clear it.
      {"/home//u/Plain/", true, false, false, root + "/home/u/Plain/", AUTO | UPDATE | PORTABLE, 3},
      // A portable copy is never written below the program files (or their
      // x86 twin), whatever the installation found there or the user chose.
      {"/opt/Other", true, true, false, root + "/opt/Other/", AUTO | UPDATE, 4},
      {"/home/u/Mine", false, false, true, root + "/home/u/Mine/", AUTO | PORTABLE, 5},
      {"/opt (x86)/Mine", false, false, false, root + "/opt (x86)/Mine/", AUTO, 6},
      {"/home/u/Mine/./Sub/..", false, false, false, root + "/home/u/Mine/", AUTO, 7},
      {root + "/home/u/./In", false, false, false, root + "/home/u/In/", AUTO, 8},
      // Made valid as every target path is.
      {"/home/u/Apps: 2024?\\x ", false, false, false, root + "/home/u/Apps 2024/x/", AUTO, 9},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.path);
    TTestProduct::canUpdate = step.canUpdate;
    TTestProduct::portable = step.portable;
    session.SetDestination(step.path.empty() ? session.DestPath() : step.path);
    if (step.tickPortable) session.SetFlag(sfPORTABLE, true);
    EXPECT_EQ(session.DestPath(), step.dest);
    EXPECT_EQ(session.Flags(), step.flags);
    EXPECT_EQ(fixture.Product().loads, step.loads);
  }
}

// The current folder changed for a scope.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::string& folder) : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~ScopedCurrentFolder() { std::filesystem::current_path(before_); }

 private:
  std::filesystem::path before_;
};

// A folder is taken as typed: a relative one lies below the current folder
// and is placed on the (sandboxed) machine like any other; what the rules of
// file names change is told apart from what was asked for.
TEST(SessionDestination, TakenAsTyped) {
  TTestProductScope product;
  SessionFixture fixture(Spec("/AUTO=/home/u/ORVI"));
  TSetup& session = fixture.Session();
  const std::string root = fixture.Machine().Root();
  orvi::test::TempDir work;
  std::filesystem::create_directories(work / "cwd");
  const ScopedCurrentFolder cwd(work / "cwd");
  const std::string here = root + std::filesystem::current_path().string();
  const std::string above = root + std::filesystem::current_path().parent_path().string();
  const struct {
    std::string typed;
    std::string dest;
    std::string requested;  // "" when the same as dest
  } rows[] = {
      {"relorvi", here + "/relorvi/", ""},
      {"My Folder/", here + "/My Folder/", ""},
      {"./a/../b", here + "/b/", ""},
      {"../up", above + "/up/", ""},
      {"/home/u/Media: ORVI?", root + "/home/u/Media ORVI/", root + "/home/u/Media: ORVI?/"},
      {"rel: x ", here + "/rel x/", here + "/rel: x /"},
      {"/home/u/Plain", root + "/home/u/Plain/", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.typed);
    session.SetDestination(row.typed);
    EXPECT_EQ(session.DestPath(), row.dest);
    EXPECT_EQ(session.RequestedDestPath(), row.requested.empty() ? row.dest : row.requested);
  }
}

// Counts its runs.
class TCountingAction : public TSetupAction {
 public:
  void Execute() override { ++runs; }
  static inline std::atomic<int> runs{0};
};

TEST(SessionStart, RunsOnce) {
  TTestProductScope product;
  TTestProduct::Actions = {TSetupActionClass::Of<TCountingAction>("TCountingAction")};
  TCountingAction::runs = 0;
  SessionFixture fixture(Spec("/AUTO=/home/u/ORVI"));
  TSetup& session = fixture.Session();
  orvi::test::TRecordingListener listener;
  session.AddListener(&listener);
  EXPECT_EQ(session.State(), TSetupState::Idle);

  session.Start(false);
  EXPECT_EQ(session.State(), TSetupState::Running);
  session.Start(false);  // while running
  session.Dispatcher().WaitUntil([&] { return session.State() == TSetupState::Finished; });
  session.Start(true);  // after finishing
  session.FreeWorker();

  EXPECT_EQ(TCountingAction::runs, 1);
  EXPECT_EQ(listener.Values(neFinished), std::vector<intptr_t>{0});
  EXPECT_EQ(session.State(), TSetupState::Finished);
  EXPECT_FALSE(session.HasErrors());
}

TEST(SessionStart, WithoutADestinationFails) {
  TTestProductScope product;
  SessionFixture fixture(Spec("/AUTO /SILENT", true));
  try {
    fixture.Session().Start(true);
    FAIL() << "no error";
  } catch (const EInstallerInstallError& e) {
    EXPECT_EQ(e.Message(), "DestPath is empty");
  }
  EXPECT_EQ(fixture.Session().State(), TSetupState::Idle);
}

TEST(SessionStart, APortableCopyBelowTheProgramFilesIsNotPortable) {
  TTestProductScope product;
  SessionFixture fixture(Spec("/AUTO=/opt/ORVI /PORTABLE"));
  fixture.Session().Start(true);
  EXPECT_EQ(fixture.Session().Flags(), AUTO);
}

// The post-installation programs are stand-ins that leave "<name>.ran"
// beside themselves when they are started.
TEST(PostActions, WhichProgramsAreStarted) {
  struct Case {
    const char* what;
    const char* params;
    bool canUpdate;
    std::map<std::string, bool> options;  // [Actions] written by the finish page
    bool failed;                          // the run logged an error
    bool uninstaller;
    std::set<std::string> started;
  };
  const Case cases[] = {
      {"AUTO UPDATE RUN: on unless switched off", "/AUTO=/home/u/App /UPDATE /RUN", true, {{"$DESTb", false}},
       false, false, {"a", "c"}},
      {"without UPDATE: only those switched on", "/AUTO=/home/u/App /RUN", false, {{"$DESTb", true}}, false, false,
       {"b"}},
      {"without RUN: none by default", "/AUTO=/home/u/App /UPDATE", true, {}, false, false, {}},
      {"the wizard's choice", "", true, {{"$DESTa", true}, {"$DESTc", false}}, false, false, {"a"}},
      {"not after errors", "/AUTO=/home/u/App /UPDATE /RUN", true, {{"$DESTa", true}}, true, false, {}},
      {"not when uninstalling", "/AUTO", true, {{"$DESTa", true}}, false, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TTestProductScope product;
    TTestProduct::canUpdate = c.canUpdate;
    SessionSpec spec = Spec(c.params, c.uninstaller);
    spec.installXml = orvi::test::MinimalInstallXml(
        "<Actions><File name=\"$DESTa\"/><File name=\"$DESTb\">Caption</File><File name=\"$DESTc\"/></Actions>");
    SessionFixture fixture(spec);
    TSetup& session = fixture.Session();
    if (c.uninstaller) session.SetDestination("/home/u/App");
    const std::string dest = session.DestPath();
    for (const char* name : {"a", "b", "c"}) {
      const std::string path = fixture.Machine().WriteFile(
          dest.substr(fixture.Machine().Root().size()) + name, "#!/bin/sh\necho started > \"$0.ran\"\n");
      std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    for (const auto& [key, on] : c.options) session.Settings().WriteBool("Actions", key, on);
    if (c.failed) session.LogError("failed");

    session.RunPostActions();

    auto started = [&] {
      std::set<std::string> names;
      for (const char* name : {"a", "b", "c"})
        if (std::filesystem::exists(dest + name + ".ran")) names.insert(name);
      return names;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (started().size() < c.started.size() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Time for a program that should not have started to show itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(started(), c.started);
  }
}

}  // namespace
}  // namespace setup
