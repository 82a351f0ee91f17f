// POSIX backend: whole buffers and whole files through descriptors, for the
// routines that write and copy files.
#pragma once

#include <cstddef>

namespace kel::platform::posix {

// Writes all `size` bytes, going on after signals; false on an error (errno
// tells which).
bool WriteAll(int fd, const void* data, size_t size);
// Copies what is left of `from` to `to`; false on an error (errno tells
// which).
bool CopyBytes(int from, int to);

}  // namespace kel::platform::posix
