#include "setup/core/active_x.h"

#include <cstdint>
#include <cstring>

#include "kel/base/shell.h"

namespace setup {

void TSetupActiveX::CallExport(const std::string& libraryPath, const std::string& exportName) {
  kel::TKELModule library = kel::kelLoadLibrary(libraryPath, 0);
  if (!library) return;
  if (void* address = kel::kelGetProcAddress(library, exportName.c_str())) {
    using Export = int32_t (*)();
    Export function;
    static_assert(sizeof function == sizeof address);
    std::memcpy(&function, &address, sizeof function);
    function();
  }
  kel::kelFreeLibrary(library);
}

void TSetupActiveX::UnregisterServer(const std::string& libraryPath) { CallExport(libraryPath, "DllUnregisterServer"); }

}  // namespace setup
