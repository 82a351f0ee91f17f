#include "setup/core/run_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "setup/core/notify.h"
#include "support/testlib/environment.h"

namespace setup {
namespace {

using orvi::test::ReadFileBytes;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

const std::regex kStamp("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3} ");

// Each entry is its time and its text; a text can neither end an entry
// early nor make one up, whatever bytes it holds.
TEST(SetupLog, EntriesAreTheTimeAndTheText) {
  orvi::test::TempDir dir;
  TSetupLog log;
  std::string problem;
  ASSERT_TRUE(log.Open(dir / "run.log", false, &problem)) << problem;
  const struct {
    std::string text;
    std::string written;  // after the time
  } rows[] = {
      {"Deleted: /opt/ORVI/Plugins/Ä.so", "Deleted: /opt/ORVI/Plugins/Ä.so\n"},
      {"Error: /opt/ORVI/ORVI\r\nCannot create the folder.", "Error: /opt/ORVI/ORVI\n             Cannot create the folder.\n"},
      {"two\nlines\rand\r\n\r\nmore", "two\n             lines\n             and\n             \n             more\n"},
      {std::string("Deleted: /opt/a\tb\x1b[2J\x7f", 22), "Deleted: /opt/a?b?[2J?\n"},
      {"Extracted: /opt/\xFF\xC3.txt", "Extracted: /opt/\xEF\xBF\xBD\xEF\xBF\xBD.txt\n"},
  };
  size_t offset = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.written);
    log.Write(row.text);
    const std::string file = ReadFileBytes(dir / "run.log");
    const std::string entry = file.substr(offset);
    offset = file.size();
    EXPECT_TRUE(std::regex_search(entry, kStamp)) << entry;
    EXPECT_EQ(entry.substr(13), row.written);
  }
}

TEST(SetupLog, OpeningEmptiesAContinuingRunAppends) {
  orvi::test::TempDir dir;
  const std::string path = dir.WriteFile("run.log", "an older run\n");
  {
    TSetupLog log;
    ASSERT_TRUE(log.Open(path, false, nullptr));
    EXPECT_EQ(log.Path(), path);
    log.Write("first");
  }
  {
    TSetupLog log;
    ASSERT_TRUE(log.Open(path, true, nullptr));
    log.Write("second");
  }
  const std::vector<std::string> lines = Lines(ReadFileBytes(path));
  ASSERT_EQ(lines.size(), 2u) << ReadFileBytes(path);
  EXPECT_TRUE(lines[0].ends_with(" first"));
  EXPECT_TRUE(lines[1].ends_with(" second"));

  TSetupLog closed;
  std::string problem;
  EXPECT_FALSE(closed.Open(dir / "missing/run.log", false, &problem));
  EXPECT_EQ(problem, "No such file or directory");
  EXPECT_FALSE(closed.IsOpen());
  closed.Write("goes nowhere");
  EXPECT_EQ(closed.Problem(), "");
}

// A log without a name is a new file in the temporary folder; a name that
// is taken gets a number.
TEST(SetupLog, NewLogsTakeFreeNamesInTheTemporaryFolder) {
  orvi::test::Sandbox machine;
  const std::regex name("Setup-20[0-9]{6}-[0-9]{6}(-2)?\\.log");
  for (int attempt = 0; attempt < 5; ++attempt) {
    TSetupLog first, second;
    ASSERT_TRUE(first.OpenNew("Setup", nullptr));
    ASSERT_TRUE(second.OpenNew("Setup", nullptr));
    const std::string folder = machine / "/tmp/";
    ASSERT_TRUE(first.Path().starts_with(folder)) << first.Path();
    ASSERT_TRUE(second.Path().starts_with(folder)) << second.Path();
    const std::string firstName = first.Path().substr(folder.size());
    const std::string secondName = second.Path().substr(folder.size());
    EXPECT_TRUE(std::regex_match(firstName, name)) << firstName;
    EXPECT_TRUE(std::regex_match(secondName, name)) << secondName;
    EXPECT_NE(firstName, secondName);
    // Made within the same second, the second one has the number.
    if (firstName.substr(0, 21) == secondName.substr(0, 21)) {
      EXPECT_EQ(secondName, firstName.substr(0, 21) + "-2.log");
      return;
    }
  }
  FAIL() << "never two logs within one second";
}

TEST(SetupLog, WritersOnSeveralThreadsKeepTheirEntriesWhole) {
  orvi::test::TempDir dir;
  TSetupLog log;
  ASSERT_TRUE(log.Open(dir / "run.log", false, nullptr));
  const std::string text(300, 'x');
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < 250; ++i) log.Write(std::to_string(t) + " " + text);
    });
  for (std::thread& writer : writers) writer.join();
  const std::vector<std::string> lines = Lines(ReadFileBytes(dir / "run.log"));
  ASSERT_EQ(lines.size(), 1000u);
  for (const std::string& line : lines) {
    ASSERT_TRUE(std::regex_search(line, kStamp)) << line;
    ASSERT_EQ(line.size(), 13u + 2u + text.size()) << line;
  }
}

// A log that cannot be written to the end stops writing and tells why; the
// run that writes it goes on.
TEST(SetupLog, AFailedWriteClosesTheLogAndKeepsTheReason) {
  orvi::test::TempDir dir;
  const std::string path = dir / "run.log";
  // In a child whose files may not grow beyond 100 bytes.
  const auto writeBeyondTheLimit = [&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    TSetupLog log;
    if (!log.Open(path, false, nullptr)) std::exit(2);
    for (int i = 0; i < 10; ++i) log.Write("an entry of some length");
    std::exit(log.Problem() == "File too large" && !log.IsOpen() ? 0 : 3);
  };
  EXPECT_EXIT(writeBeyondTheLimit(), ::testing::ExitedWithCode(0), "");
  // Two entries fit whole; the third one was cut at the limit.
  const std::vector<std::string> lines = Lines(ReadFileBytes(path));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[1].ends_with(" an entry of some length"));
}

TEST(SetupLog, ListensToStatusTextsAndTheEnd) {
  orvi::test::TempDir dir;
  TSetupLog log;
  ASSERT_TRUE(log.Open(dir / "run.log", false, nullptr));
  const std::string status = "Copying files...";
  log.Notify(neStatusText, reinterpret_cast<intptr_t>(&status));
  log.Notify(neProgress, 50 << 16 | 20);
  log.Notify(neRepaint, 0);
  log.Notify(neFinished, 1);
  const std::vector<std::string> lines = Lines(ReadFileBytes(dir / "run.log"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(13), "Status: Copying files...");
  EXPECT_EQ(lines[1].substr(13), "The run was stopped before its end.");
}

}  // namespace
}  // namespace setup
