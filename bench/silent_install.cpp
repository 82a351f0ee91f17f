// A silent installation of a ~150 MB product, side by side in one run with
// the standard tools doing the same unpacking: `xz -d` of a raw LZMA1 stream
// with the package's level-4 settings, piped into `tar -x`.
//
// The setup's run includes everything a real one does: reading and checking
// both packages, closing running players, extracting, the uninstaller, the
// uninstall log and the registry entry. Each side runs three times in turns;
// the best wall time of each is compared.
//
//   build-bench/bench/bench_silent_install [megabytes]
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
  char pattern[] = "/tmp/orvi-bench-install-XXXXXX";
  const fs::path work = mkdtemp(pattern);
  const fs::path program = bench::MakePayloadSetup(work, megabytes);

  // The reference: the same files as a tar, compressed with the same
  // settings.
  const std::string xz = bench::XzRawOptions(setup::SetupPackageLzmaSettings(4));
  bench::Run("tar -cf " + Quote((work / "payload.tar").string()) + " -C " + Quote((work / "payload").string()) + " .");
  bench::Run("xz " + xz + " -c " + Quote((work / "payload.tar").string()) + " > " +
             Quote((work / "payload.tar.lzma").string()));

  for (int round = 0; round < 3; ++round) {
    const fs::path machine = work / ("machine" + std::to_string(round));
    fs::create_directories(machine);
    const bench::Timing setup = Measure("setup", "ORVI_SETUP_SANDBOX=" + Quote(machine.string()) + " DISPLAY= " +
                                 Quote(program.string()) + " /AUTO=/opt/ORVI /SILENT");
    const fs::path target = work / ("reference" + std::to_string(round));
    fs::create_directories(target);
    const bench::Timing reference = Measure("reference", "xz -d " + xz + " < " + Quote((work / "payload.tar.lzma").string()) +
                                     " | tar -x -C " + Quote(target.string()));
    std::printf("round %d: setup %.3f s (cpu %.3f s), xz -d | tar -x %.3f s (cpu %.3f s)\n", round + 1, setup.wall,
                setup.cpu, reference.wall, reference.cpu);
    fs::remove_all(machine);
    fs::remove_all(target);
  }
  const bench::Timing bestSetup = bench::gTimings["setup"], bestReference = bench::gTimings["reference"];
  std::printf("best: setup %.3f s, xz -d | tar -x %.3f s; ratio %.2f (wall), %.2f (cpu)\n", bestSetup.wall,
              bestReference.wall, bestSetup.wall / bestReference.wall, bestSetup.cpu / bestReference.cpu);
  fs::remove_all(work);
  return 0;
}
