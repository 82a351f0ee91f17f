// Setup packages against xz, in one run, on a ~150 MB mixed corpus (system
// binaries and generated text), with the same LZMA1 settings on both sides:
//
//   commit      TSetupPackageBuilder::Commit at level 4   vs  xz encoding the same body
//   open        TSetupPackageReader (decode + checksum)   vs  xz -d of the same raw stream
//   peak memory of a fresh process that opens the package, against body + 10 % + 32 MiB
//
// Run: scripts/bench.sh package   (or build-bench/bench/bench_package)
// Each side is single-threaded. Every run records its wall time and its CPU
// time (ours: this process; xz: the child, through getrusage), and each
// figure is the lowest of the repetitions (3 by default, interleaved at
// random so that load from elsewhere hits both sides alike). On a machine
// shared with other work the wall times wander with the load; the CPU
// times do not, so the limits are judged on them (both ratios are shown).
// The program exits with 1 when a limit is exceeded. Options:
// --corpus-mb=N (default 150), any --benchmark_* flag.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "kel/base/stream.h"
#include "setup/package/package.h"
#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int kLevel = 4;
constexpr double kTimeLimit = 1.15;

struct Corpus {
  fs::path folder;
  int64_t binaryBytes = 0;
  int64_t textBytes = 0;
  int files = 0;
};

struct State {
  fs::path work;
  Corpus corpus;
  std::unique_ptr<setup::TSetupPackageBuilder> builder;
  std::string package;    // our package file
  std::string bodyFile;   // the uncompressed body, for xz to encode
  std::string rawStream;  // our package's LZMA data, unscrambled, without the properties
  std::string xzOptions;  // --lzma1=...
  int64_t bodySize = 0;
};
State gState;

// --- The corpus ---------------------------------------------------------------------

// Binaries: the larger regular files of the system's library and program
// folders, in path order, up to half of the corpus.
void AddBinaries(Corpus& corpus, int64_t target) {
  const std::vector<fs::path> candidates =
      bench::SystemFiles({"/usr/lib/x86_64-linux-gnu", "/usr/lib", "/usr/bin"}, 64 * 1024, 16 * 1024 * 1024);
  fs::create_directories(corpus.folder / "bin");
  for (const fs::path& path : candidates) {
    if (corpus.binaryBytes >= target) break;
    std::error_code error;
    const fs::path target_path = corpus.folder / "bin" / (std::to_string(corpus.files) + "-" + path.filename().string());
    if (!fs::copy_file(path, target_path, error)) continue;
    corpus.binaryBytes += static_cast<int64_t>(fs::file_size(target_path));
    ++corpus.files;
  }
}

// Text: lines of words from a fixed vocabulary, numbers and punctuation,
// made by a fixed-seed generator, in files of 2 MB.
void AddText(Corpus& corpus, int64_t target) {
  bench::Random random;
  auto next = [&random] { return random.Next(); };
  const std::vector<std::string> words = bench::MakeVocabulary(random);
  fs::create_directories(corpus.folder / "text");
  while (corpus.textBytes < target) {
    std::string text;
    while (text.size() < 2 * 1024 * 1024) {
      const uint32_t kind = next() % 10;
      const uint32_t count = 4 + next() % 12;
      if (kind == 0) text += std::to_string(next() % 100000) + "\t";
      for (uint32_t w = 0; w < count; ++w) {
        // Zipf-like choice: common words much more often.
        const uint32_t rank = static_cast<uint32_t>(words.size() * (next() % 1000) * (next() % 1000) / 1000000);
        text += words[rank];
        text += w + 1 == count ? (kind < 7 ? ".\n" : ";\n") : (next() % 9 == 0 ? ", " : " ");
      }
    }
    std::ofstream(corpus.folder / "text" / (std::to_string(corpus.files) + ".txt"), std::ios::binary) << text;
    corpus.textBytes += static_cast<int64_t>(text.size());
    ++corpus.files;
  }
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return status < 0 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
}

