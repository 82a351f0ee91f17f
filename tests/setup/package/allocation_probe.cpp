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

// The replaceable allocation functions, every plain form of them (a
// sanitizer runtime defines each form itself, so replacing only some would
// mix two allocators).
namespace {

void* Allocate(size_t size) {
  Record(size);
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(size_t size) {
  if (void* block = Allocate(size)) return block;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace orvi::test {

AllocationProbe::AllocationProbe() {
  gLargest = 0;
  gWatching = true;
}

AllocationProbe::~AllocationProbe() { gWatching = false; }

size_t AllocationProbe::LargestRequest() const { return gLargest.load(); }

}  // namespace orvi::test
