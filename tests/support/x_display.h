// An X server of a test's own (Xvfb on a display number it picks itself) and
// top-level windows that a test opens on it, for the code that finds and
// closes the player's windows.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct xcb_connection_t;

namespace orvi::test {

// Xvfb, started on a free display number; stopped when this goes away.
class XvfbServer {
 public:
  // `screen` is Xvfb's WIDTHxHEIGHTxDEPTH.
  explicit XvfbServer(const std::string& screen = "320x240x24");
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N", or "" when Xvfb is missing or did not start.
  const std::string& Name() const { return name_; }
  bool Running() const { return !name_.empty(); }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

struct TestWindowOptions {
  std::string instanceName = "test";
  std::string className;
  bool takesDelete = true;     // WM_PROTOCOLS lists WM_DELETE_WINDOW
  bool closesOnDelete = true;  // the window destroys itself when asked
  bool setPid = true;          // _NET_WM_PID is this process
  std::string clientMachine;   // WM_CLIENT_MACHINE; this host's name when empty
  int frameDepth = 0;          // nested in that many frames without WM_CLASS
  // Called on the window's thread after each WM_DELETE_WINDOW request.
  std::function<void()> onDeleteRequest;
};

// A top-level window on its own connection, whose events a thread of its own
// handles, as a separate program's would be.
class TestWindow {
 public:
  TestWindow(const std::string& display, TestWindowOptions options);
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  // The client window (0 when the display could not be reached).
  uint32_t Id() const { return window_; }
  // Not destroyed, and its connection still alive.
  bool Open() const { return !destroyed_ && !connectionLost_; }
  bool ConnectionLost() const { return connectionLost_; }
  int DeleteRequests() const { return deleteRequests_; }

 private:
  void Run();
  void Destroy();

  TestWindowOptions options_;
  xcb_connection_t* connection_ = nullptr;
  uint32_t window_ = 0;
  std::vector<uint32_t> frames_;
  uint32_t protocolsAtom_ = 0;
  uint32_t deleteAtom_ = 0;
  int stopPipe_[2] = {-1, -1};
  std::atomic<bool> destroyed_{false};
  std::atomic<bool> connectionLost_{false};
  std::atomic<int> deleteRequests_{0};
  std::thread thread_;
};

// Sets a list of windows as a property (type WINDOW) of the root window, as a
// window manager publishes _NET_CLIENT_LIST; an empty list deletes it.
void SetRootWindowList(const std::string& display, const std::string& property, const std::vector<uint32_t>& windows);

// Types keys on the display as its keyboard would (XTEST): the keys named by
// their keysyms are pressed in order and released in reverse order, so
// {XK_Shift_L, XK_Tab} is Shift+Tab. False when the display or a key is
// missing.
bool PressKeys(const std::string& display, const std::vector<uint32_t>& keysyms);

// Polls the condition every few milliseconds until it holds or the time is up.
bool WaitFor(const std::function<bool()>& condition, int timeoutMilliseconds = 10000);

}  // namespace orvi::test
