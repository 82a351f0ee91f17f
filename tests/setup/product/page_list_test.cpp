// The wizard pages the ORVI product lists, by mode, language and switches.
#include <gtest/gtest.h>

#include "setup/core/resources.h"
#include "setup/product/product_info_orvi.h"
#include "support/session_fixture.h"

namespace orvi::test {
namespace {

std::vector<std::string> PagesOf(setup::TSetup& session) {
  std::vector<std::string> names;
  session.Product().PopulatePages(
      [&](const setup::TSetupPageClass& page) { names.emplace_back(page.ClassName()); });
  return names;
}

TEST(ProductPages, ListedByModeLanguageAndSwitches) {
  const std::string russian = "[File]\r\nName=Russian\r\nLangId=1049\r\nFamily=RU\r\n";
  const struct {
    const char* params;
    const char* language;  // LANGUAGE of the user
    bool uninstaller;
    std::vector<std::string> pages;
  } rows[] = {
      {"", "en", false,
       {"TSetupPageWelcome", "TSetupPageLicense", "TSetupPageSetup", "TSetupPageIntegration",
        "TSetupPageReadyToInstall"}},
      {"", "ru", false,
       {"TSetupPageWelcome", "TSetupPageLicense", "TSetupPageSetup", "TSetupPageAddons", "TSetupPageIntegration",
        "TSetupPageReadyToInstall"}},
      {"/AUTO", "ru", false,
       {"TSetupPageWelcome", "TSetupPageLicense", "TSetupPageSetup", "TSetupPageIntegration",
        "TSetupPageReadyToInstall"}},
      {"", "en", true, {"TSetupPageUninstallParams"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.params) + " " + row.language);
    ScopedEnv language("LANGUAGE", row.language);
    ScopedEnv lang("LANG", "C");
    SessionSpec spec;
    spec.params = row.params;
    spec.product = [] { return std::unique_ptr<setup::TSetupProductInfo>(std::make_unique<setup::TProductInfoORVI>()); };
    spec.setupFiles = {{"Russian.lng", russian}};
    if (row.uninstaller) spec.productFiles = {{"Uninstall.ini", "[Uninstall]\r\n"}};
    SessionFixture fixture(spec);
    EXPECT_EQ(PagesOf(fixture.Session()), row.pages);
  }
}

}  // namespace
}  // namespace orvi::test
