// The listener interface through which the worker's reports reach the user
// interface, and the notification codes.
#pragma once

#include <cstdint>
#include <string>

namespace setup {

enum : int {
  neFinished = 1,        // value: 1 when the worker was stopped early, else 0
  neProgress = 2,        // value: overall percent << 16 | percent of the current action
  neStatusText = 4,      // value: the address of the status text (see StatusTextOf)
  neButtonsChanged = 5,  // value: 0; sent by pages
  neRepaint = 6,         // value: 0; sent after every progress notification
};

class IInstallerNotify {
 public:
  virtual ~IInstallerNotify() = default;
  // Runs on the user-interface thread while the sender waits.
  virtual void Notify(int code, intptr_t value) = 0;
};

// The text carried by a neStatusText notification; it lives until Notify
// returns.
inline const std::string& StatusTextOf(intptr_t value) { return *reinterpret_cast<const std::string*>(value); }

inline int OverallPercentOf(intptr_t progressValue) { return static_cast<int>((progressValue >> 16) & 0xFFFF); }
inline int ActionPercentOf(intptr_t progressValue) { return static_cast<int>(progressValue & 0xFFFF); }

}  // namespace setup
