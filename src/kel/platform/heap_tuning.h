// How the C library's heap treats large blocks that are freed.
//
// By default the heap hands large blocks back to the system as soon as they
// are freed (a block above the mapping threshold is its own mapping; free
// memory at the top of the heap is trimmed). A program that allocates and
// frees the same large buffers over and over (a compressor that sets up its
// state once per file) then spends much of its time mapping, unmapping and
// faulting in fresh pages. Raising both thresholds keeps such blocks in the
// heap for reuse.
//
// Result contract: nothing throws; the call is a hint that the platform may
// ignore (another allocator, sanitizers). The setting is process-wide and
// stays for the rest of the process.
#pragma once

#include <cstddef>

namespace kel::platform {

// Blocks up to `blockBytes` come from the heap itself, and up to
// `retainedBytes` of free memory at its top are kept instead of being given
// back to the system.
void RetainFreedHeapMemory(size_t blockBytes, size_t retainedBytes);

}  // namespace kel::platform
