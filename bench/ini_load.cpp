// Loading and reading INI documents.
//
// Generates a ~5 MB INI file of ~180,000 keys (UTF-8 with a byte order mark,
// CR LF line ends, sections of 20 to 200 keys, a mix of numbers, flags,
// paths, texts in several scripts, hexadecimal blobs and comments) in a
// private temporary folder, then measures on that same file:
//   - TKELIniFile::LoadFromFile (every line kept, sections indexed);
//   - inih's ini_parse with a handler that only counts (the reference);
//   - ReadString lookups, with the name hashes already cached, computed on
//     first touch, and a plain case-insensitive scan without hashes;
//   - SaveToStream of the loaded document in its own encoding.
// The same text in Windows-1252 without a mark (characters outside it as
// "?"), a legacy file whose lines beyond ASCII are each decided on their
// own, is loaded and saved too.
// At the end it prints the load rates of both parsers and their ratio.
#include <benchmark/benchmark.h>
#include <ini.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "kel/base/ini_file.h"
#include "kel/base/text.h"

namespace {

using kel::TKELIniFile;

struct Lookup {
  std::string section;
  std::string key;
};

struct Fixture {
  std::filesystem::path folder;
  std::string path;
  std::string legacyPath;
  size_t bytes = 0;
  size_t legacyBytes = 0;
  size_t keys = 0;
  size_t sections = 0;
  std::vector<Lookup> lookups;
};

Fixture g_fixture;

const char* const kWords[] = {
    "Window",  "Position", "Color",   "Font",    "Size",    "Enabled", "Visible",  "Path",     "Recent",
    "File",    "Band",     "Volume",  "Skin",    "Plugin",  "Format",  "Codec",    "Output",   "Device",
    "Buffer",  "Playlist", "Column",  "Width",   "Sort",    "Order",   "Language", "Hotkey",   "Action",
    "Mode",    "Shuffle",  "Repeat",  "Cache",   "Limit",   "Network", "Proxy",    "Timeout",  "Server",
    "Port",    "Gain",     "Preamp",  "Balance", "Visual",  "Effect",  "Speed",    "Track",    "Album",
    "Artist",  "Genre",    "Rating",  "Lyrics",  "Cover",   "Scale",   "Theme",    "Opacity",  "Dock",
};
const char* const kTexts[] = {
    "Default",
    "Normal playback",
    "\xD0\x93\xD1\x80\xD0\xBE\xD0\xBC\xD0\xBA\xD0\xBE\xD1\x81\xD1\x82\xD1\x8C",  // Cyrillic
    "Fen\xC3\xAA" "tre principale",
    "Gr\xC3\xB6\xC3\x9F" "e des Fensters",
    "\xE5\x86\x8D\xE7\x94\x9F\xE3\x83\xAA\xE3\x82\xB9\xE3\x83\x88",  // Japanese
    "Tahoma, 8pt, bold",
    "Always on top",
};

std::string Word(std::mt19937& rng) { return kWords[rng() % std::size(kWords)]; }

std::string Value(std::mt19937& rng) {
  switch (rng() % 20) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
      return std::to_string(static_cast<int>(rng() % 200000) - 1000);
    case 5:
    case 6:
    case 7:
      return rng() % 2 ? "1" : "0";
    case 8:
    case 9:
    case 10: {
      std::string path = "/home/user/Music/" + Word(rng) + "/" + Word(rng) + " - " + Word(rng) + " " +
                         std::to_string(rng() % 100);
      return path + (rng() % 2 ? ".flac" : ".mp3");
    }
    case 11:
    case 12:
    case 13:
    case 14:
      return kTexts[rng() % std::size(kTexts)];
    case 15: {
      static constexpr char kHex[] = "0123456789abcdef";
      std::string hex(24 + rng() % 64, '0');
      for (char& c : hex) c = kHex[rng() % 16];
      return hex;
    }
    case 16:
      return std::to_string(rng() % 1000) + "," + std::to_string(rng() % 800) + "," +
             std::to_string(1000 + rng() % 1000) + "," + std::to_string(800 + rng() % 600);
    default:
      return "";
  }
}

