// The portable part of the locale answers: locale names to Windows language
// ids.
#include "kel/platform/locale.h"

#include <cstdlib>

namespace kel::platform {

namespace {

struct LanguageEntry {
  const char* language;   // ISO 639 code, lower case
  const char* territory;  // ISO 3166 code, upper case; "" for the language's main id
  uint16_t id;
};

// For each language its main id comes first, followed by territory variants.
constexpr LanguageEntry kLanguages[] = {
    {"af", "", 1078},   {"am", "", 1118},   {"ar", "", 1025},   {"ar", "EG", 3073}, {"ar", "MA", 6145},
    {"az", "", 1068},   {"be", "", 1059},   {"bg", "", 1026},   {"bn", "", 1093},   {"bs", "", 5146},
    {"ca", "", 1027},   {"cs", "", 1029},   {"cy", "", 1106},   {"da", "", 1030},   {"de", "", 1031},
    {"de", "AT", 3079}, {"de", "CH", 2055}, {"de", "LI", 5127}, {"de", "LU", 4103}, {"el", "", 1032},
    {"en", "", 1033},   {"en", "AU", 3081}, {"en", "CA", 4105}, {"en", "GB", 2057}, {"en", "IE", 6153},
    {"en", "IN", 16393}, {"en", "NZ", 5129}, {"en", "ZA", 7177}, {"es", "", 3082},  {"es", "AR", 11274},
    {"es", "CO", 9226}, {"es", "MX", 2058}, {"es", "US", 21514}, {"et", "", 1061},  {"eu", "", 1069},
    {"fa", "", 1065},   {"fi", "", 1035},   {"fil", "", 1124},  {"fr", "", 1036},   {"fr", "BE", 2060},
    {"fr", "CA", 3084}, {"fr", "CH", 4108}, {"fr", "LU", 5132}, {"ga", "", 2108},   {"gl", "", 1110},
    {"gu", "", 1095},   {"he", "", 1037},   {"hi", "", 1081},   {"hr", "", 1050},   {"hu", "", 1038},
    {"hy", "", 1067},   {"id", "", 1057},   {"is", "", 1039},   {"it", "", 1040},   {"it", "CH", 2064},
    {"ja", "", 1041},   {"ka", "", 1079},   {"kk", "", 1087},   {"km", "", 1107},   {"kn", "", 1099},
    {"ko", "", 1042},   {"ky", "", 1088},   {"lt", "", 1063},   {"lv", "", 1062},   {"mk", "", 1071},
    {"ml", "", 1100},   {"mn", "", 1104},   {"mr", "", 1102},   {"ms", "", 1086},   {"mt", "", 1082},
    {"nb", "", 1044},   {"ne", "", 1121},   {"nl", "", 1043},   {"nl", "BE", 2067}, {"nn", "", 2068},
    {"no", "", 1044},   {"pa", "", 1094},   {"pl", "", 1045},   {"pt", "", 2070},   {"pt", "BR", 1046},
    {"ro", "", 1048},   {"ru", "", 1049},   {"si", "", 1115},   {"sk", "", 1051},   {"sl", "", 1060},
    {"sq", "", 1052},   {"sr", "", 3098},   {"sv", "", 1053},   {"sv", "FI", 2077}, {"sw", "", 1089},
    {"ta", "", 1097},   {"te", "", 1098},   {"tg", "", 1064},   {"th", "", 1054},   {"tk", "", 1090},
    {"tr", "", 1055},   {"uk", "", 1058},   {"ur", "", 1056},   {"uz", "", 1091},   {"vi", "", 1066},
    {"zh", "", 2052},   {"zh", "HK", 3076}, {"zh", "MO", 5124}, {"zh", "SG", 4100}, {"zh", "TW", 1028},
};

// Serbian written in Latin letters ("sr@latin", "sr_RS@latin").
constexpr uint16_t kSerbianLatin = 2074;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

uint16_t LanguageIdFromLocaleName(std::string_view name) {
  // language[_territory][.codeset][@modifier]
  std::string_view modifier;
  if (const size_t at = name.find('@'); at != std::string_view::npos) {
    modifier = name.substr(at + 1);
    name = name.substr(0, at);
  }
  if (const size_t dot = name.find('.'); dot != std::string_view::npos) name = name.substr(0, dot);
  std::string language, territory;
  const size_t separator = name.find_first_of("_-");
  for (char c : name.substr(0, separator)) language += Lower(c);
  if (separator != std::string_view::npos)
    for (char c : name.substr(separator + 1)) territory += Upper(c);
  if (language == "sr" && modifier == "latin") return kSerbianLatin;
  uint16_t main = 0;
  for (const LanguageEntry& entry : kLanguages) {
    if (language != entry.language) continue;
    if (entry.territory[0] == '\0') {
      main = entry.id;
    } else if (territory == entry.territory) {
      return entry.id;
    }
  }
  return main;
}

std::vector<uint16_t> UserUiLanguageIds() {
  std::vector<uint16_t> ids;
  // LANGUAGE is a priority list ("de_AT:de:en").
  if (const char* list = std::getenv("LANGUAGE")) {
    std::string_view rest = list;
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      if (const uint16_t id = LanguageIdFromLocaleName(rest.substr(0, colon)); id != 0) ids.push_back(id);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (!value || !*value) continue;
    if (const uint16_t id = LanguageIdFromLocaleName(value); id != 0) ids.push_back(id);
    break;
  }
  return ids;
}

}  // namespace kel::platform
