#include "kel/platform/process.h"

#include <gtest/gtest.h>

#include <chrono>

#include "kel/platform/locale.h"
#include "kel/platform/posix/command_line.h"
#include "support/temp_dir.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include "support/fuzz.h"
#include "support/testlib/environment.h"

extern char** environ;

namespace kel::platform {
namespace {

using orvi::test::ScopedEnv;

TEST(OsVersion, WindowsTenUnlessOverridden) {
  const struct {
    const char* value;
    uint32_t major, minor, build;
  } rows[] = {
      {nullptr, 10, 0, 19045}, {"6.1", 6, 1, 0}, {"10.0.22631", 10, 0, 22631},
      {"6", 10, 0, 19045},     {"six.one", 10, 0, 19045}, {"6.1.2.3", 10, 0, 19045}, {"6.1x", 10, 0, 19045},
  };
  for (const auto& row : rows) {
    ScopedEnv version(kOsVersionVariable, row.value);
    const OsVersion got = GetOsVersion();
    EXPECT_EQ(got.major, row.major) << (row.value ? row.value : "(unset)");
    EXPECT_EQ(got.minor, row.minor) << (row.value ? row.value : "(unset)");
    EXPECT_EQ(got.build, row.build) << (row.value ? row.value : "(unset)");
  }
}

TEST(Language, LocaleNamesToLanguageIds) {
  const struct {
    const char* name;
    uint16_t id;
  } rows[] = {
      {"en_US.UTF-8", 1033}, {"en_GB", 2057},     {"de_DE.UTF-8@euro", 1031}, {"de_AT", 3079},
      {"DE_ch", 2055},       {"ru_RU.KOI8-R", 1049}, {"fr", 1036},            {"fr_CA", 3084},
      {"pt_BR", 1046},       {"pt_PT", 2070},     {"zh_TW.Big5", 1028},       {"zh_CN", 2052},
      {"sr_RS@latin", 2074}, {"de_XX", 1031},     {"xx_YY", 0},               {"C", 0},
      {"", 0},
  };
  for (const auto& row : rows) EXPECT_EQ(LanguageIdFromLocaleName(row.name), row.id) << row.name;
}

TEST(Language, UserLanguagesInOrder) {
  const struct {
    const char *language, *all, *messages, *lang;
    std::vector<uint16_t> ids;
  } rows[] = {
      {"xx:de_AT:fr", "ru_RU", nullptr, nullptr, {3079, 1036, 1049}},
      {"de_AT:de", nullptr, nullptr, "de_AT.UTF-8", {3079, 1031, 3079}},
      {"", "ru_RU.UTF-8", "fr_FR", "de_DE", {1049}},
      {nullptr, nullptr, "fr_FR", "de_DE", {1036}},
      {nullptr, nullptr, nullptr, "de_CH", {2055}},
      {nullptr, "C.UTF-8", nullptr, "de_DE", {}},
      {nullptr, nullptr, nullptr, nullptr, {}},
  };
  for (const auto& row : rows) {
    ScopedEnv language("LANGUAGE", row.language), all("LC_ALL", row.all), messages("LC_MESSAGES", row.messages),
        lang("LANG", row.lang);
    EXPECT_EQ(UserUiLanguageIds(), row.ids) << (row.language ? row.language : "-");
  }
}

TEST(WindowsArguments, Split) {
  const struct {
    const char* text;
    std::vector<std::string> arguments;
  } rows[] = {
      {"", {}},
      {"  a  b\tc ", {"a", "b", "c"}},
      {"/PATH=\"/opt/My Player/\" /AUTO", {"/PATH=/opt/My Player/", "/AUTO"}},
      {"\"\" x", {"", "x"}},
      {"a\\\\\"b c\"", {"a\\b c"}},
      {"a\\\"b", {"a\"b"}},
      {"a\\b\\\\ c", {"a\\b\\\\", "c"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"\"open", {"open"}},
  };
  for (const auto& row : rows) EXPECT_EQ(posix::SplitWindowsArguments(row.text), row.arguments) << row.text;
}

TEST(WindowsArguments, Fuzz) {
  orvi::test::RunFuzzTarget(
      "SplitWindowsArguments",
      [](std::string_view text) {
        for (const std::string& argument : posix::SplitWindowsArguments(text)) ASSERT_LE(argument.size(), text.size());
      },
      {{"a \"b c\" d\\\"e", "\"\"\"\"\\\\\\\"", "\t\t\"x"}, {"\"", "\\", " "}, 256});
}

TEST(Programs, StartAndRun) {
  const StartResult quick = StartProgram("sh", {"-c", "exit 7"}, 5000);
  EXPECT_TRUE(quick.started);
  EXPECT_TRUE(quick.exited);
  EXPECT_EQ(quick.exitCode, 7);

  const auto begin = std::chrono::steady_clock::now();
  const StartResult slow = StartProgram("sh", {"-c", "sleep 2"}, 100);
  EXPECT_TRUE(slow.started);
  EXPECT_FALSE(slow.exited) << "still running after the wait";
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2)) << "the caller does not wait for it";

