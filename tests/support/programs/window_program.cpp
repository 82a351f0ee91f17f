// A stand-in for a program of the product family, in a process of its own:
// it shows one top-level window of the class it is given and, once that
// window has been asked to close and is gone, takes a while longer to end,
// as a program does that saves its settings on the way out. Just before it
// ends it creates the marker file, so that a test can tell whether it had
// ended by some point.
//
//   orvi_window_program CLASS EXIT_DELAY_MS MARKER
//
// Exit code 0 after a close request; 1 when the display is lost or cannot
// be reached, or no request came within a minute (no marker then).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "support/x_display.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s CLASS EXIT_DELAY_MS MARKER\n", argv[0]);
    return 2;
  }
  const char* display = std::getenv("DISPLAY");
  orvi::test::TestWindowOptions options;
  options.className = argv[1];
  {
    orvi::test::TestWindow window(display != nullptr ? display : "", options);
    if (window.Id() == 0) return 1;
    if (!orvi::test::WaitFor([&] { return !window.Open(); }, 60000) || window.ConnectionLost()) return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
  std::ofstream(argv[3]) << "ended\n";
  return 0;
}
