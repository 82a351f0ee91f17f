// POSIX implementation of the desktop's top-level windows: X11 through xcb.
// Only operating-system code lives here.
//
// A top-level window is a client window of the display: a child of a root
// window that carries WM_CLASS or, where a window manager has put clients
// into frames, the first windows with WM_CLASS below such a child. The
// clients a window manager lists in _NET_CLIENT_LIST are looked at as well,
// so that clients kept deeper (below a virtual root, say) are not missed.
// Every call opens its own connection to the display named by DISPLAY.
#include "kel/platform/windows.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_set>

namespace kel::platform {

namespace {

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

// How far below a root's child the client of a frame is looked for.
constexpr int kFrameDepth = 3;
// Longest property value read, in 32-bit units (WM_CLASS, WM_PROTOCOLS,
// WM_CLIENT_MACHINE; the client list takes more).
constexpr uint32_t kPropertyUnits = 1024;
constexpr uint32_t kClientListUnits = 1u << 16;

class Display {
 public:
  Display() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return;
    xcb_connection_t* connection = xcb_connect(name, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
      xcb_disconnect(connection);
      return;
    }
    connection_ = connection;
  }
  ~Display() {
    if (connection_ != nullptr) xcb_disconnect(connection_);
  }
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;

  explicit operator bool() const { return connection_ != nullptr; }
  xcb_connection_t* Connection() const { return connection_; }

  // The atom of an existing name; XCB_ATOM_NONE when nobody ever interned
  // it (then no window can carry it).
  xcb_atom_t ExistingAtom(std::string_view name) const {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 1, static_cast<uint16_t>(name.size()), name.data()), nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  }

  xcb_get_property_cookie_t RequestProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                            uint32_t units) const {
    return xcb_get_property(connection_, 0, window, property, type, 0, units);
  }

  // The reply, or nullptr when the request failed (the window is gone).
  Reply<xcb_get_property_reply_t> PropertyReply(xcb_get_property_cookie_t cookie) const {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, &error));
    std::free(error);
    return reply;
  }

  Reply<xcb_get_property_reply_t> Property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                                           uint32_t units = kPropertyUnits) const {
    return PropertyReply(RequestProperty(window, property, type, units));
  }

  // The children of every window, bottom to top for each, in one round trip.
  std::vector<xcb_window_t> Children(const std::vector<xcb_window_t>& windows) const {
    std::vector<xcb_query_tree_cookie_t> cookies;
    cookies.reserve(windows.size());
    for (xcb_window_t window : windows) cookies.push_back(xcb_query_tree(connection_, window));
    std::vector<xcb_window_t> children;
    for (xcb_query_tree_cookie_t cookie : cookies) {
      xcb_generic_error_t* error = nullptr;
      Reply<xcb_query_tree_reply_t> reply(xcb_query_tree_reply(connection_, cookie, &error));
      std::free(error);
      if (!reply) continue;
      const xcb_window_t* first = xcb_query_tree_children(reply.get());
      children.insert(children.end(), first, first + xcb_query_tree_children_length(reply.get()));
    }
    return children;
  }

 private:
  xcb_connection_t* connection_ = nullptr;
};

std::string_view PropertyBytes(const xcb_get_property_reply_t& reply) {
  const int length = xcb_get_property_value_length(&reply);
  if (length <= 0) return {};
  return {static_cast<const char*>(xcb_get_property_value(&reply)), static_cast<size_t>(length)};
}

// WM_CLASS holds the instance name and the class name, each ended by a NUL
// (the last NUL is sometimes left out).
bool ClassEquals(const xcb_get_property_reply_t& reply, std::string_view className) {
  if (reply.format != 8 || reply.bytes_after != 0) return false;
  std::string_view value = PropertyBytes(reply);
  const size_t split = value.find('\0');
  if (split == std::string_view::npos) return false;
  value.remove_prefix(split + 1);
  const size_t end = value.find('\0');
  if (end != std::string_view::npos) value = value.substr(0, end);
  return value == className;
}

std::vector<uint32_t> Cardinals(const xcb_get_property_reply_t& reply) {
  std::vector<uint32_t> values;
  if (reply.format != 32) return values;
  const auto* first = static_cast<const uint32_t*>(xcb_get_property_value(&reply));
  values.assign(first, first + xcb_get_property_value_length(&reply) / 4);
  return values;
}

std::vector<xcb_window_t> Roots(const Display& display) {
  std::vector<xcb_window_t> roots;
  for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(display.Connection())); it.rem > 0;
       xcb_screen_next(&it))
    roots.push_back(it.data->root);
  return roots;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string_view FirstLabel(std::string_view host) { return host.substr(0, host.find('.')); }

