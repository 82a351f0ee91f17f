// POSIX implementation of the locale answers. Only operating-system code
// lives here.
#include "kel/platform/locale.h"

#include <langinfo.h>
#include <locale.h>

namespace kel::platform {

std::string LocaleCharset() {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return "UTF-8";  // an unknown locale name
  std::string charset = nl_langinfo_l(CODESET, locale);
  freelocale(locale);
  return charset;
}

}  // namespace kel::platform
