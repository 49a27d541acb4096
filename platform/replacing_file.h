// The one way the program's own writers (the recorder, the settings file, the encoders and the
// wave filter) write a file: under a temporary name in the target's folder, renamed over the
// target only when complete, so a failed or interrupted write never leaves a half file under
// the final name. Writes pass the full-disk fault hook of faultio.h.
#pragma once
#include <cstdio>
#include <string>

#include "owned.h"
#include "status.h"

namespace kv {

class ReplacingFile {
 public:
  ReplacingFile() = default;
  ~ReplacingFile() { Discard(); }
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates the temporary file: the target's name followed by `fixedSuffix` when one is given
  // (a name a later run can find and remove; an older file of that name is overwritten), else
  // a hidden unique name ".<name>.XXXXXX". A target that is a symbolic link stays one: the file
  // it points to is replaced.
  Status Create(const std::string& target, const std::string& fixedSuffix = {});
  bool IsOpen() const { return stream_ != nullptr; }
  FILE* Stream() const { return stream_.get(); }
  // The stream's descriptor, for write-back hints; the stream owns it.
  int Fd() const { return fd_; }
  const std::string& TempPath() const { return temp_; }
  // Flushes, syncs and closes the file and renames it over the target (or `otherTarget` in the
  // same folder), which keeps an older file's permissions. On failure the temporary file is
  // removed and the target is untouched.
  Status Commit(const std::string& otherTarget = {});
  // Closes and removes the temporary file; the target is untouched.
  void Discard();

 private:
  UniqueFile stream_;
  int fd_ = -1;
  std::string temp_;
  std::string given_;   // the target as the caller named it
  std::string target_;  // the file replaced (a link's destination)
};

}  // namespace kv
