// What the whole-program benchmarks share: wall and CPU clocks (our own
// process, or the children that ran a standard tool), the lowest time of
// each measurement, and the xz options that match our package settings.
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "setup/package/package.h"

namespace bench {

struct Timing {
  double wall = 1e300;
  double cpu = 1e300;
};

// The lowest times seen per measurement name.
inline std::map<std::string, Timing> gTimings;

inline double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// User and system time of the finished children (a shell and the tools
// below it).
inline double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs `work` once, keeps its lowest wall and CPU times under `name` (CPU
// of this process, or of its children when the work ran in them) and
// returns the CPU seconds it used.
template <typename Work>
double MeasureBest(const std::string& name, bool inChild, Work work) {
  const double wall = WallSeconds();
  const double cpu = inChild ? ChildrenCpuSeconds() : ProcessCpuSeconds();
  work();
  const double cpuUsed = (inChild ? ChildrenCpuSeconds() : ProcessCpuSeconds()) - cpu;
  Timing& timing = gTimings[name];
  timing.wall = std::min(timing.wall, WallSeconds() - wall);
  timing.cpu = std::min(timing.cpu, cpuUsed);
  return cpuUsed;
}

// The regular files (not links) below `roots` whose size lies in
// [minSize, maxSize], in path order: real-world content for generated
// inputs, the same on every run of one machine.
inline std::vector<std::filesystem::path> SystemFiles(std::initializer_list<const char*> roots, uintmax_t minSize,
                                                      uintmax_t maxSize) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (const char* root : roots) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (error) break;
      if (it->is_symlink(error) || !it->is_regular_file(error)) continue;
      const uintmax_t size = it->file_size(error);
      if (!error && size >= minSize && size <= maxSize) files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  return files;
}

// A fixed-seed generator, so that generated inputs are the same on every run.
class Random {
 public:
  uint32_t Next() {
    seed_ = seed_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(seed_ >> 33);
  }

 private:
  uint64_t seed_ = 0x9E3779B97F4A7C15ull;
};

// 3000 made-up words of one to four syllables, for text that compresses
// like prose.
inline std::vector<std::string> MakeVocabulary(Random& random) {
  static const char* kSyllables[] = {"ka", "lo", "mi", "ne", "ra", "tu", "sel", "vor", "an", "is", "qu", "ex",
                                     "pre", "con", "ing", "tion", "al", "er", "st", "ble", "ment", "or", "ui", "set"};
  std::vector<std::string> words;
  for (int i = 0; i < 3000; ++i) {
    std::string word;
    const uint32_t syllables = 1 + random.Next() % 4;
    for (uint32_t s = 0; s < syllables; ++s) word += kSyllables[random.Next() % std::size(kSyllables)];
    words.push_back(word);
  }
  return words;
}

// The lowest times seen under `name`, or -1 when it never ran.
inline Timing BestTiming(const std::string& name) {
  const auto found = gTimings.find(name);
  return found != gTimings.end() ? found->second : Timing{-1, -1};
}

// A benchmark body: runs `work` once per iteration, reports its CPU time to
// the benchmark library and keeps the lowest wall and CPU times.
template <typename Work>
void TimedIterations(benchmark::State& state, const std::string& name, bool inChild, int64_t bytesPerIteration,
                     Work work) {
  for (auto _ : state) {
    state.SetIterationTime(MeasureBest(name, inChild, work));
  }
  state.SetBytesProcessed(state.iterations() * bytesPerIteration);
}

// Registers a whole-program measurement: one run per repetition, timed by
// `TimedIterations`.
inline void RegisterTimed(const char* name, void (*function)(benchmark::State&)) {
  benchmark::RegisterBenchmark(name, function)->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime();
}

// Takes the size of the generated input from `sizeOption` (such as
// "--tree-mb=") on the command line, in MB, and hands every other argument
// to the benchmark library, which repeats each measurement three times,
// interleaved, so that a passing load on the machine hits both sides alike.
inline int64_t InitializeWithInputSize(int argc, char** argv, const char* sizeOption, int64_t defaultMB) {
  int64_t sizeMB = defaultMB;
  const size_t optionLength = std::strlen(sizeOption);
  static std::string repetitions = "--benchmark_repetitions=3";
  static std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::vector<char*> args = {argv[0], repetitions.data(), interleave.data()};
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], sizeOption, optionLength) == 0)
      sizeMB = std::strtoll(argv[i] + optionLength, nullptr, 10);
    else
      args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  return sizeMB;
}

// A console reporter that also keeps the best CPU time of each measurement
// over rounds registered as "<name>/round:<n>" (the machine may be shared;
// the work is single-threaded), and the time of round 1.
class TBestTimeReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      const std::string& name = run.run_name.function_name;
      const std::string base = name.substr(0, name.find("/round:"));
      const double time = run.GetAdjustedCPUTime();
      if (!times.count(base) || time < times[base]) times[base] = time;
      if (name.size() > 8 && name.compare(name.size() - 8, 8, "/round:1") == 0) first[base] = time;
    }
  }
  std::map<std::string, double> times;
  std::map<std::string, double> first;
};

// xz's raw LZMA1 options for the same settings as our packages.
inline std::string XzRawOptions(const setup::TSetupPackageLzmaSettings& s) {
  return "--format=raw --lzma1=dict=" + std::to_string(s.DictionarySize) + ",lc=" + std::to_string(s.Lc) +
         ",lp=" + std::to_string(s.Lp) + ",pb=" + std::to_string(s.Pb) + ",mode=" + (s.FastMode ? "fast" : "normal") +
         ",mf=" + (s.FastMode ? "hc4" : "bt4") + ",nice=" + std::to_string(s.FastBytes) +
         ",depth=" + std::to_string(s.MatchFinderCycles);
}

}  // namespace bench
