// Reading a ~50 MB XML document with many elements and attributes, four
// ways in one run:
//   Libxml2TextReader  libxml2's xmlTextReader pulling every node
//   KelTextReader      TKELXMLTextReader pulling every node (default settings)
//   KelTextReaderDoc   the same with the settings the document loads with
//   KelDocumentLoad    TKELXMLDocument loading the whole file into a tree
// Every reader touches each node's name and value and each attribute's name
// and value. The four take turns over several rounds; at the end the best
// CPU time of each and the ratios are printed:
//   libxml2 / ours      (above 1: ours is faster)
//   document / reader   (the document's load against the reader with its settings)
// The first round's document load is printed as well: it is the one that
// touches the tree's memory for the first time in the process.
//
// Then the name table: documents of 100,000 to 1,000,000 empty elements,
// each with a name of its own or all with one name, read with the text
// reader. A new name costs an entry (an allocation, and memory beyond the
// caches once the table is large) where a repeated one costs a lookup of a
// cached entry; the time per name must not rise with the number of names.
// Printed: the best time per name of each kind, and distinct / repeated
// (at most 2 wanted).
#include <benchmark/benchmark.h>
#include <libxml/xmlreader.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <utility>

#include "bench_support.h"
#include "kel/base/stream.h"
#include "kel/base/xml_document.h"
#include "kel/base/xml_reader.h"

namespace {

using namespace kel;

constexpr size_t kTargetSize = 50u << 20;

std::filesystem::path& DocumentPath() {
  static std::filesystem::path path;
  return path;
}

// Items of a catalogue: attributes, nested elements, text with references
// and some non-ASCII characters.
void GenerateDocument(const std::filesystem::path& path) {
  std::mt19937 rng(42);
  static const char* words[] = {"alpha", "beta", "gamma", "delta", "Gr\xC3\xBC\xC3\x9F" "e", "na\xC3\xAFve", "caf\xC3\xA9",
                                "\xD0\xBC\xD0\xB8\xD1\x80", "\xE4\xB8\xAD\xE6\x96\x87", "omega", "&amp;", "&lt;tag&gt;"};
  auto sentence = [&](int count) {
    std::string s;
    for (int i = 0; i < count; ++i) {
      if (i) s += ' ';
      s += words[rng() % std::size(words)];
    }
    return s;
  };
  std::ofstream out(path, std::ios::binary);
  std::string chunk = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<catalog version=\"2\" source=\"generated\">\n";
  size_t written = 0;
  for (unsigned id = 1; written < kTargetSize; ++id) {
    chunk += "  <item id=\"" + std::to_string(id) + "\" sku=\"SKU-" + std::to_string(rng() % 1000000) +
             "\" price=\"" + std::to_string(rng() % 10000) + "." + std::to_string(rng() % 100) +
             "\" currency=\"EUR\" available=\"" + (rng() % 2 ? "true" : "false") + "\">\n";
    chunk += "    <name lang=\"en\">" + sentence(3) + "</name>\n";
    chunk += "    <description>" + sentence(12 + static_cast<int>(rng() % 20)) + "</description>\n";
    chunk += "    <tags>";
    for (int t = static_cast<int>(rng() % 4); t >= 0; --t) chunk += "<tag>" + std::string(words[rng() % 4]) + "</tag>";
    chunk += "</tags>\n";
    chunk += "    <dimensions w=\"" + std::to_string(rng() % 100) + "\" h=\"" + std::to_string(rng() % 100) +
             "\" d=\"" + std::to_string(rng() % 100) + "\" unit=\"cm\"/>\n";
    if (id % 10 == 0) chunk += "    <!-- checked -->\n";
    chunk += "  </item>\n";
    if (chunk.size() > (1u << 20)) {
      out << chunk;
      written += chunk.size();
      chunk.clear();
    }
  }
  chunk += "</catalog>\n";
  out << chunk;
}

double FileMegabytes() { return static_cast<double>(std::filesystem::file_size(DocumentPath())) / (1 << 20); }

void SetRate(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(DocumentPath())));
}

