// Checks on the names of the backup archives a setup run writes.
#pragma once

#include <string>

namespace orvi::test {

// The name of the archive a run installing 5.30 writes: «z Before install
// 5.30 [yyyy.MM.dd hh-mm-ss].zip».
inline bool IsNewArchiveName(const std::string& name) {
  const std::string prefix = "z Before install 5.30 [", suffix = "].zip", stamp = "0000.00.00 00-00-00";
  if (name.size() != prefix.size() + stamp.size() + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix))
    return false;
  for (size_t i = 0; i < stamp.size(); ++i) {
    const char c = name[prefix.size() + i];
    if (stamp[i] == '0' ? (c < '0' || c > '9') : c != stamp[i]) return false;
  }
  return true;
}

}  // namespace orvi::test
