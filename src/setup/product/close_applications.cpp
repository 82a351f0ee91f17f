// Closing the running programs of the product family before their files are
// backed up, replaced or removed.
#include <algorithm>
#include <atomic>
#include <optional>

#include "kel/platform/process.h"
#include "kel/platform/windows.h"
#include "setup/core/session.h"
#include "setup/product/actions.h"

namespace setup {

namespace {

std::atomic<int64_t> passIntervalMs{2000};
std::atomic<int64_t> exitWaitMs{10000};

// How often the waiting looks whether the programs have ended.
constexpr std::chrono::milliseconds kExitPoll{10};

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

void TSetupActionCloseApplications::SetExitWait(std::chrono::milliseconds limit) { exitWaitMs = limit.count(); }

// Each pass asks one window of every class to close, then gives the programs
// time to go; passes go on until one finds no window. A program that asks
// the user something first keeps the setup here until it is answered. A
// closed window does not mean an ended program (it may still be writing its
// settings), so the action ends only when the programs it asked have ended,
// or after a bounded wait for those that go on running. When no program
// runs, the first pass finds nothing and the action ends at once: waiting
// then would only delay every run.
void TSetupActionCloseApplications::Execute() {
  ReportStatus(GetCommonText("A8"));
  std::vector<kel::platform::ProcessIdentity> programs;  // asked to close, not seen ending yet
  for (;;) {
    bool found = false;
    bool ownerUnknown = false;
    for (const std::string& windowClass : WindowClasses()) {
      const std::vector<kel::platform::WindowId> windows = kel::platform::FindTopLevelWindows(windowClass);
      if (windows.empty()) continue;
      // Told before the window closes: once the program has ended, its id
      // may name another process.
      const std::optional<kel::platform::ProcessIdentity> program =
          kel::platform::IdentifyProcess(kel::platform::WindowProcessId(windows.front()));
      if (!program) {
        ownerUnknown = true;
      } else if (std::find(programs.begin(), programs.end(), *program) == programs.end()) {
        programs.push_back(*program);
      }
      Session().Log().Write("Asking a window of class " + windowClass + " to close" +
                            (program ? " (process " + std::to_string(program->id) + ")" : std::string()));
      kel::platform::CloseWindow(windows.front());
      found = true;
    }
    if (!found) break;
    // A window whose program is unknown gets the whole interval to go.
    if (!WaitForPrograms(programs, std::chrono::milliseconds(passIntervalMs.load()), ownerUnknown)) return;
  }
  WaitForPrograms(programs, std::chrono::milliseconds(exitWaitMs.load()), false);
}

bool TSetupActionCloseApplications::WaitForPrograms(std::vector<kel::platform::ProcessIdentity>& programs,
                                                    std::chrono::milliseconds limit, bool fullTime) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    std::erase_if(programs, [](const kel::platform::ProcessIdentity& program) {
      return !kel::platform::IsProcessRunning(program);
    });
    if (programs.empty() && !fullTime) return !cancelled_;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return !cancelled_;
    if (wake_.wait_until(lock, std::min(deadline, now + kExitPoll), [this] { return cancelled_; })) return false;
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
