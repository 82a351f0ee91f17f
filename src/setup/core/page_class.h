// Wizard page classes as a product description names them (PopulatePages):
// plain descriptors, free of any window toolkit. The wizard maps each one to
// the constructor of its page through its page registry; a class that no
// page was registered for is not a page class and is skipped.
#pragma once

#include <string>
#include <string_view>

namespace setup {

class TSetupPageClass {
 public:
  explicit constexpr TSetupPageClass(std::string_view className) : className_(className) {}

  constexpr std::string_view ClassName() const { return className_; }
  // The page's name, which is also its language section: the class name
  // without its first six characters ("TSetupPageWelcome" -> "PageWelcome").
  std::string PageName() const { return std::string(className_.substr(className_.size() < 6 ? className_.size() : 6)); }

  constexpr bool operator==(const TSetupPageClass& other) const { return className_ == other.className_; }

 private:
  std::string_view className_;
};

// The standard pages every wizard has.
inline constexpr TSetupPageClass kSetupPageWelcome{"TSetupPageWelcome"};
inline constexpr TSetupPageClass kSetupPageLicense{"TSetupPageLicense"};
inline constexpr TSetupPageClass kSetupPageReadyToInstall{"TSetupPageReadyToInstall"};
inline constexpr TSetupPageClass kSetupPageInstall{"TSetupPageInstall"};
inline constexpr TSetupPageClass kSetupPageUninstall{"TSetupPageUninstall"};
inline constexpr TSetupPageClass kSetupPageFinish{"TSetupPageFinish"};
inline constexpr TSetupPageClass kSetupPageUninstallFinish{"TSetupPageUninstallFinish"};

}  // namespace setup
