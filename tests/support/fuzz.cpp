#include "support/fuzz.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>

namespace orvi::test {

namespace {

class Mutator {
 public:
  Mutator(uint64_t seed, const FuzzOptions& options) : rng_(seed), options_(options) {}

  std::string Next() {
    std::string input = PickBase();
    const int rounds = 1 + static_cast<int>(Below(4));
    for (int i = 0; i < rounds; ++i) Mutate(input);
    if (input.size() > options_.maxLength) input.resize(options_.maxLength);
    return input;
  }

 private:
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : rng_() % n; }

  std::string PickBase() {
    if (options_.seeds.empty() || Below(8) == 0) {
      std::string random(Below(64), '\0');
      for (char& c : random) c = static_cast<char>(Below(256));
      return random;
    }
    return options_.seeds[Below(options_.seeds.size())];
  }

  void Mutate(std::string& s) {
    switch (Below(8)) {
      case 0:  // flip a bit
        if (!s.empty()) s[Below(s.size())] ^= static_cast<char>(1u << Below(8));
        break;
      case 1:  // random byte
        if (!s.empty()) s[Below(s.size())] = static_cast<char>(Below(256));
        break;
      case 2:  // insert random bytes
        s.insert(Below(s.size() + 1), std::string(1 + Below(8), static_cast<char>(Below(256))));
        break;
      case 3:  // erase a run
        if (!s.empty()) {
          const size_t at = Below(s.size());
          s.erase(at, 1 + Below(s.size() - at));
        }
        break;
      case 4:  // truncate
        s.resize(Below(s.size() + 1));
        break;
      case 5:  // duplicate a run
        if (!s.empty()) {
          const size_t at = Below(s.size());
          const std::string run = s.substr(at, 1 + Below(16));
          s.insert(Below(s.size() + 1), run);
        }
        break;
      case 6:  // splice another seed
        if (!options_.seeds.empty()) {
          const std::string& other = options_.seeds[Below(options_.seeds.size())];
          if (!other.empty()) s.insert(Below(s.size() + 1), other.substr(Below(other.size())));
        }
        break;
      default:  // insert a dictionary token
        if (!options_.dictionary.empty())
          s.insert(Below(s.size() + 1), options_.dictionary[Below(options_.dictionary.size())]);
        break;
    }
  }

  std::mt19937_64 rng_;
  const FuzzOptions& options_;
};

double SecondsFromEnvironment() {
  const char* text = std::getenv("ORVI_FUZZ_SECONDS");
  const double seconds = text ? std::atof(text) : 0;
  return seconds > 0 ? seconds : 2.0;
}

}  // namespace

size_t RunFuzzTarget(std::string_view name, const std::function<void(std::string_view)>& target,
                     const FuzzOptions& options) {
  const char* seedText = std::getenv("ORVI_FUZZ_SEED");
  const uint64_t seed = seedText ? std::strtoull(seedText, nullptr, 10) : std::random_device{}();
  std::cerr << "fuzz " << name << ": ORVI_FUZZ_SEED=" << seed << "\n";

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(SecondsFromEnvironment());
  Mutator mutator(seed, options);
  size_t runs = 0;
  for (const std::string& input : options.seeds) {
    target(input);
    ++runs;
  }
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string input = mutator.Next();
    target(input);
    ++runs;
  }
  return runs;
}

}  // namespace orvi::test
