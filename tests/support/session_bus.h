// A session bus of a test's own (dbus-daemon) and a stand-in for the desktop
// portal's settings on it, for the code that follows the desktop's colour
// scheme.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "support/temp_dir.h"

struct DBusConnection;

namespace orvi::test {

// dbus-daemon as a session bus that starts no services; stopped when this
// goes away.
class SessionBus {
 public:
  SessionBus();
  ~SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  // The address for DBUS_SESSION_BUS_ADDRESS; "" when dbus-daemon is missing
  // or did not start.
  const std::string& Address() const { return address_; }
  bool Running() const { return !address_.empty(); }

 private:
  TempDir folder_;
  pid_t pid_ = -1;
  std::string address_;
};

// Owns the portal's name on the bus and answers Read and ReadOne of
// "org.freedesktop.appearance" "color-scheme" (other settings are not found),
// on a thread of its own, as the portal would. An old portal knows only Read,
// which wraps the value in one variant more.
class PortalStandIn {
 public:
  PortalStandIn(const std::string& address, uint32_t colorScheme, bool old = false);
  ~PortalStandIn();
  PortalStandIn(const PortalStandIn&) = delete;
  PortalStandIn& operator=(const PortalStandIn&) = delete;

  // Whether it owns the portal's name.
  bool Ready() const { return connection_ != nullptr; }
  // Takes the new value and announces it (SettingChanged).
  void SetColorScheme(uint32_t value);

 private:
  void Serve();

  DBusConnection* connection_ = nullptr;
  std::mutex mutex_;
  uint32_t colorScheme_;
  bool old_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace orvi::test
