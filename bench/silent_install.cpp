// A silent installation of a ~150 MB product, side by side in one run with
// the standard tools doing the same unpacking: `xz -d` of a raw LZMA1 stream
// with the package's level-4 settings, piped into `tar -x`; and the same
// installation writing a log of the run (/LOG), whose cost is the ratio of
// the two setup times.
//
// The setup's run includes everything a real one does: reading and checking
// both packages, closing running players, extracting, the uninstaller, the
// uninstall log and the registry entry. Each side runs three times (or as
// often as asked) in turns; the best wall time of each is compared.
//
//   build-bench/bench/bench_silent_install [megabytes [rounds]]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "setup/package/package.h"
#include "setup_payload.h"

namespace fs = std::filesystem;

namespace {

using bench::Quote;

// Runs it as one measurement of `name`; its wall and CPU seconds.
bench::Timing Measure(const std::string& name, const std::string& command) {
  const double wall = bench::WallSeconds();
  const double cpu = bench::MeasureBest(name, true, [&] { bench::Run(command); });
  return {bench::WallSeconds() - wall, cpu};
}

}  // namespace

int main(int argc, char** argv) {
  const uintmax_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 150;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  char pattern[] = "/tmp/orvi-bench-install-XXXXXX";
  const fs::path work = mkdtemp(pattern);
  const fs::path program = bench::MakePayloadSetup(work, megabytes);

  // The reference: the same files as a tar, compressed with the same
  // settings.
  const std::string xz = bench::XzRawOptions(setup::SetupPackageLzmaSettings(4));
  bench::Run("tar -cf " + Quote((work / "payload.tar").string()) + " -C " + Quote((work / "payload").string()) + " .");
  bench::Run("xz " + xz + " -c " + Quote((work / "payload.tar").string()) + " > " +
             Quote((work / "payload.tar.lzma").string()));

  // A silent installation into a new machine, with the arguments after the
  // switches.
  const auto install = [&](const std::string& name, int round, const std::string& more) {
    const fs::path machine = work / ("machine" + std::to_string(round));
    fs::create_directories(machine / "var/log");
    const bench::Timing timing =
        Measure(name, "ORVI_SETUP_SANDBOX=" + Quote(machine.string()) + " DISPLAY= " +
                          Quote(program.string()) + " /AUTO=/opt/ORVI /SILENT" + more);
    fs::remove_all(machine);
    return timing;
  };
  for (int round = 0; round < rounds; ++round) {
    const bench::Timing setup = install("setup", round, "");
    const bench::Timing logged = install("setup /LOG", round, " /LOG=/var/log/setup.log");
    const fs::path target = work / ("reference" + std::to_string(round));
    fs::create_directories(target);
    const bench::Timing reference = Measure("reference", "xz -d " + xz + " < " + Quote((work / "payload.tar.lzma").string()) +
                                     " | tar -x -C " + Quote(target.string()));
    std::printf("round %d: setup %.3f s (cpu %.3f s), with /LOG %.3f s (cpu %.3f s), xz -d | tar -x %.3f s (cpu %.3f s)\n",
                round + 1, setup.wall, setup.cpu, logged.wall, logged.cpu, reference.wall, reference.cpu);
    fs::remove_all(target);
  }
  const bench::Timing bestSetup = bench::gTimings["setup"], bestLogged = bench::gTimings["setup /LOG"],
                      bestReference = bench::gTimings["reference"];
  std::printf("best: setup %.3f s, xz -d | tar -x %.3f s; ratio %.2f (wall), %.2f (cpu)\n", bestSetup.wall,
              bestReference.wall, bestSetup.wall / bestReference.wall, bestSetup.cpu / bestReference.cpu);
  std::printf("best with /LOG: %.3f s; with / without /LOG %.3f (wall), %.3f (cpu)\n", bestLogged.wall,
              bestLogged.wall / bestSetup.wall, bestLogged.cpu / bestSetup.cpu);
  fs::remove_all(work);
  return 0;
}
