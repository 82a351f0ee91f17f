#include "setup/core/summary.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/session_fixture.h"

namespace setup {
namespace {

TEST(SummaryBuilder, HeadingsAppearOnlyBeforeAnItem) {
  struct Case {
    const char* what;
    std::function<void(TSetupSummaryBuilder&)> build;
    std::string text;
  };
  const Case cases[] = {
      {"a heading with its items",
       [](TSetupSummaryBuilder& b) {
         b.SetHeading("H");
         b.AddItem("a");
         b.AddItem("b");
       },
       "H\r\na\r\nb\r\n"},
      {"a blank line between groups",
       [](TSetupSummaryBuilder& b) {
         b.SetHeading("H1");
         b.AddItem("a");
         b.SetHeading("H2");
         b.AddItem("b");
       },
       "H1\r\na\r\n\r\nH2\r\nb\r\n"},
      {"of two headings without an item between, only the second",
       [](TSetupSummaryBuilder& b) {
         b.SetHeading("H1");
         b.SetHeading("H2");
         b.AddItem("a");
       },
       "H2\r\na\r\n"},
      {"a heading without an item is never written",
       [](TSetupSummaryBuilder& b) {
         b.AddItem("a");
         b.SetHeading("H");
       },
       "a\r\n"},
      {"items before the first heading",
       [](TSetupSummaryBuilder& b) {
         b.AddItem("a");
         b.SetHeading("H");
         b.AddItem("b");
       },
       "a\r\n\r\nH\r\nb\r\n"},
      {"an empty heading still opens a group",
       [](TSetupSummaryBuilder& b) {
         b.AddItem("a");
         b.SetHeading("");
         b.AddItem("b");
       },
       "a\r\n\r\n\r\nb\r\n"},
  };
  for (const Case& c : cases) {
    TSetupSummaryBuilder builder;
    c.build(builder);
    EXPECT_EQ(builder.ToString(), c.text) << c.what;
  }
}

TEST(SummaryBuilder, LanguageTexts) {
  orvi::test::TTestProductScope product;
  orvi::test::SessionSpec spec;
  spec.params = "/AUTO=/home/u/App";
  spec.englishLng = orvi::test::MinimalEnglishLng() + "[PageReadyToInstall]\r\nH=Folder:\r\nI=$DEST\r\n";
  orvi::test::SessionFixture fixture(spec);
  TSetupSummaryBuilder builder;
  builder.SetHeading("PageReadyToInstall", "H");
  builder.AddItem("PageReadyToInstall", "I");
  EXPECT_EQ(builder.ToString(), "Folder:\r\n" + fixture.Session().DestPath() + "\r\n");
}

}  // namespace
}  // namespace setup
