// In-suite fuzzing: drives a parser with seeds and random mutations of them
// for a bounded time, so that the ordinary test run (and its sanitizer
// build) looks for crashes, hangs and undefined behaviour on arbitrary bytes.
//
//   ORVI_FUZZ_SECONDS  how long each target runs (default 2 s)
//   ORVI_FUZZ_SEED     the random seed (default: a fresh one, printed)
//
// The seed is printed first: running again with it repeats the same inputs,
// which reproduces a crash.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvi::test {

struct FuzzOptions {
  std::vector<std::string> seeds;       // valid or nearly valid inputs
  std::vector<std::string> dictionary;  // tokens worth splicing in
  size_t maxLength = 4096;
};

// Returns the number of inputs run.
size_t RunFuzzTarget(std::string_view name, const std::function<void(std::string_view)>& target,
                     const FuzzOptions& options);

}  // namespace orvi::test
