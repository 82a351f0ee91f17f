// POSIX (Linux) implementation of the memory hints. Only operating-system
// code lives here.
#include "kel/platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace kel::platform {

void PrefaultForWrite(void* block, size_t size) {
#ifdef MADV_POPULATE_WRITE
  // Only whole pages inside the block: the pages at its edges may be shared
  // with other data and fault in as usual.
  static const auto pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<uintptr_t>(block);
  const uintptr_t first = (start + pageSize - 1) & ~(pageSize - 1);
  const uintptr_t last = (start + size) & ~(pageSize - 1);
  // Older kernels answer EINVAL: the pages then fault in one by one.
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)size;
#endif
}

}  // namespace kel::platform
