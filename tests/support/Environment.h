// An environment variable set (or with nullptr removed) until the end of the scope.
#pragma once
#include <cstdlib>
#include <string>

class EnvGuard {
 public:
  EnvGuard(const std::string& name, const char* value) : name_(name), had_(getenv(name.c_str()) != nullptr) {
    if (had_) old_ = getenv(name.c_str());
    value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
  }
  ~EnvGuard() { had_ ? setenv(name_.c_str(), old_.c_str(), 1) : unsetenv(name_.c_str()); }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  std::string name_;
  bool had_;
  std::string old_;
};
