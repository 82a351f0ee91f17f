// The toolkit's default skins as the tests read them: from the source tree,
// under the names of the resources they are attached as.
#pragma once

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "kel/graphics/skin.h"

namespace orvi::test {

// The text of KELDEFAULTSKIN or KELDEFAULTSKIN_DARK; nothing for other names.
inline std::optional<std::string> DefaultSkinText(std::string_view resource) {
  const char* file = resource == kel::kelDefaultSkinResource       ? "default.skin"
                     : resource == kel::kelDefaultSkinDarkResource ? "default_dark.skin"
                                                                   : nullptr;
  if (!file) return std::nullopt;
  std::ifstream stream(std::string(ORVI_SOURCE_DIR) + "/src/kel/ui/skins/" + file, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

}  // namespace orvi::test
