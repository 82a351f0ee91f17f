#include "setup/core/product_info.h"

#include <charconv>

#include "kel/base/file_system.h"
#include "kel/base/shell.h"
#include "setup/core/errors.h"
#include "setup/core/resources.h"
#include "setup/core/script.h"
#include "setup/core/session.h"

namespace setup {

namespace {

TSetupProductInfo::TFactory gProductClass = nullptr;

const TSetupScript& Script() { return TSetup::Instance().Resources().Script(); }

}  // namespace

void TSetupProductInfo::RegisterClass(TFactory factory) { gProductClass = factory; }
TSetupProductInfo::TFactory TSetupProductInfo::RegisteredClass() { return gProductClass; }

std::string TSetupProductInfo::GetDefaultPath() {
  return kel::kelIncludeTrailingPathDelimiter(TSetup::Instance().Resources().ProgramFilesPath + GetName());
}

std::string TSetupProductInfo::GetPortablePath() {
  return kel::kelIncludeTrailingPathDelimiter(kel::kelShellGetDesktop() + GetName());
}

std::string TSetupProductInfo::GetHomePage() { return Script().GetProperty("HomePage"); }

std::string TSetupProductInfo::GetName() {
  std::string name = Script().GetProperty("ProductName");
  if (name.empty()) throw EInstallerGeneralError("TSetupProductInfo.GetName");
  return name;
}

std::string TSetupProductInfo::GetPublisher() { return Script().GetProperty("Publisher"); }
std::string TSetupProductInfo::GetVersion() { return Script().GetProperty("ProductVersion"); }

int TSetupProductInfo::GetVersionId() {
  const std::string text = Script().GetProperty("ProductVersionId");
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

std::string TSetupProductInfo::GetFullVersion() { return GetVersion() + ", " + Script().GetProperty("BuildDate"); }

std::string TSetupProductInfo::GetVersionNo() { return Script().GetProperty("ProductVersionNo"); }

std::string TSetupProductInfo::FormatVersionId(int id) {
  const int minor = (id % 1000) / 10;
  return std::to_string(id / 1000) + "." + (minor < 10 ? "0" : "") + std::to_string(minor);
}

}  // namespace setup
