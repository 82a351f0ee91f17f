// Shared libraries loaded at run time (dlopen).
//
// Result contract: failures give a null handle or symbol and, when `error`
// is given, the loader's message. Nothing throws.
#pragma once

#include <string>

namespace kel::platform {

using LibraryHandle = void*;

// Loads the library file at `path` with every symbol bound at once and kept
// local. A path without '/' names a file in the current folder: the loader's
// search of system folders is never used.
LibraryHandle LoadLibrary(const std::string& path, std::string* error = nullptr);
// The address of an exported symbol, or null.
void* LibrarySymbol(LibraryHandle library, const char* name);
void FreeLibrary(LibraryHandle library);

}  // namespace kel::platform
