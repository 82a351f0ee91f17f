// The setup-pack tool, run as a program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "kel/base/stream.h"
#include "package_fixtures.h"
#include "setup/package/embedded_resources.h"
#include "setup/package/package.h"
#include "support/temp_dir.h"

namespace setup {
namespace {

namespace fs = std::filesystem;

struct Result {
  int exitCode;
  std::string out, err;
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class SetupPackTool : public ::testing::Test {
 protected:
  Result Run(const std::vector<std::string>& args) {
    std::string command = Quote(ORVI_BINARY_DIR "/tools/setup-pack/setup-pack");
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " > " + Quote(dir_ / "stdout") + " 2> " + Quote(dir_ / "stderr");
    const int status = std::system(command.c_str());
    // std::system gives the wait status: the exit code is in bits 8 to 15.
    return {status < 0 ? -1 : (status >> 8) & 0xFF, dir_.ReadFile("stdout"), dir_.ReadFile("stderr")};
  }

  std::string Path(const std::string& relative) const { return dir_ / relative; }
  std::string WriteFile(const std::string& relative, const std::string& bytes) const {
    return dir_.WriteFile(relative, bytes);
  }
  std::string ReadFile(const std::string& relative) const { return dir_.ReadFile(relative); }

  // A package file with entries of the given names, built with the library.
  std::string WritePackage(const std::string& relative, const orvi::test::PackageFiles& files) const {
    return WriteFile(relative, orvi::test::BuildPackage(files));
  }

  orvi::test::TempDir dir_;
};

std::string Binary(size_t size) {
  std::mt19937 rng(11);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

TEST_F(SetupPackTool, CreateListVerifyExtract) {
  const orvi::test::PackageFiles tree = {
      {"Install.xml", "<Setup/>"}, {"lang/English.lng", "[File]\nFamily=EN\n"}, {"lang/Deutsch.lng", "[File]"},
      {"bin/sub/deep.bin", Binary(70000)}, {"empty.txt", ""}};
  for (const auto& [name, content] : tree) WriteFile("src/" + name, content);

  Result created = Run({"create", Path("out.dat"), "--level", "6", Path("src")});
  ASSERT_EQ(created.exitCode, 0) << created.err;
  EXPECT_EQ(created.out.rfind("Created " + Path("out.dat") + ": 5 files, 70031 bytes packed into ", 0), 0u)
      << created.out;

  // Names relative to the folder with '\', in byte order.
  const auto reader = orvi::test::OpenPackage(ReadFile("out.dat"));
  const std::vector<std::string> expected = {"Install.xml", "bin\\sub\\deep.bin", "empty.txt", "lang\\Deutsch.lng",
                                             "lang\\English.lng"};
  ASSERT_EQ(reader->FileTable().Count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(reader->FileTable()[i].Name, expected[static_cast<size_t>(i)]);
  EXPECT_EQ(orvi::test::Scramble(ReadFile("out.dat").substr(12, 5)), std::string("\x5D\x00\x00\x00\x02", 5));

  const Result listed = Run({"list", Path("out.dat")});
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_EQ(listed.out,
            "          Size  Name\n"
            "             8  Install.xml\n"
            "         70000  bin\\sub\\deep.bin\n"
            "             0  empty.txt\n"
            "             6  lang\\Deutsch.lng\n"
            "            17  lang\\English.lng\n"
            "5 files, 70031 bytes\n");

  const Result verified = Run({"verify", Path("out.dat")});
  EXPECT_EQ(verified.exitCode, 0) << verified.err;
  EXPECT_EQ(verified.err, "");

  ASSERT_EQ(Run({"extract", Path("out.dat"), Path("all")}).exitCode, 0);
  for (const auto& [name, content] : tree) EXPECT_EQ(ReadFile("all/" + name), content) << name;

  const Result some = Run({"extract", Path("out.dat"), Path("some"), "LANG\\english.lng"});
  ASSERT_EQ(some.exitCode, 0) << some.err;
  EXPECT_EQ(ReadFile("some/lang/English.lng"), "[File]\nFamily=EN\n");
  EXPECT_FALSE(fs::exists(Path("some/Install.xml")));
}

TEST_F(SetupPackTool, EmptyFolderAndCaseTwins) {
  fs::create_directories(Path("empty"));
  ASSERT_EQ(Run({"create", Path("empty.dat"), Path("empty")}).exitCode, 0);
  EXPECT_EQ(orvi::test::OpenPackage(ReadFile("empty.dat"))->FileTable().Count(), 0);

  // Two files whose names differ only in case: both stored, the first found
  // by name and extracted.
  WriteFile("twins/Readme.txt", "upper");
  WriteFile("twins/readme.txt", "lower");
  const Result created = Run({"create", Path("twins.dat"), Path("twins")});
  ASSERT_EQ(created.exitCode, 0);
  EXPECT_NE(created.err.find("differ only in case"), std::string::npos) << created.err;
  EXPECT_EQ(orvi::test::OpenPackage(ReadFile("twins.dat"))->FileTable().Count(), 2);
  const Result extracted = Run({"extract", Path("twins.dat"), Path("out")});
  ASSERT_EQ(extracted.exitCode, 0);
  EXPECT_EQ(ReadFile("out/Readme.txt"), "upper");
  EXPECT_FALSE(fs::exists(Path("out/readme.txt")));
}

TEST_F(SetupPackTool, ExtractRefusesNamesLeadingOutside) {
  for (const char* const name : {"..\\evil.txt", "a\\..\\..\\evil.txt", "\\evil.txt", "/evil.txt", "C:\\evil.txt",
                                  "a/../../evil.txt"}) {
    SCOPED_TRACE(name);
    const std::string package = WritePackage("bad.dat", {{"good.txt", "fine"}, {name, "evil"}});
    const Result result = Run({"extract", package, Path("target/inner")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Refusing to extract \"" + std::string(name) + "\""), std::string::npos) << result.err;
    // Nothing at all is written when one name is refused.
    EXPECT_FALSE(fs::exists(Path("target")));
  }
  // A link inside the target folder does not carry files outside it.
  fs::create_directories(Path("target"));
  fs::create_directory_symlink(Path("elsewhere"), Path("target/link"));
  fs::create_directories(Path("elsewhere"));
  for (const char* const name : {"link\\file.txt", "link\\sub\\file.txt"}) {
    const std::string package = WritePackage("link.dat", {{name, "through the link"}});
    EXPECT_EQ(Run({"extract", package, Path("target")}).exitCode, 1) << name;
    EXPECT_TRUE(fs::is_empty(Path("elsewhere"))) << name;
  }
}

// Names that stand for one path once '\' and '/' both separate folders and
// empty and "." parts are dropped, or that need one path as a file and as a
// folder, are refused before anything is written, naming both.
TEST_F(SetupPackTool, ExtractRefusesNamesThatMeetOnOnePath) {
  const struct {
    std::string first, second;
  } clashes[] = {
      {"a\\b", "a/b"},      {"a\\b", "a\\\\b"}, {"a\\b", "a\\.\\b"}, {"x", ".\\x"},
      {"a\\b", "a\\b\\"},   {"a", "a\\b"},      {"a\\b", "a"},       {"a\\b\\c", "a/b"},
  };
  for (const auto& clash : clashes) {
    SCOPED_TRACE(clash.first + " | " + clash.second);
    const std::string package = WritePackage("clash.dat", {{"good.txt", "fine"}, {clash.first, "1"}, {clash.second, "2"}});
    for (const std::vector<std::string>& named : {std::vector<std::string>{}, {clash.first, clash.second}}) {
      std::vector<std::string> args = {"extract", package, Path("target")};
      args.insert(args.end(), named.begin(), named.end());
      const Result result = Run(args);
      EXPECT_EQ(result.exitCode, 1) << result.out;
      EXPECT_NE(result.err.find("Refusing to extract \"" + clash.second + "\": \"" + clash.first + "\""),
                std::string::npos)
          << result.err;
      EXPECT_FALSE(fs::exists(Path("target")));
    }
  }
  // Names that differ in case are different files here; one file named
  // twice is extracted once.
  const std::string package = WritePackage("case.dat", {{"Dir\\f", "upper"}, {"dir/f", "lower"}});
  const Result both = Run({"extract", package, Path("case")});
  ASSERT_EQ(both.exitCode, 0) << both.err;
  EXPECT_EQ(ReadFile("case/Dir/f"), "upper");
  EXPECT_EQ(ReadFile("case/dir/f"), "lower");
  const Result once = Run({"extract", package, Path("once"), "Dir\\f", "DIR\\F"});
  ASSERT_EQ(once.exitCode, 0) << once.err;
  EXPECT_NE(once.out.find("Extracted 1 file to"), std::string::npos) << once.out;
}

TEST_F(SetupPackTool, AttachWritesAReadySetupProgram) {
  const std::string program = WriteFile("Setup-bare", "#!/bin/sh\nexit 0\n" + Binary(5000));
  fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  const std::string setupPackage = WritePackage("SETUP.dat", {{"Install.xml", "<Setup/>"}});
  const std::string productPackage = WritePackage("PRODUCT.dat", {{"ORVI", Binary(20000)}});
  const std::string skin = WriteFile("light.skin", "color Labels.Colors.Text = claBlack\n");

  const Result attached = Run({"attach", program, Path("Setup"), "--setup", setupPackage, "--product", productPackage,
                               "--resource", "KELDEFAULTSKIN=" + skin});
  ASSERT_EQ(attached.exitCode, 0) << attached.err;
  EXPECT_EQ(fs::status(Path("Setup")).permissions(), fs::status(program).permissions());
  {
    const TEmbeddedResources resources = TEmbeddedResources::OpenFile(Path("Setup"));
    ASSERT_EQ(resources.Items().size(), 3u);
    EXPECT_EQ(resources.ProgramSize(), static_cast<int64_t>(fs::file_size(program)));
    EXPECT_EQ(resources.Open("SETUP")->ReadRest(), ReadFile("SETUP.dat"));
    EXPECT_EQ(resources.Open("PRODUCT")->ReadRest(), ReadFile("PRODUCT.dat"));
    EXPECT_EQ(resources.Open("KELDEFAULTSKIN")->ReadRest(), ReadFile("light.skin"));
  }

  // Attaching to the result again, in place, replaces the resources.
  const Result again =
      Run({"attach", Path("Setup"), Path("Setup"), "--setup", setupPackage, "--product", setupPackage});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.err.find("warning: no skin is attached"), std::string::npos) << again.err;
  EXPECT_EQ(fs::file_size(Path("Setup")), fs::file_size(program) + 2 * fs::file_size(setupPackage) +  // image, blocks,
                                             4 + (2 + 5 + 16) + (2 + 7 + 16) +                  // directory,
                                             32);                                               // trailer
  EXPECT_EQ(ReadFile("Setup").substr(0, fs::file_size(program)), ReadFile("Setup-bare"));

  // A damaged package is refused and nothing is written.
  std::string damaged = ReadFile("PRODUCT.dat");
  damaged[damaged.size() / 2] ^= 1;
  WriteFile("damaged.dat", damaged);
  const Result refused =
      Run({"attach", program, Path("Setup2"), "--setup", setupPackage, "--product", Path("damaged.dat")});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("Package was corrupted"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(Path("Setup2")));
  EXPECT_FALSE(fs::exists(Path("Setup2.partial")));
}

TEST_F(SetupPackTool, ArgumentsAndFileErrors) {
  const std::string good = WritePackage("good.dat", {{"a", "b"}});
  std::string corrupt = ReadFile("good.dat");
  corrupt[6] ^= 1;
  const std::string bad = WriteFile("bad.dat", corrupt);
  const std::string dangling = WriteFile("dangling.skin", "color A.B -> A.C\ncolor A.D -> A.B\n");
  const std::string unreadable = WriteFile("unreadable.skin", "color A.B = red\n");
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string message;  // part of stderr
  } cases[] = {
      {{}, 2, "Usage: setup-pack COMMAND"},
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{"create", Path("x.dat")}, 2, "expected OUT.dat and DIR"},
      {{"create", Path("x.dat"), "--level", "12", Path(".")}, 2, "--level takes a number from 0 to 9, not '12'"},
      {{"create", Path("x.dat"), "--level"}, 2, "option --level needs a value"},
      {{"create", Path("x.dat"), Path("missing")}, 1, "is not a folder"},
      {{"list", good, "--level=4"}, 2, "unknown option '--level=4' for list"},
      {{"list", Path("missing.dat")}, 1, "Cannot open file"},
      {{"verify", bad}, 1, "bad.dat\": Package was corrupted"},
      {{"verify", Path("")}, 1, "Cannot open file"},
      {{"extract", good, Path("out"), "nothing"}, 1, "\"nothing\" is not in"},
      {{"attach", Path("prog"), Path("out"), "--setup", good}, 2, "missing --product"},
      {{"attach", Path("prog"), Path("out"), "--setup", good, "--product", good, "--resource", "SKIN"}, 2,
       "--resource takes NAME=FILE, not 'SKIN'"},
      {{"attach", Path("prog"), Path("out"), "--setup", good, "--product", good, "--resource", "setup=" + good}, 2,
       "The resource \"setup\" is given twice"},
      {{"attach", Path("prog"), Path("out"), "--setup", bad, "--product", good}, 1, "Package was corrupted"},
      {{"attach", Path("missing-program"), Path("out"), "--setup", good, "--product", good}, 1, "Cannot open file"},
      {{"attach", Path("prog"), Path("out"), "--setup", good, "--product", good, "--resource",
        "KELDEFAULTSKIN_DARK=" + dangling},
       1,
       "The skin KELDEFAULTSKIN_DARK \"" + dangling + "\" is damaged:\n  \"A.B\": \"A.C\" does not exist\n"
       "  \"A.D\": \"A.C\" does not exist\n"},
      {{"attach", Path("prog"), Path("out"), "--setup", good, "--product", good, "--resource",
        "keldefaultskin=" + unreadable},
       1, "is damaged:\n  Skin line 1: \"red\" is not a colour\n"},
  };
  for (const auto& c : cases) {
    const Result result = Run(c.args);
    std::string label;
    for (const auto& arg : c.args) label += arg + " ";
    EXPECT_EQ(result.exitCode, c.exitCode) << label << "\n" << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << label << "\n" << result.err;
  }
  for (const char* command : {"create", "list", "verify", "extract", "attach"}) {
    const Result help = Run({command, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind(std::string("Usage: setup-pack ") + command, 0), 0u) << help.out;
  }
  EXPECT_EQ(Run({"--help"}).exitCode, 0);
}

}  // namespace
}  // namespace setup
