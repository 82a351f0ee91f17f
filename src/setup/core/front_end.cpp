#include "setup/core/front_end.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "kel/base/text.h"
#include "kel/platform/terminal.h"
#include "setup/core/notify.h"
#include "setup/core/session.h"

namespace setup {

namespace {

// Standard error as the console front end writes to it. On a terminal the
// progress line stays open (no line break) while it is redrawn in place;
// whatever else is written ends it first, so that nothing lands in it.
class TStandardError {
 public:
  void WriteLines(std::string_view text) {
    EndProgressLine();
    std::cerr << text << std::flush;
  }
  // Draws `line` over the progress line (or starts one).
  void DrawProgressLine(std::string_view line) {
    std::cerr << '\r' << line << std::flush;
    open_ = true;
  }
  void EndProgressLine() {
    if (!open_) return;
    std::cerr << '\n' << std::flush;
    open_ = false;
  }

 private:
  bool open_ = false;
};

// One per process, like standard error itself; used on the user-interface
// thread only.
TStandardError& StandardError() {
  static TStandardError stream;
  return stream;
}

// The text cut or filled with spaces to `width` code points (one column
// each).
std::string FitToWidth(std::string_view text, size_t width) {
  std::string out;
  size_t pos = 0, used = 0;
  while (pos < text.size() && used < width) {
    const size_t start = pos;
    const char32_t c = kel::kelNextCodePoint(text, pos);
    if (c < 0x20) {
      out += ' ';
    } else {
      out.append(text.substr(start, pos - start));
    }
    ++used;
  }
  out.append(width - used, ' ');
  return out;
}

// The progress line for a terminal `columns` wide: the status text, a bar
// and the overall percentage, always one column narrower than the terminal
// (a line that fills the last column wraps on some terminals). The text is
// cut to fit; on a narrow terminal the bar goes first.
std::string ProgressLine(std::string_view status, int percent, int columns) {
  const size_t width = static_cast<size_t>(std::max(columns, 20) - 1);
  char number[8];
  std::snprintf(number, sizeof number, "%3d%%", std::clamp(percent, 0, 100));
  std::string tail = std::string(" ") + number;
  if (width >= 40) {
    const size_t bar = std::min<size_t>(30, width / 4);
    const size_t filled = bar * static_cast<size_t>(std::clamp(percent, 0, 100)) / 100;
    tail = " [" + std::string(filled, '#') + std::string(bar - filled, '-') + "]" + tail;
  }
  return FitToWidth(status, width - tail.size()) + tail;
}

// Asks on the terminal; without one nobody can answer, and the safe answer
// is to stop.
class TTerminalPrompt : public ISetupUserPrompt {
 public:
  TSetupAnswer AskAbortRetryIgnore(const std::string& text) override {
    if (!kel::platform::IsTerminal(kel::platform::StandardStream::Input)) {
      StandardError().WriteLines(text + "\n(no terminal to answer on: Abort)\n");
      return TSetupAnswer::Abort;
    }
    for (;;) {
      StandardError().WriteLines(text + "\n[A]bort, [R]etry or [I]gnore? [R] ");
      std::string line;
      if (!std::getline(std::cin, line)) return TSetupAnswer::Abort;
      const std::string_view answer = kel::kelTrim(line);
      if (answer.empty() || kel::kelSameTextAscii(answer, "r") || kel::kelSameTextAscii(answer, "retry"))
        return TSetupAnswer::Retry;
      if (kel::kelSameTextAscii(answer, "a") || kel::kelSameTextAscii(answer, "abort")) return TSetupAnswer::Abort;
      if (kel::kelSameTextAscii(answer, "i") || kel::kelSameTextAscii(answer, "ignore")) return TSetupAnswer::Ignore;
    }
  }

  void ShowError(const std::string& text) override { StandardError().WriteLines("Setup: " + text + "\n"); }
};

// Shows the status texts and the overall percentage of a run: on a terminal
// in one line redrawn in place, elsewhere as plain lines, one per status
// text and one per tenth of the percentage reached (10%, 20%, ...).
class TConsoleProgress : public IInstallerNotify {
 public:
  TConsoleProgress()
      : terminal_(kel::platform::IsTerminal(kel::platform::StandardStream::Error)),
        columns_(kel::platform::TerminalColumns(kel::platform::StandardStream::Error)) {
    if (columns_ <= 0) columns_ = 80;
  }

  void Notify(int code, intptr_t value) override {
    if (code == neStatusText) {
      status_ = StatusTextOf(value);
      if (!terminal_) StandardError().WriteLines(status_ + "\n");
    } else if (code == neProgress) {
      percent_ = OverallPercentOf(value);
      if (!terminal_ && percent_ / 10 > lastTenth_) {
        lastTenth_ = percent_ / 10;
        StandardError().WriteLines("  " + std::to_string(lastTenth_ * 10) + "%\n");
      }
    } else if (code == neFinished) {
      StandardError().EndProgressLine();
      return;
    } else {
      return;
    }
    // Nothing to draw before the first status text.
    if (!terminal_ || status_.empty()) return;
    std::string line = ProgressLine(status_, percent_, columns_);
    if (line == shown_) return;
    StandardError().DrawProgressLine(line);
    shown_ = std::move(line);
  }

 private:
  const bool terminal_;
  int columns_;
  std::string status_;
  int percent_ = 0;
  int lastTenth_ = 0;
  std::string shown_;  // the progress line on the terminal now
};

}  // namespace

std::unique_ptr<ISetupDispatcher> TSetupConsoleFrontEnd::CreateDispatcher() {
  return std::make_unique<TSetupQueueDispatcher>();
}

std::unique_ptr<ISetupUserPrompt> TSetupConsoleFrontEnd::CreatePrompt() { return std::make_unique<TTerminalPrompt>(); }

void TSetupConsoleFrontEnd::FollowRun(TSetup& session) {
  TConsoleProgress progress;
  session.AddListener(&progress);
  session.Start(true);
  session.RemoveListener(&progress);
}

void TSetupConsoleFrontEnd::ShowError(const std::string& message) {
  // Messages use CR LF between lines (the error list's text); a terminal
  // wants LF.
  std::string text;
  for (char c : kel::kelTrimRight(message))
    if (c != '\r') text += c;
  StandardError().WriteLines("Setup: " + text + "\n");
}

void ISetupFrontEnd::ShowHelp(const std::string& text) { std::cout << text << std::flush; }

}  // namespace setup
