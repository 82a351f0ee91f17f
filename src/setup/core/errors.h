// The installer's error classes. Each carries the message the user sees.
#pragma once

#include "kel/base/error.h"

namespace setup {

class EInstallerGeneralError : public kel::Exception { using Exception::Exception; };
// The backup of an earlier installation failed.
class EInstallerBackupError : public EInstallerGeneralError { using EInstallerGeneralError::EInstallerGeneralError; };
// Installing failed: a missing package file, an extraction failure, a failed
// silent run, a product action.
class EInstallerInstallError : public EInstallerGeneralError { using EInstallerGeneralError::EInstallerGeneralError; };
// The installation in the destination cannot be updated.
class EInstallerUpdateError : public EInstallerInstallError { using EInstallerInstallError::EInstallerInstallError; };
// Contradictory arguments or a run that must not happen.
class EInstallerMysteryError : public EInstallerGeneralError { using EInstallerGeneralError::EInstallerGeneralError; };

class EInstallerNoAdminRightsError : public EInstallerGeneralError {
 public:
  EInstallerNoAdminRightsError()
      : EInstallerGeneralError("Administrator rights are required to process this operation.") {}
};

}  // namespace setup
