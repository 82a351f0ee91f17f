// End-to-end tests of the log of a run (/LOG) and of what an unattended run
// shows: the built demo Setup and the uninstaller it leaves run in a sandbox
// machine, with their output going to a pipe or to a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kel/platform/users.h"
#include "support/e2e.h"
#include "support/temp_dir.h"

namespace orvi::test {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// Width of the time that begins every line of a log ("10:31:02.118 ").
constexpr size_t kStamp = 13;

// The entries of a log without their times; the indented lines that
// continue an entry are joined to it with line breaks. Every line must
// begin with a time or the indentation and end with a line break.
Strings Entries(const std::string& path) {
  const std::string text = ReadFileBytes(path);
  EXPECT_TRUE(text.empty() || text.back() == '\n') << "a line was left unfinished:\n" << text;
  static const std::regex time("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3} ");
  Strings entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.starts_with(std::string(kStamp, ' ')) && !entries.empty()) {
      entries.back() += "\n" + line.substr(kStamp);
    } else {
      EXPECT_TRUE(std::regex_search(line, time)) << line;
      entries.push_back(line.size() > kStamp ? line.substr(kStamp) : "");
    }
  }
  return entries;
}

bool Has(const Strings& entries, const std::string& entry) {
  return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

size_t CountStarting(const Strings& entries, const std::string& prefix) {
  return std::count_if(entries.begin(), entries.end(), [&](const std::string& e) { return e.starts_with(prefix); });
}

// The paths of the files an installation's uninstall log lists.
Strings LoggedFiles(const Sandbox& sandbox, const std::string& destination) {
  Strings files;
  for (const std::string& line : UninstallLog(sandbox, destination)) {
    if (line.starts_with("Count=")) continue;
    const std::string entry = line.substr(line.find('=') + 1);
    files.push_back(entry.starts_with("/") ? entry : destination + entry);
  }
  return files;
}

// Every file of the uninstall log appears in the log of the run that wrote
// it with its size: "Extracted: <path> (<size> bytes)", "Wrote the
// uninstaller: <path> (<size> bytes)", ...
void ExpectEveryWrittenFile(const Strings& entries, const Strings& files) {
  EXPECT_GE(files.size(), 3u);
  for (const std::string& file : files) {
    const std::string named = ": " + file + " (" + std::to_string(fs::file_size(file)) + " bytes";
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const std::string& e) {
      return e.find(named) != std::string::npos;
    })) << file;
  }
}

// Each action of the run started and ended in turn, one after the other.
void ExpectActionsInTurn(const Strings& entries, size_t count) {
  Strings actions;
  for (const std::string& entry : entries)
    if (entry.starts_with("Action ")) actions.push_back(entry);
  ASSERT_EQ(actions.size(), 2 * count) << ::testing::PrintToString(actions);
  for (size_t i = 0; i < count; ++i) {
    const std::string action = "Action " + std::to_string(i + 1) + " of " + std::to_string(count) + ", TSetupAction";
    EXPECT_TRUE(actions[2 * i].starts_with(action) && actions[2 * i].ends_with(", started")) << actions[2 * i];
    EXPECT_TRUE(actions[2 * i + 1].starts_with(action) &&
                actions[2 * i + 1].find(", ended after ") != std::string::npos)
        << actions[2 * i + 1];
  }
}

// The entries of the log once its last one is `last`, waiting for each
// change of the files in its folder; what it held when a minute passed
// without that. Until then the text is only compared: it may end in an
// entry still being written.
Strings WaitForLastEntry(const std::string& log, const std::string& last) {
  const int watch = inotify_init1(IN_CLOEXEC);
  EXPECT_GE(watch, 0);
  inotify_add_watch(watch, fs::path(log).parent_path().c_str(), IN_CREATE | IN_MODIFY);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  for (;;) {
    // Read after the watch began, so that no change goes unseen.
    if (fs::exists(log) && ReadFileBytes(log).ends_with(" " + last + "\n")) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd changed{watch, POLLIN, 0};
    if (left.count() <= 0 || poll(&changed, 1, static_cast<int>(left.count())) <= 0) break;
    char events[4096];
    if (read(watch, events, sizeof events) <= 0) break;
  }
  close(watch);
  return fs::exists(log) ? Entries(log) : Strings();
}

