// End-to-end attacks on the elevated setup and uninstaller: the built
// programs run in a sandbox machine whose users have their homes below it,
// and each attack aims at a victim folder outside the sandbox. After the
// run the victim must be byte for byte as it was, with nothing new in it.
//
// Some attacks need a second, real user: they run as root and drop a helper
// process to "nobody" (uid 65534) with setpriv; without root they are
// skipped.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kel/platform/process.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace orvi::test {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

constexpr unsigned kNobody = 65534;

// Everything below a folder, links not followed: relative path -> its kind,
// permissions and content (a file's bytes, a link's target).
using Snapshot = std::map<std::string, std::string>;

Snapshot Snap(const std::string& folder) {
  Snapshot snapshot;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = entry.path().string().substr(folder.size() + 1);
    struct stat info;
    lstat(entry.path().c_str(), &info);
    const std::string mode = std::to_string(info.st_mode) + ":" + std::to_string(info.st_uid) + ":";
    if (entry.is_symlink())
      snapshot[relative] = "link " + mode + fs::read_symlink(entry.path()).string();
    else if (entry.is_regular_file())
      snapshot[relative] = "file " + mode + ReadFileBytes(entry.path().string());
    else
      snapshot[relative] = "other " + mode;
  }
  return snapshot;
}

// A folder outside the sandbox with files, a subfolder and an empty folder,
// named like what the setup writes and deletes.
class Victim {
 public:
  Victim() {
    dir_.WriteFile("ORVI", "someone's program");
    dir_.WriteFile("Uninstall.dat", "someone's package");
    dir_.WriteFile("Plugins/orvi_flac.so", "someone's library");
    dir_.WriteFile("Desktop/notes.txt", "someone's notes");
    dir_.WriteFile("file.txt", "someone's file");
    fs::create_directories(dir_ / "Empty");
    before_ = Snap(dir_.Path());
  }
  const std::string& Path() const { return dir_.Path(); }
  std::string operator/(const std::string& relative) const { return dir_ / relative; }
  // Whether it is byte for byte as it was, with nothing new.
  bool Unchanged() const { return Snap(dir_.Path()) == before_; }

 private:
  TempDir dir_;
  Snapshot before_;
};

// A shell script run as "nobody" for as long as the object lives.
class Intruder {
 public:
  explicit Intruder(const std::string& script) {
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      const std::string uid = "--reuid=" + std::to_string(kNobody), gid = "--regid=" + std::to_string(kNobody);
      execlp("setpriv", "setpriv", uid.c_str(), gid.c_str(), "--clear-groups", "/bin/sh", "-c",
            script.c_str(), nullptr);
      _exit(127);
    }
  }
  ~Intruder() {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  Intruder(const Intruder&) = delete;
  Intruder& operator=(const Intruder&) = delete;

 private:
  pid_t pid_ = -1;
};

bool WaitFor(const std::string& path) {
  for (int i = 0; i < 100 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return fs::exists(path);
}

class AttackElevation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(DemoSetupPath())) << "build the target demo_setup first";
    Fresh();
  }

  // A new machine: alice and bob with their homes, nothing installed.
  void Fresh() {
    sandbox_.reset();  // first: each sandbox restores the environment it found
    sandbox_ = std::make_unique<Sandbox>();
    sandbox_->AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
    sandbox_->AddAccount("bob", 1001, "/home/bob", "/bin/bash", true);
    // The users' homes are theirs, as on a real machine.
    for (const auto& [home, uid] : {std::pair{"/home/alice", 1000u}, std::pair{"/home/bob", 1001u}}) {
      fs::permissions(Machine() / home, fs::perms(0700));
      if (IsRoot()) chown((Machine() / home).c_str(), uid, uid);
    }
    destination_ = Machine() / "/opt/ORVI/";
  }

  const Sandbox& Machine() const { return *sandbox_; }
  static bool IsRoot() { return geteuid() == 0; }

  // Runs a program in the sandbox as the setup of alice (through sudo),
  // English, without a display.
  int Run(const std::string& program, const Args& args, std::string* output, const Args& environment = {}) {
    RunOptions options;
    options.environment = {"LANG=en_US.UTF-8", "LANGUAGE=",     "LC_ALL=",       "LC_MESSAGES=",
                           "DISPLAY=",         "SUDO_UID=1000", "SUDO_GID=1000", "SUDO_USER=alice"};
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    return RunInSandbox(Machine(), program, args, output, options);
  }
  int Setup(const Args& args, std::string* output, const Args& environment = {}) {
    return Run(DemoSetupPath(), args, output, environment);
  }
  int Uninstall(const Args& args, std::string* output, const Args& environment = {}) {
    return Run(destination_ + "Uninstall", args, output, environment);
  }
  void Install() {
    std::string output;
    ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;
    ASSERT_TRUE(fs::exists(destination_ + "Uninstall"));
  }

  // A stand-in for pkexec that, like "sudo -E", hands the program its whole
  // environment and runs it "elevated"; it records the command it was given.
  std::string ElevationStandIn() {
    const std::string standIn = tools_.WriteFile(
        "pkexec", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + tools_ / "pkexec.args" +
                      "'\nORVI_SETUP_SANDBOX_ELEVATED=1 exec \"$@\"\n");
    fs::permissions(standIn, fs::perms(0755));
    return standIn;
  }

  std::unique_ptr<Sandbox> sandbox_;
  std::string destination_;
  TempDir tools_;
};

