// The user profiles of the machine with their application-data folders:
// the accounts that can log in (kel/platform/users.h), each with its
// ~/.config/ folder.
//
// Result contract: nothing throws; a passwd database that cannot be read
// gives the current user alone.
#pragma once

#include <functional>
#include <string>

namespace setup {

class TSetupUsers {
 public:
  using TCallback = std::function<void(const std::string& userName, const std::string& appDataFolder)>;

  // Calls `callback` for the current user (the one who started the setup)
  // first, then for every account with a real login and an existing home, in
  // the order of the database. The user name is the last part of the home
  // folder; the folder has a trailing delimiter. The current user usually
  // comes twice: callers tolerate repeats.
  static void Populate(const TCallback& callback);
};

}  // namespace setup
