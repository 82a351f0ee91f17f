// setup-pack: builds, lists, verifies and extracts setup packages and
// attaches them to the setup program. See `setup-pack --help`.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "commands.h"

namespace setup_pack {
namespace {

constexpr const char* kUsage = R"(Usage: setup-pack COMMAND [ARGUMENTS]

Builds and checks setup packages and makes ready setup programs.

Commands:
  create OUT.dat [--level N] DIR   package every file below DIR
  list PKG                         show the names and sizes of a package's files
  verify PKG                       check that a package opens and is intact
  extract PKG DIR [NAME...]        write the files of a package below DIR
  attach SETUP_PROGRAM OUT --setup SETUP.dat --product PRODUCT.dat [--resource NAME=FILE]...
                                   write a setup program that carries the packages

Run 'setup-pack COMMAND --help' for the details of a command.
Exit codes: 0 success, 1 the work failed, 2 wrong arguments.
)";

struct Command {
  const char* name;
  const char* help;
  std::set<std::string> valueOptions;  // options that take a value
};

const std::vector<Command> kCommands = {
    {"create", R"(Usage: setup-pack create OUT.dat [--level N] DIR

Writes the package OUT.dat holding every file below the folder DIR. Each file
is stored under its path relative to DIR with '\' between folder names
("Plugins\Audio\out.so"), in the byte order of those names, so the same
folder always gives the same package. Empty folders are not stored; links to
folders are not followed. Names that differ only in case are stored, but
only the first is found by name (a warning says so).

Options:
  --level N   LZMA compression level, 0 (fastest) to 9; the default is 4,
              the level the setup program itself writes packages with.
)",
     {"level"}},
    {"list", R"(Usage: setup-pack list PKG

Opens the package PKG and prints the size and name of each file, in the
order they are stored, and the totals.
)",
     {}},
    {"verify", R"(Usage: setup-pack verify PKG

Opens the package PKG and checks it completely: decoding, length, checksum
and file table. Exits with 0 when it is intact; otherwise prints the reason
(for example "Package was corrupted") and exits with 1.
)",
     {}},
    {"extract", R"(Usage: setup-pack extract PKG DIR [NAME...]

Writes the files of the package PKG below the folder DIR (created when
missing), or only the files NAME... (found ignoring case, '\' between folder
names). Where several files have the same name ignoring case, the first is
extracted, as the setup program would. Names that would lead outside DIR
("..\x", "\x", "C:\x") are refused before anything is written, and so are
two names written to one file ("a\b" and "a/b": '/' separates folders too)
or to a file and a folder of one path ("a" and "a\b").
)",
     {}},
    {"attach", R"(Usage: setup-pack attach SETUP_PROGRAM OUT --setup SETUP.dat --product PRODUCT.dat
                         [--resource NAME=FILE]...

Writes OUT, a copy of the setup program SETUP_PROGRAM that carries SETUP.dat
as its resource SETUP and PRODUCT.dat as its resource PRODUCT: a setup
program ready to ship. Both packages are verified first. Resources that
SETUP_PROGRAM already carries are replaced, not kept. OUT gets the
permissions of SETUP_PROGRAM (it stays executable).

Options:
  --setup FILE          the setup package: Install.xml, the language files,
                        the wizard's images and licence texts
  --product FILE        the product package: the files to install
  --resource NAME=FILE  a further named resource; repeat it for several.
                        The wizard's skins go here (src/kel/ui/skins/ has
                        the default ones); they are checked first, like
                        the packages:
                          --resource KELDEFAULTSKIN=default.skin
                          --resource KELDEFAULTSKIN_DARK=default_dark.skin
)",
     {"setup", "product", "resource"}},
};

struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> options;
  bool help = false;
};

Arguments Parse(const Command& command, const std::vector<std::string>& args) {
  Arguments parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      parsed.positional.insert(parsed.positional.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      const size_t equals = arg.find('=');
      const std::string name = arg.compare(0, 2, "--") == 0 ? arg.substr(2, equals - std::min(equals, size_t(2))) : "";
      if (command.valueOptions.count(name) == 0) throw EUsageError("unknown option '" + arg + "' for " + command.name);
      if (equals != std::string::npos) {
        parsed.options[name].push_back(arg.substr(equals + 1));
      } else {
        if (i + 1 >= args.size()) throw EUsageError("option --" + name + " needs a value");
        parsed.options[name].push_back(args[++i]);
      }
      continue;
    }
    parsed.positional.push_back(arg);
  }
  return parsed;
}

