// A stand-in for the old shell-menu extension of the player: a shared
// library with a self-unregistration export. Tests copy it into fixture
// installations under the extension's names; each call of the export
// appends a line to the file named by ORVI_TEST_SHELL_MENU_LOG (when set),
// so that a test can see the call even when another process made it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" {

__attribute__((visibility("default"))) int32_t DllUnregisterServer() {
  if (const char* log = std::getenv("ORVI_TEST_SHELL_MENU_LOG")) {
    if (std::FILE* file = std::fopen(log, "a")) {
      std::fputs("DllUnregisterServer\n", file);
      std::fclose(file);
    }
  }
  return 0;
}

}  // extern "C"
