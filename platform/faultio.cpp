#include "faultio.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

struct Limit {
  bool active = false;
  long long bytes = 0;
  std::string match;
};

const Limit& TheLimit() {
  static const Limit limit = [] {
    Limit l;
    const char* v = std::getenv("KORVESSA_FAULT_WRITE_LIMIT");
    if (!v || !*v) return l;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(v, &end, 10);
    if (errno != 0 || *end != '\0' || n < 0) return l;
    l.active = true;
    l.bytes = n;
    if (const char* m = std::getenv("KORVESSA_FAULT_WRITE_MATCH")) l.match = m;
    return l;
  }();
  return limit;
}

std::atomic<long long> g_written{0};

bool Applies(const char* path) {
  const Limit& l = TheLimit();
  return l.active && (l.match.empty() || (path && std::strstr(path, l.match.c_str())));
}

// Bytes of `want` still under the limit; they are counted as written.
size_t Take(size_t want) {
  const long long limit = TheLimit().bytes;
  long long used = g_written.load();
  for (;;) {
    const long long left = used >= limit ? 0 : limit - used;
    const long long take = std::min<long long>(left, static_cast<long long>(std::min<size_t>(want, std::numeric_limits<long long>::max())));
    if (g_written.compare_exchange_weak(used, used + take)) return static_cast<size_t>(take);
  }
}

struct Cookie {
  int fd;
  std::string path;
};

ssize_t CookieWrite(void* c, const char* buf, size_t size) {
  auto* k = static_cast<Cookie*>(c);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = kvWrite(k->fd, k->path.c_str(), buf + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done ? static_cast<ssize_t>(done) : -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t CookieRead(void* c, char* buf, size_t size) { return read(static_cast<Cookie*>(c)->fd, buf, size); }

int CookieSeek(void* c, off64_t* offset, int whence) {
  const off_t r = lseek(static_cast<Cookie*>(c)->fd, static_cast<off_t>(*offset), whence);
  if (r < 0) return -1;
  *offset = r;
  return 0;
}

int CookieClose(void* c) {
  auto* k = static_cast<Cookie*>(c);
  const int r = close(k->fd);
  delete k;
  return r;
}

}  // namespace

KV_API ssize_t kvWrite(int fd, const char* path, const void* data, size_t bytes) {
  if (!Applies(path) || bytes == 0) return write(fd, data, bytes);
  const size_t allowed = Take(bytes);
  if (allowed == 0) {
    errno = ENOSPC;
    return -1;
  }
  const ssize_t n = write(fd, data, allowed);
  // Bytes the system did not take are not used up.
  if (n < static_cast<ssize_t>(allowed)) g_written -= static_cast<long long>(allowed) - (n < 0 ? 0 : n);
  return n;
}

KV_API FILE* kvOpenWriteStream(int fd, const char* path, const char* mode) {
  if (!Applies(path)) return fdopen(fd, mode);
  auto* cookie = new Cookie{fd, path ? path : ""};
  FILE* f = fopencookie(cookie, mode, cookie_io_functions_t{CookieRead, CookieWrite, CookieSeek, CookieClose});
  if (!f) delete cookie;
  return f;
}
