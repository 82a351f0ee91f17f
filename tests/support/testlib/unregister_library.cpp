// A shared library with a self-unregistration export, loaded at run time by
// the tests of the code that calls such exports. It counts the calls; a test
// that keeps the library loaded itself can read the count afterwards.
#include <cstdint>

namespace {
int32_t calls = 0;
}

extern "C" {

__attribute__((visibility("default"))) int32_t DllUnregisterServer() {
  ++calls;
  return 0;
}

__attribute__((visibility("default"))) int32_t TestUnregisterCalls() { return calls; }

}  // extern "C"
