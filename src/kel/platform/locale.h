// Locale answers of the operating system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kel::platform {

// The charset of the user's locale (LC_ALL / LC_CTYPE / LANG) as the C
// library names it ("UTF-8", "ISO-8859-1", "ANSI_X3.4-1968", ...).
std::string LocaleCharset();

// The user's interface languages, most wanted first, as Windows language ids
// (1033 English (United States), 1031 German, 3079 German (Austria), 1049
// Russian, ...): every known language of LANGUAGE's list, then the first of
// LC_ALL, LC_MESSAGES and LANG that is set. "C", "POSIX" and unknown
// languages are left out, so the list may be empty.
std::vector<uint16_t> UserUiLanguageIds();

// The Windows language id of a locale name such as "de_AT.UTF-8@euro", "pt_BR"
// or "sr@latin": the language with its territory when the table has that
// pair, else the language's main id; 0 for an unknown language.
uint16_t LanguageIdFromLocaleName(std::string_view name);

// Today's date in the local time zone.
struct LocalDate {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
};
LocalDate Today();

// The current local date and time of day.
struct LocalDateTime {
  LocalDate date;
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-60
  int millisecond = 0;  // 0-999
};
LocalDateTime LocalNow();

}  // namespace kel::platform
