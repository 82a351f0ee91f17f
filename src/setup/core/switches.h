// The switches the program knows, and the check that its command line holds
// nothing else. On Linux a path looks like a switch ("/opt/X" reads as the
// switch "opt"): an argument the program would silently ignore must stop
// the run instead, before anything is done.
#pragma once

#include <string>

namespace setup {

// Raises EInstallerMysteryError naming the first argument of `params` (the
// parameter text of GetCommandLineParams) that the program does not read,
// with the form it takes. Accepted are, ignoring case:
//   - the switches AUTO (with a folder as its value), SILENT, PORTABLE,
//     UPDATE, RUN and NOBACKUP, the uninstaller's REMOVEBACKUPS and
//     REMOVECONTENT, and the switches the program gives its own copies,
//     SKIPUAC and PATH (with values);
//   - words after AUTO, SKIPUAC or PATH written without "=", which the
//     command line gives that switch as its value ("/AUTO My Folder").
// Refused are other switches ("/opt/X"), values of switches that take none
// ("/SILENT=no"), and words that no switch takes ("relorvi /AUTO",
// "/AUTO /SILENT relorvi", "/AUTO=/opt/My Folder").
void CheckCommandLine(const std::string& params);

}  // namespace setup
