#include "setup/core/resources.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kel/base/file_system.h"
#include "kel/base/stream.h"
#include "setup/core/errors.h"
#include "setup/core/language_choice.h"
#include "setup/core/product_info.h"
#include "setup/core/session.h"
#include "support/session_fixture.h"

namespace setup {
namespace {

using orvi::test::PackageFiles;
using orvi::test::ScopedEnv;
using orvi::test::SessionFixture;
using orvi::test::SessionSpec;
using orvi::test::TTestProductScope;

std::string Content(std::unique_ptr<kel::TKELStream> stream) { return stream ? stream->ReadRest() : "<none>"; }

std::vector<std::string> Texts(const kel::TKELStringList& list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.Count(); ++i) texts.push_back(list[i]);
  return texts;
}

// The user's interface language as the environment tells it; every
// variable the answer depends on is set or cleared.
struct LanguageEnvironment {
  const char* language;
  const char* lcAll;
  const char* lcMessages;
  const char* lang;
};

class ScopedLanguage {
 public:
  explicit ScopedLanguage(const LanguageEnvironment& e)
      : language_("LANGUAGE", e.language), lcAll_("LC_ALL", e.lcAll), lcMessages_("LC_MESSAGES", e.lcMessages),
        lang_("LANG", e.lang) {}

