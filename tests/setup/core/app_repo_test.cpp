#include "setup/core/app_repo.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "kel/platform/locale.h"
#include "kel/platform/registry.h"
#include "support/testlib/environment.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
using kel::platform::RegistryAccess;
using kel::platform::RegistryStore;
using kel::platform::RegistryValue;

const std::string kUninstall = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kUninstall32 =
    "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string Date(const kel::platform::LocalDate& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", date.year, date.month, date.day);
  return text;
}

class AppRepoTest : public ::testing::Test {
 protected:
  RegistryStore Store(RegistryAccess access = RegistryAccess::ReadWrite) {
    return RegistryStore(RegistryStore::MachineStorePath(), access);
  }
  std::string String(const std::string& key, const char* name) {
    const auto value = Store(RegistryAccess::Read).GetValue(key, name);
    return value ? value->text : "<none>";
  }
  // An entry as another installer might have left it.
  void WriteEntry(const std::string& key, const std::string& installPath, const std::string& uninstallString,
                  const std::string& displayIcon) {
    RegistryStore store = Store();
    store.SetValue(key, "InstallPath", RegistryValue::String(installPath));
    store.SetValue(key, "UninstallString", RegistryValue::String(uninstallString));
    store.SetValue(key, "DisplayIcon", RegistryValue::String(displayIcon));
  }

  orvi::test::Sandbox sandbox_;
};

TEST_F(AppRepoTest, RegisterWritesTheEntry) {
  const std::string exe = sandbox_ / "/opt/ORVI Player/Uninstall";
  const std::string before = Date(kel::platform::Today());
  TSetupAppRepo::Register("ORVI Player", exe, "5.30", "ORVI Team", "https://orvi.example/");
  const std::string after = Date(kel::platform::Today());

  ASSERT_TRUE(fs::exists(sandbox_ / "/var/lib/orvi-setup/registry.db"));
  const std::string key = kUninstall + "ORVIPlayer";
  RegistryStore store = Store(RegistryAccess::Read);
  EXPECT_EQ(store.ValueNames(key),
            (std::vector<std::string>{"NoModify", "NoRepair", "DisplayIcon", "DisplayName", "DisplayVersion",
                                      "InstallDate", "InstallPath", "Publisher", "UninstallString", "URLInfoAbout"}));
  EXPECT_EQ(store.GetValue(key, "NoModify")->type, kel::platform::RegistryType::DWord);
  EXPECT_EQ(store.GetValue(key, "NoRepair")->number, 1u);
  EXPECT_EQ(String(key, "DisplayIcon"), exe);
  EXPECT_EQ(String(key, "DisplayName"), "ORVI Player");
  EXPECT_EQ(String(key, "DisplayVersion"), "5.30");
  const std::string date = String(key, "InstallDate");
  EXPECT_TRUE(date == before || date == after) << date;
  EXPECT_EQ(String(key, "InstallPath"), sandbox_ / "/opt/ORVI Player/");
  EXPECT_EQ(String(key, "Publisher"), "ORVI Team");
  EXPECT_EQ(String(key, "UninstallString"), exe);
  EXPECT_EQ(String(key, "URLInfoAbout"), "https://orvi.example/");

  TSetupAppRepo::Register("   ", exe, "1", "", "");
  EXPECT_EQ(Store(RegistryAccess::Read).SubKeys(kUninstall), std::vector<std::string>{"ORVIPlayer"})
      << "a name of spaces does nothing";
}

TEST_F(AppRepoTest, RegisterReplacesBothViews) {
  WriteEntry(kUninstall + "ORVI\\Old", "/x/", "/x/u", "/x/i");
  WriteEntry(kUninstall32 + "ORVI", "/y/", "/y/u", "/y/i");
  TSetupAppRepo::Register("ORVI", sandbox_ / "/opt/ORVI/Uninstall", "5.30", "", "");
  RegistryStore store = Store(RegistryAccess::Read);
  EXPECT_TRUE(store.SubKeys(kUninstall + "ORVI").empty()) << "old subkeys are gone";
  EXPECT_FALSE(store.KeyExists(kUninstall32 + "ORVI"));

  TSetupAppRepo::Unregister("O R V I");
  EXPECT_FALSE(Store(RegistryAccess::Read).KeyExists(kUninstall + "ORVI"));
  TSetupAppRepo::Unregister("ORVI");  // missing entries are no error
}

