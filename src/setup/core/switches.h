// The switches the program knows, and the check that its command line holds
// nothing else. On Linux a path looks like a switch ("/opt/X" reads as the
// switch "opt"): an argument the program would silently ignore must stop
// the run instead, before anything is done.
#pragma once

#include <string>
#include <string_view>

namespace setup {

// Raises EInstallerMysteryError naming the first argument of `params` (the
// parameter text of GetCommandLineParams) that the program does not read,
// with the form it takes. Accepted are, ignoring case:
//   - the switches AUTO (with a folder as its value), SILENT, PORTABLE,
//     UPDATE, RUN, NOBACKUP and LOG (with a file as its value), the
//     uninstaller's REMOVEBACKUPS and REMOVECONTENT, and the switches the
//     program gives its own copies, SKIPUAC and PATH (with values);
//   - words after AUTO, LOG, SKIPUAC or PATH written without "=", which the
//     command line gives that switch as its value ("/AUTO My Folder").
// Refused are other switches ("/opt/X"), values of switches that take none
// ("/SILENT=no"), and words that no switch takes ("relorvi /AUTO",
// "/AUTO /SILENT relorvi", "/AUTO=/opt/My Folder").
void CheckCommandLine(const std::string& params);

// Whether an argument asks for the list of switches: --help, -h or /?
// (ignoring case), wherever it stands.
bool IsHelpRequest(const std::string& params);
// What the program `program` (its file name) shows for --help: the forms of
// its command line, each switch with its meaning, the exit statuses.
std::string SwitchesHelp(const std::string& program);

// The parameters with the switch `name` (the first one, with the words that
// were its value) written as "/NAME=value" and any further ones left out;
// with an empty `value` the switch is left out altogether. The other
// arguments stay as they were.
std::string ReplaceSwitch(const std::string& params, std::string_view name, const std::string& value);

}  // namespace setup
