#include "support/session_bus.h"

#include <dbus/dbus.h>

#include <cstring>

#include "support/line_reporting_process.h"

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
  address_ = StartReportingProcess(
      {"dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile", "--print-address=" + std::to_string(kReportFd)},
      pid_);
}

SessionBus::~SessionBus() { StopReportingProcess(pid_); }

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