// Runs the demo Setup in the sandbox with a new pseudo-terminal `columns`
// wide as its standard input, output and error (no line-end translation).
// What it wrote, and its exit status.
int RunOnTerminal(const Sandbox& sandbox, const Strings& args, int columns, std::string* output) {
  termios settings{};
  cfmakeraw(&settings);
  winsize size{};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns);
  Strings storage = {DemoSetupPath()};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& item : storage) argv.push_back(item.data());
  argv.push_back(nullptr);
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, &settings, &size);
  if (pid < 0) return -1;
  if (pid == 0) {
    setenv("ORVI_SETUP_SANDBOX", sandbox.Root().c_str(), 1);
    setenv("LANG", "en_US.UTF-8", 1);
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "DISPLAY"}) unsetenv(name);
    execv(argv[0], argv.data());
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  char buffer[4096];
  for (;;) {
    pollfd entry{terminal, POLLIN, 0};
    if (poll(&entry, 1, 200) > 0) {
      const ssize_t n = read(terminal, buffer, sizeof buffer);
      if (n <= 0) break;  // the program and its children closed the terminal
      output->append(buffer, static_cast<size_t>(n));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      break;
    }
  }
  close(terminal);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class RunLog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(DemoSetupPath())) << "build the target demo_setup first";
    sandbox_.AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
    fs::create_directories(kel::platform::InvokingUser().home);  // the desktop in it is the setup's to make
    fs::create_directories(logs_);
  }

  // Runs a program of the sandbox, English, without a display.
  int Run(const std::string& program, const Strings& args, std::string* output, Strings environment = {}) {
    RunOptions options;
    options.environment = {"LANG=en_US.UTF-8", "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "DISPLAY="};
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    return RunInSandbox(sandbox_, program, args, output, options);
  }
  int Setup(const Strings& args, std::string* output, Strings environment = {}) {
    return Run(DemoSetupPath(), args, output, std::move(environment));
  }

  Sandbox sandbox_;
  const std::string destination_ = sandbox_ / "/opt/ORVI/";
  const std::string logs_ = sandbox_ / "/var/log/orvi";
};

TEST_F(RunLog, SilentInstallation) {
  const std::string log = logs_ + "/setup.log";
  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT", "/LOG=" + log}, &output), 0) << output;
  EXPECT_EQ(output, "") << "a silent run says nothing";

  const Strings entries = Entries(log);
  ASSERT_GE(entries.size(), 10u);
  EXPECT_TRUE(entries[0].starts_with("Setup started on ")) << entries[0];
  EXPECT_EQ(entries[1], "Program: " + DemoSetupPath());
  EXPECT_EQ(entries[2], "Command line: /AUTO /SILENT /LOG=" + log);
  EXPECT_TRUE(entries[3].starts_with("User: ") && entries[3].ends_with(", elevated, sandbox " + sandbox_.Root()))
      << entries[3];
  EXPECT_EQ(entries[4], "Product: ORVI 5.30, 2025-06-02 (5.30.0.2417)");
  EXPECT_EQ(entries[5], "Mode: install; flags: AUTO SILENT");
  EXPECT_EQ(entries[6], "Destination: " + destination_);
  EXPECT_EQ(entries[7], "Installed version found there: none");

  ExpectActionsInTurn(entries, 7);
  for (const char* status : {"Waiting for running ORVI programs to close...", "Copying files...",
                             "Writing the uninstall information...", "Creating shortcuts..."})
    EXPECT_TRUE(Has(entries, std::string("Status: ") + status)) << status;
  ExpectEveryWrittenFile(entries, LoggedFiles(sandbox_, destination_));
  EXPECT_TRUE(Has(entries, "Registry: the entry of \"ORVI\" 5.30.0.2417 was written (uninstaller " + destination_ +
                               "Uninstall)"));
  EXPECT_TRUE(Has(entries, "Wrote the configuration: " + destination_ + "ORVI.ini"));
  EXPECT_TRUE(Has(entries, "Running: \"" + destination_ + "Elevator\" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2"));
  EXPECT_TRUE(Has(entries, "Shortcut: " + sandbox_ / "/usr/local/share/applications/ORVI/ORVI.desktop -> " +
                               destination_ + "ORVI"));
  EXPECT_EQ(CountStarting(entries, "Shortcut: "), 3u);
  EXPECT_EQ(CountStarting(entries, "Error"), 0u);
  EXPECT_EQ(entries.end()[-2], "The run has ended.");
  EXPECT_EQ(entries.back(), "Exit status 0 (done)");
}

