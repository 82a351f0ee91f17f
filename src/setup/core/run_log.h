// The log of a run (/LOG): a UTF-8 text file that tells what the run did,
// written as it goes. Every entry is one write of whole lines straight to the
// file, so a run that crashes or is killed leaves what happened until then.
//
// The entry writes who runs what and how it ended, the worker each action
// with its time, and the engine and the product's actions each file they
// write, rename or delete, the backup, the registry entry and the shortcuts;
// as a listener of the session the log takes the status texts and the end of
// the run, in a wizard run as in an unattended one.
//
// A log is never a reason for a run to fail: Open says why it cannot be
// opened, and a write that fails closes the log and keeps the reason.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "kel/platform/file.h"
#include "setup/core/notify.h"

namespace setup {

class TSetupLog : public IInstallerNotify {
 public:
  // A log that writes nothing until it is opened.
  TSetupLog() = default;
  ~TSetupLog() override;
  TSetupLog(const TSetupLog&) = delete;
  TSetupLog& operator=(const TSetupLog&) = delete;

  // Opens `path` with the rights of the user the run is for, never through
  // a symbolic link (kel/platform/file.h, OpenFileToAppend): emptied, or
  // with `continuing` (a run that another run of this program started)
  // appended to. False, with the reason in `problem`, when it cannot be.
  bool Open(const std::string& path, bool continuing, std::string* problem);
  // Opens a new file in the temporary folder named after the program and
  // the local time, "Setup-20250504-103102.log" ("-2", "-3", ... before the
  // extension when the name is taken).
  bool OpenNew(const std::string& program, std::string* problem);
  bool IsOpen() const;
  // The file's path; "" before it was opened.
  const std::string& Path() const { return path_; }

  // Writes one entry: the local time of day ("10:31:02.118") and the text.
  // The lines of a text of several lines after the first are indented below
  // it; other control characters become "?" and bytes that are no UTF-8
  // U+FFFD, so a file name cannot make up entries. Any thread.
  void Write(std::string_view text);
  // Why a write failed; "" while none has.
  std::string Problem() const;

  // Status texts and the end of the worker's run.
  void Notify(int code, intptr_t value) override;

 private:
  mutable std::mutex lock_;
  kel::platform::FileHandle file_ = kel::platform::kInvalidFile;
  std::string path_;
  std::string problem_;
};

}  // namespace setup
