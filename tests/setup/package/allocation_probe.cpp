#include "allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> gWatching{false};
std::atomic<size_t> gLargest{0};

void Record(size_t size) {
  if (!gWatching.load(std::memory_order_relaxed)) return;
  size_t seen = gLargest.load(std::memory_order_relaxed);
  while (size > seen && !gLargest.compare_exchange_weak(seen, size)) {
  }
}

}  // namespace

// The replaceable allocation functions; the array, nothrow and sized forms
// of the standard library forward to these two.
void* operator new(size_t size) {
  Record(size);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }

namespace orvi::test {

AllocationProbe::AllocationProbe() {
  gLargest = 0;
  gWatching = true;
}

AllocationProbe::~AllocationProbe() { gWatching = false; }

size_t AllocationProbe::LargestRequest() const { return gLargest.load(); }

}  // namespace orvi::test
