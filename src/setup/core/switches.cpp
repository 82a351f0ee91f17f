#include "setup/core/switches.h"

#include <string_view>
#include <vector>

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
    {"AUTO", true},      {"SILENT", false},        {"PORTABLE", false},      {"UPDATE", false},
    {"RUN", false},      {"NOBACKUP", false},      {"REMOVEBACKUPS", false}, {"REMOVECONTENT", false},
    {"LOG", true},       {"SKIPUAC", true},        {"PATH", true},
};

// One argument as the command line reads it: a switch can only begin an
// argument, so each gives at most one command.
struct TArgument {
  std::string Text;
  bool IsEmpty = false;    // an empty argument: no command at all
  std::string SwitchName;  // "" for a word
  bool HasValue = false;   // a switch with a value of its own ("/SILENT=no")
};

TArgument ReadArgument(const std::string& text) {
  const std::string alone[] = {text};
  const kel::TCommands commands = kel::ParseParams(kel::kelJoinCommandLine(alone));
  TArgument argument{text};
  argument.IsEmpty = commands.IsEmpty();
  if (!argument.IsEmpty) {
    argument.SwitchName = commands[0].Name;
    argument.HasValue = !commands[0].IsEmpty();
  }
  return argument;
}

// Whether the switch takes the words after it as its value: it takes a
// value and was written without "=".
bool TakesWords(const TArgument& argument, bool takesValue) {
  return takesValue && argument.Text.find('=') == std::string::npos;
}

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
      "Unknown argument \"%s\". The switches are /AUTO[=folder], /SILENT, /PORTABLE, /UPDATE, /RUN, /NOBACKUP and "
      "/LOG[=file], the uninstaller's also /REMOVEBACKUPS and /REMOVECONTENT; --help tells what they do.",
      {argument}));
}

}  // namespace

void CheckCommandLine(const std::string& params) {
  bool takesWords = false;  // the switch before takes the following words as its value
  for (const std::string& text : kel::kelSplitCommandLine(params)) {
    const TArgument argument = ReadArgument(text);
    if (argument.IsEmpty) continue;
    if (argument.SwitchName.empty()) {
      if (!takesWords) Refuse(text, true);
      continue;
    }
    const TSwitch* known = FindSwitch(argument.SwitchName);
    if (!known) Refuse(text, text.find('/', 1) != std::string::npos);
    if (!known->TakesValue && argument.HasValue) Refuse(text, false);
    takesWords = TakesWords(argument, known->TakesValue);
  }
}

bool IsHelpRequest(const std::string& params) {
  for (const std::string& argument : kel::kelSplitCommandLine(params))
    if (kel::kelSameTextAscii(argument, "--help") || kel::kelSameTextAscii(argument, "-h") || argument == "/?")
      return true;
  return false;
}

std::string SwitchesHelp(const std::string& program) {
  return kel::kelFormat(
      "Usage: %s [/AUTO[=FOLDER]] [/SILENT] [/PORTABLE] [/UPDATE] [/RUN] [/NOBACKUP] [/LOG[=FILE]]\n"
      "As the uninstaller (Uninstall in the installation folder):\n"
      "       Uninstall [/AUTO] [/SILENT] [/REMOVEBACKUPS] [/REMOVECONTENT] [/LOG[=FILE]]\n"
      "\n"
      "  /AUTO[=FOLDER]  unattended: no questions; installs into FOLDER (default: the existing\n"
      "                  installation, else the product's folder below /opt/); uninstalls without asking\n"
      "  /SILENT         with /AUTO: no window and no progress output at all\n"
      "  /PORTABLE       with /AUTO: a portable copy (no registry entry, no desktop integration)\n"
      "  /UPDATE         with /AUTO: insist on updating the installation in FOLDER\n"
      "  /RUN            with /AUTO /UPDATE: start the player after the update\n"
      "  /NOBACKUP       with /AUTO: no backup archive of the earlier installation\n"
      "  /REMOVEBACKUPS  uninstaller: also remove the backups of earlier versions (done anyway with /AUTO)\n"
      "  /REMOVECONTENT  uninstaller: also remove the players' data and every user's ORVI settings\n"
      "  /LOG[=FILE]     write a log of the run to FILE (default: a new file in the temporary\n"
      "                  folder, %s-DATE-TIME.log, whose path is shown)\n"
      "  --help, -h, /?  show this text\n"
      "\n"
      "Switches start with / or -, ignore case, and take a value after \"=\" (quoted when it holds spaces).\n"
      "Exit status: 0 done, 1 failed, 2 stopped by the user, 3 administrator rights refused.\n",
      {program, program});
}

std::string ReplaceSwitch(const std::string& params, std::string_view name, const std::string& value) {
  std::vector<std::string> kept;
  bool replaced = false;
  bool dropping = false;  // the words that follow are the value of a switch left out
  for (const std::string& text : kel::kelSplitCommandLine(params)) {
    const TArgument argument = ReadArgument(text);
    if (dropping && argument.SwitchName.empty()) continue;
    dropping = false;
    if (argument.IsEmpty || !kel::kelSameText(argument.SwitchName, name)) {
      kept.push_back(text);
      continue;
    }
    const TSwitch* known = FindSwitch(name);
    dropping = TakesWords(argument, known && known->TakesValue);
    if (!replaced && !value.empty()) kept.push_back("/" + std::string(name) + "=" + value);
    replaced = true;
  }
  return kel::kelJoinCommandLine(kept);
}

}  // namespace setup
