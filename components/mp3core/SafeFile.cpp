#include "SafeFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "faultio.h"

namespace kv::mp3 {

namespace {
// mkstemp creates 0600; the finished file should get the usual permissions. Read the umask without
// changing it (umask() would race with other threads of the host program).
mode_t currentUmask() {
  std::ifstream st("/proc/self/status");
  std::string line;
  while (std::getline(st, line))
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 022;
}
}  // namespace

SafeFile::~SafeFile() { discard(); }

bool SafeFile::create(const std::string& finalPath, std::string* err) {
  discard();
  final_ = finalPath;
  std::string dir = ".", base = finalPath;
  if (auto slash = finalPath.rfind('/'); slash != std::string::npos) {
    dir = slash == 0 ? "/" : finalPath.substr(0, slash);
    base = finalPath.substr(slash + 1);
  }
  std::string tmpl = dir + (dir == "/" ? "" : "/") + "." + base + ".XXXXXX";
  int fd = mkstemp(tmpl.data());
  if (fd < 0) {
    if (err) *err = "cannot create a file in " + dir + ": " + std::strerror(errno);
    return false;
  }
  fchmod(fd, 0666 & ~currentUmask());
  f_ = kvOpenWriteStream(fd, tmpl.c_str(), "wb");
  if (!f_) {
    close(fd);
    unlink(tmpl.c_str());
    if (err) *err = std::string("cannot write: ") + std::strerror(errno);
    return false;
  }
  temp_ = tmpl;
  return true;
}

bool SafeFile::commit(std::string* err) {
  if (!f_) {
    if (err) *err = "no file open";
    return false;
  }
  bool ok = std::fflush(f_) == 0 && !std::ferror(f_);
  ok = (std::fclose(f_) == 0) && ok;
  f_ = nullptr;
  if (ok && std::rename(temp_.c_str(), final_.c_str()) == 0) {
    temp_.clear();
    return true;
  }
  if (err) *err = "cannot write " + final_ + ": " + std::strerror(errno);
  unlink(temp_.c_str());
  temp_.clear();
  return false;
}

void SafeFile::discard() {
  if (f_) {
    std::fclose(f_);
    f_ = nullptr;
  }
  if (!temp_.empty()) {
    unlink(temp_.c_str());
    temp_.clear();
  }
}

}  // namespace kv::mp3
