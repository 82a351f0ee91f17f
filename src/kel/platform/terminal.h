// Whether the program's standard streams are attached to a terminal, and how
// wide it is.
//
// Result contract: answers false (or 0) whenever the system cannot tell (a
// closed stream, a file, a pipe). Never throws.
#pragma once

#include <cstdint>

namespace kel::platform {

enum class StandardStream : uint8_t { Input, Output, Error };

// True when the stream is connected to an interactive terminal.
bool IsTerminal(StandardStream stream);

// The number of columns of the terminal the stream is connected to; 0 when
// it is none or the terminal does not tell.
int TerminalColumns(StandardStream stream);

}  // namespace kel::platform