// The relaunched, elevated copy takes of the user's environment only what it
// needs for the user's session: the temporary folder, the loader's
// variables and the program's own testing switches do not reach it, nor the
// programs it starts (the installation's helper records its environment).
TEST_F(AttackElevation, ElevatedCopyTakesOnlyTheSessionOfTheUser) {
  ASSERT_NO_FATAL_FAILURE(Install());
  const Victim victim;
  const std::string record = tools_ / "helper.env";
  fs::remove(destination_ + "Elevator");
  WriteFileBytes(destination_ + "Elevator", "#!/bin/sh\nenv > '" + record + "'\n");
  fs::permissions(destination_ + "Elevator", fs::perms(0755));

  std::string output;
  ASSERT_EQ(Uninstall({"/AUTO", "/SILENT"}, &output,
                      {"ORVI_SETUP_SANDBOX_ELEVATED=0", "ORVI_SETUP_PKEXEC=" + ElevationStandIn(),
                       "TMPDIR=" + victim.Path(), "LD_LIBRARY_PATH=" + victim.Path(),
                       "ORVI_SETUP_OS_VERSION=6.1", "ORVI_SETUP_SOMETHING=1",
                       "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"}),
            0)
      << output;
  EXPECT_FALSE(fs::exists(destination_ + "ORVI")) << "uninstalled";

  // What the unelevated process asked the elevation program to run...
  const std::string asked = ReadFileBytes(tools_ / "pkexec.args");
  EXPECT_NE(asked.find("\nORVI_SETUP_SANDBOX=" + Machine().Root() + "\n"), std::string::npos) << asked;
  EXPECT_NE(asked.find("\nDBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus\n"), std::string::npos) << asked;
  // ... and what the elevated copy handed its helper.
  const std::string seen = ReadFileBytes(record);
  EXPECT_NE(seen.find("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus\n"), std::string::npos) << seen;
  EXPECT_NE(seen.find("SUDO_UID=1000\n"), std::string::npos) << "who asked for the rights: " << seen;
  EXPECT_NE(seen.find("PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\n"), std::string::npos)
      << seen;
  for (const std::string* text : {&asked, &seen}) {
    for (const char* never : {"TMPDIR=", "LD_LIBRARY_PATH=", "ORVI_SETUP_OS_VERSION=", "ORVI_SETUP_SOMETHING=",
                              "ORVI_SETUP_PKEXEC=", "ORVI_SETUP_SANDBOX_ELEVATED="})
      EXPECT_EQ(text->find(never), std::string::npos) << never << " in\n" << *text;
  }
  EXPECT_TRUE(victim.Unchanged());
}

// A relaunch honours a sandbox only when nobody but the administrator can
// change its folder: otherwise a user could point the elevated run at a
// folder of theirs. Refused before anything is done.
TEST_F(AttackElevation, ElevatedCopyRefusesASandboxOthersCanChange) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to give the sandbox to another user";
  const struct {
    const char* name;
    unsigned owner;
    fs::perms mode;
  } rows[] = {{"owned by another user", kNobody, fs::perms(0755)},
              {"writable by others", 0, fs::perms(0777)},
              {"sticky and writable by others", 0, fs::perms(01777)}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    fs::permissions(Machine().Root(), row.mode);
    ASSERT_EQ(chown(Machine().Root().c_str(), row.owner, row.owner), 0);
    const Snapshot machine = Snap(Machine().Root());

    std::string output;
    EXPECT_EQ(Setup({"/AUTO", "/SILENT"}, &output,
                    {"ORVI_SETUP_SANDBOX_ELEVATED=0", "ORVI_SETUP_PKEXEC=" + ElevationStandIn()}),
              1);
    EXPECT_EQ(output, "Setup: The sandbox \"" + Machine().Root() +
                          "\" cannot be used with administrator rights: it, or a folder above it, does not belong "
                          "to the administrator or can be changed by other users.\n");
    EXPECT_EQ(Snap(Machine().Root()), machine);
  }
}

