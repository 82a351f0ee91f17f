// POSIX backend: the one place where errno becomes the caller's error text.
#pragma once

#include <string>

namespace kel::platform::posix {

// The system's text for an errno value.
std::string ErrorText(int error);
// Stores ErrorText(errno) in *error when error is not null.
void ReportErrno(std::string* error);
// The result of a routine that failed: ReportErrno, then false.
bool Fail(std::string* error);
// The same with the text for `code` instead of errno's.
bool FailWith(int code, std::string* error);
// The text for a file that another process holds locked.
std::string SharingViolationText();

// A wait status as a program's result: its exit code, 128 + the signal that
// killed it, or -1.
int ExitCodeOf(int waitStatus);

}  // namespace kel::platform::posix