TEST_F(AppRepoTest, FindInstallPath) {
  const std::string opt = sandbox_ / "/opt/";
  fs::create_directories(opt + "installed");
  fs::create_directories(opt + "uninstaller");
  fs::create_directories(opt + "icon");
  const struct {
    const char* what;
    std::string installPath, uninstallString, displayIcon;
    bool found;
    std::string folder;
  } rows[] = {
      {"InstallPath", opt + "installed", opt + "uninstaller/U", opt + "icon/I", true, opt + "installed/"},
      {"UninstallString", opt + "deleted/", opt + "uninstaller/U", opt + "icon/I", true, opt + "uninstaller/"},
      {"DisplayIcon", "", opt + "gone/U", opt + "icon/I", true, opt + "icon/"},
      {"nothing exists", opt + "a/", opt + "b/U", opt + "c/I", false, ""},
  };
  for (const auto& row : rows) {
    WriteEntry(kUninstall + "Product", row.installPath, row.uninstallString, row.displayIcon);
    std::string folder = "unchanged";
    EXPECT_EQ(TSetupAppRepo::FindInstallPath("Pro duct", folder), row.found) << row.what;
    EXPECT_EQ(folder, row.found ? row.folder : "unchanged") << row.what;
  }
  Store().DeleteKey(kUninstall + "Product");
  WriteEntry(kUninstall32 + "Product", opt + "installed/", "", "");
  std::string folder;
  EXPECT_TRUE(TSetupAppRepo::FindInstallPath("Product", folder)) << "the 32-bit view";
  EXPECT_EQ(folder, opt + "installed/");
  Store().SetValue(kUninstall32 + "Product", "InstallPath", {kel::platform::RegistryType::DWord, {}, 7});
  EXPECT_FALSE(TSetupAppRepo::FindInstallPath("Product", folder)) << "only string values count";
  EXPECT_FALSE(TSetupAppRepo::FindInstallPath("Unknown", folder));
  EXPECT_FALSE(TSetupAppRepo::FindInstallPath("", folder));
  EXPECT_EQ(TSetupAppRepo::UninstallKeyPath(true), kUninstall32.substr(19));
}

TEST_F(AppRepoTest, DamagedStoreIsNeitherReadNorReplaced) {
  const std::string file = sandbox_.WriteFile("/var/lib/orvi-setup/registry.db", "this is no database");
  fs::create_directories(sandbox_ / "/opt/ORVI");
  TSetupAppRepo::Register("ORVI", sandbox_ / "/opt/ORVI/Uninstall", "5.30", "", "");
  std::string folder;
  EXPECT_FALSE(TSetupAppRepo::FindInstallPath("ORVI", folder));
  TSetupAppRepo::Unregister("ORVI");
  EXPECT_EQ(orvi::test::ReadFileBytes(file), "this is no database");
}

TEST_F(AppRepoTest, ConcurrentRegistrationsLoseNothing) {
  constexpr int kProducts = 25;
  const auto registerAll = [&](const std::string& prefix) {
    for (int i = 0; i < kProducts; ++i)
      TSetupAppRepo::Register(prefix + std::to_string(i), sandbox_ / ("/opt/" + prefix + "/Uninstall"), "1", "P", "H");
  };
  fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    registerAll("Child ");
    _exit(0);
  }
  registerAll("Parent ");
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  RegistryStore store = Store(RegistryAccess::Read);
  EXPECT_EQ(store.SubKeys(kUninstall).size(), 2u * kProducts);
  for (const char* prefix : {"Child", "Parent"}) {
    for (int i = 0; i < kProducts; ++i)
      EXPECT_EQ(store.ValueNames(kUninstall + prefix + std::to_string(i)).size(), 10u) << prefix << i;
  }
}

}  // namespace
}  // namespace setup
