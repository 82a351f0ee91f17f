// POSIX backend: giving up root for another user in a child process, for
// work that must carry that user's rights only.
#pragma once

#include <sys/types.h>

#include <vector>

namespace kel::platform {
struct UserAccount;
}

namespace kel::platform::posix {

// The user's supplementary groups (the primary one among them). Looked up
// before fork: the child may only make async-signal-safe calls.
std::vector<gid_t> GroupsOf(const UserAccount& user);

// In a child after fork: takes the user's groups and ids for good. False
// when that failed, or when root could be regained afterwards; the child
// must then end without doing its work.
bool BecomeUser(const UserAccount& user, const std::vector<gid_t>& groups);

}  // namespace kel::platform::posix
