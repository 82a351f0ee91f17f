#include "progress.h"

#include <cstdio>

#include "kel/platform/terminal.h"

namespace setup_pack {

TProgress::TProgress(std::string label)
    : label_(std::move(label)), enabled_(kel::platform::IsTerminal(kel::platform::StandardStream::Output)) {}

TProgress::~TProgress() { Finish(); }

void TProgress::Update(int64_t done, int64_t total) {
  if (!enabled_) return;
  const int percent = total <= 0 ? 100 : static_cast<int>(done * 100 / total);
  if (percent == shown_) return;
  shown_ = percent;
  std::printf("\r%s %3d%%", label_.c_str(), percent);
  std::fflush(stdout);
}

void TProgress::Finish() {
  if (shown_ < 0) return;
  std::printf("\r%*s\r", static_cast<int>(label_.size()) + 5, "");
  std::fflush(stdout);
  shown_ = -1;
}

}  // namespace setup_pack
