// Watches the program's allocations: while a probe is alive, the largest
// single request made through operator new is recorded (the package codec
// takes its memory that way too). Lets a test show that damaged input does
// not make the reader allocate what the input does not justify.
#pragma once

#include <cstddef>

namespace orvi::test {

class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;

  size_t LargestRequest() const;
};

}  // namespace orvi::test
