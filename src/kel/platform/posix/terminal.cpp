// POSIX implementation of the terminal queries. Only operating-system code
// lives here.
#include "kel/platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace kel::platform {

namespace {

int DescriptorOf(StandardStream stream) {
  if (stream == StandardStream::Output) return STDOUT_FILENO;
  if (stream == StandardStream::Error) return STDERR_FILENO;
  return STDIN_FILENO;
}

}  // namespace

bool IsTerminal(StandardStream stream) { return ::isatty(DescriptorOf(stream)) == 1; }

int TerminalColumns(StandardStream stream) {
  struct winsize size {};
  if (::ioctl(DescriptorOf(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace kel::platform
