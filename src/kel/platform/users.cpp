// The portable part of the account answers: reading passwd text.
#include "kel/platform/users.h"

#include <charconv>

namespace kel::platform {

namespace {

bool ParseId(std::string_view text, uint32_t& value) {
  if (text.empty()) return false;
  const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), value);
  return code == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::vector<UserAccount> ParsePasswd(std::string_view text) {
  std::vector<UserAccount> accounts;
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#' || line[0] == '+' || line[0] == '-') continue;

    std::string_view fields[7];
    size_t count = 0;
    while (count < 7) {
      const size_t colon = line.find(':');
      fields[count++] = line.substr(0, colon);
      if (colon == std::string_view::npos) {
        line = {};
        break;
      }
      line.remove_prefix(colon + 1);
    }
    if (count != 7 || !line.empty()) continue;  // too few or too many fields
    UserAccount account;
    if (fields[0].empty() || !ParseId(fields[2], account.uid) || !ParseId(fields[3], account.gid)) continue;
    account.name = fields[0];
    account.home = fields[5];
    account.shell = fields[6];
    accounts.push_back(std::move(account));
  }
  return accounts;
}

}  // namespace kel::platform
