// Throughput of the package checksum (kelCrc32Update) over a large buffer,
// of its two engines separately, and of zlib's crc32 on the same buffer for
// reference. zlib computes the reflected CRC-32 of ZIP files, a different
// polynomial order, so only the speeds compare, not the values.
//
// After the usual table it prints each throughput in bytes per second and
// the ratio of kelCrc32Update to zlib.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "kel/base/crc32_clmul.h"
#include "kel/base/hashes.h"

namespace {

constexpr size_t kBufferSize = 64 << 20;

const std::vector<uint8_t>& Buffer() {
  static const std::vector<uint8_t> buffer = [] {
    std::vector<uint8_t> bytes(kBufferSize);
    std::mt19937_64 rng(1);
    for (size_t i = 0; i < bytes.size(); i += 8) {
      const uint64_t r = rng();
      for (size_t j = 0; j < 8; ++j) bytes[i + j] = static_cast<uint8_t>(r >> (8 * j));
    }
    return bytes;
  }();
  return buffer;
}

template <class TFunction>
void Run(benchmark::State& state, TFunction crc) {
  const std::vector<uint8_t>& buffer = Buffer();
  for (auto _ : state) benchmark::DoNotOptimize(crc(buffer.data(), buffer.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}

void BM_kelCrc32Update(benchmark::State& state) {
  Run(state, [](const uint8_t* p, size_t n) { return kel::kelCrc32Update(0, p, n); });
}
void BM_kelCrc32Table(benchmark::State& state) {
  Run(state, [](const uint8_t* p, size_t n) { return kel::kelCrc32Table(0, p, n); });
}
void BM_kelCrc32Clmul(benchmark::State& state) {
  if (!kel::kelCrc32ClmulSupported()) {
    state.SkipWithError("no carry-less multiplication on this processor");
    return;
  }
  Run(state, [](const uint8_t* p, size_t n) { return kel::kelCrc32Clmul(0, p, n); });
}
void BM_zlib_crc32(benchmark::State& state) {
  Run(state, [](const uint8_t* p, size_t n) { return crc32_z(0, p, n); });
}

BENCHMARK(BM_kelCrc32Update)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_kelCrc32Table)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_kelCrc32Clmul)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_zlib_crc32)->Unit(benchmark::kMillisecond);

// The console table, and each run's bytes per second for the summary.
class Reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("bytes_per_second");
      if (!run.error_occurred && it != run.counters.end()) rates[run.benchmark_name()] = it->second;
    }
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nThroughput over a %zu MiB buffer:\n", kBufferSize >> 20);
  for (const auto& [name, rate] : reporter.rates)
    std::printf("  %-20s %15.0f bytes/s  (%.2f GB/s)\n", name.c_str(), rate, rate / 1e9);
  const auto ours = reporter.rates.find("BM_kelCrc32Update");
  const auto zlib = reporter.rates.find("BM_zlib_crc32");
  if (ours != reporter.rates.end() && zlib != reporter.rates.end() && zlib->second > 0)
    std::printf("kelCrc32Update / zlib crc32: %.2f\n", ours->second / zlib->second);
  return 0;
}
