// Formatted text against Qt's own text layout.
//
// Generates 1 MB of marked-up prose (paragraphs of made-up words with bold,
// italic, colours, sizes, tagged links, and URLs and e-mail addresses for the
// detectors) and measures, in turns over several rounds:
//   KelImportAndLayout  TKELTextLayout on Qt's fonts (TKELQtFont, fresh each
//                       time): import the marked-up UTF-8 text and lay it out
//                       with word wrap at a fixed width
//   KelRelayout         the same layout again at another width (advances
//                       kept from the import's layout)
//   QtTextLayout        QTextLayout of the same text without markup (its
//                       plain text), paragraph by paragraph, at the same
//                       width and in the same font, from UTF-8 as well
// and prints the best CPU time of each and the ratio
//   KelImportAndLayout / QtTextLayout  (at most 1.5 wanted).
//
// Options: --text-mb=N (default 1), --width=PIXELS (default 400), and the
// options of Google Benchmark.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QTextLayout>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kel/graphics/text_layout.h"
#include "kel/ui/qt_canvas.h"

namespace {

using namespace kel;

struct Fixture {
  std::string markup;  // UTF-8
  std::string plain;   // the markup's plain text, paragraphs ended by CR LF
  QFont font;
  double width = 400;
};
Fixture g_fixture;

std::string Generate(size_t size) {
  bench::Random random;
  const std::vector<std::string> words = bench::MakeVocabulary(random);
  std::string text;
  int link = 0;
  while (text.size() < size) {
    const uint32_t length = 40 + random.Next() % 80;
    for (uint32_t i = 0; i < length; ++i) {
      const std::string& word = words[random.Next() % words.size()];
      switch (random.Next() % 40) {
        case 0: text += "[B]" + word + "[/B]"; break;
        case 1: text += "[I]" + word + "[/I]"; break;
        case 2: text += "[COLOR=#C00000]" + word + "[/COLOR]"; break;
        case 3: text += "[URL=https://example.org/" + std::to_string(++link) + "]" + word + "[/URL]"; break;
        case 4: text += "[BIG]" + word + "[/BIG]"; break;
        case 5: text += "www." + word + ".org"; break;
        case 6: text += word + "@example.org"; break;
        case 7: text += "(" + word + ")"; break;
        default: text += word; break;
      }
      text += i + 1 < length ? (random.Next() % 12 == 0 ? ", " : " ") : ".\n";
    }
  }
  return text;
}

void KelImportAndLayout(benchmark::State& state) {
  for (auto _ : state) {
    TKELQtFont font(g_fixture.font, 96);
    TKELTextLayout layout(font);
    TKELTextImportSettings settings;
    settings.AutoDetectEmails = true;
    layout.SetText(g_fixture.markup, settings);
    layout.SetBounds({0, 0, g_fixture.width, 0});
    layout.SetOption(tloWordWrap, true);
    layout.SetOption(tloAutoHeight, true);
    benchmark::DoNotOptimize(layout.Measure());
    state.counters["rows"] = static_cast<double>(layout.Rows().size());
  }
}

void KelRelayout(benchmark::State& state) {
  TKELQtFont font(g_fixture.font, 96);
  TKELTextLayout layout(font);
  layout.SetText(g_fixture.markup);
  layout.SetOption(tloWordWrap, true);
  layout.SetOption(tloAutoHeight, true);
  layout.SetBounds({0, 0, g_fixture.width * 1.5, 0});
  layout.Measure();
  for (auto _ : state) {
    layout.SetBounds({0, 0, g_fixture.width, 0});
    benchmark::DoNotOptimize(layout.Measure());
    state.PauseTiming();
    layout.SetBounds({0, 0, g_fixture.width * 1.5, 0});
    state.ResumeTiming();
  }
}

void QtTextLayout(benchmark::State& state) {
  for (auto _ : state) {
    const QString text = QString::fromUtf8(g_fixture.plain.data(), static_cast<qsizetype>(g_fixture.plain.size()));
    double height = 0;
    size_t rows = 0;
    for (const QStringView paragraph : QStringView(text).split(u"\r\n")) {
      QTextLayout layout(paragraph.toString(), g_fixture.font);
      QTextOption option;
      option.setWrapMode(QTextOption::WordWrap);
      layout.setTextOption(option);
      layout.beginLayout();
      for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(g_fixture.width);
        line.setPosition(QPointF(0, height));
        height += line.height();
        ++rows;
      }
      layout.endLayout();
    }
    benchmark::DoNotOptimize(height);
    state.counters["rows"] = static_cast<double>(rows);
  }
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = 1;
  std::vector<char*> args = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--text-mb=", 10) == 0) {
      megabytes = std::strtoull(argv[i] + 10, nullptr, 10);
    } else if (std::strncmp(argv[i], "--width=", 8) == 0) {
      g_fixture.width = std::strtod(argv[i] + 8, nullptr);
    } else {
      args.push_back(argv[i]);
    }
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QGuiApplication application(qtArgc, argv);

  g_fixture.markup = Generate(megabytes << 20);
  g_fixture.font = QFont("DejaVu Sans");
  g_fixture.font.setPixelSize(12);  // 9 points at 96 DPI, as TKELQtFont makes it
  {
    TKELQtFont font(g_fixture.font, 96);
    TKELTextLayout layout(font);
    layout.SetText(g_fixture.markup);
    g_fixture.plain = layout.PlainText();
  }
  std::printf("marked-up text: %.2f MB, plain text %.2f MB, width %.0f px, font %s %d px\n",
              g_fixture.markup.size() / 1048576.0, g_fixture.plain.size() / 1048576.0, g_fixture.width,
              g_fixture.font.family().toUtf8().constData(), g_fixture.font.pixelSize());
  std::fflush(stdout);

  constexpr int kRounds = 5;
  for (int round = 1; round <= kRounds; ++round)
    for (auto [name, function] : {std::pair{"QtTextLayout", &QtTextLayout}, std::pair{"KelImportAndLayout", &KelImportAndLayout},
                                  std::pair{"KelRelayout", &KelRelayout}})
      benchmark::RegisterBenchmark((std::string(name) + "/round:" + std::to_string(round)).c_str(), function)
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);

  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  bench::TBestTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto& t = reporter.times;
  if (t.count("QtTextLayout") && t.count("KelImportAndLayout") && t.count("KelRelayout")) {
    std::printf("\nbest CPU time of %d rounds:\n", kRounds);
    for (const char* name : {"QtTextLayout", "KelImportAndLayout", "KelRelayout"}) std::printf("  %-20s %8.1f ms\n", name, t[name]);
    std::printf("TKELTextLayout import and layout / QTextLayout: %.2f  (at most 1.5 wanted)\n",
                t["KelImportAndLayout"] / t["QtTextLayout"]);
  }
  return 0;
}