void ExpectPositional(const Arguments& args, size_t least, size_t most, const char* what) {
  if (args.positional.size() < least || args.positional.size() > most)
    throw EUsageError(std::string("expected ") + what);
}

std::string Single(const Arguments& args, const std::string& option, bool required) {
  const auto found = args.options.find(option);
  if (found == args.options.end()) {
    if (required) throw EUsageError("missing --" + option);
    return {};
  }
  if (found->second.size() > 1) throw EUsageError("--" + option + " is given more than once");
  return found->second.front();
}

int RunCommand(const Command& command, const Arguments& args) {
  const std::string name = command.name;
  if (name == "create") {
    ExpectPositional(args, 2, 2, "OUT.dat and DIR");
    int level = 4;
    const std::string text = Single(args, "level", false);
    if (!text.empty() || args.options.count("level") != 0) {
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), level);
      if (error != std::errc() || end != text.data() + text.size() || level < 0 || level > 9)
        throw EUsageError("--level takes a number from 0 to 9, not '" + text + "'");
    }
    return Create(args.positional[0], args.positional[1], level);
  }
  if (name == "list") {
    ExpectPositional(args, 1, 1, "one package");
    return List(args.positional[0]);
  }
  if (name == "verify") {
    ExpectPositional(args, 1, 1, "one package");
    return Verify(args.positional[0]);
  }
  if (name == "extract") {
    ExpectPositional(args, 2, SIZE_MAX, "PKG and DIR, then optional names");
    return Extract(args.positional[0], args.positional[1],
                   std::vector<std::string>(args.positional.begin() + 2, args.positional.end()));
  }
  ExpectPositional(args, 2, 2, "SETUP_PROGRAM and OUT");
  std::vector<std::pair<std::string, std::string>> resources;
  const auto found = args.options.find("resource");
  if (found != args.options.end()) {
    for (const std::string& pair : found->second) {
      const size_t equals = pair.find('=');
      if (equals == std::string::npos || equals == 0 || equals + 1 == pair.size())
        throw EUsageError("--resource takes NAME=FILE, not '" + pair + "'");
      resources.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
    }
  }
  return Attach(args.positional[0], args.positional[1], Single(args, "setup", true), Single(args, "product", true),
                resources);
}

int Main(const std::vector<std::string>& args, std::string& commandName) {
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    if (args.size() > 1) {
      for (const Command& command : kCommands)
        if (args[1] == command.name) return std::fputs(command.help, stdout), 0;
    }
    std::fputs(kUsage, stdout);
    return 0;
  }
  for (const Command& command : kCommands) {
    if (args[0] != command.name) continue;
    commandName = command.name;
    const Arguments parsed = Parse(command, std::vector<std::string>(args.begin() + 1, args.end()));
    if (parsed.help) return std::fputs(command.help, stdout), 0;
    return RunCommand(command, parsed);
  }
  throw EUsageError("unknown command '" + args[0] + "'");
}

}  // namespace
}  // namespace setup_pack

int main(int argc, char** argv) {
  std::string command;
  try {
    return setup_pack::Main(std::vector<std::string>(argv + 1, argv + argc), command);
  } catch (const setup_pack::EUsageError& e) {
    std::fprintf(stderr, "setup-pack: %s\nTry 'setup-pack %s%s--help'.\n", e.what(), command.c_str(),
                 command.empty() ? "" : " ");
    return 2;
  } catch (const kel::Exception& e) {
    std::fprintf(stderr, "setup-pack: %s\n", e.what());
  } catch (const std::filesystem::filesystem_error& e) {
    std::string paths;
    if (!e.path1().empty()) paths += " \"" + e.path1().string() + "\"";
    if (!e.path2().empty()) paths += " \"" + e.path2().string() + "\"";
    std::fprintf(stderr, "setup-pack:%s: %s\n", paths.c_str(), e.code().message().c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "setup-pack: out of memory\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "setup-pack: %s\n", e.what());
  }
  return 1;
}