// Writes the file and records the lookups of the ReadString workload: every
// key of 300 sections, in a shuffled order within each section, plus one
// missing key in ten.
void Generate(Fixture& fixture, size_t keyTarget) {
  std::mt19937 rng(42);
  std::string text = "\xEF\xBB\xBF";
  text.reserve(6 << 20);
  std::vector<std::vector<Lookup>> bySection;
  while (fixture.keys < keyTarget) {
    std::string section = Word(rng) + Word(rng);
    if (rng() % 3 == 0) section.append(".").append(Word(rng));
    if (rng() % 2 == 0) section.append(" ").append(std::to_string(fixture.sections));
    text.append("[").append(section).append("]\r\n");
    ++fixture.sections;
    std::vector<Lookup> lookups;
    std::unordered_set<std::string> seen;
    const size_t count = 20 + rng() % 181;
    for (size_t i = 0; i < count; ++i) {
      if (rng() % 33 == 0) text.append("; ").append(Word(rng)).append(" ").append(Word(rng)).append(" settings\r\n");
      std::string key = Word(rng);
      if (rng() % 2) key += Word(rng);
      if (rng() % 3 == 0) key += std::to_string(i);
      text.append(key).append("=").append(Value(rng)).append("\r\n");
      ++fixture.keys;
      if (seen.insert(kel::kelUpperCaseKeys(key)).second) lookups.push_back({section, key});
    }
    text += "\r\n";
    bySection.push_back(std::move(lookups));
  }
  std::shuffle(bySection.begin(), bySection.end(), rng);
  for (size_t s = 0; s < 300 && s < bySection.size(); ++s) {
    std::vector<Lookup>& group = bySection[s];
    std::shuffle(group.begin(), group.end(), rng);
    for (size_t i = 0; i < group.size(); ++i) {
      fixture.lookups.push_back(group[i]);
      if (i % 10 == 9) fixture.lookups.push_back({group[i].section, std::string("Missing").append(std::to_string(i))});
    }
  }
  std::ofstream(fixture.path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
  fixture.bytes = text.size();
  const std::string legacy = kel::TKELEncoding::Windows1252().Encode(std::string_view(text).substr(3));
  std::ofstream(fixture.legacyPath, std::ios::binary).write(legacy.data(), static_cast<std::streamsize>(legacy.size()));
  fixture.legacyBytes = legacy.size();
}

void LoadFile(benchmark::State& state, const std::string& path, size_t bytes) {
  for (auto _ : state) {
    TKELIniFile ini;
    ini.LoadFromFile(path);
    benchmark::DoNotOptimize(ini.SectionCount());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_TKELIniFile_LoadFromFile(benchmark::State& state) { LoadFile(state, g_fixture.path, g_fixture.bytes); }

void BM_TKELIniFile_LoadFromFile_Windows1252(benchmark::State& state) {
  LoadFile(state, g_fixture.legacyPath, g_fixture.legacyBytes);
}

// Saves the document of the file in the encoding it was read in.
void SaveInOwnEncoding(benchmark::State& state, const std::string& path, size_t bytes) {
  TKELIniFile ini;
  ini.LoadFromFile(path);
  for (auto _ : state) {
    kel::TKELMemoryStream stream;
    ini.SaveToStream(stream, ini.Encoding);
    benchmark::DoNotOptimize(stream.GetSize());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_TKELIniFile_SaveToStream(benchmark::State& state) { SaveInOwnEncoding(state, g_fixture.path, g_fixture.bytes); }

void BM_TKELIniFile_SaveToStream_Windows1252(benchmark::State& state) {
  SaveInOwnEncoding(state, g_fixture.legacyPath, g_fixture.legacyBytes);
}

int CountingHandler(void* user, const char*, const char*, const char*) {
  ++*static_cast<size_t*>(user);
  return 1;
}

void BM_inih_ini_parse(benchmark::State& state) {
  for (auto _ : state) {
    size_t keys = 0;
    if (ini_parse(g_fixture.path.c_str(), CountingHandler, &keys) < 0) state.SkipWithError("ini_parse failed");
    benchmark::DoNotOptimize(keys);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_fixture.bytes));
}

size_t RunLookups(const TKELIniFile& ini) {
  size_t found = 0;
  for (const Lookup& lookup : g_fixture.lookups) found += !ini.ReadString(lookup.section, lookup.key, "").empty();
  return found;
}

// Name hashes of sections and lines already cached by earlier lookups.
void BM_ReadString_HashesCached(benchmark::State& state) {
  TKELIniFile ini;
  ini.LoadFromFile(g_fixture.path);
  RunLookups(ini);
  for (auto _ : state) benchmark::DoNotOptimize(RunLookups(ini));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * g_fixture.lookups.size()));
}

// A freshly loaded document: the lookups compute the hashes they meet.
void BM_ReadString_HashesOnFirstTouch(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto ini = std::make_unique<TKELIniFile>();
    ini->LoadFromFile(g_fixture.path);
    state.ResumeTiming();
    benchmark::DoNotOptimize(RunLookups(*ini));
    state.PauseTiming();
    ini.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * g_fixture.lookups.size()));
}

