// The choice of the setup language: the entries offered (one per language
// file of the setup package, ordered by display name), the preselected one,
// and the dialog interface through which a user picks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

class TSetupResources;

struct TSetupLanguageEntry {
  std::string Name;  // [File] Name
  std::string Icon;  // the icon file's bytes ([File] Icon); empty when none
  int LangId = 0;    // [File] LangId
  int Index = 0;     // position in the resources' Languages list
};

// The entries for the language files of the setup package, ordered by display
// name ignoring case; equal names keep the order of the Languages list.
std::vector<TSetupLanguageEntry> CollectLanguageEntries(const TSetupResources& resources);

// Position of the preselected entry. The user's languages are tried in order,
// each first by its exact id, then by its primary language (German (Austria),
// 3079, takes a German file of 1031); then the entry with 1033, else the
// first; -1 when there are none.
int PreselectLanguage(const std::vector<TSetupLanguageEntry>& entries, const std::vector<uint16_t>& userLangIds);

// The language dialog: shows the entries and returns the position selected
// when it closes (-1 for none).
class ISetupLanguageDialog {
 public:
  virtual ~ISetupLanguageDialog() = default;
  virtual int Choose(const std::vector<TSetupLanguageEntry>& entries, int preselected) = 0;
};

}  // namespace setup