void Libxml2TextReader(benchmark::State& state) {
  for (auto _ : state) {
    xmlTextReaderPtr reader = xmlReaderForFile(DocumentPath().c_str(), nullptr, 0);
    size_t touched = 0, nodes = 0;
    while (xmlTextReaderRead(reader) == 1) {
      ++nodes;
      if (const xmlChar* name = xmlTextReaderConstName(reader)) touched += std::strlen(reinterpret_cast<const char*>(name));
      if (const xmlChar* value = xmlTextReaderConstValue(reader))
        touched += std::strlen(reinterpret_cast<const char*>(value));
      while (xmlTextReaderMoveToNextAttribute(reader) == 1) {
        touched += std::strlen(reinterpret_cast<const char*>(xmlTextReaderConstName(reader)));
        touched += std::strlen(reinterpret_cast<const char*>(xmlTextReaderConstValue(reader)));
      }
    }
    xmlFreeTextReader(reader);
    benchmark::DoNotOptimize(touched);
    state.counters["nodes"] = static_cast<double>(nodes);
  }
  SetRate(state);
}

void PullAll(const TKELXMLReaderSettings& settings, benchmark::State& state) {
  for (auto _ : state) {
    TKELBufferedFileStream stream(DocumentPath().string(), fmOpenRead | fmShareDenyNone);
    TKELXMLTextReader reader(&stream, settings);
    size_t touched = 0, nodes = 0;
    while (reader.Read()) {
      ++nodes;
      touched += reader.Name().size() + reader.Value().size();
      while (reader.MoveToNextAttribute()) touched += reader.Name().size() + reader.Value().size();
    }
    benchmark::DoNotOptimize(touched);
    state.counters["nodes"] = static_cast<double>(nodes);
  }
  SetRate(state);
}

void KelTextReader(benchmark::State& state) { PullAll(TKELXMLReaderSettings(), state); }

// The settings TKELXMLDocument reads text with.
void KelTextReaderDoc(benchmark::State& state) {
  TKELXMLReaderSettings settings;
  settings.IgnoreComments = true;
  settings.IgnoreWhitespace = true;
  settings.SupportNamespaces = false;
  PullAll(settings, state);
}

void KelDocumentLoad(benchmark::State& state) {
  for (auto _ : state) {
    auto document = std::make_unique<TKELXMLDocument>();
    TKELBufferedFileStream stream(DocumentPath().string(), fmOpenRead | fmShareDenyNone);
    document->LoadFromStream(stream);
    benchmark::DoNotOptimize(document->Count());
    // Freeing the tree is not part of loading it, nor is the allocator's
    // deferred work on the freed blocks, which a large allocation sets off.
    // A block kept above the tree stops the allocator from handing the freed
    // memory back to the system, so that later rounds load into a warm heap
    // as a program that loads documents again and again does.
    state.PauseTiming();
    static std::vector<std::unique_ptr<char[]>> pins;
    pins.push_back(std::make_unique<char[]>(96 << 10));
    document.reset();
    std::vector<char> large(1 << 16);
    benchmark::DoNotOptimize(large.data());
    large = {};
    state.ResumeTiming();
  }
  SetRate(state);
}

// --- The name table: many distinct names against one name repeated ---------------------

// Documents of `count` empty elements whose names are all eight characters
// long: numbered (n0000000, n0000001, ...), random letters (fixed seed), or
// one name repeated.
enum class TNames { Numbered, Letters, Repeated };
constexpr std::pair<TNames, const char*> kNameKinds[] = {
    {TNames::Numbered, "numbered"}, {TNames::Letters, "letters"}, {TNames::Repeated, "repeated"}};
constexpr size_t kNameCounts[] = {100000, 200000, 1000000};

std::string NamesDocument(TNames kind, size_t count) {
  std::mt19937 rng(7);
  std::string doc = "<r>";
  doc.reserve(count * 11 + 8);
  char name[24];
  for (size_t i = 0; i < count; ++i) {
    if (kind == TNames::Letters) {
      for (int k = 0; k < 8; ++k) name[k] = static_cast<char>('a' + rng() % 26);
      name[8] = '\0';
    } else {
      std::snprintf(name, sizeof name, "n%07zu", kind == TNames::Numbered ? i : size_t{0});
    }
    doc += '<';
    doc += name;
    doc += "/>";
  }
  return doc + "</r>";
}

