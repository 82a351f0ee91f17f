// Whether the program's standard streams are attached to a terminal.
//
// Result contract: answers false whenever the system cannot tell (a closed
// stream, a file, a pipe). Never throws.
#pragma once

#include <cstdint>

namespace kel::platform {

enum class StandardStream : uint8_t { Input, Output, Error };

// True when the stream is connected to an interactive terminal.
bool IsTerminal(StandardStream stream);

}  // namespace kel::platform