void Prepare(int64_t corpusBytes) {
  std::string pattern = (fs::temp_directory_path() / "orvi-bench-package-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(2);
  }
  gState.work = pattern;
  Corpus& corpus = gState.corpus;
  corpus.folder = gState.work / "corpus";
  AddBinaries(corpus, corpusBytes / 2);
  AddText(corpus, corpusBytes - corpus.binaryBytes);

  // Every corpus file in one package, as the publisher's tool would do.
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(corpus.folder))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  gState.builder = std::make_unique<setup::TSetupPackageBuilder>(std::string(setup::kSetupPackageKey));
  for (const fs::path& path : files) {
    kel::TKELFileStream stream(path.string(), kel::fmOpenRead | kel::fmShareDenyNone);
    std::string name = path.lexically_relative(corpus.folder).string();
    std::replace(name.begin(), name.end(), '/', '\\');
    gState.builder->Add(stream, name);
  }

  gState.package = (gState.work / "package.dat").string();
  gState.builder->Commit(gState.package, kLevel);
  kel::TKELFileStream packageFile(gState.package, kel::fmOpenRead | kel::fmShareDenyNone);
  const setup::TSetupPackageReader reader(packageFile);
  gState.bodySize = static_cast<int64_t>(reader.Data().View().size());
  gState.bodyFile = (gState.work / "body.bin").string();
  WriteAll(gState.bodyFile, std::string(reader.Data().View()));

  // The raw stream xz decodes: unscrambled, without header and properties.
  std::string stream = ReadAll(gState.package).substr(12);
  const std::string_view key = setup::kSetupPackageKey;
  for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<char>(stream[i] ^ key[i % key.size()]);
  gState.rawStream = (gState.work / "raw.lzma").string();
  WriteAll(gState.rawStream, stream.substr(5));
  gState.xzOptions = bench::XzRawOptions(setup::SetupPackageLzmaSettings(kLevel));

  // Both directions must agree before anything is timed.
  const std::string check = (gState.work / "check.bin").string();
  Shell("xz -d " + gState.xzOptions + " -c '" + gState.rawStream + "' > '" + check + "' 2>/dev/null");
  if (ReadAll(check) != ReadAll(gState.bodyFile)) {
    std::fprintf(stderr, "xz does not decode our package to its body\n");
    std::exit(2);
  }
  fs::remove(check);
}

// --- The timed work -----------------------------------------------------------------

template <typename Work>
void Timed(benchmark::State& state, const std::string& name, bool inChild, Work work) {
  bench::TimedIterations(state, name, inChild, gState.bodySize, work);
}

void BM_Commit_Ours(benchmark::State& state) {
  const std::string out = (gState.work / "commit.dat").string();
  Timed(state, "Commit_Ours", false, [&] { gState.builder->Commit(out, kLevel); });
}

void BM_Commit_Xz(benchmark::State& state) {
  const std::string command =
      "xz " + gState.xzOptions + " -c '" + gState.bodyFile + "' > '" + (gState.work / "xz.lzma").string() + "'";
  Timed(state, "Commit_Xz", true, [&] {
    if (Shell(command) != 0) state.SkipWithError("xz failed");
  });
}

void BM_Open_Ours(benchmark::State& state) {
  Timed(state, "Open_Ours", false, [&] {
    kel::TKELFileStream file(gState.package, kel::fmOpenRead | kel::fmShareDenyNone);
    const setup::TSetupPackageReader reader(file);
    benchmark::DoNotOptimize(reader.FileTable().Count());
  });
}

void BM_Open_Xz(benchmark::State& state) {
  // Our stream has no end marker: xz reports the end of input after writing
  // the whole body (exit code 1), which is all it can do with such a stream.
  const std::string command = "xz -d " + gState.xzOptions + " -c '" + gState.rawStream + "' > /dev/null 2>&1";
  Timed(state, "Open_Xz", true, [&] {
    if (Shell(command) > 1) state.SkipWithError("xz -d failed");
  });
}

// --- Peak memory of the reader, in a fresh process -----------------------------------

int64_t StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::strtoll(line.c_str() + std::strlen(field), nullptr, 10);
  return -1;
}

