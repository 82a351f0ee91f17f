// The product description: everything the engine asks about the product it
// installs. The base class answers from the setup script; what only the
// product knows (the installation found in the destination, the action and
// page lists) is left to the product's class, which registers itself at
// program start.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "setup/core/action.h"

namespace setup {

class TSetupPageClass;

class TSetupProductInfo {
 public:
  using TAddAction = std::function<void(const TSetupActionClass&)>;
  using TAddPage = std::function<void(const TSetupPageClass&)>;

  virtual ~TSetupProductInfo() = default;

  // Program Files + name + delimiter.
  virtual std::string GetDefaultPath();
  // The user's desktop + name + delimiter.
  virtual std::string GetPortablePath();
  virtual std::string GetHomePage();
  // About the installation read by the last LoadInstalledInfo:
  virtual bool CanUpdate() = 0;
  virtual bool IsPortableInstallation() = 0;
  virtual int GetInstalledVersion() = 0;
  // Script property ProductName; fails with EInstallerGeneralError
  // "TSetupProductInfo.GetName" when it is empty.
  virtual std::string GetName();
  virtual std::string GetPublisher();
  virtual std::string GetVersion();
  virtual int GetVersionId();
  // GetVersion + ", " + BuildDate.
  virtual std::string GetFullVersion();
  // Reads what describes the installation in the session's destination.
  virtual void LoadInstalledInfo() = 0;
  // Names the actions of a run of the session's mode, in run order.
  virtual void PopulateActions(const TAddAction& add) = 0;
  // Names the wizard pages of the session's mode, in display order.
  virtual void PopulatePages(const TAddPage& add) = 0;

  std::string GetVersionNo();
  // 5300 -> "5.30", 5011 -> "5.01", 0 -> "0.00".
  static std::string FormatVersionId(int id);

  // The registered product description class.
  using TFactory = std::unique_ptr<TSetupProductInfo> (*)();
  static void RegisterClass(TFactory factory);
  static TFactory RegisteredClass();
};

}  // namespace setup
