#include "setup/core/active_x.h"

#include <cstdint>
#include <cstring>

#include "kel/base/shell.h"
#include "kel/platform/file_details.h"
#include "kel/platform/filesystem.h"

namespace setup {

void TSetupActiveX::CallExport(const std::string& libraryPath, const std::string& exportName) {
  if (!kel::platform::OnlyAdministratorMayChange(kel::platform::AbsolutePath(libraryPath))) return;
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
