// Writing a file under a temporary name in its target folder, renamed into place only when complete,
// so a failed or interrupted run never leaves a half file under the final name.
#pragma once
#include <cstdio>
#include <string>

namespace kv::mp3 {

class SafeFile {
public:
  SafeFile() = default;
  ~SafeFile();
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;

  // Creates "<folder>/.<name>.XXXXXX" beside finalPath. False (with err set) when the folder is not writable.
  bool create(const std::string& finalPath, std::string* err);
  FILE* stream() const { return f_; }
  const std::string& tempPath() const { return temp_; }
  // Flushes, closes and renames onto the final name. False (temp removed) when any step fails.
  bool commit(std::string* err);
  // Closes and removes the temporary file; the final name is untouched.
  void discard();

private:
  FILE* f_ = nullptr;
  std::string temp_;
  std::string final_;
};

}  // namespace kv::mp3
