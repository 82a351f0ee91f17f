// What the whole-program benchmarks share: wall and CPU clocks (our own
// process, or the children that ran a standard tool), the lowest time of
// each measurement, and the xz options that match our package settings.
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>

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

// xz's raw LZMA1 options for the same settings as our packages.
inline std::string XzRawOptions(const setup::TSetupPackageLzmaSettings& s) {
  return "--format=raw --lzma1=dict=" + std::to_string(s.DictionarySize) + ",lc=" + std::to_string(s.Lc) +
         ",lp=" + std::to_string(s.Lp) + ",pb=" + std::to_string(s.Pb) + ",mode=" + (s.FastMode ? "fast" : "normal") +
         ",mf=" + (s.FastMode ? "hc4" : "bt4") + ",nice=" + std::to_string(s.FastBytes) +
         ",depth=" + std::to_string(s.MatchFinderCycles);
}

}  // namespace bench
