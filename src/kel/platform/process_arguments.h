// The arguments the running process was started with.
#pragma once

#include <string>
#include <vector>

namespace kel::platform {

// The process arguments as the program received them, argv[0] (the program
// as it was started) first. Empty when the system cannot tell. Never throws
// on the system's account.
std::vector<std::string> ProcessArguments();

}  // namespace kel::platform
