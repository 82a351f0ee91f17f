// Loading a large RTF licence, side by side in one run:
//   - our reader building the rich viewer's document (kelReadRtfDocument);
//   - the rich viewer's whole LoadRichText (the document, the links found in
//     its text, and the layout at the viewer's width);
//   - unrtf --html of the same file (Debian's RTF converter), in a child.
// The licence repeats the body of the LibreOffice fixture of the tests up to
// the size given (--rtf-mb=, default 1 MB).
#include <QApplication>
#include <QTextDocument>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "bench_support.h"
#include "kel/ui/rich_viewer.h"
#include "kel/ui/rtf_document.h"

namespace {

struct Fixture {
  std::string rtf;
  std::string path;
} g_fixture;

// The fixture's header and its body (what follows the page setup, up to the
// document's closing brace), the body repeated up to `bytes`.
std::string MakeLicence(size_t bytes) {
  std::ifstream in(ORVI_SOURCE_DIR "/tests/kel/ui/data/rtf/licence-writer.rtf", std::ios::binary);
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t bodyStart = source.find("\\pard\\plain");
  const size_t bodyEnd = source.rfind('}');
  if (bodyStart == std::string::npos || bodyEnd == std::string::npos || bodyEnd < bodyStart) {
    std::fprintf(stderr, "the fixture is not where it was expected\n");
    std::exit(1);
  }
  const std::string body = source.substr(bodyStart, bodyEnd - bodyStart);
  std::string rtf = source.substr(0, bodyStart);
  while (rtf.size() + body.size() < bytes) rtf += body;
  return rtf + "}";
}

void BM_ReadRtfDocument(benchmark::State& state) {
  bench::TimedIterations(state, "document", false, static_cast<int64_t>(g_fixture.rtf.size()), [] {
    QTextDocument document;
    document.setUndoRedoEnabled(false);
    if (!kel::kelReadRtfDocument(g_fixture.rtf, document, Qt::blue)) std::abort();
  });
}

void BM_RichViewerLoad(benchmark::State& state) {
  kel::TKELRichViewer viewer;
  viewer.resize(600, 400);
  bench::TimedIterations(state, "viewer", false, static_cast<int64_t>(g_fixture.rtf.size()),
                         [&] { viewer.LoadRichText(g_fixture.rtf); });
}

void BM_UnrtfHtml(benchmark::State& state) {
  const std::string command = "unrtf --html '" + g_fixture.path + "' > /dev/null 2>&1";
  bench::TimedIterations(state, "unrtf", true, static_cast<int64_t>(g_fixture.rtf.size()), [&] {
    if (std::system(command.c_str()) != 0) std::abort();
  });
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const int64_t megabytes = bench::InitializeWithInputSize(argc, argv, "--rtf-mb=", 1);
  if (std::system("unrtf --version > /dev/null 2>&1") != 0) {
    std::fprintf(stderr, "unrtf is not installed (scripts/bootstrap.sh installs it)\n");
    return 1;
  }
  int qtArgc = 1;
  char name[] = "bench_rtf_load";
  char* qtArgv[] = {name, nullptr};
  QApplication application(qtArgc, qtArgv);

  g_fixture.rtf = MakeLicence(static_cast<size_t>(megabytes) * 1000 * 1000);
  std::random_device random;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("orvi-rtf-bench-" + std::to_string(random()));
  std::filesystem::create_directory(folder);
  g_fixture.path = (folder / "licence.rtf").string();
  std::ofstream(g_fixture.path, std::ios::binary) << g_fixture.rtf;
  std::printf("RTF licence: %.2f MB\n", g_fixture.rtf.size() / 1e6);

  bench::RegisterTimed("ReadRtfDocument", BM_ReadRtfDocument);
  bench::RegisterTimed("RichViewer_LoadRichText", BM_RichViewerLoad);
  bench::RegisterTimed("unrtf_html", BM_UnrtfHtml);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(folder);

  const bench::Timing unrtf = bench::BestTiming("unrtf");
  std::printf("Best times (ratio = unrtf / ours; above 1 is faster than unrtf):\n");
  for (const char* ours : {"document", "viewer"}) {
    const bench::Timing timing = bench::BestTiming(ours);
    std::printf("  %-8s wall %.1f ms, CPU %.1f ms; unrtf --html wall %.1f ms, CPU %.1f ms; ratio wall %.2f, CPU %.2f\n",
                ours, timing.wall * 1e3, timing.cpu * 1e3, unrtf.wall * 1e3, unrtf.cpu * 1e3, unrtf.wall / timing.wall,
                unrtf.cpu / timing.cpu);
  }
  return 0;
}
