// The one exception base of the project and the library's own error classes.
//
// Every error the system raises carries a user-facing message. Error classes
// are plain subclasses that inherit the message constructor:
//
//     class EFOpenError : public kel::Exception { using Exception::Exception; };
//
// Catch `kel::Exception` to handle any of them; `Message()` is what the user
// sees.
#pragma once

#include <exception>
#include <string>

namespace kel {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}

  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A stream could not deliver the bytes asked for ("Stream read error").
class EReadError : public Exception { using Exception::Exception; };
// A stream could not take the bytes given to it ("Stream write error").
class EWriteError : public Exception { using Exception::Exception; };
// A file stream could not open its file.
class EFOpenError : public Exception { using Exception::Exception; };
// An operating-system call failed; the message is the system's error text.
class EOSError : public Exception { using Exception::Exception; };
// An argument was outside what the routine accepts.
class EArgumentError : public Exception { using Exception::Exception; };

}  // namespace kel
