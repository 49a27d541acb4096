// The outcome of an operation inside the program's own code and components: ok, or a message
// that names what failed and a code saying which failure it was. Win32 and
// media error codes are made from it only where a platform call returns to its caller.
#pragma once
#include <string>
#include <utility>

namespace kv {

class Status {
 public:
  Status() = default;  // ok
  static Status Error(std::string message, int code = 0) {
    Status s;
    s.failed_ = true;
    s.message_ = std::move(message);
    s.code_ = code;
    return s;
  }
  bool ok() const { return !failed_; }
  explicit operator bool() const { return !failed_; }
  const std::string& message() const { return message_; }
  // Which failure, in the terms of the function that returned it: an errno value from file and
  // system calls, a component's own failure kind elsewhere.
  int code() const { return code_; }

 private:
  bool failed_ = false;
  std::string message_;
  int code_ = 0;
};

}  // namespace kv