TEST_F(RunLog, UpdateWithBackup) {
  sandbox_.WriteFile("/opt/ORVI/ORVI.ini", "[System]\r\nVersion=4800\r\nUserMode=1\r\n");
  sandbox_.WriteFile("/opt/ORVI/ORVI", "old player");
  sandbox_.WriteFile("/opt/ORVI/Docs/Manual.txt", "the old manual");
  sandbox_.WriteFile("/opt/ORVI/Plugins/equalizer.so", "a plug-in the user added");
  sandbox_.WriteFile("/home/alice/.config/ORVI/ORVI.ini", "alice's settings");
  const std::string log = logs_ + "/update.log";
  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT", "/LOG=" + log}, &output), 0) << output;

  const Strings entries = Entries(log);
  EXPECT_TRUE(Has(entries, "Mode: install; flags: AUTO UPDATE SILENT"));
  EXPECT_TRUE(Has(entries, "Installed version found there: 4.80"));
  // The backup archive with its size, and what went into it.
  const Strings backups = NamesIn(destination_ + "!Backup");
  ASSERT_EQ(backups.size(), 1u);
  const std::string archive = destination_ + "!Backup/" + backups[0];
  EXPECT_TRUE(Has(entries, "Backup: " + archive + " (" + std::to_string(fs::file_size(archive)) +
                               " bytes, 5 files of 100 bytes)"))
      << ::testing::PrintToString(entries);
  // What the update deleted of the old installation, and what it kept.
  EXPECT_TRUE(Has(entries, "Deleted: " + destination_ + "Docs/Manual.txt"));
  EXPECT_TRUE(Has(entries, "Deleted: " + destination_ + "ORVI"));
  EXPECT_EQ(CountStarting(entries, "Deleted: " + destination_ + "Plugins/equalizer.so"), 0u);
  ExpectEveryWrittenFile(entries, LoggedFiles(sandbox_, destination_));
  ExpectActionsInTurn(entries, 5);
  EXPECT_EQ(entries.back(), "Exit status 0 (done)");
}

// The uninstaller in place and its copy in the temporary folder write one
// log: the copy continues the file the first one began.
TEST_F(RunLog, Uninstallation) {
  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT"}, &output), 0) << output;
  const Strings files = LoggedFiles(sandbox_, destination_);
  const std::string log = logs_ + "/uninstall.log";
  ASSERT_EQ(Run(destination_ + "Uninstall", {"/AUTO", "/SILENT", "/LOG=" + log}, &output), 0) << output;

  const Strings entries = Entries(log);
  for (const std::string& file : files) {
    EXPECT_FALSE(fs::exists(file)) << file;
    EXPECT_TRUE(Has(entries, "Deleted: " + file)) << file;
  }
  EXPECT_TRUE(Has(entries, "Registry: the entry of \"ORVI\" was removed"));
  EXPECT_TRUE(Has(entries, "Running: \"" + destination_ + "Elevator\" /REG=U"));
  EXPECT_EQ(CountStarting(entries, "Uninstall started on "), 2u);
  EXPECT_TRUE(Has(entries, "Mode: uninstall; flags: AUTO UPDATE SILENT"));
  ExpectActionsInTurn(entries, 3);
  // The copy ends, then the process that started it.
  ASSERT_GE(entries.size(), 4u);
  EXPECT_EQ(entries.end()[-3], "Exit status 0 (done)");
  EXPECT_EQ(entries.end()[-2], "The uninstaller's copy ended with exit status 0");
  EXPECT_EQ(entries.back(), "Exit status 0 (done)");
}

// What a failed run shows as its error is in its log, word for word.
TEST_F(RunLog, ErrorsOfAFailedRun) {
  sandbox_.WriteFile("/srv/blocker", "a file where a folder should be");
  const Strings destinations = {"/AUTO=/srv/blocker/ORVI", "/AUTO=/opt"};
  for (const std::string& destination : destinations) {
    SCOPED_TRACE(destination);
    const std::string log = logs_ + "/failed.log";
    std::string output;
    EXPECT_EQ(Setup({destination, "/SILENT", "/LOG=" + log}, &output), 1);
    ASSERT_TRUE(output.starts_with("Setup: ") && output.ends_with("\n")) << output;
    const std::string error = output.substr(7, output.size() - 8);
    const Strings entries = Entries(log);
    EXPECT_TRUE(Has(entries, "Error: " + error)) << error << "\n" << ::testing::PrintToString(entries);
    EXPECT_EQ(entries.back(), "Exit status 1 (failed)");
  }
}

