#include "setup/core/users.h"

#include "kel/base/file_system.h"
#include "kel/base/shell.h"
#include "kel/platform/users.h"

namespace setup {

void TSetupUsers::Populate(const TCallback& callback) {
  if (!callback) return;
  const kel::platform::UserAccount current = kel::platform::InvokingUser();
  callback(kel::kelExtractLastPathParts(current.home, 1), kel::kelShellGetAppData());
  for (const kel::platform::UserAccount& account : kel::platform::LoginAccounts()) {
    const std::string appData = kel::kelIncludeTrailingPathDelimiter(account.home) + ".config/";
    callback(kel::kelExtractLastPathParts(account.home, 1), appData);
  }
}

}  // namespace setup
