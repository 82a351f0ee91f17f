// The cost of one entry of the log of a run (TSetupLog::Write): its time,
// its text and one write to the file. An installation writes about one entry
// per file it extracts, so the entry's time times the number of files is
// what /LOG adds to an installation, apart from the noise of a whole run
// that bench_silent_install sees.
//
// Entries of a plain text (the common case, copied as it is) and of a text
// of two lines (an error, cut and indented) are measured; the file grows in
// a private temporary folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "setup/core/run_log.h"

namespace {

namespace fs = std::filesystem;

void Run(benchmark::State& state, const std::string& text) {
  char pattern[] = "/tmp/orvi-bench-run-log-XXXXXX";
  const fs::path folder = mkdtemp(pattern);
  {
    setup::TSetupLog log;
    std::string problem;
    if (!log.Open((folder / "run.log").string(), false, &problem)) {
      state.SkipWithError(problem.c_str());
    } else {
      for (auto _ : state) log.Write(text);
    }
  }
  fs::remove_all(folder);
}

void BM_Entry_Extracted(benchmark::State& state) {
  Run(state, "Extracted: /opt/ORVI/data/f00417_libavcodec.so.59.37.100 (8372104 bytes)");
}
void BM_Entry_Error(benchmark::State& state) {
  Run(state, "Error: /opt/ORVI/data/f00417_libavcodec.so.59.37.100\r\nCannot create the folder \"/opt/ORVI/data/\".");
}

}  // namespace

BENCHMARK(BM_Entry_Extracted)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Entry_Error)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
