#include "setup/core/script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kel/base/error.h"
#include "kel/base/stream.h"
#include "support/fuzz.h"

namespace setup {
namespace {

TSetupScript Load(const std::string& xml) {
  TSetupScript script;
  kel::TKELMemoryStream stream(xml);
  script.Load(stream);
  return script;
}

// "name|text|family" per item.
std::vector<std::string> Items(const TSetupScriptGroup& group) {
  std::vector<std::string> items;
  for (const TSetupScriptFile& item : group) items.push_back(item.Name + "|" + item.Text + "|" + item.LangFamily);
  return items;
}

using Lines = std::vector<std::string>;

TEST(SetupScript, GroupsAndItems) {
  struct Case {
    const char* what;
    std::string xml;
    Lines license, components, actions, shortcuts;
  };
  const Case cases[] = {
      {"an element without children but with text is a one-item group",
       "<S><setup><license>Licence.rtf</license></setup><product><Actions> $DESTrun </Actions></product></S>",
       {"Licence.rtf||"},
       {},
       {"$DESTrun||"},
       {}},
      {"File in any case is an item; other children are ignored",
       "<S><product><Components><FILE name=\"a\"/><file name=\"b\" lang-family=\"RU\">src</file>"
       "<Item name=\"c\"/></Components></product></S>",
       {},
       {"a||", "b|src|RU"},
       {},
       {}},
      {"a File without attributes has an empty target",
       "<S><product><Components><File/></Components></product></S>",
       {},
       {"||"},
       {},
       {}},
      {"every group element of its name is read, in order, names ignoring case",
       "<S><product><components><File name=\"a\"/></components><Shortcuts><File name=\"l\">t</File></Shortcuts>"
       "<COMPONENTS><File name=\"b\"/></COMPONENTS><Pages><File name=\"p\"/></Pages></product></S>",
       {},
       {"a||", "b||"},
       {},
       {"l|t|"}},
      {"only the first setup and its first license are read",
       "<S><setup><license><File name=\"A\" lang-family=\"EN\"/></license><license><File name=\"B\"/></license>"
       "</setup><setup><license><File name=\"C\"/></license></setup></S>",
       {"A||EN"},
       {},
       {},
       {}},
      {"a syntax error after Components keeps the components and leaves the later groups empty",
       "<S><product><Components><File name=\"a\"/><File name=\"b\"/></Components>\n<<Actions><File name=\"x\"/>"
       "</Actions><Shortcuts><File name=\"y\"/></Shortcuts></product></S>",
       {},
       {"a||", "b||"},
       {},
       {}},
      {"a second top-level element is dropped",
       "<S><product><Components><File name=\"a\"/></Components></product></S>"
       "<T><product><Components><File name=\"b\"/></Components></product></T>",
       {},
       {"a||"},
       {},
       {}},
      {"no element at all loads nothing", "", {}, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TSetupScript script = Load(c.xml);
    EXPECT_EQ(Items(script.License), c.license);
    EXPECT_EQ(Items(script.Components), c.components);
    EXPECT_EQ(Items(script.Actions), c.actions);
    EXPECT_EQ(Items(script.Shortcuts), c.shortcuts);
  }
}

TEST(SetupScript, PropertiesTheLaterDefinitionWins) {
  const TSetupScript script = Load(
      "<S><product><Settings><P name=\"ProductName\" value=\"One\"/><X name=\"Formula\" value=\"a=b\"/>"
      "<P value=\"nameless\"/></Settings><Settings><Q name=\"productname\" value=\"Two\"/></Settings></product></S>");
  EXPECT_EQ(script.GetProperty("PRODUCTNAME"), "Two");
  EXPECT_EQ(script.GetProperty("Formula"), "a=b");
  EXPECT_EQ(script.GetProperty(""), "nameless");
  EXPECT_EQ(script.GetProperty("Missing"), "");
}

TEST(SetupScript, SourceNameAndFamily) {
  struct Case {
    TSetupScriptFile item;
    std::string sourceName;
    bool matchesRu;
  };
  const Case cases[] = {
      {{"$DESTPlugins/a.so", "", ""}, "a.so", true},
      {{"$DEST\\Sub\\b.dll", "", "ru"}, "b.dll", true},
      {{"C:x.txt", "", "EN"}, "x.txt", false},
      {{"$DESTa/b.txt", "packed.bin", "RU"}, "packed.bin", true},
      {{"", "", ""}, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item.Name);
    EXPECT_EQ(c.item.SourceName(), c.sourceName);
    EXPECT_EQ(c.item.MatchesFamily("RU"), c.matchesRu);
  }
  TSetupScript script = Load(
      "<S><setup><license><File name=\"en\" lang-family=\"EN\"/><File name=\"any\"/><File name=\"ru\" "
      "lang-family=\"RU\"/></license></setup></S>");
  const TSetupScriptFile* found = nullptr;
  ASSERT_TRUE(script.License.FindByFamily("ru", found));
  EXPECT_EQ(found->Name, "any");  // the first match in script order
}

// The script comes from the package; whatever its bytes, loading either
// succeeds or raises the library's error.
TEST(SetupScript, FuzzLoad) {
  orvi::test::FuzzOptions options;
  options.seeds = {
      "<S><setup><license>L.rtf</license></setup><product><Components><File name=\"$DESTa\" lang-family=\"RU\">"
      "a</File></Components><Settings><P name=\"ProductName\" value=\"X\"/></Settings><Actions>r</Actions>"
      "</product></S>",
  };
  options.dictionary = {"<product>", "<Components>", "<File", "name=\"", "lang-family=\"", "</", "/>",
                        "<Settings>", "<setup>", "<license>", "SXML", "BXML"};
  orvi::test::RunFuzzTarget(
      "setup script",
      [](std::string_view bytes) {
        TSetupScript script;
        kel::TKELMemoryStream stream{std::string(bytes)};
        try {
          script.Load(stream);
        } catch (const kel::Exception&) {
        }
        for (const TSetupScriptFile& item : script.Components) (void)item.SourceName();
        (void)script.GetProperty("ProductName");
      },
      options);
}

}  // namespace
}  // namespace setup