// The same lookups as a plain scan comparing names ignoring case, without
// hashes and without the last-section cache.
void BM_ReadString_ScanWithoutHashes(benchmark::State& state) {
  TKELIniFile ini;
  ini.LoadFromFile(g_fixture.path);
  for (auto _ : state) {
    size_t found = 0;
    for (const Lookup& lookup : g_fixture.lookups) {
      for (int s = 0; s < ini.SectionCount(); ++s) {
        if (!kel::kelSameText(ini.SectionNames(s), lookup.section)) continue;
        for (const auto& item : ini.Sections(s).Items()) {
          if (kel::kelSameText(kel::TKELIniFileSection::LineName(item.text), lookup.key)) {
            found += !kel::TKELIniFileSection::LineValue(item.text).empty();
            break;
          }
        }
        break;
      }
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * g_fixture.lookups.size()));
}

// Keeps the console output and notes the real and CPU time per iteration of
// each run.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  struct Times {
    double real = 0;
    double cpu = 0;
  };

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations <= 0) continue;
      const auto n = static_cast<double>(run.iterations);
      times_.emplace_back(run.benchmark_name(), Times{run.real_accumulated_time / n, run.cpu_accumulated_time / n});
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // The first run whose name begins with `name`.
  Times TimesOf(const std::string& name) const {
    for (const auto& [runName, times] : times_)
      if (runName.rfind(name, 0) == 0) return times;
    return {};
  }

 private:
  std::vector<std::pair<std::string, Times>> times_;
};

}  // namespace

BENCHMARK(BM_TKELIniFile_LoadFromFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_inih_ini_parse)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TKELIniFile_LoadFromFile_Windows1252)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TKELIniFile_SaveToStream)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TKELIniFile_SaveToStream_Windows1252)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadString_HashesCached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadString_HashesOnFirstTouch)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadString_ScanWithoutHashes)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::random_device random;
  g_fixture.folder = std::filesystem::temp_directory_path() / (std::string("orvi-ini-bench-").append(std::to_string(random())));
  std::filesystem::create_directory(g_fixture.folder);
  g_fixture.path = (g_fixture.folder / "large.ini").string();
  g_fixture.legacyPath = (g_fixture.folder / "legacy.ini").string();
  Generate(g_fixture, 180000);
  std::printf("INI file: %.2f MB, %zu keys in %zu sections, %zu lookups\n", g_fixture.bytes / 1e6, g_fixture.keys,
              g_fixture.sections, g_fixture.lookups.size());

  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::filesystem::remove_all(g_fixture.folder);

  const RecordingReporter::Times ours = reporter.TimesOf("BM_TKELIniFile_LoadFromFile");
  const RecordingReporter::Times inih = reporter.TimesOf("BM_inih_ini_parse");
  const auto line = [](const char* clock, double oursSeconds, double inihSeconds) {
    if (oursSeconds <= 0 || inihSeconds <= 0) return;
    std::printf("%s time: LoadFromFile %.1f MB/s, inih ini_parse %.1f MB/s, ratio %.2f\n", clock,
                g_fixture.bytes / oursSeconds / 1e6, g_fixture.bytes / inihSeconds / 1e6, inihSeconds / oursSeconds);
  };
  std::printf("Load rates (MB = 10^6 bytes; ratio = ours / inih):\n");
  line("real", ours.real, inih.real);
  line("CPU ", ours.cpu, inih.cpu);
  return 0;
}
