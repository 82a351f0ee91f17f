#include "setup/core/app_repo.h"

#include <cstdio>
#include <optional>

#include "kel/base/file_system.h"
#include "kel/platform/locale.h"
#include "kel/platform/registry.h"

namespace setup {

namespace {

using kel::platform::RegistryAccess;
using kel::platform::RegistryStore;
using kel::platform::RegistryValue;
using kel::platform::RegistryView;

std::string KeyName(const std::string& name) {
  std::string key;
  for (char c : name)
    if (c != ' ') key += c;
  return key;
}

std::string EntryKey(const std::string& keyName, bool wow6432) {
  return std::string(kel::platform::kLocalMachine) + "\\" + TSetupAppRepo::UninstallKeyPath(wow6432) + keyName;
}

std::string InstallDate() {
  const kel::platform::LocalDate today = kel::platform::Today();
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", today.year % 10000, today.month % 100, today.day % 100);
  return text;
}

std::string StringValue(RegistryStore& store, const std::string& key, const char* name) {
  const std::optional<RegistryValue> value = store.GetValue(key, name);
  return value && value->IsString() ? value->text : std::string();
}

// The installation folder recorded under `key`, when it exists.
bool ReadFolder(RegistryStore& store, const std::string& key, std::string& folder) {
  if (!store.KeyExists(key)) return false;
  std::string candidate = kel::kelIncludeTrailingPathDelimiter(StringValue(store, key, "InstallPath"));
  if (!kel::kelDirectoryExists(candidate)) candidate = kel::kelExtractFilePath(StringValue(store, key, "UninstallString"));
  if (!kel::kelDirectoryExists(candidate)) candidate = kel::kelExtractFilePath(StringValue(store, key, "DisplayIcon"));
  if (!kel::kelDirectoryExists(candidate)) return false;
  folder = candidate;
  return true;
}

void DeleteBoth(RegistryStore& store, const std::string& keyName) {
  store.DeleteKey(EntryKey(keyName, false));
  store.DeleteKey(EntryKey(keyName, true));
}

}  // namespace

std::string TSetupAppRepo::UninstallKeyPath(bool wow6432) {
  return std::string("Software\\") + (wow6432 ? "Wow6432Node\\" : "") + "Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
}

bool TSetupAppRepo::Register(const std::string& name, const std::string& uninstallExe, const std::string& version,
                             const std::string& publisher, const std::string& homePage) {
  const std::string keyName = KeyName(name);
  if (keyName.empty()) return false;
  RegistryStore store(RegistryStore::MachineStorePath(), RegistryAccess::ReadWrite);
  if (!store.IsOpen()) return false;
  const std::string key = EntryKey(keyName, false);
  return store.Transaction([&] {
    DeleteBoth(store, keyName);
    if (!store.CreateKey(key)) return false;
    // Single values that cannot be written are left out.
    store.SetValue(key, "NoModify", RegistryValue::DWord(1));
    store.SetValue(key, "NoRepair", RegistryValue::DWord(1));
    store.SetValue(key, "DisplayIcon", RegistryValue::String(uninstallExe));
    store.SetValue(key, "DisplayName", RegistryValue::String(name));
    store.SetValue(key, "DisplayVersion", RegistryValue::String(version));
    store.SetValue(key, "InstallDate", RegistryValue::String(InstallDate()));
    store.SetValue(key, "InstallPath", RegistryValue::String(kel::kelExtractFilePath(uninstallExe)));
    store.SetValue(key, "Publisher", RegistryValue::String(publisher));
    store.SetValue(key, "UninstallString", RegistryValue::String(uninstallExe));
    store.SetValue(key, "URLInfoAbout", RegistryValue::String(homePage));
    return true;
  });
}

bool TSetupAppRepo::Unregister(const std::string& name, bool* removed) {
  if (removed) *removed = false;
  const std::string keyName = KeyName(name);
  if (keyName.empty()) return false;
  RegistryStore store(RegistryStore::MachineStorePath(), RegistryAccess::ReadWrite);
  if (!store.IsOpen()) return false;
  bool found = false;
  const bool done = store.Transaction([&] {
    found = store.KeyExists(EntryKey(keyName, false)) || store.KeyExists(EntryKey(keyName, true));
    DeleteBoth(store, keyName);
    return true;
  });
  if (removed) *removed = done && found;
  return done;
}

bool TSetupAppRepo::FindInstallPath(const std::string& name, std::string& folder) {
  const std::string keyName = KeyName(name);
  if (keyName.empty()) return false;
  RegistryStore store(RegistryStore::MachineStorePath(), RegistryAccess::Read);
  if (!store.IsOpen()) return false;
  const std::string key = EntryKey(keyName, false);
  return ReadFolder(store, key, folder) ||
         ReadFolder(store, kel::platform::RegistryViewPath(key, RegistryView::Wow32), folder);
}

}  // namespace setup