// Another user who may rename entries of the temporary folder would swap
// the uninstaller's private folder for one with a program of theirs, which
// root then runs. A real unprivileged process tries it all along; root uses
// no temporary folder that others may change, and in a sticky one (as
// /tmp) they cannot take its folder.
TEST_F(AttackElevation, TemporaryFolderSwapByAnotherUser) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to run a process as another user";
  if (kel::platform::FindExecutable("setpriv").empty()) GTEST_SKIP() << "setpriv is missing";
  const struct {
    const char* name;
    unsigned owner;
    fs::perms mode;
    bool refused;
  } rows[] = {{"a temporary folder of the intruder", kNobody, fs::perms(0755), true},
              {"a sticky temporary folder", 0, fs::perms(01777), false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    ASSERT_NO_FATAL_FAILURE(Install());
    const Victim victim;
    const std::string base = Machine() / "/tmp";
    fs::create_directories(base);
    fs::permissions(Machine().Root(), fs::perms(0755));
    ASSERT_EQ(chown(base.c_str(), row.owner, row.owner), 0);
    fs::permissions(base, row.mode);
    // Whatever folder of another user's appears is renamed aside and a
    // folder of the intruder's takes its name, with its own Uninstall in it,
    // replaced again and again.
    const std::string evil = "#!/bin/sh\necho taken > '" + victim / "taken" + "'\n";
    const Intruder intruder("cd '" + base + "' || exit 1\nprintf '%s' \"" + evil +
                            "\" > evil && chmod 755 evil && touch ready\n"
                            "while :; do\n"
                            "  for d in orvi-setup-*; do\n"
                            "    [ -d \"$d\" ] || continue\n"
                            "    if [ -O \"$d\" ]; then cp evil \"$d/.e\" && mv -f \"$d/.e\" \"$d/Uninstall\"\n"
                            "    elif mv \"$d\" \"stolen-$d\" 2>/dev/null; then mkdir -m 777 \"$d\"\n"
                            "    else echo \"$d\" >> refused\n"
                            "    fi\n"
                            "  done\n"
                            "done\n");
    ASSERT_TRUE(WaitFor(base + "/ready")) << "the intruder runs";

    std::string output;
    const int code = Uninstall({"/AUTO", "/SILENT"}, &output);
    if (row.refused) {
      EXPECT_EQ(code, 1);
      EXPECT_NE(output.find("The temporary folder \"" + base +
                            "\" can be changed by other users (it, or a folder above it, is theirs or open to "
                            "their writing)."),
                std::string::npos)
          << output;
      EXPECT_TRUE(fs::exists(destination_ + "ORVI")) << "nothing was removed";
    } else {
      EXPECT_EQ(code, 0) << output;
      EXPECT_FALSE(fs::exists(destination_ + "ORVI"));
      EXPECT_TRUE(WaitFor(base + "/refused")) << "the intruder tried and could not take root's folder";
    }
    EXPECT_TRUE(victim.Unchanged());
  }
}

// The old shell-menu libraries are unregistered by loading them as root:
// only when nobody but the administrator can have put them there. The
// library, when loaded, writes where it is told (here into the victim).
TEST_F(AttackElevation, LibraryFromAFolderOthersMayWriteIsNotLoaded) {
  const struct {
    const char* name;
    bool uninstall;  // else the installation
    unsigned owner;
    fs::perms mode;
    bool loaded;
  } rows[] = {{"installation, the administrator's folder", false, 0, fs::perms(0755), true},
              {"installation, a folder open to all", false, 0, fs::perms(0777), false},
              {"uninstallation, a folder of another user", true, kNobody, fs::perms(0755), false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.owner != 0 && !IsRoot()) continue;
    Fresh();
    if (row.uninstall) {
      ASSERT_NO_FATAL_FAILURE(Install());
    }
    const Victim victim;
    const TempDir scratch;
    const std::string library = Machine().WriteFile("/opt/ORVI/System/orvi_menu64.so", "");
    fs::copy_file(ORVI_SHELL_MENU_TESTLIB_PATH, library, fs::copy_options::overwrite_existing);
    fs::permissions(library, fs::perms(0755));
    fs::permissions(destination_ + "System", row.mode);
    if (IsRoot()) {
      ASSERT_EQ(chown((destination_ + "System").c_str(), row.owner, row.owner), 0);
    }
    const std::string log = row.loaded ? scratch / "menu.log" : victim / "menu.log";

    std::string output;
    const Args environment = {"ORVI_TEST_SHELL_MENU_LOG=" + log};
    ASSERT_EQ(row.uninstall ? Uninstall({"/AUTO", "/SILENT"}, &output, environment)
                            : Setup({"/AUTO", "/SILENT"}, &output, environment),
              0)
        << output;
    EXPECT_EQ(fs::exists(log), row.loaded);
    EXPECT_FALSE(fs::exists(library)) << "the obsolete library is deleted all the same";
    EXPECT_TRUE(victim.Unchanged());
  }
}

