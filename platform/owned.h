// Owners for C library handles: a std::unique_ptr whose deleter calls the library's own
// release function, a file descriptor owner and a dlopen'ed library. Header-only, no Qt: the
// components use it too.
#pragma once
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

namespace kv {

// Deleter calling `Release` on a non-null handle.
template <auto Release>
struct ReleaseWith {
  template <typename T>
  void operator()(T* handle) const {
    if (handle) Release(handle);
  }
};

template <typename T, auto Release>
using Owned = std::unique_ptr<T, ReleaseWith<Release>>;

inline void CloseStream(FILE* f) { std::fclose(f); }
using UniqueFile = Owned<FILE, CloseStream>;
using UniqueDir = Owned<DIR, closedir>;
inline void CloseLibrary(void* h) { dlclose(h); }

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    reset(o.release());
    return *this;
  }
  ~UniqueFd() { reset(); }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// A shared library opened with dlopen and closed with its owner.
class SharedLibrary {
 public:
  SharedLibrary() = default;
  // Kept in memory after the last close, like a DLL for the life of the process: what the
  // library set up globally (its codecs' tables) stays valid, and leak checks can still read it.
  explicit SharedLibrary(const std::string& path)
      : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {}
  bool loaded() const { return handle_ != nullptr; }
  // Looks the function `name` up into `fn`; false when the library lacks it.
  template <typename Fn>
  bool Bind(Fn& fn, const char* name) const {
    fn = handle_ ? reinterpret_cast<Fn>(dlsym(handle_.get(), name)) : nullptr;
    return fn != nullptr;
  }

 private:
  Owned<void, CloseLibrary> handle_;
};

}  // namespace kv
