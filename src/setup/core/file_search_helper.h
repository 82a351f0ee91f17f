// The files below a folder, as a list of full paths.
//
// Result contract: nothing throws; a folder that cannot be read adds
// nothing.
#pragma once

#include <string>

#include "kel/base/string_list.h"

namespace setup {

class TFileSearchHelper {
 public:
  // Appends the full path of every file below `root` (subfolders included) to
  // `list`, leaving out every path that begins with `excludedPrefix`
  // (ignoring case; "" excludes nothing). Folders inside the excluded prefix
  // are not searched at all.
  static void Search(const std::string& root, const std::string& excludedPrefix, kel::TKELStringList& list);
};

}  // namespace setup
