// POSIX implementation of the terminal query. Only operating-system code
// lives here.
#include "kel/platform/terminal.h"

#include <unistd.h>

namespace kel::platform {

bool IsTerminal(StandardStream stream) {
  int fd = STDIN_FILENO;
  if (stream == StandardStream::Output) fd = STDOUT_FILENO;
  if (stream == StandardStream::Error) fd = STDERR_FILENO;
  return ::isatty(fd) == 1;
}

}  // namespace kel::platform
