// A pause at a named point of the program's work, for tests that must act
// at that moment (a folder swapped for a link while the backup runs). It is
// a testing aid only: the program pauses only in the sandbox, and only when
// the test asks for it with
//
//   ORVI_SETUP_TEST_PAUSE=<point>:<named pipe>
//
// On reaching the point the program opens the pipe for reading, which wakes
// the test waiting to open it for writing, and goes on once the test has
// closed its end. A run outside the sandbox never pauses.
//
// Result contract: nothing throws; a pipe that cannot be opened means no
// pause.
#pragma once

#include <string_view>

namespace kel::platform {

inline constexpr const char* kTestPauseVariable = "ORVI_SETUP_TEST_PAUSE";

void PauseForTest(std::string_view point);

}  // namespace kel::platform
