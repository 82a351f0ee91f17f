#include "support/session_bus.h"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

namespace orvi::test {

namespace {

constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.Settings";

// Appends the value as a variant; `nested` wraps it in one variant more, as
// Read answered before ReadOne existed.
void AppendColorScheme(DBusMessage* message, uint32_t value, bool nested) {
  DBusMessageIter iter, outer, inner;
  dbus_message_iter_init_append(message, &iter);
  dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, nested ? "v" : "u", &outer);
  if (nested) {
    dbus_message_iter_open_container(&outer, DBUS_TYPE_VARIANT, "u", &inner);
    dbus_message_iter_append_basic(&inner, DBUS_TYPE_UINT32, &value);
    dbus_message_iter_close_container(&outer, &inner);
  } else {
    dbus_message_iter_append_basic(&outer, DBUS_TYPE_UINT32, &value);
  }
  dbus_message_iter_close_container(&iter, &outer);
}

}  // namespace

// --- SessionBus -------------------------------------------------------------------

SessionBus::SessionBus() {
  // The session bus's rules without its service folders: nothing of the
  // machine (a real portal, say) is started on this bus.
  const std::string config = folder_.WriteFile("session.conf", R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)");
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  constexpr int kChildFd = 100;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], kChildFd);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const std::string printAddress = "--print-address=" + std::to_string(kChildFd);
  const std::string configFile = "--config-file=" + config;
  const char* argv[] = {"dbus-daemon", configFile.c_str(), "--nofork", "--nopidfile", printAddress.c_str(), nullptr};
  const int spawned =
      posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawned != 0) {
    pid_ = -1;
    close(fds[0]);
    return;
  }
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd poller{fds[0], POLLIN, 0};
    if (poll(&poller, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    line.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  const size_t end = line.find('\n');
  if (end != std::string::npos && end > 0) address_ = line.substr(0, end);
}

SessionBus::~SessionBus() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

// --- PortalStandIn -----------------------------------------------------------------

PortalStandIn::PortalStandIn(const std::string& address, uint32_t colorScheme, bool old)
    : colorScheme_(colorScheme), old_(old) {
  DBusError error;
  dbus_error_init(&error);
  connection_ = dbus_connection_open_private(address.c_str(), &error);
  if (connection_) {
    dbus_connection_set_exit_on_disconnect(connection_, FALSE);
    if (!dbus_bus_register(connection_, &error) ||
        dbus_bus_request_name(connection_, "org.freedesktop.portal.Desktop", DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) !=
            DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
      dbus_connection_close(connection_);
      dbus_connection_unref(connection_);
      connection_ = nullptr;
    }
  }
  dbus_error_free(&error);
  if (connection_) thread_ = std::thread([this] { Serve(); });
}

PortalStandIn::~PortalStandIn() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (!connection_) return;
  dbus_connection_close(connection_);
  dbus_connection_unref(connection_);
}

void PortalStandIn::SetColorScheme(uint32_t value) {
  std::lock_guard lock(mutex_);
  colorScheme_ = value;
  DBusMessage* signal = dbus_message_new_signal(kPath, kInterface, "SettingChanged");
  const char* space = "org.freedesktop.appearance";
  const char* key = "color-scheme";
  dbus_message_append_args(signal, DBUS_TYPE_STRING, &space, DBUS_TYPE_STRING, &key, DBUS_TYPE_INVALID);
  AppendColorScheme(signal, value, false);
  dbus_connection_send(connection_, signal, nullptr);
  dbus_connection_flush(connection_);
  dbus_message_unref(signal);
}

void PortalStandIn::Serve() {
  while (!stop_) {
    if (!dbus_connection_read_write(connection_, 50)) break;
    while (DBusMessage* message = dbus_connection_pop_message(connection_)) {
      const bool readOne = dbus_message_is_method_call(message, kInterface, "ReadOne");
      if (readOne && old_) {
        DBusMessage* reply = dbus_message_new_error(message, DBUS_ERROR_UNKNOWN_METHOD, "No such method");
        dbus_connection_send(connection_, reply, nullptr);
        dbus_message_unref(reply);
      } else if (readOne || dbus_message_is_method_call(message, kInterface, "Read")) {
        const char* space = "";
        const char* key = "";
        dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &space, DBUS_TYPE_STRING, &key, DBUS_TYPE_INVALID);
        DBusMessage* reply = nullptr;
        if (std::strcmp(space, "org.freedesktop.appearance") == 0 && std::strcmp(key, "color-scheme") == 0) {
          reply = dbus_message_new_method_return(message);
          std::lock_guard lock(mutex_);
          AppendColorScheme(reply, colorScheme_, !readOne);
        } else {
          reply = dbus_message_new_error(message, "org.freedesktop.portal.Error.NotFound", "Requested setting not found");
        }
        dbus_connection_send(connection_, reply, nullptr);
        dbus_message_unref(reply);
      }
      dbus_message_unref(message);
    }
  }
}

}  // namespace orvi::test
