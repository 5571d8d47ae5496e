#pragma once

// The dataset framework's exception classes. The engine raises through these
// without depending on any user-interface library.

#include <exception>
#include <string>

namespace orb {

// Base of every exception the framework and the engine raise; holds the
// message text (UTF-8).
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }

 protected:
  void SetMessage(std::string message) { FMessage = std::move(message); }

 private:
  std::string FMessage;
};

// The framework's database error: raised for misuse of a dataset component
// and base of the engine's cursor-status error.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// Raises EDatabaseError with a plain message.
[[noreturn]] inline void DatabaseError(const std::string& message) { throw EDatabaseError(message); }

}  // namespace orb
