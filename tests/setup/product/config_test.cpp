// The configuration action: ORVI.ini with the integration choices and a
// fresh [System] section.
#include <gtest/gtest.h>

#include <filesystem>

#include "kel/base/ini_file.h"
#include "kel/base/text.h"
#include "setup/core/session.h"
#include "setup/product/actions.h"
#include "support/session_fixture.h"

namespace setup {
namespace {

using orvi::test::SessionFixture;
using orvi::test::SessionSpec;

SessionSpec AutoSpec() {
  SessionSpec spec;
  spec.params = "/AUTO=/srv/ORVI";
  return spec;
}

// "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}" with upper-case hexadecimal
// digits: a random (version 4, variant 1) GUID in registry form.
bool IsRegistryGuid(const std::string& text) {
  const std::string pattern = "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}";
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    const bool ok = pattern[i] == 'X'   ? hex
                    : pattern[i] == 'Y' ? (c == '8' || c == '9' || c == 'A' || c == 'B')
                                        : c == pattern[i];
    if (!ok) return false;
  }
  return true;
}

// Runs the action and returns the file's bytes with the written ID (which
// must be a GUID in registry form) replaced by "{ID}"; `id` receives it.
std::string RunConfig(SessionFixture& fixture, std::string* id = nullptr) {
  TSetup& session = fixture.Session();
  std::filesystem::create_directories(session.DestPath());
  TSetupActionConfig action;
  action.Run();
  const std::string file = session.DestPath() + "ORVI.ini";
  kel::TKELIniFile written(file);
  const std::string guid = written.ReadString("System", "ID", "");
  EXPECT_TRUE(IsRegistryGuid(guid)) << guid;
  if (id) *id = guid;
  std::string bytes = orvi::test::ReadFileBytes(file);
  for (const kel::TKELEncoding& encoding : {kel::TKELEncoding::UTF8(), kel::TKELEncoding::UTF16LE()}) {
    const std::string encoded = encoding.Encode(guid);
    if (size_t at = bytes.find(encoded); !guid.empty() && at != std::string::npos)
      bytes.replace(at, encoded.size(), encoding.Encode("{ID}"));
  }
  return bytes;
}

std::string Encoded(const kel::TKELEncoding& encoding, const std::string& text) {
  return std::string(encoding.Preamble()) + encoding.Encode(text);
}

// An earlier ORVI.ini keeps its other sections in place and in its encoding;
// [Integration] takes the session's choices; [System] loses its other keys
// and moves to the end.
TEST(ConfigAction, ExistingFileKeepsItsSectionsAndEncoding) {
  const std::string before =
      "[Player]\r\nVolume=80\r\nLast=Künstler – Titel\r\n"
      "[System]\r\nID={00000000-0000-0000-0000-000000000000}\r\nInstallDate=2020-01-01\r\nVersion=4000\r\n"
      "UserMode=0\r\nDefaultLang=Deutsch.lng\r\n"
      "[Integration]\r\nAssociateWithFiles=1\r\nShortcutDesktop=1\r\n"
      "[Skins]\r\nCurrent=Aurora\r\n";
  const std::string after =
      "[Player]\r\nVolume=80\r\nLast=Künstler – Titel\r\n\r\n"
      "[Integration]\r\nIntegrateToWindows=0\r\nAssociateWithFiles=0\r\n\r\n"
      "[Skins]\r\nCurrent=Aurora\r\n\r\n"
      "[System]\r\nID={ID}\r\nDefaultLang=English.lng\r\nUserMode=1\r\nVersion=1000\r\n\r\n";
  for (const kel::TKELEncoding& encoding :
       {kel::TKELEncoding::UTF8(), kel::TKELEncoding::UTF16LE(), kel::TKELEncoding::UTF16BE()}) {
    SessionFixture fixture(AutoSpec());
    fixture.Session().Settings().WriteSection("Integration", "IntegrateToWindows=0\r\nAssociateWithFiles=0\r\n");
    fixture.Machine().WriteFile("/srv/ORVI/ORVI.ini", Encoded(encoding, before));
    EXPECT_EQ(RunConfig(fixture), Encoded(encoding, after)) << encoding.Preamble().size();
  }
}

// A new file is UTF-16LE; without integration choices it has no
// [Integration] section; UserMode follows the portable flag.
TEST(ConfigAction, NewFileWithUserMode) {
  for (const bool portable : {false, true}) {
    SessionFixture fixture(AutoSpec());
    fixture.Session().SetFlag(sfPORTABLE, portable);
    const std::string expected = "[System]\r\nID={ID}\r\nDefaultLang=English.lng\r\nUserMode=" +
                                 std::string(portable ? "0" : "1") + "\r\nVersion=1000\r\n\r\n";
    EXPECT_EQ(RunConfig(fixture), Encoded(kel::TKELEncoding::UTF16LE(), expected)) << "portable " << portable;
  }
}

TEST(ConfigAction, EveryRunWritesANewIdentifier) {
  SessionFixture fixture(AutoSpec());
  std::string first, second;
  RunConfig(fixture, &first);
  RunConfig(fixture, &second);
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace setup
