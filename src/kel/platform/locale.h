// Locale answers of the operating system.
#pragma once

#include <string>

namespace kel::platform {

// The charset of the user's locale (LC_ALL / LC_CTYPE / LANG) as the C
// library names it ("UTF-8", "ISO-8859-1", "ANSI_X3.4-1968", ...).
std::string LocaleCharset();

}  // namespace kel::platform