// Paths from the machine and its users stay on the sandboxed machine, even
// for a run with all rights: a desktop folder that a user's settings name
// outside the machine, and the absolute entries of a log that only the administrator
// could have written.
TEST_F(AttackElevation, PathsOfTheMachineStayInTheSandbox) {
  const Victim victim;
  Machine().WriteFile("/home/alice/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"" + victim / "Desktop" + "\"\n");
  ASSERT_NO_FATAL_FAILURE(Install());
  // A desktop outside the user's home is not the user's to name (it could be
  // every user's autostart folder): no shortcut goes there, in the sandbox
  // or outside it.
  EXPECT_FALSE(fs::exists(Machine() / (victim / "Desktop/ORVI.desktop")));

  Machine().WriteFile(victim / "file.txt", "in the sandbox");
  Machine().WriteFile("/srv/data/orvi.cache", "written by the player");
  WriteUninstallData(destination_ + "Uninstall.dat", {"ORVI", victim / "file.txt", victim / "ORVI",
                                                      victim / "Plugins/orvi_flac.so", "/srv/data/orvi.cache"});
  std::string output;
  ASSERT_EQ(Uninstall({"/AUTO", "/SILENT"}, &output), 0) << output;

  EXPECT_FALSE(fs::exists(destination_ + "ORVI"));
  EXPECT_FALSE(fs::exists(Machine() / "/srv/data/orvi.cache")) << "absolute entries are honoured...";
  EXPECT_FALSE(fs::exists(Machine() / (victim / "file.txt"))) << "... on the sandboxed machine";
  EXPECT_TRUE(victim.Unchanged());
}

// The uninstaller removes only the installation it belongs to: /PATH must
// name a folder with the same Uninstall.dat. Refused before anything is
// done, with a message.
TEST_F(AttackElevation, UninstallerRefusesAnotherFolder) {
  ASSERT_NO_FATAL_FAILURE(Install());
  const Victim victim;
  fs::create_directory_symlink(victim.Path(), Machine() / "/opt/Other");
  fs::create_directories(Machine() / "/srv/Empty");
  const Snapshot machine = Snap(Machine().Root());

  const struct {
    std::string path;
    std::string folder;  // as the message names it
  } rows[] = {{Machine() / "/opt/Other", Machine() / "/opt/Other/"}, {"/", Machine().Root() + "/"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    std::string output;
    EXPECT_EQ(Uninstall({"/PATH=" + row.path, "/AUTO", "/SILENT"}, &output), 1);
    EXPECT_EQ(output, "Setup: The folder \"" + row.folder +
                          "\" does not hold the installation this uninstaller belongs to (its Uninstall.dat is "
                          "missing or differs): nothing was removed.\n");
    EXPECT_EQ(Snap(Machine().Root()), machine);
    EXPECT_TRUE(victim.Unchanged());
  }
}

// A destination that holds the system or a user's files as a whole is
// refused before anything is done: an installation there would back up and
// delete what else it holds when it is updated or removed.
TEST_F(AttackElevation, SystemFoldersAreNoDestination) {
  const Victim victim;
  Machine().WriteFile("/opt/Other/other", "another program");
  fs::create_directory_symlink(victim.Path(), Machine() / "/opt/Victim");
  fs::create_directories(Machine() / "/srv");
  fs::create_directories(Machine() / "/usr");
  fs::create_directory_symlink(Machine() / "/usr", Machine() / "/srv/usr");
  const Snapshot machine = Snap(Machine().Root());

  const struct {
    std::string argument;
    std::string folder, suggestion;  // on the machine
  } rows[] = {
      {"/AUTO=/opt", "/opt/", "/opt/ORVI/"},
      {"/AUTO=/", "/", "/opt/ORVI/"},
      {"/AUTO=/home/alice", "/home/alice/", "/home/alice/ORVI/"},
      {"/AUTO=/usr/local/", "/usr/local/", "/opt/ORVI/"},
      {"/AUTO=/srv/usr", "/srv/usr/", "/opt/ORVI/"},  // a link to /usr
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.argument);
    std::string output;
    EXPECT_EQ(Setup({row.argument, "/SILENT"}, &output), 1);
    const std::string folder = row.folder == "/" ? Machine().Root() + "/" : Machine() / row.folder;
    EXPECT_EQ(output, "Setup: The folder \"" + folder +
                          "\" is a system folder or a user's home folder: ORVI cannot be installed into it, as "
                          "updating or removing it would back up and delete everything else the folder holds. "
                          "Choose a folder of its own, such as \"" +
                          Machine() / row.suggestion + "\".\n");
    EXPECT_EQ(Snap(Machine().Root()), machine);
    EXPECT_TRUE(victim.Unchanged());
  }
}

}  // namespace
}  // namespace orvi::test
