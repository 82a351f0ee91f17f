// glibc implementation of the heap thresholds. Only operating-system code
// lives here.
#include "kel/platform/heap_tuning.h"

#include <malloc.h>

#include <algorithm>
#include <climits>

namespace kel::platform {

void RetainFreedHeapMemory(size_t blockBytes, size_t retainedBytes) {
  // glibc refuses mapping thresholds above 32 MiB on 64-bit systems.
  constexpr size_t kMaxMmapThreshold = size_t{32} << 20;
  const size_t mmapThreshold = std::min(blockBytes, kMaxMmapThreshold);
  const size_t trimThreshold = std::min(retainedBytes, static_cast<size_t>(INT_MAX));
  ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(mmapThreshold));
  ::mallopt(M_TRIM_THRESHOLD, static_cast<int>(trimThreshold));
}

}  // namespace kel::platform