  const StartResult missing = StartProgram("/no/such/program", {});
  EXPECT_FALSE(missing.started);
  EXPECT_FALSE(missing.error.empty());

  orvi::test::TempDir dir;
  const std::string notExecutable = dir.WriteFile("script", "#!/no/such/interpreter\n");
  EXPECT_EQ(chmod(notExecutable.c_str(), 0755), 0);
  EXPECT_FALSE(StartProgram(notExecutable, {}).started) << "an exec failure is reported";

  EXPECT_EQ(RunProgram("sh", {"-c", "exit 3"}), 3);
  std::string error;
  EXPECT_EQ(RunProgram("no-such-program-here", {}, &error), -1);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(FindExecutable("sh").empty(), false);
  EXPECT_EQ(FindExecutable(""), "");
}

// A process runs until it ends, whether or not its parent has collected it
// yet; a process of the same id that started at another time is another.
TEST(Processes, RunningUntilEnded) {
  const std::optional<ProcessIdentity> self = IdentifyProcess(static_cast<uint32_t>(getpid()));
  ASSERT_TRUE(self.has_value());
  EXPECT_TRUE(IsProcessRunning(*self));
  EXPECT_FALSE(IsProcessRunning({self->id, self->startTime + 1})) << "another process under the same id";
  EXPECT_FALSE(IdentifyProcess(0).has_value());
  EXPECT_FALSE(IdentifyProcess(0x7FFFFFFF).has_value()) << "no such process";

  // A program whose name looks like the fields that follow it in /proc.
  orvi::test::TempDir dir;
  const std::string sleep = dir / "x) Z 1 (y";
  ASSERT_EQ(symlink(FindExecutable("sleep").c_str(), sleep.c_str()), 0);
  pid_t child = 0;
  const char* argv[] = {sleep.c_str(), "60", nullptr};
  ASSERT_EQ(posix_spawn(&child, sleep.c_str(), nullptr, nullptr, const_cast<char* const*>(argv), environ), 0);
  const std::optional<ProcessIdentity> sleeper = IdentifyProcess(static_cast<uint32_t>(child));
  ASSERT_TRUE(sleeper.has_value());
  EXPECT_TRUE(IsProcessRunning(*sleeper));
  ASSERT_EQ(kill(child, SIGKILL), 0);
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);  // ended, not collected
  EXPECT_FALSE(IsProcessRunning(*sleeper)) << "ended, though not collected yet";
  EXPECT_FALSE(IdentifyProcess(static_cast<uint32_t>(child)).has_value());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_FALSE(IsProcessRunning(*sleeper));
}

TEST(Programs, CommandLinesFindTheirProgramByTheShortestExecutablePrefix) {
  // A program in a folder with spaces, called without quotes, records its
  // arguments; a decoy named like the first word must not be taken.
  orvi::test::TempDir dir;
  const std::string folder = dir / "My Apps";
  const std::string log = dir / "args.log";
  const std::string program =
      dir.WriteFile("My Apps/Elevator", "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > '" + log + "'\n");
  ASSERT_EQ(chmod(program.c_str(), 0755), 0);
  dir.WriteFile("My", "not a program\n");

  const struct {
    std::string line;
    std::string arguments;
  } rows[] = {
      {program + " /REG=L1 /REG=D1", "[/REG=L1]\n[/REG=D1]\n"},
      {program, ""},
      {"\"" + program + "\" \"two words\" x", "[two words]\n[x]\n"},
      {program + " a\\\"b \"c d\"", "[a\"b]\n[c d]\n"},
  };
  for (const auto& row : rows) {
    std::remove(log.c_str());
    EXPECT_EQ(RunCommandLine(row.line), 0) << row.line;
    EXPECT_EQ(orvi::test::ReadFileBytes(log), row.arguments) << row.line;
  }
  EXPECT_EQ(RunCommandLine("sh -c \"exit 5\""), 5) << "a program found through PATH";
  std::string error;
  EXPECT_EQ(RunCommandLine(folder + "/Missing /x", &error), -1);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(RunCommandLine(""), -1);
}

}  // namespace
}  // namespace kel::platform
