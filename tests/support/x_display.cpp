#include "support/x_display.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "support/line_reporting_process.h"

namespace orvi::test {

namespace {

xcb_atom_t Intern(xcb_connection_t* connection, const std::string& name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  std::free(reply);
  return atom;
}

void RoundTrip(xcb_connection_t* connection) {
  std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

}  // namespace

// --- XvfbServer -------------------------------------------------------------------

XvfbServer::XvfbServer(const std::string& screen) {
  // Xvfb writes the display number it chose to a descriptor of its own. It
  // must not reset when its last client leaves: a connection made during the
  // reset fails.
  const std::string number =
      StartReportingProcess({"Xvfb", "-displayfd", std::to_string(kReportFd), "-nolisten", "tcp", "-noreset",
                             "-screen", "0", screen},
                            pid_);
  if (!number.empty()) name_ = ":" + number;
}

XvfbServer::~XvfbServer() { StopReportingProcess(pid_); }

// --- PressKeys ----------------------------------------------------------------------

bool PressKeys(const std::string& display, const std::vector<uint32_t>& keysyms) {
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(connection) != 0) {
    xcb_disconnect(connection);
    return false;
  }
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const int count = setup->max_keycode - setup->min_keycode + 1;
  xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
      connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<uint8_t>(count)), nullptr);
  std::vector<uint8_t> keycodes;
  if (mapping != nullptr) {
    const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(mapping);
    for (const uint32_t keysym : keysyms)
      for (int code = 0; code < count; ++code)
        if (symbols[code * mapping->keysyms_per_keycode] == keysym) {
          keycodes.push_back(static_cast<uint8_t>(setup->min_keycode + code));
          break;
        }
  }
  std::free(mapping);
  const bool found = keycodes.size() == keysyms.size();
  if (found) {
    for (const uint8_t code : keycodes)
      xcb_test_fake_input(connection, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    for (auto code = keycodes.rbegin(); code != keycodes.rend(); ++code)
      xcb_test_fake_input(connection, XCB_KEY_RELEASE, *code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    RoundTrip(connection);
  }
  xcb_disconnect(connection);
  return found;
}

// --- TestWindow -------------------------------------------------------------------

TestWindow::TestWindow(const std::string& display, TestWindowOptions options) : options_(std::move(options)) {
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(connection) != 0) {
    xcb_disconnect(connection);
    return;
  }
  connection_ = connection;
  protocolsAtom_ = Intern(connection_, "WM_PROTOCOLS");
  deleteAtom_ = Intern(connection_, "WM_DELETE_WINDOW");
  const xcb_atom_t pidAtom = Intern(connection_, "_NET_WM_PID");
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
  xcb_window_t parent = screen->root;
  for (int i = 0; i <= options_.frameDepth; ++i) {
    const xcb_window_t window = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, parent, 0, 0, 40, 30, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    if (i < options_.frameDepth) frames_.push_back(window);
    parent = window;
  }
  window_ = parent;

  // WM_CLASS comes last: once the window can be found by its class, the
  // server holds every other property.
  if (options_.takesDelete)
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, protocolsAtom_, XCB_ATOM_ATOM, 32, 1,
                        &deleteAtom_);
  if (options_.setPid) {
    const uint32_t pid = static_cast<uint32_t>(getpid());
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, pidAtom, XCB_ATOM_CARDINAL, 32, 1, &pid);
  }
  const std::string machine = options_.clientMachine.empty() ? HostName() : options_.clientMachine;
  xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8,
                      static_cast<uint32_t>(machine.size()), machine.data());
  std::string wmClass = options_.instanceName + '\0' + options_.className + '\0';
  xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      static_cast<uint32_t>(wmClass.size()), wmClass.data());
  for (xcb_window_t frame : frames_) xcb_map_window(connection_, frame);
  xcb_map_window(connection_, window_);
  RoundTrip(connection_);

  if (pipe2(stopPipe_, O_CLOEXEC) != 0) return;
  thread_ = std::thread([this] { Run(); });
}

TestWindow::~TestWindow() {
  if (thread_.joinable()) {
    const char stop = 1;
    [[maybe_unused]] const ssize_t written = write(stopPipe_[1], &stop, 1);
    thread_.join();
  }
  for (int fd : stopPipe_)
    if (fd >= 0) close(fd);
  if (connection_ != nullptr) {
    if (!connectionLost_) Destroy();
    xcb_disconnect(connection_);
  }
}

void TestWindow::Destroy() {
  if (destroyed_.exchange(true)) return;
  xcb_destroy_window(connection_, frames_.empty() ? window_ : frames_.front());
  RoundTrip(connection_);
}

void TestWindow::Run() {
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
      if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
        const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if (message->window == window_ && message->type == protocolsAtom_ && message->format == 32 &&
            message->data.data32[0] == deleteAtom_) {
          ++deleteRequests_;
          if (options_.closesOnDelete) Destroy();
          if (options_.onDeleteRequest) options_.onDeleteRequest();
        }
      }
      std::free(event);
    }
    if (xcb_connection_has_error(connection_) != 0) {
      connectionLost_ = true;
      return;
    }
    pollfd pollers[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (poll(pollers, 2, -1) < 0 && errno != EINTR) return;
    if (pollers[1].revents != 0) return;
  }
}

// --- Helpers ------------------------------------------------------------------------

void SetRootWindowList(const std::string& display, const std::string& property, const std::vector<uint32_t>& windows) {
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(connection) == 0) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t atom = Intern(connection, property);
    if (windows.empty()) {
      xcb_delete_property(connection, root, atom);
    } else {
      xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom, XCB_ATOM_WINDOW, 32,
                          static_cast<uint32_t>(windows.size()), windows.data());
    }
    RoundTrip(connection);
  }
  xcb_disconnect(connection);
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMilliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace orvi::test