// Reads the document with a fresh reader (and so a fresh name table),
// touching every element's name.
void ReadNames(benchmark::State& state, TNames kind, size_t count) {
  const std::string doc = NamesDocument(kind, count);
  for (auto _ : state) {
    state.PauseTiming();
    TKELMemoryStream stream(doc);
    state.ResumeTiming();
    TKELXMLTextReader reader(&stream);
    size_t touched = 0;
    while (reader.Read()) touched += reader.Name().size();
    benchmark::DoNotOptimize(touched);
  }
}

std::string NamesRun(const char* kind, size_t count) {
  return std::string("Names/") + kind + "/" + std::to_string(count);
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("orvi-bench-xml-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(folder);
  DocumentPath() = folder / "catalog.xml";
  GenerateDocument(DocumentPath());
  std::printf("document: %s, %.1f MB\n", DocumentPath().c_str(), FileMegabytes());
  std::fflush(stdout);

  // The four measurements take turns, round after round, so that all of them
  // see the same conditions; the ratios use the best round of each.
  constexpr int kRounds = 5;
  for (int round = 1; round <= kRounds; ++round)
    for (auto [name, function] : {std::pair{"Libxml2TextReader", &Libxml2TextReader},
                                  std::pair{"KelTextReader", &KelTextReader},
                                  std::pair{"KelTextReaderDoc", &KelTextReaderDoc},
                                  std::pair{"KelDocumentLoad", &KelDocumentLoad}})
      benchmark::RegisterBenchmark((std::string(name) + "/round:" + std::to_string(round)).c_str(), function)
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);
  constexpr int kNameRounds = 3;
  for (int round = 1; round <= kNameRounds; ++round)
    for (size_t count : kNameCounts)
      for (auto [kind, label] : kNameKinds)
        benchmark::RegisterBenchmark((NamesRun(label, count) + "/round:" + std::to_string(round)).c_str(),
                                     [kind, count](benchmark::State& state) { ReadNames(state, kind, count); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);

  benchmark::Initialize(&argc, argv);
  bench::TBestTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto& t = reporter.times;
  if (t.count("Libxml2TextReader") && t.count("KelTextReader") && t.count("KelTextReaderDoc") &&
      t.count("KelDocumentLoad")) {
    const double mb = FileMegabytes();
    std::printf("\nbest CPU time of %d rounds:\n", kRounds);
    for (const char* name : {"Libxml2TextReader", "KelTextReader", "KelTextReaderDoc", "KelDocumentLoad"})
      std::printf("  %-18s %7.1f ms  %6.1f MB/s\n", name, t[name], mb / (t[name] / 1000));
    std::printf("libxml2 xmlTextReader / TKELXMLTextReader:               %.2f  (above 1: ours is faster)\n",
                t["Libxml2TextReader"] / t["KelTextReader"]);
    std::printf("TKELXMLDocument load / TKELXMLTextReader (doc settings): %.2f  (at most 2 wanted)\n",
                t["KelDocumentLoad"] / t["KelTextReaderDoc"]);
    std::printf("TKELXMLDocument load / TKELXMLTextReader (defaults):     %.2f\n",
                t["KelDocumentLoad"] / t["KelTextReader"]);
    auto& f = reporter.first;
    std::printf("first round (the tree's memory new to the process): document load %.1f ms, %.2f x the reader\n",
                f["KelDocumentLoad"], f["KelDocumentLoad"] / f["KelTextReaderDoc"]);
  }
  bool namesHeader = false;
  for (size_t count : kNameCounts) {
    const std::string repeated = NamesRun("repeated", count);
    if (!t.count(repeated)) continue;
    if (!namesHeader) {
      std::printf("\nname table, best CPU time per name of %d rounds; distinct / repeated (at most 2 wanted):\n",
                  kNameRounds);
      namesHeader = true;
    }
    const double perRepeated = t[repeated] * 1e6 / static_cast<double>(count);
    std::printf("  %7zu names  repeated %6.1f ns", count, perRepeated);
    for (const char* kind : {"numbered", "letters"}) {
      const std::string run = NamesRun(kind, count);
      if (!t.count(run)) continue;
      const double perName = t[run] * 1e6 / static_cast<double>(count);
      std::printf("  %s %6.1f ns (%.2f)", kind, perName, perName / perRepeated);
    }
    std::printf("\n");
  }
  std::filesystem::remove_all(folder);
  return 0;
}
