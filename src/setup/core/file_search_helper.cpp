#include "setup/core/file_search_helper.h"

#include "kel/base/file_system.h"
#include "kel/base/text.h"

namespace setup {

void TFileSearchHelper::Search(const std::string& root, const std::string& excludedPrefix, kel::TKELStringList& list) {
  const auto excluded = [&](const std::string& path) {
    return !excludedPrefix.empty() && kel::kelStartsText(excludedPrefix, path);
  };
  kel::TKELSearch search;
  search.StartFolder = root;
  search.Receiver = [&](const std::string& file) {
    if (!excluded(file)) list.Add(file);
  };
  // Everything below an excluded folder begins with the prefix too.
  search.OnFilterFolder = [&](const std::string& folder) { return !excluded(folder); };
  search.Start(true);
}

}  // namespace setup
