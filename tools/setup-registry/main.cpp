// setup-registry: shows what the setup keeps in the machine's registry store
// (the entries of installed applications), for publishers and
// administrators. It only reads.
//
//   setup-registry [KEY]
//
// KEY defaults to the uninstall entries of installed applications. Honours
// ORVI_SETUP_SANDBOX like the setup itself.
#include <cstdio>
#include <string>
#include <string_view>

#include "kel/platform/registry.h"

namespace {

using kel::platform::RegistryStore;
using kel::platform::RegistryType;
using kel::platform::RegistryValue;

constexpr std::string_view kUninstallKey = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string Show(const RegistryValue& value) {
  switch (value.type) {
    case RegistryType::DWord:
    case RegistryType::QWord:
      return std::to_string(value.number);
    case RegistryType::Binary: {
      static const char kHex[] = "0123456789abcdef";
      std::string hex;
      for (unsigned char c : value.text) {
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
      }
      return hex;
    }
    default:
      return "\"" + value.text + "\"";
  }
}

void List(RegistryStore& store, const std::string& key, int depth) {
  std::printf("%*s[%s]\n", depth * 2, "", key.c_str());
  for (const std::string& name : store.ValueNames(key)) {
    if (const auto value = store.GetValue(key, name))
      std::printf("%*s%s = %s\n", depth * 2 + 2, "", name.empty() ? "(default)" : name.c_str(), Show(*value).c_str());
  }
  for (const std::string& sub : store.SubKeys(key)) List(store, key + "\\" + sub, depth + 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h"))) {
    std::printf("usage: setup-registry [KEY]\n\nShows the keys and values below KEY in the registry store (default: %s).\n",
                std::string(kUninstallKey).c_str());
    return argc > 2 ? 2 : 0;
  }
  const std::string key = argc == 2 ? argv[1] : std::string(kUninstallKey);
  RegistryStore store(RegistryStore::MachineStorePath(), kel::platform::RegistryAccess::Read);
  if (!store.IsOpen()) {
    std::fprintf(stderr, "setup-registry: %s: %s\n", RegistryStore::MachineStorePath().c_str(), store.Error().c_str());
    return 1;
  }
  if (!store.KeyExists(key)) {
    std::printf("(no key %s in %s)\n", key.c_str(), RegistryStore::MachineStorePath().c_str());
    return 0;
  }
  List(store, key, 0);
  return 0;
}
