#include "setup/core/language_choice.h"

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

int PreselectLanguage(const std::vector<TSetupLanguageEntry>& entries, int userLangId) {
  if (entries.empty()) return -1;
  for (int wanted : {userLangId, 1033}) {
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i].LangId == wanted) return static_cast<int>(i);
  }
  return 0;
}

}  // namespace setup
