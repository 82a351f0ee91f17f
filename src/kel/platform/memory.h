// Hints about memory to the operating system.
//
// Result contract: hints only. They never fail visibly, never throw and
// never change the content of memory; where the system cannot follow one,
// nothing happens.
#pragma once

#include <cstddef>

namespace kel::platform {

// Backs the pages of [block, block + size) with memory now, in one request,
// rather than one page fault at a time as they are first written. For large
// buffers that are about to be filled from start to end.
void PrefaultForWrite(void* block, size_t size);

}  // namespace kel::platform
