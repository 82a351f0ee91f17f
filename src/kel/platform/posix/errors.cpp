// POSIX backend: errno to text. Only operating-system code lives here.
#include "kel/platform/posix/errors.h"

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

std::string SharingViolationText() { return "The file is in use by another process."; }

}  // namespace kel::platform::posix
