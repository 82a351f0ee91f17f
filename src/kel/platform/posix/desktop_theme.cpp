// POSIX implementation of the desktop's colour-scheme preference: the desktop
// portal over the session bus (libdbus), else GNOME's setting through the
// gsettings program. Only operating-system code lives here.
#include "kel/platform/desktop_theme.h"

#include <dbus/dbus.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace kel::platform {

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";
constexpr const char* kColorScheme = "color-scheme";
// The portal's values: 0 no preference, 1 prefers dark, 2 prefers light.
constexpr uint32_t kPrefersDark = 1;
constexpr int kReplyTimeoutMilliseconds = 2000;

// The session bus's address: the one the session announces, else the
// per-user bus of the runtime folder. The library's own search would start a
// bus of its own (autolaunch) where there is none.
std::string SessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return address;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    const std::string path = std::string(runtime) + "/bus";
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return "unix:path=" + path;
  }
  return {};
}

// The number inside a value, through any variants around it.
std::optional<uint32_t> ReadNumber(DBusMessageIter* iter) {
  for (int depth = 0; depth < 8; ++depth) {
    switch (dbus_message_iter_get_arg_type(iter)) {
      case DBUS_TYPE_VARIANT: {
        DBusMessageIter inner;
        dbus_message_iter_recurse(iter, &inner);
        *iter = inner;
        continue;
      }
      case DBUS_TYPE_UINT32: {
        dbus_uint32_t value = 0;
        dbus_message_iter_get_basic(iter, &value);
        return value;
      }
      case DBUS_TYPE_INT32: {
        dbus_int32_t value = 0;
        dbus_message_iter_get_basic(iter, &value);
        return static_cast<uint32_t>(value);
      }
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

// Whether the session's desktop is GNOME or one built on it
// (XDG_CURRENT_DESKTOP "GNOME", "ubuntu:GNOME", ...): only there does its
// setting mean anything, and asking gsettings costs a program start.
bool OnGnomeDesktop() {
  const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
  return desktops && ::strcasestr(desktops, "gnome") != nullptr;
}

// GNOME's own setting, for GNOME desktops without a portal.
bool GnomePrefersDark() {
  if (!OnGnomeDesktop()) return false;
  FILE* pipe = ::popen("gsettings get org.gnome.desktop.interface color-scheme 2>/dev/null", "r");
  if (!pipe) return false;
  char buffer[64] = {};
  const size_t length = std::fread(buffer, 1, sizeof buffer - 1, pipe);
  ::pclose(pipe);
  return std::string(buffer, length).starts_with("'prefer-dark'");
}

}  // namespace

struct DesktopColorScheme::Bus {
  DBusConnection* connection = nullptr;

  ~Bus() { Close(); }

  void Close() {
    if (!connection) return;
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    connection = nullptr;
  }

  bool Open() {
    const std::string address = SessionBusAddress();
    if (address.empty()) return false;
    DBusError error;
    dbus_error_init(&error);
    connection = dbus_connection_open_private(address.c_str(), &error);
    if (connection) {
      dbus_connection_set_exit_on_disconnect(connection, FALSE);
      if (!dbus_bus_register(connection, &error)) Close();
    }
    dbus_error_free(&error);
    return connection != nullptr;
  }

  // The portal's value, asked with ReadOne or, from portals that predate
  // it, with Read.
  std::optional<uint32_t> ReadColorScheme() {
    for (const char* method : {"ReadOne", "Read"}) {
      DBusMessage* call = dbus_message_new_method_call(kPortalName, kPortalPath, kSettingsInterface, method);
      if (!call) return std::nullopt;
      const char* space = kAppearance;
      const char* key = kColorScheme;
      dbus_message_append_args(call, DBUS_TYPE_STRING, &space, DBUS_TYPE_STRING, &key, DBUS_TYPE_INVALID);
      DBusError error;
      dbus_error_init(&error);
      DBusMessage* reply =
          dbus_connection_send_with_reply_and_block(connection, call, kReplyTimeoutMilliseconds, &error);
      dbus_message_unref(call);
      const bool unknownMethod = dbus_error_has_name(&error, DBUS_ERROR_UNKNOWN_METHOD);
      dbus_error_free(&error);
      if (!reply) {
        if (unknownMethod) continue;
        return std::nullopt;
      }
      std::optional<uint32_t> value;
      DBusMessageIter iter;
      if (dbus_message_iter_init(reply, &iter)) value = ReadNumber(&iter);
      dbus_message_unref(reply);
      return value;
    }
    return std::nullopt;
  }

  void Subscribe() {
    const std::string rule = std::string("type='signal',interface='") + kSettingsInterface +
                             "',member='SettingChanged',path='" + kPortalPath + "',arg0='" + kAppearance +
                             "',arg1='" + kColorScheme + "'";
    DBusError error;
    dbus_error_init(&error);
    dbus_bus_add_match(connection, rule.c_str(), &error);
    if (dbus_error_is_set(&error)) Close();
    dbus_error_free(&error);
  }

  // The new value of a change signal of the colour scheme; nothing for any
  // other message.
  static std::optional<uint32_t> ChangedValue(DBusMessage* message) {
    if (!dbus_message_is_signal(message, kSettingsInterface, "SettingChanged")) return std::nullopt;
    DBusMessageIter iter;
    if (!dbus_message_iter_init(message, &iter)) return std::nullopt;
    for (const char* expected : {kAppearance, kColorScheme}) {
      if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRING) return std::nullopt;
      const char* text = nullptr;
      dbus_message_iter_get_basic(&iter, &text);
      if (std::string_view(text) != expected || !dbus_message_iter_next(&iter)) return std::nullopt;
    }
    return ReadNumber(&iter);
  }
};

DesktopColorScheme::DesktopColorScheme() : bus_(std::make_unique<Bus>()) {
  std::optional<uint32_t> portal;
  if (bus_->Open()) {
    portal = bus_->ReadColorScheme();
    if (portal)
      bus_->Subscribe();
    else
      bus_->Close();
  }
  dark_ = portal ? *portal == kPrefersDark : GnomePrefersDark();
  // Changes that came in with the answer.
  ProcessChanges();
}

DesktopColorScheme::~DesktopColorScheme() = default;

int DesktopColorScheme::ChangeDescriptor() const {
  int fd = -1;
  if (!bus_->connection || !dbus_connection_get_unix_fd(bus_->connection, &fd)) return -1;
  return fd;
}

bool DesktopColorScheme::ProcessChanges() {
  if (!bus_->connection) return false;
  const bool wasDark = dark_;
  dbus_connection_read_write(bus_->connection, 0);
  while (DBusMessage* message = dbus_connection_pop_message(bus_->connection)) {
    if (const std::optional<uint32_t> value = Bus::ChangedValue(message)) dark_ = *value == kPrefersDark;
    dbus_message_unref(message);
  }
  if (!dbus_connection_get_is_connected(bus_->connection)) bus_->Close();
  return dark_ != wasDark;
}

}  // namespace kel::platform
