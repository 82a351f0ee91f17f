// POSIX backend: whole buffers and whole files through descriptors. Only
// operating-system code lives here.
#include "kel/platform/posix/io.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace kel::platform::posix {

bool WriteAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool CopyBytes(int from, int to) {
  static constexpr size_t kChunk = 256 * 1024;
  std::string buffer(kChunk, '\0');
  for (;;) {
    const ssize_t n = ::read(from, buffer.data(), kChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(to, buffer.data(), static_cast<size_t>(n))) return false;
  }
}

}  // namespace kel::platform::posix
