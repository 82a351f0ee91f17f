#include "kel/platform/posix/desktop_entry.h"

#include <gtest/gtest.h>

#include "kel/platform/sandbox.h"
#include "kel/platform/well_known_folders.h"
#include "support/fuzz.h"
#include "support/testlib/environment.h"

namespace kel::platform {
namespace {

TEST(DesktopEntry, TargetsThatCannotBeWritten) {
  EXPECT_FALSE(posix::FormatDesktopEntry("x", "").has_value());
  EXPECT_FALSE(posix::FormatDesktopEntry("x", "/a\x01" "b").has_value()) << "control character";
  EXPECT_FALSE(posix::FormatDesktopEntry("x", "/a\xff").has_value()) << "not UTF-8";
  const std::optional<std::string> text = posix::FormatDesktopEntry("bad\xff name\n", "/opt/x");
  ASSERT_TRUE(text.has_value());
  EXPECT_NE(text->find("Name=bad? name \n"), std::string::npos) << *text;
}

TEST(DesktopEntry, ReadingOthersEntries) {
  const struct {
    const char* text;
    const char* target;
  } rows[] = {
      {"[Desktop Entry]\nExec=orvi --play %f\n", "orvi"},
      {"[Desktop Entry]\nExec = \"/opt/a b/x\" %U\n", "/opt/a b/x"},
      {"[Other]\nExec=/wrong\n[Desktop Entry]\nExec=/right\n", "/right"},
      {"[Desktop Entry]\nExec=/first\nExec=/second\n", "/first"},
      {"[Desktop Entry]\nName=x\n", ""},
      {"Exec=/outside\n", ""},
      {"[Desktop Entry]\nExec=\"/unterminated\n", "/unterminated"},
      {"[Desktop Entry]\nType=Link\nURL=https://x/\\s\n", "https://x/ "},
  };
  for (const auto& row : rows) EXPECT_EQ(posix::ParseDesktopEntryTarget(row.text), row.target) << row.text;
}

TEST(DesktopEntry, Fuzz) {
  orvi::test::RunFuzzTarget(
      "ParseDesktopEntryTarget",
      [](std::string_view text) {
        posix::ParseDesktopEntryTarget(text);
        if (const auto entry = posix::FormatDesktopEntry(text, text)) {
          ASSERT_EQ(posix::ParseDesktopEntryTarget(*entry), text) << "what is written reads back";
        }
      },
      {{"[Desktop Entry]\nType=Application\nName=ORVI\nExec=\"/opt/ORVI/ORVI\" %F\n", "/opt/a \"b\" $c `d` \\e %f"},
       {"[Desktop Entry]", "\nExec=", "\\", "\"", "%%", "\\s", "\n"},
       512});
}

TEST(UserDirs, Parse) {
  const char* text =
      "# comment\n"
      "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
      "XDG_MUSIC_DIR=\"/srv/My \\\"Music\\\"\"\n"
      "XDG_VIDEOS_DIR=\"$HOME/\"\n"
      "XDG_PICTURES_DIR=\"relative\"\n"
      "XDG_TEMPLATES_DIR=\"$HOME/../../etc\"\n"
      "XDG_PUBLICSHARE_DIR=\"$HOME/unterminated\n";
  const struct {
    const char* key;
    std::string value;
  } rows[] = {
      {"XDG_DESKTOP_DIR", "/home/a/Schreibtisch"},
      {"XDG_MUSIC_DIR", "/srv/My \"Music\""},
      {"XDG_VIDEOS_DIR", "/home/a/"},
      {"XDG_PICTURES_DIR", ""},
      {"XDG_TEMPLATES_DIR", "/home/a/etc"},
      {"XDG_PUBLICSHARE_DIR", ""},
      {"XDG_DOCUMENTS_DIR", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(ParseUserDirs(text, row.key, "/home/a"), row.value) << row.key;
}

TEST(UserDirs, Fuzz) {
  orvi::test::Sandbox sandbox;
  const std::string home = sandbox / "/home/a";
  orvi::test::RunFuzzTarget(
      "ParseUserDirs",
      [&](std::string_view text) {
        const std::string value = ParseUserDirs(text, "XDG_DESKTOP_DIR", home);
        if (!value.empty()) {
          ASSERT_EQ(NormalizePath(value).rfind(sandbox.Root() + "/", 0), 0u) << "never outside the sandbox: " << value;
        }
      },
      {{"XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"}, {"$HOME", "\"", "\\", "/..", "="}, 256});
}

}  // namespace
}  // namespace kel::platform
