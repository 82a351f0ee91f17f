// POSIX implementation of the process arguments (Linux: /proc/self/cmdline).
// Only operating-system code lives here.
#include "kel/platform/process_arguments.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kel::platform {

std::vector<std::string> ProcessArguments() {
  // /proc/self/cmdline holds every argument followed by a NUL byte.
  const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      if (n < 0) return {};
      break;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }

  std::vector<std::string> arguments;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\0') {
      arguments.emplace_back(bytes, start, i - start);
      start = i + 1;
    }
  }
  // A process that rewrote its arguments may leave the last one unterminated.
  if (start < bytes.size()) arguments.emplace_back(bytes, start);
  return arguments;
}

}  // namespace kel::platform
