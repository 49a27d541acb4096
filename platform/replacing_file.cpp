#include "replacing_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include "faultio.h"

namespace kv {
namespace {

std::string RandomTag() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static thread_local std::mt19937 rng{std::random_device{}()};
  std::string tag(6, 'x');
  for (char& c : tag) c = kChars[rng() % (sizeof kChars - 1)];
  return tag;
}

std::string WithReason(const std::string& what, int err) { return what + ": " + std::strerror(err); }

}  // namespace

Status ReplacingFile::Create(const std::string& target, const std::string& fixedSuffix) {
  Discard();
  given_ = target_ = target;
  struct stat lst {};
  if (lstat(target.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = realpath(target.c_str(), nullptr)) {
      target_ = real;
      std::free(real);
    }
  }
  const size_t slash = target_.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);

  UniqueFd fd;
  std::string temp;
  int err = 0;
  if (!fixedSuffix.empty()) {
    temp = target_ + fixedSuffix;
    fd.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    err = errno;
  } else {
    // A long name falls back to a short one rather than passing the folder's name limit.
    const std::string stem = base.size() + 8 <= NAME_MAX ? "." + base + "." : ".kv-";
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
      temp = dir + stem + RandomTag();
      fd.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));  // under the umask
      err = errno;
      if (!fd && err != EEXIST) break;
    }
  }
  if (!fd) {
    const std::string folder = dir.empty() ? "." : dir.size() == 1 ? dir : dir.substr(0, dir.size() - 1);
    return Status::Error(WithReason("cannot create a file in " + folder, err), err);
  }

  struct stat old {};
  if (stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    fchmod(fd.get(), old.st_mode & 07777);
    if (fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
      // Another owner cannot be kept by an ordinary user; the file becomes ours.
    }
  }
  FILE* f = kvOpenWriteStream(fd.get(), temp.c_str(), "wb");
  if (!f) {
    err = errno;
    ::unlink(temp.c_str());
    return Status::Error(WithReason("cannot write " + temp, err), err);
  }
  fd_ = fd.release();  // now the stream's
  stream_.reset(f);
  temp_ = temp;
  return {};
}

Status ReplacingFile::Commit(const std::string& otherTarget) {
  if (!otherTarget.empty() && otherTarget != given_) target_ = otherTarget;
  if (!stream_) return Status::Error("cannot write " + target_ + ": nothing written", EBADF);
  bool ok = std::fflush(stream_.get()) == 0 && !std::ferror(stream_.get());
  int err = ok ? 0 : errno;
  if (ok && fsync(fd_) != 0) ok = false, err = errno;
  if (std::fclose(stream_.release()) != 0 && ok) ok = false, err = errno;
  fd_ = -1;
  if (ok && std::rename(temp_.c_str(), target_.c_str()) != 0) ok = false, err = errno;
  if (!ok) {
    ::unlink(temp_.c_str());
    temp_.clear();
    return Status::Error(WithReason("cannot write " + target_, err ? err : EIO), err ? err : EIO);
  }
  temp_.clear();
  return {};
}

void ReplacingFile::Discard() {
  stream_.reset();
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace kv
