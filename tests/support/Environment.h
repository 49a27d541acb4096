// An environment variable set (or with nullptr removed) until the end of the scope.
#pragma once
#include <cstdlib>
#include <string>

class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name), had_(getenv(name) != nullptr) {
    if (had_) old_ = getenv(name);
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~EnvGuard() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  const char* name_;
  bool had_;
  std::string old_;
};
