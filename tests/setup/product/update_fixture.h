// A sandbox machine with an earlier installation of the player and a setup
// session over it, for the tests of preparing, updating and uninstalling.
#pragma once

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kel/platform/process.h"
#include "setup/core/session.h"
#include "support/session_fixture.h"
#include "support/temp_dir.h"
#include "support/testlib/environment.h"

namespace orvi::test {

// ORVI 5.30 (5300) with a few components: the player, a skin and a readme
// per language family.
inline std::string OrviInstallXml() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Setup>\n<setup></setup>\n<product>\n<Settings>\n"
         "<P name=\"ProductName\" value=\"ORVI\"/>\n<P name=\"ProductVersion\" value=\"5.30\"/>\n"
         "<P name=\"ProductVersionId\" value=\"5300\"/>\n<P name=\"ProductVersionNo\" value=\"5.30.0.1\"/>\n"
         "<P name=\"BuildDate\" value=\"2025-06-02\"/>\n<P name=\"Publisher\" value=\"Larkspur Media Works\"/>\n"
         "<P name=\"HomePage\" value=\"https://orvi-player.example/\"/>\n</Settings>\n"
         "<Components>\n<File name=\"$DESTORVI\">ORVI</File>\n<File name=\"$DESTSkins/Aurora.orvi-skin\"/>\n"
         "<File name=\"$DESTReadme.txt\" lang-family=\"EN\">Readme_EN.txt</File>\n"
         "<File name=\"$DESTReadme.txt\" lang-family=\"RU\">Readme_RU.txt</File>\n</Components>\n"
         "</product>\n</Setup>\n";
}

// English texts with the setup page's keys besides the engine's.
inline std::string OrviEnglishLng() {
  return MinimalEnglishLng() +
         "[PageSetup]\r\nTitle=Options\r\nLB1=Folder\r\nCB1=Update\r\nCB2=Install\r\nCB3=Portable\r\nCB4=Backup\r\n"
         "W3=Replaces\r\n";
}

struct ProductSessionSpec {
  std::string params;            // "/AUTO=/opt/ORVI /SILENT" and the like
  int installedVersion = 0;      // what the destination's ORVI.ini says
  bool canUpdate = false;
  bool portableInstallation = false;
  PackageFiles productFiles;     // the PRODUCT package (Uninstall.ini for the uninstaller)
};

// The session of the test product (TTestProduct answers the installed
// version) named ORVI 5.30, in a sandbox with the users alice (uid 1000, the
// one who started the setup), bob (1001) and carol (1002).
class ProductSession {
 public:
  explicit ProductSession(const ProductSessionSpec& spec) : reset_(Configure(spec)), fixture_(MakeSpec(spec)) {
    Machine().AddAccount("alice", 1000, "/home/alice", "/bin/bash", true);
    Machine().AddAccount("bob", 1001, "/home/bob", "/bin/bash", true);
    Machine().AddAccount("carol", 1002, "/home/carol", "/bin/bash", true);
    sudo_.emplace("SUDO_UID", "1000");
  }
  ~ProductSession() = default;

  setup::TSetup& Session() { return fixture_.Session(); }
  const Sandbox& Machine() const { return fixture_.Machine(); }
  // The sandbox path of an absolute machine path.
  std::string operator/(const std::string& path) const { return Machine() / path; }
  std::string Dest() { return Session().DestPath(); }
  // Writes a file below the destination.
  std::string WriteDest(const std::string& relative, const std::string& bytes) {
    const std::string path = Dest() + relative;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFileBytes(path, bytes);
    return path;
  }

 private:
  // Resets the test product's answers when the test ends.
  struct Reset {
    ~Reset() {
      TTestProduct::Actions.clear();
      TTestProduct::installedVersion = 0;
      TTestProduct::canUpdate = false;
      TTestProduct::portable = false;
    }
  };
  static Reset Configure(const ProductSessionSpec& spec) {
    TTestProduct::installedVersion = spec.installedVersion;
    TTestProduct::canUpdate = spec.canUpdate;
    TTestProduct::portable = spec.portableInstallation;
    return {};
  }
  static SessionSpec MakeSpec(const ProductSessionSpec& spec) {
    SessionSpec session;
    session.installXml = OrviInstallXml();
    session.englishLng = OrviEnglishLng();
    session.productFiles = spec.productFiles;
    session.params = spec.params;
    return session;
  }

  Reset reset_;
  SessionFixture fixture_;
  std::optional<ScopedEnv> sudo_;
};

// Every file below the folder, relative to it, sorted; folders that are
// empty end with '/'.
inline std::vector<std::string> TreeOf(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> entries;
  if (!fs::exists(folder)) return entries;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    const std::string relative = it->path().lexically_relative(folder).string();
    if (it->is_symlink()) {
      entries.push_back(relative + "@");
      it.disable_recursion_pending();
    } else if (it->is_regular_file()) {
      entries.push_back(relative);
    } else if (it->is_directory() && fs::is_empty(it->path())) {
      entries.push_back(relative + "/");
    }
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// Runs a program of the system (unzip, zip) and returns its exit code.
inline int RunTool(const std::string& program, const std::vector<std::string>& arguments) {
  return kel::platform::RunProgram(program, arguments);
}

// The archive extracted by the system's unzip into a new folder, or null
// when unzip fails.
inline std::unique_ptr<TempDir> Unzipped(const std::string& archive) {
  auto folder = std::make_unique<TempDir>();
  if (RunTool("unzip", {"-qq", "-o", archive, "-d", folder->Path()}) != 0) return nullptr;
  return folder;
}

}  // namespace orvi::test