// A run killed halfway leaves the log of what it did until then. The run is
// held while it integrates: the helper it waits for blocks on opening its
// own log, a pipe that nobody reads.
TEST_F(RunLog, KilledRunLeavesTheLogUpToItsLastStep) {
  fs::create_directories(destination_);
  const std::string pipe = destination_ + "Elevator.log";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  const std::string log = logs_ + "/killed.log";
  std::string output;
  int code = -1;
  std::thread run([&] { code = Setup({"/AUTO", "/SILENT", "/NOBACKUP", "/LOG=" + log}, &output); });

  const std::string held = "Running: \"" + destination_ + "Elevator\" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2";
  Strings entries = WaitForLastEntry(log, held);
  ASSERT_FALSE(entries.empty());
  const std::string process = "process ";
  const pid_t setup = std::stoi(entries[0].substr(entries[0].rfind(process) + process.size()));
  kill(-setup, SIGKILL);  // the Setup and what it started: their own process group
  const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);  // lets the helper go, should it live on
  run.join();
  close(reader);
  EXPECT_EQ(code, 128 + SIGKILL) << output;

  entries = Entries(log);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back(), held) << "nothing after the step the run was killed in";
  EXPECT_TRUE(Has(entries, "Action 4 of 7, TSetupActionConfig, started"));
  EXPECT_EQ(CountStarting(entries, "Action 4 of 7, TSetupActionConfig, ended after "), 1u);
  EXPECT_TRUE(Has(entries, "Action 5 of 7, TSetupActionIntegrate, started"));
  EXPECT_TRUE(Has(entries, "Extracted: " + destination_ + "Readme.txt (" +
                               std::to_string(fs::file_size(destination_ + "Readme.txt")) + " bytes)"));
  EXPECT_EQ(CountStarting(entries, "Exit status"), 0u);
}

