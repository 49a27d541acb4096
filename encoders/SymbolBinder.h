// Binds the exported functions of a loaded library to function pointers; ok() turns false as
// soon as one name is missing, so a library lacking an entry point counts as unusable.
#pragma once
#include <dlfcn.h>

namespace kv {

class SymbolBinder {
 public:
  explicit SymbolBinder(void* library) : m_library(library) {}
  template <typename Fn>
  void operator()(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(dlsym(m_library, name));
    m_ok = m_ok && fn != nullptr;
  }
  bool ok() const { return m_ok; }

 private:
  void* m_library;
  bool m_ok = true;
};

}  // namespace kv
