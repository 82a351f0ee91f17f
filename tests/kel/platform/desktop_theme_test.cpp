// The desktop's colour-scheme preference, read from a portal stand-in on a
// session bus of the test's own, or from a gsettings stand-in.
#include "kel/platform/desktop_theme.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>
#include <optional>

#include "support/session_bus.h"
#include "support/temp_dir.h"
#include "support/testlib/environment.h"

namespace orvi::test {
namespace {

namespace fs = std::filesystem;

// Waits until news arrive and takes them in; whether the preference changed.
bool WaitForChange(kel::platform::DesktopColorScheme& scheme) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    pollfd poller{scheme.ChangeDescriptor(), POLLIN, 0};
    if (poll(&poller, 1, 100) > 0 && scheme.ProcessChanges()) return true;
  }
  return false;
}

// A gsettings that prints `answer`, first on the PATH.
class GSettingsStandIn {
 public:
  explicit GSettingsStandIn(const std::string& answer) {
    const std::string script = folder_.WriteFile("gsettings", "#!/bin/sh\necho \"" + answer + "\"\n");
    fs::permissions(script, fs::perms::owner_all);
    path_.emplace("PATH", (folder_.Path() + ":" + std::getenv("PATH")).c_str());
  }

 private:
  TempDir folder_;
  std::optional<ScopedEnv> path_;
};

TEST(DesktopColorScheme, PortalValueAtStartAndItsChanges) {
  SessionBus bus;
  if (!bus.Running()) GTEST_SKIP() << "dbus-daemon is not available";
  ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str());
  // The portal wins over GNOME's setting.
  GSettingsStandIn gnome("'default'");
  for (const bool old : {false, true}) {
    SCOPED_TRACE(old ? "old portal" : "portal");
    PortalStandIn portal(bus.Address(), 1, old);
    ASSERT_TRUE(portal.Ready());
    kel::platform::DesktopColorScheme scheme;
    EXPECT_TRUE(scheme.PrefersDark());
    ASSERT_GE(scheme.ChangeDescriptor(), 0);
    portal.SetColorScheme(2);
    ASSERT_TRUE(WaitForChange(scheme));
    EXPECT_FALSE(scheme.PrefersDark());
    portal.SetColorScheme(1);
    ASSERT_TRUE(WaitForChange(scheme));
    EXPECT_TRUE(scheme.PrefersDark());
    portal.SetColorScheme(0);  // no preference: light
    ASSERT_TRUE(WaitForChange(scheme));
    EXPECT_FALSE(scheme.PrefersDark());
  }
}

TEST(DesktopColorScheme, WithoutPortalGnomesSettingDecidesOnGnome) {
  SessionBus bus;
  const struct {
    const char* address;
    const char* desktop;
    const char* gnome;
    bool dark;
  } rows[] = {
      {"unix:path=/nonexistent/bus", "GNOME", "'prefer-dark'", true},
      {"unix:path=/nonexistent/bus", "GNOME", "'default'", false},
      {nullptr, "ubuntu:GNOME", "'prefer-dark'", true},  // no bus at all
      {bus.Address().c_str(), "GNOME", "'prefer-dark'", true},  // a bus without a portal
      {bus.Address().c_str(), "GNOME", "No such schema", false},
      // Another desktop, or none named: GNOME's setting is not asked.
      {"unix:path=/nonexistent/bus", "KDE", "'prefer-dark'", false},
      {"unix:path=/nonexistent/bus", nullptr, "'prefer-dark'", false},
  };
  ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
  for (const auto& row : rows) {
    if (row.address && !*row.address) continue;  // dbus-daemon is missing
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", row.address);
    ScopedEnv desktop("XDG_CURRENT_DESKTOP", row.desktop);
    GSettingsStandIn gnome(row.gnome);
    kel::platform::DesktopColorScheme scheme;
    EXPECT_EQ(scheme.PrefersDark(), row.dark) << (row.address ? row.address : "no bus") << " "
                                               << (row.desktop ? row.desktop : "no desktop") << " " << row.gnome;
    EXPECT_EQ(scheme.ChangeDescriptor(), -1) << "changes are followed through the portal only";
    EXPECT_FALSE(scheme.ProcessChanges());
  }
}

}  // namespace
}  // namespace orvi::test