// A log that cannot be written is a warning: the installation goes on.
TEST_F(RunLog, UnwritableLogWarnsAndInstalls) {
  const std::string victim = sandbox_.WriteFile("/srv/victim", "keep me");
  fs::create_symlink(victim, logs_ + "/link.log");
  const struct {
    std::string path;
    std::string reason;
  } rows[] = {
      {logs_ + "/missing/setup.log", "No such file or directory"},
      {logs_, "Is a directory"},
      {logs_ + "/link.log", "Symbolic link not followed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    fs::remove_all(destination_);
    std::string output;
    ASSERT_EQ(Setup({"/AUTO", "/SILENT", "/LOG=" + row.path}, &output), 0) << output;
    EXPECT_EQ(output, "Setup: The log \"" + row.path + "\" cannot be written (" + row.reason +
                          "); the setup goes on without it.\n");
    EXPECT_TRUE(fs::exists(destination_ + "Uninstall.dat"));
  }
  EXPECT_EQ(ReadFileBytes(victim), "keep me");
}

// Without a file the log is a new one in the temporary folder, and the run
// says where.
TEST_F(RunLog, DefaultLogInTheTemporaryFolder) {
  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT", "/LOG"}, &output), 0) << output;
  const std::regex told("Setup: The log of this run is written to \"(" + sandbox_.Root() +
                        "/tmp/Setup-20[0-9]{6}-[0-9]{6}\\.log)\"\\.\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(output, match, told)) << output;
  const Strings entries = Entries(match[1]);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[2], "Command line: /AUTO /SILENT /LOG");
  EXPECT_EQ(entries.back(), "Exit status 0 (done)");
}

// The elevated copy writes the log the user asked for with the user's
// rights: the file is the user's, a link is not followed, and a folder the
// user may not write stays without a log, however elevated the copy is.
TEST_F(RunLog, ElevatedCopyWritesTheLogAsTheUser) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act for another user";
  ASSERT_EQ(chmod(sandbox_.Root().c_str(), 0755), 0);  // the user reaches the log folder
  ASSERT_EQ(chown(logs_.c_str(), 1000, 1000), 0);
  TempDir tools;
  const std::string standIn = tools.WriteFile("pkexec", "#!/bin/sh\nORVI_SETUP_SANDBOX_ELEVATED=1 exec \"$@\"\n");
  chmod(standIn.c_str(), 0755);
  const Strings asAlice = {"ORVI_SETUP_SANDBOX_ELEVATED=0", "ORVI_SETUP_PKEXEC=" + standIn, "SUDO_UID=1000",
                           "SUDO_GID=1000", "SUDO_USER=alice"};

  const std::string log = logs_ + "/elevated.log";
  std::string output;
  ASSERT_EQ(Setup({"/AUTO", "/SILENT", "/LOG=" + log}, &output, asAlice), 0) << output;
  EXPECT_EQ(output, "");
  struct stat info;
  ASSERT_EQ(lstat(log.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 1000u);
  const Strings entries = Entries(log);
  EXPECT_EQ(CountStarting(entries, "User: alice (uid 1000), not elevated"), 1u);
  EXPECT_EQ(CountStarting(entries, "User: alice (uid 1000), elevated"), 1u);
  EXPECT_TRUE(Has(entries, "The elevated copy ended with exit status 0"));
  ExpectEveryWrittenFile(entries, LoggedFiles(sandbox_, destination_));

  const std::string victim = sandbox_.WriteFile("/srv/victim", "root's");
  fs::create_symlink(victim, logs_ + "/link.log");
  const std::string rootsFolder = sandbox_ / "/var/log/roots.log";
  const struct {
    std::string path;
    std::string reason;
  } rows[] = {{logs_ + "/link.log", "Symbolic link not followed"}, {rootsFolder, "Permission denied"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    ASSERT_EQ(Setup({"/AUTO", "/SILENT", "/LOG=" + row.path}, &output, asAlice), 0) << output;
    EXPECT_EQ(output, "Setup: The log \"" + row.path + "\" cannot be written (" + row.reason +
                          "); the setup goes on without it.\n");
  }
  EXPECT_EQ(ReadFileBytes(victim), "root's");
  EXPECT_FALSE(fs::exists(rootsFolder));
}

// On a terminal the progress is one line drawn again and again in place,
// as wide as the terminal allows; into a pipe it is plain lines, one per
// status text and one per tenth of the way.
TEST_F(RunLog, ProgressOnATerminalAndIntoAPipe) {
  std::string output;
  ASSERT_EQ(RunOnTerminal(sandbox_, {"/AUTO"}, 60, &output), 0) << output;
  ASSERT_TRUE(output.starts_with("\r") && output.ends_with("\n")) << output;
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
  Strings drawn;
  for (size_t start = 1, end; start < output.size(); start = end + 1) {
    end = output.find_first_of("\r\n", start);
    drawn.push_back(output.substr(start, end - start));
  }
  EXPECT_GT(drawn.size(), 10u);
  // 59 columns: the status text, cut or filled to 37, a bar of 14 and the
  // percentage (the texts of the demo are ASCII).
  const std::regex line("[ -~]{37} \\[[#-]{14}\\] [ 0-9]{3}%");
  for (const std::string& state : drawn) EXPECT_TRUE(std::regex_match(state, line)) << "\"" << state << "\"";
  EXPECT_EQ(drawn.front().substr(0, 37), "Waiting for running ORVI programs to ");
  EXPECT_TRUE(drawn.back().ends_with("[##############] 100%")) << drawn.back();

  fs::remove_all(destination_);
  ASSERT_EQ(Setup({"/AUTO"}, &output), 0) << output;
  EXPECT_EQ(output.find('\r'), std::string::npos) << output;
  Strings lines;
  for (size_t start = 0, end; start < output.size(); start = end + 1) {
    end = output.find('\n', start);
    lines.push_back(output.substr(start, end - start));
  }
  Strings percentages;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(percentages),
               [](const std::string& l) { return l.starts_with("  ") && l.ends_with("%"); });
  ASSERT_FALSE(percentages.empty()) << output;
  EXPECT_EQ(percentages.back(), "  100%");
  for (size_t i = 0; i < percentages.size(); ++i) {
    const int percent = std::stoi(percentages[i].substr(2));
    EXPECT_EQ(percent % 10, 0) << percentages[i];
    if (i > 0) {
      EXPECT_GT(percent, std::stoi(percentages[i - 1].substr(2)));
    }
  }
  EXPECT_EQ(lines.size() - percentages.size(), 8u) << "one line per status text:\n" << output;
  EXPECT_EQ(lines.front(), "Waiting for running ORVI programs to close...");
}

TEST_F(RunLog, HelpListsTheSwitches) {
  const Strings before = NamesIn(sandbox_.Root());
  for (const char* help : {"--help", "-h", "/?"}) {
    SCOPED_TRACE(help);
    std::string output;
    EXPECT_EQ(Setup({"/AUTO", help}, &output), 0);
    EXPECT_TRUE(output.starts_with("Usage: Setup [/AUTO[=FOLDER]] [/SILENT] [/PORTABLE] [/UPDATE] [/RUN] "
                                   "[/NOBACKUP] [/LOG[=FILE]]\n"))
        << output;
    for (const char* line : {"\n  /LOG[=FILE]     write a log of the run to FILE", "\n  --help, -h, /?  show this text\n"})
      EXPECT_NE(output.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(NamesIn(sandbox_.Root()), before) << "nothing was done";
}

}  // namespace
}  // namespace orvi::test
