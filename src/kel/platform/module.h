// The running program's own file.
#pragma once

#include <string>

namespace kel::platform {

// Full path of the running executable; empty when the system cannot tell.
std::string ExecutablePath();

}  // namespace kel::platform
