// POSIX implementation of the running program's file. Only operating-system
// code lives here.
#include "kel/platform/module.h"

#include <unistd.h>

#include <vector>

namespace kel::platform {

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace kel::platform
