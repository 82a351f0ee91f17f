// The wizard against its baselines, in one run:
//
//   start-up  from starting the demo Setup to its language dialog being up,
//             beside a minimal Qt Widgets program of ours that shows one
//             dialog (minimal-dialog); limit 1.5 x
//   install   an interactive installation of a ~150 MB payload through every
//             page of the wizard, driven by a wizard script, beside the
//             silent installation of the same Setup; limit 1.05 x (the
//             progress display must not slow the worker)
//
// The windows go to an Xvfb server of the benchmark's own when Xvfb is
// installed, else to Qt's offscreen platform. The sides run in turns; the
// best wall time of each is compared. Exits with 1 when a limit is exceeded.
//
//   build-bench/bench/bench_wizard [megabytes]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Seconds from starting the program until it writes a line holding `text`
// (on standard output or error); the program is then killed. Stops the
// benchmark when the text never comes.
double SecondsToOutput(const std::vector<std::string>& environment, const std::string& program,
                       const std::string& text) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) std::exit(1);
  const double start = bench::WallSeconds();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    execl(program.c_str(), program.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  std::string output;
  double seconds = -1;
  char buffer[4096];
  while (seconds < 0 && bench::WallSeconds() - start < 60) {
    pollfd entry{out[0], POLLIN, 0};
    if (poll(&entry, 1, 100) <= 0) continue;
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    output.append(buffer, static_cast<size_t>(n));
    if (output.find(text) != std::string::npos) seconds = bench::WallSeconds() - start;
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(out[0]);
  if (seconds < 0) {
    std::fprintf(stderr, "%s never wrote \"%s\":\n%s\n", program.c_str(), text.c_str(), output.c_str());
    std::exit(1);
  }
  return seconds;
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
  for (int round = 0; round < 10; ++round) {
    bench::MeasureBest("minimal", false, [&] {
      SecondsToOutput({display, platform, runtime}, (bin / "bench/minimal-dialog").string(), "shown");
    });
    bench::MeasureBest("startup", false, [&] {
      SecondsToOutput({display, platform, runtime, "ORVI_SETUP_SANDBOX=" + machine.string(),
                       "ORVI_SETUP_WIZARD_SCRIPT=answer:English", "LANGUAGE=en"},
                      (bin / "demo/Setup").string(), "dialog \"Select Language\" answered");
    });
  }
  const double minimal = bench::BestTiming("minimal").wall, startup = bench::BestTiming("startup").wall;
  const double startupRatio = startup / minimal;
  std::printf("start-up: Setup to its language dialog %.3f s, a minimal dialog %.3f s; ratio %.2f (limit 1.5)\n",
              startup, minimal, startupRatio);

  // Installation.
  const fs::path program = bench::MakePayloadSetup(work, megabytes);
  const std::string script =
      "answer:English; page:PageWelcome; click:bNext; page:PageLicense; click:L1; click:bNext;"
      "page:PageReadyToInstall; click:bNext; page:PageFinish; click:bNext";
  for (int round = 0; round < 3; ++round) {
    const fs::path silentMachine = work / ("silent" + std::to_string(round));
    const fs::path wizardMachine = work / ("wizard" + std::to_string(round));
    fs::create_directories(silentMachine);
    fs::create_directories(wizardMachine);
    bench::MeasureBest("silent", true, [&] {
      bench::Run("ORVI_SETUP_SANDBOX=" + Quote(silentMachine.string()) + " DISPLAY= LANGUAGE=en " +
                 Quote(program.string()) + " /AUTO=/opt/ORVI /SILENT");
    });
    bench::MeasureBest("wizard", true, [&] {
      bench::Run("ORVI_SETUP_SANDBOX=" + Quote(wizardMachine.string()) + " " + display + " " + platform + " " +
                 runtime + " LANGUAGE=en ORVI_SETUP_WIZARD_SCRIPT=" + Quote(script) + " " + Quote(program.string()) +
                 " >/dev/null 2>&1");
    });
    if (!fs::exists(wizardMachine / "opt/ORVI/Uninstall.dat")) {
      std::fprintf(stderr, "the wizard did not install\n");
      return 1;
    }
    fs::remove_all(silentMachine);
    fs::remove_all(wizardMachine);
  }
  const double silent = bench::BestTiming("silent").wall, wizard = bench::BestTiming("wizard").wall;
  const double installRatio = wizard / silent;
  std::printf("install: through the wizard %.3f s (cpu %.3f s), silent %.3f s (cpu %.3f s); ratio %.3f (limit 1.05)\n",
              wizard, bench::BestTiming("wizard").cpu, silent, bench::BestTiming("silent").cpu, installRatio);

  server.reset();
  fs::remove_all(work);
  return startupRatio <= 1.5 && installRatio <= 1.05 ? 0 : 1;
}
