// Parameter strings of Windows programs turned into argument lists: Linux
// programs receive their arguments one by one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kel::platform::posix {

// Splits parameters as Windows programs read them: spaces and tabs separate
// arguments outside double quotes; 2n backslashes before a quote give n
// backslashes and the quote opens or closes quoting, 2n+1 give n backslashes
// and a literal quote; inside quotes "" is a literal quote; other
// backslashes are literal. `""` alone is an empty argument.
std::vector<std::string> SplitWindowsArguments(std::string_view text);

}  // namespace kel::platform::posix
