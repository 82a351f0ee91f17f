// The backup archive against Info-ZIP's zip, in one run, on a generated
// ~200 MB installation tree, both at Deflate level 6:
//
//   ours   list the tree as the setup does (ListBackupSources, through a
//          confined folder) and write the archive (TSetupBackupArchive:
//          libzip + zlib)
//   zip    zip -r -6 -q of the same tree, run as a child process
//
// The tree mixes what an installation holds: program files and plug-ins
// (copies of the system's shared libraries), media that does not compress
// (skins, covers), text (help, playlists, settings) and a few thousand
// small files.
//
// Run: scripts/bench.sh backup   (or build-bench/bench/bench_backup)
// Each side is single-threaded. Every run records its wall time and its CPU
// time (ours: this process; zip: the child, through getrusage), and each
// figure is the lowest of the repetitions (3 by default, interleaved at
// random so that load from elsewhere hits both sides alike). The limit is
// judged on CPU time, which the load of a shared machine does not disturb;
// wall times are shown beside. The program exits with 1 when the limit is
// exceeded. Options: --tree-mb=N (default 200), any --benchmark_* flag.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

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
#include <vector>

#include "kel/platform/confined_folder.h"
#include "setup/product/backup_archive.h"

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

constexpr double kTimeLimit = 1.15;

struct Tree {
  fs::path root;
  int64_t binaryBytes = 0;
  int64_t mediaBytes = 0;
  int64_t textBytes = 0;
  int files = 0;
};

struct State {
  fs::path work;
  Tree tree;
  std::string ours;  // our archive
  std::string zip;   // zip's archive
};
State gState;

// --- The tree -------------------------------------------------------------------------

bench::Random gRandom;
uint32_t Next() { return gRandom.Next(); }

