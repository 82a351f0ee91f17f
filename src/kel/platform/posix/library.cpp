// POSIX implementation of run-time loaded libraries (dlopen). Only
// operating-system code lives here.
#include "kel/platform/library.h"

#include <dlfcn.h>

namespace kel::platform {

LibraryHandle LoadLibrary(const std::string& path, std::string* error) {
  if (path.empty()) {
    if (error) *error = "No library file was given.";
    return nullptr;
  }
  // A name without '/' would make the loader search the system's folders.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  LibraryHandle library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library && error) {
    const char* text = dlerror();
    *error = text ? text : "The library cannot be loaded.";
  }
  return library;
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (!library || !name) return nullptr;
  return ::dlsym(library, name);
}

void FreeLibrary(LibraryHandle library) {
  if (library) ::dlclose(library);
}

}  // namespace kel::platform
