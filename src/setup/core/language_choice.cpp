#include "setup/core/language_choice.h"

#include <algorithm>

#include "kel/base/ini_file.h"
#include "kel/base/text.h"
#include "setup/core/resources.h"
#include "setup/package/package.h"

namespace setup {

std::vector<TSetupLanguageEntry> CollectLanguageEntries(const TSetupResources& resources) {
  std::vector<TSetupLanguageEntry> entries;
  const kel::TKELStringList& languages = resources.Languages();
  for (int i = 0; i < languages.Count(); ++i) {
    std::unique_ptr<kel::TKELMemoryStream> file;
    if (!resources.SetupPackage().GetFile(languages[i], file)) continue;
    kel::TKELIniFile ini;
    ini.LoadFromStream(*file);
    TSetupLanguageEntry entry;
    entry.Name = ini.ReadString("File", "Name", "");
    entry.LangId = ini.ReadInteger("File", "LangId", 0);
    kel::TKELMemoryStream icon;
    if (ini.ReadStream("File", "Icon", icon)) entry.Icon = std::string(icon.View());
    entry.Index = i;
    // After the last entry whose name is not greater: stable by name.
    auto position = entries.end();
    while (position != entries.begin() && kel::kelCompareText(std::prev(position)->Name, entry.Name) > 0) --position;
    entries.insert(position, std::move(entry));
  }
  return entries;
}

int PreselectLanguage(const std::vector<TSetupLanguageEntry>& entries, const std::vector<uint16_t>& userLangIds) {
  if (entries.empty()) return -1;
  // The low ten bits of a language id name the language, the rest its variant.
  const auto primary = [](int id) { return id & 0x3FF; };
  const auto find = [&](auto matches) {
    const auto found = std::find_if(entries.begin(), entries.end(), matches);
    return found == entries.end() ? -1 : static_cast<int>(found - entries.begin());
  };
  const auto byId = [&](int id) { return find([&](const TSetupLanguageEntry& e) { return e.LangId == id; }); };
  for (const int wanted : userLangIds) {
    int found = byId(wanted);
    if (found < 0) found = find([&](const TSetupLanguageEntry& e) { return primary(e.LangId) == primary(wanted); });
    if (found >= 0) return found;
  }
  const int english = byId(1033);
  return english >= 0 ? english : 0;
}

}  // namespace setup
