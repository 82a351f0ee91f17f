#include "setup/core/switches.h"

#include <string_view>

#include "kel/base/command_line.h"
#include "kel/base/format.h"
#include "kel/base/text.h"
#include "setup/core/errors.h"

namespace setup {

namespace {

struct TSwitch {
  std::string_view Name;
  bool TakesValue;
};

constexpr TSwitch kSwitches[] = {
    {"AUTO", true},   {"SILENT", false}, {"PORTABLE", false},      {"UPDATE", false},
    {"RUN", false},   {"NOBACKUP", false}, {"REMOVEBACKUPS", false}, {"REMOVECONTENT", false},
    {"SKIPUAC", true}, {"PATH", true},
};

const TSwitch* FindSwitch(std::string_view name) {
  for (const TSwitch& item : kSwitches)
    if (kel::kelSameText(item.Name, name)) return &item;
  return nullptr;
}

// A folder where a switch was expected ("/opt/X", "relorvi") is shown as the
// value of AUTO, quoted for the shell when it needs it; anything else with
// the list of switches.
[[noreturn]] void Refuse(const std::string& argument, bool looksLikeFolder) {
  if (looksLikeFolder) {
    const std::string form[] = {"/AUTO=" + argument};
    throw EInstallerMysteryError(kel::kelFormat(
        "Unknown argument \"%s\". A folder is given as the value of /AUTO, quoted when it holds spaces: %s",
        {argument, kel::kelJoinCommandLine(form)}));
  }
  throw EInstallerMysteryError(kel::kelFormat(
      "Unknown argument \"%s\". The switches are /AUTO[=folder], /SILENT, /PORTABLE, /UPDATE, /RUN and /NOBACKUP; "
      "the uninstaller's also /REMOVEBACKUPS and /REMOVECONTENT.",
      {argument}));
}

}  // namespace

void CheckCommandLine(const std::string& params) {
  // Argument by argument, each read as the command line reads it: a switch
  // can only begin an argument, so each gives at most one command.
  bool takesWords = false;  // the switch before takes the following words as its value
  for (const std::string& argument : kel::kelSplitCommandLine(params)) {
    const std::string alone[] = {argument};
    const kel::TCommands commands = kel::ParseParams(kel::kelJoinCommandLine(alone));
    if (commands.IsEmpty()) continue;  // an empty argument
    const kel::TCommand& command = commands[0];
    if (command.Name.empty()) {
      if (!takesWords) Refuse(argument, true);
      continue;
    }
    const TSwitch* known = FindSwitch(command.Name);
    if (!known) Refuse(argument, argument.find('/', 1) != std::string::npos);
    if (!known->TakesValue && !command.IsEmpty()) Refuse(argument, false);
    takesWords = known->TakesValue && argument.find('=') == std::string::npos;
  }
}

}  // namespace setup
