// The wizard against its baselines, in one run:
//
//   start-up  from starting the demo Setup to its language dialog being up,
//             beside a minimal Qt Widgets program of ours that shows one
//             dialog (minimal-dialog); limit 1.5 x
//   install   an installation of a ~150 MB payload through every page of
//             the wizard, driven by a wizard script, beside the silent
//             installation of the same Setup, whole process against whole
//             process (both open the 150 MB package first); limit 1.05 x:
//             the progress display must not slow the worker. Each round
//             runs both, one right after the other, and the limit is judged
//             on the median of the rounds' ratios (the pairs share the
//             machine's load). The time from the wizard's Install click to
//             its finish page is shown too.
//
// The windows go to an Xvfb server of the benchmark's own when Xvfb is
// installed, else to Qt's offscreen platform. The sides run in turns; the
// start-up compares the best time of each. Exits with 1 when a limit is
// exceeded.
//
//   build-bench/bench/bench_wizard [megabytes]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "setup_payload.h"
#include "support/x_display.h"

namespace fs = std::filesystem;

namespace {

using bench::Quote;

struct TWatched {
  std::vector<double> marks;  // seconds from the start to each marker
  double total = 0;           // seconds to the end (when waited for)
  int status = -1;
};

// Runs the program, noting when its output (standard output and error)
// first shows each marker, in order. Without `untilExit` the program is
// killed at the last marker. Stops the benchmark when a marker never
// comes.
TWatched Watch(const std::vector<std::string>& environment, const std::string& program,
               const std::vector<std::string>& args, const std::vector<std::string>& markers, bool untilExit) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) std::exit(1);
  std::vector<std::string> storage = {program};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& item : storage) argv.push_back(item.data());
  argv.push_back(nullptr);
  const double start = bench::WallSeconds();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  TWatched watched;
  std::string output;
  size_t searchFrom = 0;
  char buffer[4096];
  while (bench::WallSeconds() - start < 600) {
    if (!untilExit && watched.marks.size() == markers.size()) break;
    pollfd entry{out[0], POLLIN, 0};
    if (poll(&entry, 1, 100) <= 0) continue;
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    output.append(buffer, static_cast<size_t>(n));
    while (watched.marks.size() < markers.size()) {
      const size_t found = output.find(markers[watched.marks.size()], searchFrom);
      if (found == std::string::npos) break;
      watched.marks.push_back(bench::WallSeconds() - start);
      searchFrom = found + markers[watched.marks.size() - 1].size();
    }
  }
  if (!untilExit) kill(-pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  watched.total = bench::WallSeconds() - start;
  watched.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  close(out[0]);
  if (watched.marks.size() < markers.size()) {
    std::fprintf(stderr, "%s never wrote \"%s\":\n%s\n", program.c_str(), markers[watched.marks.size()].c_str(),
                 output.c_str());
    std::exit(1);
  }
  return watched;
}

void KeepBest(double& best, double seconds) {
  if (best < 0 || seconds < best) best = seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const uintmax_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 150;
  const fs::path bin = ORVI_BINARY_DIR;
  char pattern[] = "/tmp/orvi-bench-wizard-XXXXXX";
  const fs::path work = mkdtemp(pattern);

  std::optional<orvi::test::XvfbServer> server(std::in_place, "1024x768x24");
  std::string display = "DISPLAY=", platform = "QT_QPA_PLATFORM=offscreen";
  if (server->Running()) {
    display = "DISPLAY=" + server->Name();
    platform = "QT_QPA_PLATFORM=";
    std::printf("windows on Xvfb %s\n", server->Name().c_str());
  } else {
    server.reset();
    std::printf("windows on Qt's offscreen platform (no Xvfb)\n");
  }
  const std::string runtime = "XDG_RUNTIME_DIR=" + work.string();

  // Start-up.
  const fs::path machine = work / "machine";
  fs::create_directories(machine);
  double minimal = -1, startup = -1;
  for (int round = 0; round < 10; ++round) {
    KeepBest(minimal, Watch({display, platform, runtime}, (bin / "bench/minimal-dialog").string(), {}, {"shown"},
                            false).marks[0]);
    KeepBest(startup, Watch({display, platform, runtime, "ORVI_SETUP_SANDBOX=" + machine.string(),
                             "ORVI_SETUP_WIZARD_SCRIPT=answer:English", "LANGUAGE=en"},
                            (bin / "demo/Setup").string(), {}, {"dialog \"Select Language\" answered"}, false)
                          .marks[0]);
  }
  const double startupRatio = startup / minimal;
  std::printf("start-up: Setup to its language dialog %.3f s, a minimal dialog %.3f s; ratio %.2f (limit 1.5)\n",
              startup, minimal, startupRatio);

  // Installation.
  const std::string program = bench::MakePayloadSetup(work, megabytes).string();
  const std::vector<std::string> wizardMarkers = {"wizard script: page:PageReadyToInstall\n",
                                                  "wizard script: click:bNext\n", "wizard script: page:PageFinish\n"};
  const std::string script =
      "ORVI_SETUP_WIZARD_SCRIPT=answer:English; page:PageWelcome; click:bNext; page:PageLicense; click:L1; "
      "click:bNext; page:PageSetup; click:bNext; page:PageIntegration; click:bNext; page:PageReadyToInstall; "
      "click:bNext; page:PageFinish; click:bNext";
  double silent = -1, wizard = -1, wizardRun = -1;
  std::vector<double> ratios;
  for (int round = 0; round < 5; ++round) {
    const fs::path silentMachine = work / ("silent" + std::to_string(round));
    const fs::path wizardMachine = work / ("wizard" + std::to_string(round));
    fs::create_directories(silentMachine);
    fs::create_directories(wizardMachine);
    const TWatched quiet = Watch({"ORVI_SETUP_SANDBOX=" + silentMachine.string(), "DISPLAY=", "LANGUAGE=en"}, program,
                                 {"/AUTO=/opt/ORVI", "/SILENT"}, {}, true);
    const TWatched shown = Watch(
        {"ORVI_SETUP_SANDBOX=" + wizardMachine.string(), display, platform, runtime, "LANGUAGE=en", script}, program,
        {}, wizardMarkers, true);
    if (quiet.status != 0 || shown.status != 0 || !fs::exists(wizardMachine / "opt/ORVI/Uninstall.dat")) {
      std::fprintf(stderr, "a run went wrong (silent %d, wizard %d)\n", quiet.status, shown.status);
      return 1;
    }
    const double installing = shown.marks[2] - shown.marks[1];
    std::printf("round %d: silent %.3f s, wizard %.3f s (of which Install to the finish page %.3f s)\n", round + 1,
                quiet.total, shown.total, installing);
    KeepBest(silent, quiet.total);
    KeepBest(wizard, shown.total);
    KeepBest(wizardRun, installing);
    ratios.push_back(shown.total / quiet.total);
    fs::remove_all(silentMachine);
    fs::remove_all(wizardMachine);
  }
  std::sort(ratios.begin(), ratios.end());
  const double installRatio = ratios[ratios.size() / 2];
  std::printf("install: best through the wizard %.3f s (Install to the finish page %.3f s), best silent %.3f s; "
              "median ratio of the rounds %.3f (limit 1.05)\n",
              wizard, wizardRun, silent, installRatio);

  server.reset();
  fs::remove_all(work);
  return startupRatio <= 1.5 && installRatio <= 1.05 ? 0 : 1;
}