std::string ProcessExecutable(uint32_t pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

bool DisplayReachable() { return static_cast<bool>(Display()); }

std::vector<WindowId> FindTopLevelWindows(const std::string& className) {
  std::vector<WindowId> found;
  Display display;
  if (!display) return found;
  const xcb_atom_t clientList = display.ExistingAtom("_NET_CLIENT_LIST");
  std::unordered_set<xcb_window_t> examined;

  // Looks at the windows' WM_CLASS in one round trip; returns those without
  // one (frames, or windows that are no clients at all).
  auto examine = [&](const std::vector<xcb_window_t>& windows) {
    std::vector<xcb_window_t> todo;
    std::vector<xcb_get_property_cookie_t> cookies;
    for (xcb_window_t window : windows) {
      if (!examined.insert(window).second) continue;
      todo.push_back(window);
      cookies.push_back(display.RequestProperty(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kPropertyUnits));
    }
    std::vector<xcb_window_t> withoutClass;
    for (size_t i = 0; i < todo.size(); ++i) {
      Reply<xcb_get_property_reply_t> reply = display.PropertyReply(cookies[i]);
      if (!reply) continue;  // destroyed meanwhile
      if (reply->type == XCB_ATOM_NONE) {
        withoutClass.push_back(todo[i]);
      } else if (ClassEquals(*reply, className)) {
        found.push_back(todo[i]);
      }
    }
    return withoutClass;
  };

  const std::vector<xcb_window_t> roots = Roots(display);
  for (xcb_window_t root : roots) examined.insert(root);
  for (xcb_window_t root : roots) {
    std::vector<xcb_window_t> level = examine(display.Children({root}));
    for (int depth = 0; depth < kFrameDepth && !level.empty(); ++depth) level = examine(display.Children(level));
    if (clientList == XCB_ATOM_NONE) continue;
    if (Reply<xcb_get_property_reply_t> list = display.Property(root, clientList, XCB_ATOM_WINDOW, kClientListUnits))
      examine(Cardinals(*list));
  }
  return found;
}

bool CloseWindow(WindowId window) {
  Display display;
  if (!display) return false;
  xcb_connection_t* connection = display.Connection();
  const xcb_atom_t protocols = display.ExistingAtom("WM_PROTOCOLS");
  const xcb_atom_t deleteWindow = display.ExistingAtom("WM_DELETE_WINDOW");

  bool takesDelete = false;
  if (protocols != XCB_ATOM_NONE) {
    Reply<xcb_get_property_reply_t> reply = display.Property(window, protocols, XCB_ATOM_ATOM);
    if (!reply) return false;  // no such window
    if (deleteWindow != XCB_ATOM_NONE)
      for (uint32_t atom : Cardinals(*reply)) takesDelete = takesDelete || atom == deleteWindow;
  }

  xcb_void_cookie_t cookie;
  if (takesDelete) {
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = protocols;
    event.data.data32[0] = deleteWindow;
    event.data.data32[1] = XCB_CURRENT_TIME;
    cookie = xcb_send_event_checked(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                    reinterpret_cast<const char*>(&event));
  } else {
    cookie = xcb_kill_client_checked(connection, window);
  }
  // Waits for the server's answer: the request has then been carried out.
  xcb_generic_error_t* error = xcb_request_check(connection, cookie);
  const bool done = error == nullptr;
  std::free(error);
  return done;
}

uint32_t WindowProcessId(WindowId window) {
  Display display;
  if (!display) return 0;
  const xcb_atom_t pidAtom = display.ExistingAtom("_NET_WM_PID");
  if (pidAtom == XCB_ATOM_NONE) return 0;
  Reply<xcb_get_property_reply_t> pidReply = display.Property(window, pidAtom, XCB_ATOM_CARDINAL, 1);
  if (!pidReply || pidReply->type != XCB_ATOM_CARDINAL) return 0;
  const std::vector<uint32_t> pid = Cardinals(*pidReply);
  if (pid.empty() || pid[0] == 0 || pid[0] > 0x7FFFFFFF) return 0;

  // The process id means something only on the machine the client runs on.
  if (Reply<xcb_get_property_reply_t> machine =
          display.Property(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING)) {
    std::string_view client = PropertyBytes(*machine);
    client = client.substr(0, client.find('\0'));
    const std::string host = HostName();
    if (!client.empty() && client != host && FirstLabel(client) != FirstLabel(host)) return 0;
  }
  return pid[0];
}

std::string WindowProcessExecutable(WindowId window) {
  const uint32_t pid = WindowProcessId(window);
  return pid != 0 ? ProcessExecutable(pid) : std::string();
}

}  // namespace kel::platform
