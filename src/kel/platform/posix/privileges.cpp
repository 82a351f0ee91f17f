// POSIX backend: dropping root for another user. Only operating-system code
// lives here.
#include "kel/platform/posix/privileges.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>

#include "kel/platform/users.h"

namespace kel::platform::posix {

std::vector<gid_t> GroupsOf(const UserAccount& user) {
  std::vector<gid_t> groups(64);
  int count = static_cast<int>(groups.size());
  if (::getgrouplist(user.name.c_str(), user.gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(user.name.c_str(), user.gid, groups.data(), &count) < 0) count = 0;
  }
  groups.resize(static_cast<size_t>(std::max(count, 0)));
  return groups;
}

bool BecomeUser(const UserAccount& user, const std::vector<gid_t>& groups) {
  return ::setgroups(groups.size(), groups.data()) == 0 && ::setgid(user.gid) == 0 && ::setuid(user.uid) == 0 &&
         ::setuid(0) != 0;
}

}  // namespace kel::platform::posix