int ReaderPeakChild(const char* package) {
  const int64_t before = StatusKiB("VmHWM:");
  kel::TKELFileStream file(package, kel::fmOpenRead | kel::fmShareDenyNone);
  const setup::TSetupPackageReader reader(file);
  std::printf("%" PRId64 " %" PRId64 " %" PRId64 "\n", before, StatusKiB("VmHWM:"),
              static_cast<int64_t>(reader.Data().View().size()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--reader-peak") == 0) return ReaderPeakChild(argv[2]);

  const int64_t corpusMB = bench::InitializeWithInputSize(argc, argv, "--corpus-mb=", 150);

  if (Shell("command -v xz > /dev/null") != 0) {
    std::fprintf(stderr, "xz is not installed: nothing to compare with\n");
    return 2;
  }
  std::printf("Preparing a %" PRId64 " MB corpus...\n", corpusMB);
  std::fflush(stdout);
  Prepare(corpusMB * 1000 * 1000);

  using Function = void (*)(benchmark::State&);
  const std::pair<const char*, Function> timed[] = {
      {"Commit_Xz", BM_Commit_Xz}, {"Commit_Ours", BM_Commit_Ours}, {"Open_Xz", BM_Open_Xz}, {"Open_Ours", BM_Open_Ours}};
  for (const auto& [name, fn] : timed)
    bench::RegisterTimed(name, fn);
  benchmark::RunSpecifiedBenchmarks();

  // Peak memory of a process that only opens the package.
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  FILE* child = popen(("'" + self + "' --reader-peak '" + gState.package + "'").c_str(), "r");
  int64_t before = 0, peak = 0, body = 0;
  if (child == nullptr || std::fscanf(child, "%" SCNd64 " %" SCNd64 " %" SCNd64, &before, &peak, &body) != 3) peak = -1;
  if (child != nullptr) pclose(child);

  const double mib = 1024.0 * 1024.0;
  const double limitMiB = static_cast<double>(body) * 1.10 / mib + 32.0;
  const double peakMiB = static_cast<double>(peak) / 1024.0;
  const bench::Timing commitOurs = bench::BestTiming("Commit_Ours"), commitXz = bench::BestTiming("Commit_Xz");
  const bench::Timing openOurs = bench::BestTiming("Open_Ours"), openXz = bench::BestTiming("Open_Xz");
  const double commitRatio = commitOurs.cpu / commitXz.cpu;
  const double openRatio = openOurs.cpu / openXz.cpu;

  const Corpus& c = gState.corpus;
  std::printf("\n== Summary ==\n");
  std::printf("corpus: %d files, %.1f MB binaries + %.1f MB text; body %.1f MB; package %.1f MB\n", c.files,
              static_cast<double>(c.binaryBytes) / 1e6, static_cast<double>(c.textBytes) / 1e6,
              static_cast<double>(gState.bodySize) / 1e6, static_cast<double>(fs::file_size(gState.package)) / 1e6);
  std::printf("xz settings: %s\n", gState.xzOptions.c_str());
  std::printf("                 CPU s: ours       xz  ratio | wall s: ours       xz  ratio   (limit %.2f on CPU)\n",
              kTimeLimit);
  for (const auto& [label, ours, xz] : {std::tuple{"commit, level 4", commitOurs, commitXz},
                                        std::tuple{"open + verify  ", openOurs, openXz}})
    std::printf("%s   %10.3f %8.3f %6.3f | %11.3f %8.3f %6.3f\n", label, ours.cpu, xz.cpu, ours.cpu / xz.cpu,
                ours.wall, xz.wall, ours.wall / xz.wall);
  std::printf("reader peak memory: %.1f MiB (process before opening: %.1f MiB); limit body + 10%% + 32 MiB = %.1f MiB\n",
              peakMiB, static_cast<double>(before) / 1024.0, limitMiB);

  fs::remove_all(gState.work);
  const bool ok = commitRatio > 0 && commitRatio <= kTimeLimit && openRatio > 0 && openRatio <= kTimeLimit &&
                  peak > 0 && peakMiB <= limitMiB;
  std::printf("%s\n", ok ? "within limits" : "LIMIT EXCEEDED");
  return ok ? 0 : 1;
}
