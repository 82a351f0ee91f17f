// POSIX backend: errno and wait statuses to results. Only operating-system code lives here.
#include "kel/platform/posix/errors.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstring>

namespace kel::platform::posix {

std::string ErrorText(int error) {
  char buffer[256];
  // GNU strerror_r returns a pointer that may or may not be the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return text ? text : "Unknown error";
}

void ReportErrno(std::string* error) {
  if (error) *error = ErrorText(errno);
}

bool Fail(std::string* error) {
  ReportErrno(error);
  return false;
}

bool FailWith(int code, std::string* error) {
  if (error) *error = ErrorText(code);
  return false;
}

std::string SharingViolationText() { return "The file is in use by another process."; }

int ExitCodeOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

}  // namespace kel::platform::posix
