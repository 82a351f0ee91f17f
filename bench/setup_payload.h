// What the benchmarks of whole setup runs share: shell commands, and a ready
// Setup that installs a payload of real-world files of a given size.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench_support.h"

namespace bench {

// Runs a shell command, stopping the benchmark when it fails.
inline void Run(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status != 0) {
    std::cerr << "failed (" << status << "): " << command << "\n";
    std::exit(1);
  }
}

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A payload of real-world files: shared libraries and programs (binaries)
// and documents (text), in turns, copied flat under unique names until
// `bytes` are reached.
inline std::vector<std::string> MakePayload(const std::filesystem::path& folder, uintmax_t bytes) {
  namespace fs = std::filesystem;
  fs::create_directories(folder);
  std::vector<std::string> names;
  uintmax_t total = 0;
  int index = 0;
  bool takeText = false;
  const std::vector<fs::path> binaries = SystemFiles({"/usr/lib/x86_64-linux-gnu", "/usr/bin"}, 1, 8u << 20);
  const std::vector<fs::path> texts = SystemFiles({"/usr/share/doc", "/usr/share/common-licenses"}, 1, 8u << 20);
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

// A ready Setup in `work` ("Setup") whose product is a payload of about
// `megabytes` (made in work/payload): the demo setup's files (languages,
// licences, pictures) and a script that installs every payload file into
// the destination's "data" folder.
inline std::filesystem::path MakePayloadSetup(const std::filesystem::path& work, uintmax_t megabytes) {
  namespace fs = std::filesystem;
  const fs::path bin = ORVI_BINARY_DIR;
  const std::string setupProgram = (bin / "src/setup/program/Setup").string();
  const std::string pack = (bin / "tools/setup-pack/setup-pack").string();
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
      Quote((work / "SETUP.dat").string()) + " --product " + Quote((work / "PRODUCT.dat").string()) + " >/dev/null");
  return work / "Setup";
}

}  // namespace bench
