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

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "setup/package/package.h"

namespace fs = std::filesystem;

namespace {

// Runs a shell command, stopping the benchmark when it fails.
void Run(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status != 0) {
    std::cerr << "failed (" << status << "): " << command << "\n";
    std::exit(1);
  }
}

// Runs it as one measurement of `name`; its wall and CPU seconds.
bench::Timing Measure(const std::string& name, const std::string& command) {
  const double wall = bench::WallSeconds();
  const double cpu = bench::MeasureBest(name, true, [&] { Run(command); });
  return {bench::WallSeconds() - wall, cpu};
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A payload of real-world files: shared libraries and programs (binaries)
// and documents (text), in turns, copied flat under unique names until
// `bytes` are reached.
std::vector<std::string> MakePayload(const fs::path& folder, uintmax_t bytes) {
  fs::create_directories(folder);
  std::vector<std::string> names;
  uintmax_t total = 0;
  int index = 0;
  bool takeText = false;
  const std::vector<fs::path> binaries = bench::SystemFiles({"/usr/lib/x86_64-linux-gnu", "/usr/bin"}, 1, 8u << 20);
  const std::vector<fs::path> texts = bench::SystemFiles({"/usr/share/doc", "/usr/share/common-licenses"}, 1, 8u << 20);
  size_t nextBinary = 0, nextText = 0;
  while (total < bytes && (nextBinary < binaries.size() || nextText < texts.size())) {
    takeText = !takeText;
    const bool text = takeText ? nextText < texts.size() : nextBinary >= binaries.size();
    const fs::path& source = text ? texts[nextText++] : binaries[nextBinary++];
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "f%05d_", index++);
    const std::string name = prefix + source.filename().string();
    std::error_code error;
    fs::copy_file(source, folder / name, fs::copy_options::overwrite_existing, error);
    if (error) continue;
    total += fs::file_size(folder / name);
    names.push_back(name);
  }
  std::cout << "payload: " << names.size() << " files, " << total / 1000000.0 << " MB\n";
  return names;
}

}  // namespace

int main(int argc, char** argv) {
  const uintmax_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 150;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const fs::path bin = ORVI_BINARY_DIR;
  const std::string setupProgram = (bin / "src/setup/program/Setup").string();
  const std::string pack = (bin / "tools/setup-pack/setup-pack").string();
  char pattern[] = "/tmp/orvi-bench-install-XXXXXX";
  const fs::path work = mkdtemp(pattern);

  // The product: the payload, and a script that installs every file of it.
  const std::vector<std::string> names = MakePayload(work / "payload", megabytes * 1000000);
  fs::create_directories(work / "setup");
  for (const auto& entry : fs::directory_iterator(fs::path(ORVI_SOURCE_DIR) / "data/demo/setup"))
    if (entry.path().filename() != "Install.xml") fs::copy_file(entry.path(), work / "setup" / entry.path().filename());
  {
    std::ofstream script(work / "setup/Install.xml");
    script << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Setup><setup><license><File name=\"License_EN.rtf\"/>"
              "</license></setup><product><Settings>\n"
              "<P name=\"ProductName\" value=\"ORVI\"/><P name=\"ProductVersion\" value=\"5.30\"/>"
              "<P name=\"ProductVersionId\" value=\"5300\"/><P name=\"ProductVersionNo\" value=\"5.30.0.1\"/>"
              "<P name=\"Publisher\" value=\"Bench\"/><P name=\"HomePage\" value=\"https://orvi-player.example/\"/>\n"
              "</Settings><Components>\n";
    for (const std::string& name : names) script << "<File name=\"$DESTdata/" << name << "\"/>\n";
    script << "</Components></product></Setup>\n";
  }
  Run(Quote(pack) + " create " + Quote((work / "SETUP.dat").string()) + " " + Quote((work / "setup").string()) +
          " >/dev/null");
  Run(Quote(pack) + " create " + Quote((work / "PRODUCT.dat").string()) + " --level 4 " +
          Quote((work / "payload").string()) + " >/dev/null");
  Run(Quote(pack) + " attach " + Quote(setupProgram) + " " + Quote((work / "Setup").string()) + " --setup " +
          Quote((work / "SETUP.dat").string()) + " --product " + Quote((work / "PRODUCT.dat").string()) +
          " >/dev/null");

  // The reference: the same files as a tar, compressed with the same
  // settings.
  const std::string xz = bench::XzRawOptions(setup::SetupPackageLzmaSettings(4));
  Run("tar -cf " + Quote((work / "payload.tar").string()) + " -C " + Quote((work / "payload").string()) + " .");
  Run("xz " + xz + " -c " + Quote((work / "payload.tar").string()) + " > " +
          Quote((work / "payload.tar.lzma").string()));

  // A silent installation into a new machine, with the arguments after the
  // switches.
  const auto install = [&](const std::string& name, int round, const std::string& more) {
    const fs::path machine = work / ("machine" + std::to_string(round));
    fs::create_directories(machine / "var/log");
    const bench::Timing timing =
        Measure(name, "ORVI_SETUP_SANDBOX=" + Quote(machine.string()) + " DISPLAY= " +
                          Quote((work / "Setup").string()) + " /AUTO=/opt/ORVI /SILENT" + more);
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
