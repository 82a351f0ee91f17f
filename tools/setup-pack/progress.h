// A one-line progress display ("Compressing 42%") on standard output, shown
// only when standard output is a terminal, so that redirected output stays
// clean.
#pragma once

#include <cstdint>
#include <string>

#include "setup/package/package.h"

namespace setup_pack {

class TProgress {
 public:
  explicit TProgress(std::string label);
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  void Update(int64_t done, int64_t total);
  // Removes the line; called by the destructor too.
  void Finish();
  // An Update callback for the package code.
  setup::TSetupPackageProgress Callback() {
    return [this](int64_t done, int64_t total) { Update(done, total); };
  }

 private:
  std::string label_;
  bool enabled_;
  int shown_ = -1;  // the percentage on screen, -1 for none
};

}  // namespace setup_pack