 private:
  ScopedEnv language_, lcAll_, lcMessages_, lang_;
};

std::string Lng(const std::string& name, int langId, const std::string& rest = "") {
  return "[File]\r\nName=" + name + "\r\nLangId=" + std::to_string(langId) + "\r\n" + rest;
}

// Resources without a session, for what needs only the packages.
std::unique_ptr<TSetupResources> OpenResources(const PackageFiles& setupFiles, const PackageFiles& productFiles = {}) {
  PackageFiles files = {{"Install.xml", orvi::test::MinimalInstallXml("")}};
  files.insert(files.end(), setupFiles.begin(), setupFiles.end());
  kel::TKELMemoryStream setupPackage(orvi::test::BuildPackage(files));
  kel::TKELMemoryStream productPackage(orvi::test::BuildPackage(productFiles));
  return std::make_unique<TSetupResources>(setupPackage, productPackage);
}

TEST(SetupResources, Variables) {
  TTestProductScope product;
  SessionSpec spec;
  spec.params = "/AUTO=/home/u/App";
  SessionFixture fixture(spec);
  TSetupResources& resources = fixture.Session().Resources();
  const std::string dest = fixture.Session().DestPath();
  const std::string root = fixture.Machine().Root();
  ASSERT_EQ(dest, root + "/home/u/App/");
  ASSERT_EQ(resources.ProgramFilesPath, root + "/opt/");
  ASSERT_EQ(resources.CommonProgramsPath, root + "/usr/local/share/applications/");
  ASSERT_EQ(resources.ProgramFilesX86Path, root + "/opt (x86)/");
  ASSERT_TRUE(resources.CommonDesktopPath.starts_with(root + "/")) << resources.CommonDesktopPath;

  struct Case {
    std::string text, expanded;
  };
  const Case cases[] = {
      {"$DESTbin/x", dest + "bin/x"},
      {"$DESKTOPa", resources.CommonDesktopPath + "a"},
      {"$DEST$DESKTOP$STARTMENU$PROGRAMS$TEMP",
       dest + resources.CommonDesktopPath + resources.CommonProgramsPath + resources.ProgramFilesPath +
           kel::kelTempPath()},
      {"Installing $NAME $VERSION\\nPlease wait", "Installing TestProduct 1.00, 2024-01-31\r\nPlease wait"},
      {"$LINK", "https://example.test/"},
      {"$dest $Name \\N", "$dest $Name \\N"},  // names are case-sensitive
      {"$$DEST$", "$" + dest + "$"},
      {"\\n\\n", "\r\n\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(resources.ExpandVariables(c.text), c.expanded) << c.text;

  // Inserted text is not scanned again for its own variable, and "\n" is
  // replaced before any value is inserted.
  fixture.Session().SetDestination("/home/u/$DEST");
  EXPECT_EQ(resources.ExpandVariables("$DEST"), root + "/home/u/$DEST/");
}

TEST(SetupResources, InsertedValuesAreNotScannedAgain) {
  TTestProductScope product;
  SessionSpec spec;
  spec.params = "/AUTO=/home/u/App";
  spec.installXml =
      orvi::test::MinimalInstallXml("<Settings><P name=\"HomePage\" value=\"$LINK\\n$LINK\"/></Settings>");
  SessionFixture fixture(spec);
  EXPECT_EQ(fixture.Session().Resources().ExpandVariables("<$LINK>"), "<$LINK\\n$LINK>");
}

TEST(SetupResources, LanguageTexts) {
  TTestProductScope product;
  SessionSpec spec;
  spec.params = "/AUTO=/home/u/App";
  spec.englishLng = orvi::test::MinimalEnglishLng() + "[Page]\r\nTwo=Installing $NAME\\nPlease wait\r\nEmpty=\r\n";
  SessionFixture fixture(spec);
  const TSetupResources& resources = fixture.Session().Resources();
  EXPECT_EQ(resources.GetText("Page", "Two"), "Installing TestProduct\r\nPlease wait");
  EXPECT_EQ(resources.GetText("Page", "Empty"), "");
  EXPECT_EQ(resources.GetText("Page", "Missing"), "");
  EXPECT_EQ(resources.GetText("Missing", "Two"), "");
  EXPECT_EQ(resources.FormatCommonText("E1", {"/x/y"}), "E1 /x/y");
  EXPECT_EQ(resources.GetLanguageFamily(), "EN");
}

TEST(SetupResources, GetFileSearchesTheProductPackageFirst) {
  const auto resources =
      OpenResources({{"both.txt", "setup"}, {"setup.txt", "S"}}, {{"both.txt", "product"}, {"Product.txt", "P"}});
  EXPECT_EQ(Content(resources->GetFile("both.txt")), "product");
  EXPECT_EQ(Content(resources->GetFile("SETUP.TXT")), "S");
  EXPECT_EQ(Content(resources->GetFile("product.txt")), "P");
  EXPECT_TRUE(resources->HasProductFile("PRODUCT.txt"));
  EXPECT_FALSE(resources->HasProductFile("setup.txt"));
  try {
    resources->GetFile("none.txt");
    FAIL() << "no error";
  } catch (const EInstallerInstallError& e) {
    EXPECT_EQ(e.Message(), "Cannot locate \"none.txt\" file in setup archive");
  }
}

TEST(SetupResources, MissingInstallXmlFailsTheStart) {
  kel::TKELMemoryStream setupPackage(orvi::test::BuildPackage({{"English.lng", "x"}}));
  kel::TKELMemoryStream productPackage(orvi::test::BuildPackage({}));
  EXPECT_THROW(TSetupResources resources(setupPackage, productPackage), EInstallerInstallError);
}

TEST(SetupResources, LanguagesInLogicalOrder) {
  // Only the setup package's language files count.
  const auto resources = OpenResources({{"Lang10.lng", ""},
                                        {"lang2.lng", ""},
                                        {"readme.txt", ""},
                                        {"English.lng", ""},
                                        {"Lang9.lng", ""},
                                        {"X.LNG", ""},
                                        {"lng", ""}},
                                       {{"Product.lng", ""}});
  EXPECT_EQ(Texts(resources->Languages()),
            (std::vector<std::string>{"English.lng", "lang2.lng", "Lang9.lng", "Lang10.lng", "X.LNG"}));
}

TEST(SetupResources, GetStringList) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"every line end", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"empty lines kept, the last line end ends the last line", "a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"UTF-8 mark", "\xEF\xBB\xBFx\r\n\xC3\xA9", {"x", "\xC3\xA9"}},
      {"UTF-16LE mark", std::string("\xFF\xFE\xE9\0\r\0\n\0z\0", 10), {"\xC3\xA9", "z"}},
      {"UTF-16BE mark", std::string("\xFE\xFF\0z", 4), {"z"}},
      {"bytes that are not UTF-8", "\xE9t\xE9", {"\xC3\xA9t\xC3\xA9"}},
      {"empty", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto resources = OpenResources({{"list.txt", c.bytes}});
    EXPECT_EQ(Texts(resources->GetStringList("list.txt")), c.lines);
  }
}

TEST(SetupResources, LicenceByLanguageFamily) {
  struct Case {
    const char* family;  // [File] Family of the language; nullptr: none
    const char* licences;
    const char* expected;
  };
  const Case cases[] = {
      {"RU", "<File name=\"A\" lang-family=\"EN\"/><File name=\"B\" lang-family=\"RU\"/>", "B"},
      {"RU", "<File name=\"A\"/><File name=\"B\" lang-family=\"RU\"/>", "A"},
      {"ru", "<File name=\"B\" lang-family=\"RU\"/>", "B"},
      {"DE", "<File name=\"B\" lang-family=\"RU\"/><File name=\"A\" lang-family=\"en\"/>", "A"},
      {"DE", "<File name=\"B\" lang-family=\"RU\"/>", "<none>"},
      {nullptr, "<File name=\"B\" lang-family=\"RU\"/><File name=\"A\" lang-family=\"EN\"/>", "A"},
      {"RU", "A", "A"},
      {"RU", "", "<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.family ? c.family : "(none)") + " " + c.licences);
    TTestProductScope product;
    SessionSpec spec;
    spec.params = "/AUTO=/home/u/App";
    spec.installXml = orvi::test::MinimalInstallXml("", std::string("<license>") + c.licences + "</license>");
    spec.setupFiles = {{"A", "A"}, {"B", "B"}};
    spec.englishLng = orvi::test::MinimalEnglishLng();
    spec.englishLng.replace(spec.englishLng.find("Family=EN\r\n"), 11,
                            c.family ? std::string("Family=") + c.family + "\r\n" : "");
    SessionFixture fixture(spec);
    EXPECT_EQ(fixture.Session().Resources().GetLanguageFamily(), c.family ? c.family : "EN");
    EXPECT_EQ(Content(fixture.Session().Resources().GetLicense()), c.expected);
  }
}

TEST(LanguageChoice, EntriesOrderedByDisplayName) {
  const auto resources = OpenResources({{"a.lng", Lng("alpha", 1031, "Icon=0001ff\r\n")},
                                        {"b.lng", Lng("Zulu", 1049)},
                                        {"c.lng", Lng("Alpha", 1036)},
                                        {"d.lng", Lng("Beta", 0, "Icon=zz\r\n")},
                                        {"English.lng", Lng("English", 1033)}});
  std::vector<std::string> seen;
  for (const TSetupLanguageEntry& entry : CollectLanguageEntries(*resources))
    seen.push_back(entry.Name + "|" + std::to_string(entry.LangId) + "|" + resources->Languages()[entry.Index] +
                   "|" + std::to_string(entry.Icon.size()));
  EXPECT_EQ(seen, (std::vector<std::string>{"alpha|1031|a.lng|3", "Alpha|1036|c.lng|0", "Beta|0|d.lng|0",
                                            "English|1033|English.lng|0", "Zulu|1049|b.lng|0"}));
}

TEST(LanguageChoice, Preselection) {
  struct Case {
    std::vector<int> ids;        // of the entries, in list order
    std::vector<uint16_t> user;  // the user's languages, most wanted first
    int expected;
  };
  const Case cases[] = {
      {{1033, 1049}, {1049}, 1},
      {{1033, 1031}, {1031}, 1},
      {{1031, 1033}, {1036}, 1},              // no file for French: English
      {{1049, 1049, 1033}, {1049}, 0},        // the first of equal ids
      {{1031, 1049}, {1036}, 0},              // neither: the first entry
      {{1033, 1031}, {3079}, 1},              // German (Austria) takes German
      {{1033, 1031}, {2055}, 1},              // German (Switzerland) too
      {{1033, 1031, 3079}, {3079, 1031}, 2},  // the exact id before the primary language
      {{1033, 1031}, {1036, 1031}, 1},        // French is missing, German is next
      {{1033, 1031, 1049}, {1036, 3079, 1049}, 1},
      {{1031, 1033}, {}, 1},                  // "C" and unknown locales give no language
      {{}, {1033}, -1},
  };
  for (const Case& c : cases) {
    std::vector<TSetupLanguageEntry> entries;
    for (int id : c.ids) entries.push_back({"x", "", id, 0});
    EXPECT_EQ(PreselectLanguage(entries, c.user), c.expected) << ::testing::PrintToString(c.user);
  }
}

// Picks a named entry and records what it was offered.
class TPickingDialog : public ISetupLanguageDialog {
 public:
  explicit TPickingDialog(std::string pick) : pick_(std::move(pick)) {}
  int Choose(const std::vector<TSetupLanguageEntry>& entries, int preselected) override {
    offered = preselected >= 0 ? entries[static_cast<size_t>(preselected)].Name : "";
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i].Name == pick_) return static_cast<int>(i);
    return -1;
  }
  std::string offered;

 private:
  std::string pick_;
};

TEST(LanguageChoice, InitializeLanguagesMergesTheChoiceOverEnglish) {
  const std::string english = orvi::test::MinimalEnglishLng() + "QM=English question\r\nKeep=English only\r\n";
  const std::string german = Lng("Deutsch", 1031,
                                 "Family=DE\r\n[Common]\r\nA1=A1 sichern\r\nQM=\r\n[OnlyGerman]\r\nKey=Wert\r\n");
  const std::string russian = Lng("Russian", 1049, "[Common]\r\nA1=A1 ru\r\n");
  struct Case {
    const char* what;
    LanguageEnvironment environment;
    const char* pick;  // through a dialog; nullptr: none (AUTO)
    const char* language;
  };
  const Case cases[] = {
      {"LANG", {nullptr, nullptr, nullptr, "de_DE.UTF-8"}, nullptr, "German"},
      {"LANGUAGE before LANG", {"de:en", nullptr, nullptr, "ru_RU.UTF-8"}, nullptr, "German"},
      {"LC_ALL before LANG", {nullptr, "de_DE", nullptr, "ru_RU.UTF-8"}, nullptr, "German"},
      {"LC_MESSAGES before LANG", {nullptr, nullptr, "ru_RU", "de_DE.UTF-8"}, nullptr, "Russian"},
      {"a language without a file: English", {nullptr, nullptr, nullptr, "fr_FR.UTF-8"}, nullptr, "English"},
      {"no language set: English", {nullptr, nullptr, nullptr, nullptr}, nullptr, "English"},
      {"the dialog's choice wins", {nullptr, nullptr, nullptr, "ru_RU.UTF-8"}, "Deutsch", "German"},
      {"no entry chosen: English", {nullptr, nullptr, nullptr, "ru_RU.UTF-8"}, "nothing", "English"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedLanguage environment(c.environment);
    TTestProductScope product;
    SessionSpec spec;
    spec.params = "/AUTO=/home/u/App";
    spec.englishLng = english;
    spec.setupFiles = {{"German.lng", german}, {"Russian.lng", russian}};
    spec.initializeLanguages = false;
    SessionFixture fixture(spec);
    TSetupResources& resources = fixture.Session().Resources();
    std::unique_ptr<TPickingDialog> dialog = c.pick ? std::make_unique<TPickingDialog>(c.pick) : nullptr;
    resources.InitializeLanguages(dialog.get());
    EXPECT_EQ(resources.LanguageName(), c.language);
    const bool isGerman = std::string(c.language) == "German";
    const bool isRussian = std::string(c.language) == "Russian";
    EXPECT_EQ(resources.GetText("Common", "A1"), isGerman ? "A1 sichern" : isRussian ? "A1 ru" : "A1 backing up");
    // An empty value is a value; a missing key keeps English.
    EXPECT_EQ(resources.GetText("Common", "QM"), isGerman ? "" : "English question");
    EXPECT_EQ(resources.GetText("Common", "Keep"), "English only");
    EXPECT_EQ(resources.GetText("OnlyGerman", "Key"), isGerman ? "Wert" : "");
    EXPECT_EQ(resources.GetLanguageFamily(), isGerman ? "DE" : "EN");
    if (dialog) {
      EXPECT_EQ(dialog->offered, "Russian");
    }
  }
}

TEST(ProductInfoBase, AnswersFromTheScript) {
  TTestProductScope product;
  SessionSpec spec;
  spec.params = "/AUTO=/home/u/App";
  SessionFixture fixture(spec);
  TSetupProductInfo& info = fixture.Session().Product();
  EXPECT_EQ(info.GetDefaultPath(), fixture.Machine().Root() + "/opt/TestProduct/");
  EXPECT_EQ(info.GetName(), "TestProduct");
  EXPECT_EQ(info.GetPublisher(), "Test Publisher");
  EXPECT_EQ(info.GetHomePage(), "https://example.test/");
  EXPECT_EQ(info.GetVersion(), "1.00");
  EXPECT_EQ(info.GetVersionId(), 1000);
  EXPECT_EQ(info.GetVersionNo(), "1.0.0.1");
  EXPECT_EQ(info.GetFullVersion(), "1.00, 2024-01-31");
}

TEST(ProductInfoBase, OverriddenProperties) {
  struct Case {
    const char* settings;  // a later Settings element
    int versionId;
    const char* fullVersion;
  };
  const Case cases[] = {
      {"<P name=\"ProductVersionId\" value=\"5300\"/><P name=\"BuildDate\" value=\"\"/>", 5300, "1.00, "},
      {"<P name=\"productversionid\" value=\"5.30\"/><P name=\"ProductVersion\" value=\"5.30\"/>", 0,
       "5.30, 2024-01-31"},
      {"<P name=\"ProductVersionId\" value=\"\"/>", 0, "1.00, 2024-01-31"},
      {"<P name=\"ProductVersionId\" value=\"99999999999\"/>", 0, "1.00, 2024-01-31"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    TTestProductScope product;
    SessionSpec spec;
    spec.params = "/AUTO=/home/u/App";
    spec.installXml = orvi::test::MinimalInstallXml(std::string("<Settings>") + c.settings + "</Settings>");
    SessionFixture fixture(spec);
    EXPECT_EQ(fixture.Session().Product().GetVersionId(), c.versionId);
    EXPECT_EQ(fixture.Session().Product().GetFullVersion(), c.fullVersion);
  }
}

TEST(ProductInfoBase, AnEmptyNameFailsEveryUseOfIt) {
  TTestProductScope product;
  SessionSpec spec;
  spec.params = "/AUTO=/home/u/App";
  spec.installXml = orvi::test::MinimalInstallXml("<Settings><P name=\"ProductName\" value=\"\"/></Settings>");
  SessionFixture fixture(spec);
  TSetupResources& resources = fixture.Session().Resources();
  TSetupProductInfo& info = fixture.Session().Product();
  for (const auto& use : std::vector<std::function<void()>>{[&] { info.GetName(); }, [&] { info.GetDefaultPath(); },
                                                             [&] { resources.ExpandVariables("$NAME"); }}) {
    try {
      use();
      ADD_FAILURE() << "no error";
    } catch (const EInstallerGeneralError& e) {
      EXPECT_EQ(e.Message(), "TSetupProductInfo.GetName");
    }
  }
  // Texts that do not use the name still expand.
  EXPECT_EQ(resources.ExpandVariables("$DEST"), fixture.Session().DestPath());

  // Without a destination on the command line the default one needs the name.
  spec.params = "";
  EXPECT_THROW(SessionFixture{spec}, EInstallerGeneralError);
}

TEST(ProductInfoBase, FormatVersionId) {
  const std::pair<int, const char*> cases[] = {{0, "0.00"},     {4990, "4.99"}, {5300, "5.30"},
                                               {5011, "5.01"},  {5009, "5.00"}, {12345, "12.34"},
                                               {1000, "1.00"}};
  for (const auto& [id, text] : cases) EXPECT_EQ(TSetupProductInfo::FormatVersionId(id), text) << id;
}

}  // namespace
}  // namespace setup
