// The program's entry: decides how this process runs (relaunch elevated,
// move the uninstaller out of its folder, silent run or wizard), runs it, and
// is the one place where errors that escape everything are shown.
#pragma once

#include "setup/core/front_end.h"

namespace setup {

// The process exit status of a setup run.
enum TSetupExitCode : int {
  secSuccess = 0,
  secFailed = 1,            // an error was shown
  secAbortedByUser = 2,     // the user stopped the run or chose Abort
  secElevationRefused = 3,  // the user refused the elevation prompt
};

// Runs the setup with the process's command line and returns the exit
// status. The product description class must be registered first.
int RunSetup(ISetupFrontEnd& frontEnd);

}  // namespace setup
