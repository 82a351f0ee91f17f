// POSIX implementation of the test pause: a named pipe read to its end.
// Only operating-system code lives here.
#include "kel/platform/test_pause.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "kel/platform/sandbox.h"

namespace kel::platform {

void PauseForTest(std::string_view point) {
  if (!IsSandboxed()) return;
  const char* value = std::getenv(kTestPauseVariable);
  if (!value) return;
  const std::string_view setting = value;
  const size_t colon = setting.find(':');
  if (colon == std::string_view::npos || setting.substr(0, colon) != point) return;
  const std::string pipe(setting.substr(colon + 1));
  int fd;
  do {
    fd = ::open(pipe.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  char buffer[64];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EINTR)) break;
  }
  ::close(fd);
}

}  // namespace kel::platform
