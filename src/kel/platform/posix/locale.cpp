// POSIX implementation of the locale answers. Only operating-system code
// lives here.
#include "kel/platform/locale.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

namespace kel::platform {

std::string LocaleCharset() {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return "UTF-8";  // an unknown locale name
  std::string charset = nl_langinfo_l(CODESET, locale);
  freelocale(locale);
  return charset;
}

LocalDate Today() {
  const time_t now = ::time(nullptr);
  struct tm local {};
  if (!::localtime_r(&now, &local)) return {};
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

LocalDateTime LocalNow() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  if (!::localtime_r(&now.tv_sec, &local)) return {};
  return {{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday},
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000)};
}

}  // namespace kel::platform
