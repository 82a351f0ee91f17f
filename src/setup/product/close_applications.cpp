// Closing the running programs of the product family before their files are
// backed up, replaced or removed.
#include <atomic>

#include "kel/platform/windows.h"
#include "setup/product/actions.h"

namespace setup {

namespace {

std::atomic<int64_t> passIntervalMs{2000};

}  // namespace

const std::vector<std::string>& TSetupActionCloseApplications::WindowClasses() {
  static const std::vector<std::string> classes = {
      "TORVI2EditorForm",       "TORVI2MainW",      "TORVI3MainWindow", "TORVIATEForm",
      "TORVIConverterMainForm", "TORVILibMainForm", "TORVIMainForm",
  };
  return classes;
}

void TSetupActionCloseApplications::SetPassInterval(std::chrono::milliseconds interval) {
  passIntervalMs = interval.count();
}

// Each pass asks one window of every class to close, then gives the programs
// time to go; passes go on until one finds no window. A program that asks
// the user something first keeps the setup here until it is answered. When
// no program runs, the first pass finds nothing and the action ends at once:
// waiting then would only delay every run.
void TSetupActionCloseApplications::Execute() {
  ReportStatus(GetCommonText("A8"));
  for (;;) {
    bool found = false;
    for (const std::string& windowClass : WindowClasses()) {
      const std::vector<kel::platform::WindowId> windows = kel::platform::FindTopLevelWindows(windowClass);
      if (windows.empty()) continue;
      kel::platform::CloseWindow(windows.front());
      found = true;
    }
    if (!found) return;
    std::unique_lock<std::mutex> lock(lock_);
    if (wake_.wait_for(lock, std::chrono::milliseconds(passIntervalMs.load()), [this] { return cancelled_; })) return;
  }
}

void TSetupActionCloseApplications::Cancel() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    cancelled_ = true;
  }
  wake_.notify_all();
}

}  // namespace setup
