// Accounts of the passwd database: the user who started the setup and the
// accounts that can log in. In the sandbox the database is DIR/etc/passwd and
// every home folder is mapped into DIR.
//
// Result contract: nothing here throws; a database that cannot be read gives
// no accounts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kel::platform {

struct UserAccount {
  std::string name;
  uint32_t uid = 0;
  uint32_t gid = 0;
  std::string home;   // as a system path (mapped into the sandbox), no trailing '/'
  std::string shell;  // login shell as written in the database
};

// The user on whose behalf the setup runs. When the process runs as root
// through sudo (SUDO_UID, SUDO_GID, SUDO_USER) or pkexec (PKEXEC_UID) that is
// the user who asked for it, otherwise the real user of the process. In the
// sandbox the account is looked up in DIR/etc/passwd; an account missing there
// is named after SUDO_USER, USER or LOGNAME and lives in /home/<name> (/root
// for uid 0), inside DIR.
UserAccount InvokingUser();

// Accounts with a real login: uid 1000 or above (but not 65534, "nobody"), a
// login shell that is not nologin or false, and a home folder that exists. In
// the order of the database.
std::vector<UserAccount> LoginAccounts();

// Parses passwd text ("name:password:uid:gid:gecos:home:shell" lines).
// Malformed lines, comments and NIS "+"/"-" entries are skipped; homes are
// returned as written.
std::vector<UserAccount> ParsePasswd(std::string_view text);

}  // namespace kel::platform