void WriteAll(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Program files and plug-ins: the larger shared libraries of the system, in
// path order.
void AddBinaries(Tree& tree, int64_t target) {
  const std::vector<fs::path> candidates =
      bench::SystemFiles({"/usr/lib/x86_64-linux-gnu", "/usr/lib", "/usr/bin"}, 64 * 1024, 8 * 1024 * 1024);
  for (size_t i = 0; i < candidates.size() && tree.binaryBytes < target; ++i) {
    const fs::path folder = tree.root / (i % 3 == 0 ? "Plugins" : i % 3 == 1 ? "System" : "");
    fs::create_directories(folder);
    const fs::path copy = folder / (std::to_string(i) + "-" + candidates[i].filename().string());
    std::error_code error;
    if (!fs::copy_file(candidates[i], copy, error)) continue;
    tree.binaryBytes += static_cast<int64_t>(fs::file_size(copy));
    ++tree.files;
  }
}

// Skins and covers: bytes that do not compress, in files of 100 KB to 4 MB.
void AddMedia(Tree& tree, int64_t target) {
  int n = 0;
  while (tree.mediaBytes < target) {
    const size_t size = 100 * 1024 + Next() % (4 * 1024 * 1024);
    std::string bytes(size, '\0');
    for (size_t i = 0; i + 4 <= size; i += 4) {
      const uint32_t value = Next();
      std::memcpy(&bytes[i], &value, 4);
    }
    const bool skin = n % 2 == 0;
    WriteAll(tree.root / (skin ? "Skins" : "Covers") / ("media" + std::to_string(n++) + (skin ? ".orvi-skin" : ".jpg")),
             bytes);
    tree.mediaBytes += static_cast<int64_t>(size);
    ++tree.files;
  }
}

// Help texts in files of 1 MB, then small settings and playlists (a few KB
// each) for the rest.
void AddText(Tree& tree, int64_t target) {
  const std::vector<std::string> words = bench::MakeVocabulary(gRandom);
  const auto text = [&](size_t size) {
    std::string out;
    while (out.size() < size) {
      const uint32_t count = 4 + Next() % 12;
      if (Next() % 10 == 0) out += std::to_string(Next() % 100000) + "=";
      for (uint32_t w = 0; w < count; ++w) {
        const uint32_t rank = static_cast<uint32_t>(words.size() * (Next() % 1000) * (Next() % 1000) / 1000000);
        out += words[rank];
        out += w + 1 == count ? "\r\n" : " ";
      }
    }
    return out;
  };
  int n = 0;
  while (tree.textBytes < target * 3 / 4) {
    const std::string bytes = text(1024 * 1024);
    WriteAll(tree.root / "Help" / ("help" + std::to_string(n++) + ".txt"), bytes);
    tree.textBytes += static_cast<int64_t>(bytes.size());
    ++tree.files;
  }
  while (tree.textBytes < target) {
    const std::string bytes = text(512 + Next() % 8192);
    WriteAll(tree.root / "Profile" / ("Playlists" + std::to_string(n % 40)) / ("list" + std::to_string(n) + ".m3u8"),
             bytes);
    ++n;
    tree.textBytes += static_cast<int64_t>(bytes.size());
    ++tree.files;
  }
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return status < 0 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
}

void WriteOurs(const std::string& archiveName) {
  const std::string root = gState.tree.root.string() + "/";
  std::vector<setup::TSetupBackupSource> files;
  setup::ListBackupSources(kel::platform::ConfinedFolder::Open(root, std::nullopt), "", root, "", "Program/", files);
  setup::TSetupBackupArchive archive(archiveName);
  for (const setup::TSetupBackupSource& file : files) archive.Add(file);
  archive.Commit();
}

std::string ZipCommand(const std::string& archiveName) {
  return "cd '" + gState.tree.root.string() + "' && zip -r -6 -q '" + archiveName + "' .";
}

void Prepare(int64_t treeBytes) {
  std::string pattern = (fs::temp_directory_path() / "orvi-bench-backup-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(2);
  }
  gState.work = pattern;
  Tree& tree = gState.tree;
  tree.root = gState.work / "ORVI";
  AddBinaries(tree, treeBytes * 2 / 5);
  AddMedia(tree, treeBytes / 4);
  AddText(tree, treeBytes - tree.binaryBytes - tree.mediaBytes);
  gState.ours = (gState.work / "ours.zip").string();
  gState.zip = (gState.work / "zip.zip").string();

  // Our archive must be one that unzip accepts before anything is timed.
  WriteOurs(gState.ours);
  if (Shell("unzip -t -qq '" + gState.ours + "'") != 0) {
    std::fprintf(stderr, "unzip does not accept our archive\n");
    std::exit(2);
  }
}

// --- The timed work -----------------------------------------------------------------

template <typename Work>
void Timed(benchmark::State& state, const std::string& name, bool inChild, Work work) {
  const Tree& t = gState.tree;
  bench::TimedIterations(state, name, inChild, t.binaryBytes + t.mediaBytes + t.textBytes, work);
}

void BM_Backup_Ours(benchmark::State& state) {
  Timed(state, "Backup_Ours", false, [&] {
    fs::remove(gState.ours);
    WriteOurs(gState.ours);
  });
}

void BM_Backup_Zip(benchmark::State& state) {
  const std::string command = ZipCommand(gState.zip);
  Timed(state, "Backup_Zip", true, [&] {
    fs::remove(gState.zip);
    if (Shell(command) != 0) state.SkipWithError("zip failed");
  });
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t treeMB = bench::InitializeWithInputSize(argc, argv, "--tree-mb=", 200);

  if (Shell("command -v zip > /dev/null && command -v unzip > /dev/null") != 0) {
    std::fprintf(stderr, "zip and unzip are needed: nothing to compare with\n");
    return 2;
  }
  std::printf("Preparing a %" PRId64 " MB installation tree...\n", treeMB);
  std::fflush(stdout);
  Prepare(treeMB * 1000 * 1000);

  bench::RegisterTimed("Backup_Zip", BM_Backup_Zip);
  bench::RegisterTimed("Backup_Ours", BM_Backup_Ours);
  benchmark::RunSpecifiedBenchmarks();

  const bench::Timing ours = bench::BestTiming("Backup_Ours"), zip = bench::BestTiming("Backup_Zip");
  const double ratio = ours.cpu / zip.cpu;
  const Tree& t = gState.tree;
  std::printf("\n== Summary ==\n");
  std::printf("tree: %d files, %.1f MB programs + %.1f MB media + %.1f MB text\n", t.files,
              static_cast<double>(t.binaryBytes) / 1e6, static_cast<double>(t.mediaBytes) / 1e6,
              static_cast<double>(t.textBytes) / 1e6);
  std::printf("archives: ours %.1f MB, zip %.1f MB\n", static_cast<double>(fs::file_size(gState.ours)) / 1e6,
              fs::exists(gState.zip) ? static_cast<double>(fs::file_size(gState.zip)) / 1e6 : -1.0);
  std::printf("                 CPU s: ours      zip  ratio | wall s: ours      zip  ratio   (limit %.2f on CPU)\n",
              kTimeLimit);
  std::printf("backup, level 6   %10.3f %8.3f %6.3f | %11.3f %8.3f %6.3f\n", ours.cpu, zip.cpu, ratio, ours.wall,
              zip.wall, ours.wall / zip.wall);

  fs::remove_all(gState.work);
  const bool ok = ratio > 0 && ratio <= kTimeLimit;
  std::printf("%s\n", ok ? "within limits" : "LIMIT EXCEEDED");
  return ok ? 0 : 1;
}
