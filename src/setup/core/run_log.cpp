#include "setup/core/run_log.h"

#include <cstdio>

#include "kel/base/text.h"
#include "kel/platform/filesystem.h"
#include "kel/platform/locale.h"
#include "kel/platform/users.h"

namespace setup {

namespace {

// How many names OpenNew tries before it gives up.
constexpr int kNewNameAttempts = 100;

// "10:31:02.118 " (the indentation of following lines is as wide).
constexpr size_t kStampWidth = 13;

std::string TimeStamp() {
  const kel::platform::LocalDateTime now = kel::platform::LocalNow();
  char text[kStampWidth + 1];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", now.hour, now.minute, now.second, now.millisecond);
  return text;
}

// The text as log lines: every line break starts an indented line, other
// control characters become '?', and what is no UTF-8 becomes U+FFFD.
void AppendEntryText(std::string& out, std::string_view text) {
  bool plain = kel::kelIsValidUtf8(text);
  for (const char c : text) plain = plain && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
  if (plain) {
    out += text;
    return;
  }
  size_t pos = 0;
  while (pos < text.size()) {
    const char32_t c = kel::kelNextCodePoint(text, pos);
    if (c == '\r' || c == '\n') {
      if (c == '\r' && pos < text.size() && text[pos] == '\n') ++pos;  // CR LF is one break
      out += '\n';
      out.append(kStampWidth, ' ');
    } else if (c < 0x20 || c == 0x7F) {
      out += '?';
    } else {
      kel::kelAppendCodePoint(out, c);
    }
  }
}

}  // namespace

TSetupLog::~TSetupLog() { kel::platform::CloseFile(file_); }

bool TSetupLog::Open(const std::string& path, bool continuing, std::string* problem) {
  const kel::platform::FileHandle file = kel::platform::OpenFileToAppend(
      path,
      continuing ? kel::platform::AppendDisposition::OpenOrCreate : kel::platform::AppendDisposition::CreateAlways,
      kel::platform::InvokingUser(), problem);
  if (file == kel::platform::kInvalidFile) return false;
  std::lock_guard lock(lock_);
  kel::platform::CloseFile(file_);
  file_ = file;
  path_ = path;
  return true;
}

bool TSetupLog::OpenNew(const std::string& program, std::string* problem) {
  const kel::platform::LocalDateTime now = kel::platform::LocalNow();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "-%04d%02d%02d-%02d%02d%02d", now.date.year, now.date.month, now.date.day,
                now.hour, now.minute, now.second);
  const std::string stem = kel::platform::TemporaryFilesFolder() + program + stamp;
  const kel::platform::UserAccount user = kel::platform::InvokingUser();
  for (int attempt = 1; attempt <= kNewNameAttempts; ++attempt) {
    const std::string path = stem + (attempt == 1 ? "" : "-" + std::to_string(attempt)) + ".log";
    const kel::platform::FileHandle file =
        kel::platform::OpenFileToAppend(path, kel::platform::AppendDisposition::CreateNew, user, problem);
    if (file != kel::platform::kInvalidFile) {
      std::lock_guard lock(lock_);
      kel::platform::CloseFile(file_);
      file_ = file;
      path_ = path;
      return true;
    }
    kel::platform::FileStatus taken;
    if (!kel::platform::GetFileStatus(path, taken)) return false;  // not for want of a free name
  }
  return false;
}

bool TSetupLog::IsOpen() const {
  std::lock_guard lock(lock_);
  return file_ != kel::platform::kInvalidFile;
}

void TSetupLog::Write(std::string_view text) {
  std::lock_guard lock(lock_);
  if (file_ == kel::platform::kInvalidFile) return;
  // The time is taken under the lock, so that entries stand in time order.
  std::string entry = TimeStamp();
  AppendEntryText(entry, text);
  entry += '\n';
  std::string error;
  if (kel::platform::WriteFile(file_, entry.data(), entry.size(), &error) < 0) {
    problem_ = error;
    kel::platform::CloseFile(file_);
    file_ = kel::platform::kInvalidFile;
  }
}

std::string TSetupLog::Problem() const {
  std::lock_guard lock(lock_);
  return problem_;
}

void TSetupLog::Notify(int code, intptr_t value) {
  if (code == neStatusText)
    Write("Status: " + StatusTextOf(value));
  else if (code == neFinished)
    Write(value != 0 ? "The run was stopped before its end." : "The run has ended.");
}

}  // namespace setup
