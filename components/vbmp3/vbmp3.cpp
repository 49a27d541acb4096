// VBMP3.dll: drives the system MP3 codec on a background thread, and reads MP3 file information.
#include "vbmp3.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Mp3Info.h"
#include "kernel32.h"
#include "l3codec.h"
#include "owned.h"

namespace {

struct Codec {
  kv::SharedLibrary library;
  l3codec_open_fn open = nullptr;
  l3codec_start_fn start = nullptr;
  l3codec_encode_fn encode = nullptr;
  l3codec_close_fn close = nullptr;
};
// A codec stream, released by the codec that opened it.
using Stream = std::unique_ptr<L3CODEC_STREAM, l3codec_close_fn>;

std::mutex g_mutex;  // guards the fields below against concurrent API calls
std::unique_ptr<Codec> g_codec;
Stream g_stream{nullptr, nullptr};  // declared after the codec: released before it is unloaded
std::atomic<int32_t> g_total{0};
std::thread g_thread;
std::atomic<bool> g_stop{false};
std::atomic<int32_t> g_state{VBMP3_STATE_IDLE};
std::atomic<int32_t> g_progress{0};

// A file in dir whose name equals name, letter case ignored (the system folder keeps Windows names).
std::string findInDir(const std::string& dir, const char* name) {
  kv::UniqueDir d(opendir(dir.c_str()));
  if (!d) return {};
  while (dirent* e = readdir(d.get()))
    if (strcasecmp(e->d_name, name) == 0) return dir + "/" + e->d_name;
  return {};
}

std::vector<std::string> systemFolders() {
  std::vector<std::string> dirs;
  char buf[4096] = {};
  UINT n = GetSystemDirectoryA(buf, sizeof buf);
  if (n > 0 && n < sizeof buf) dirs.emplace_back(buf);
  // Beside this library, for hosts whose own system folder lies elsewhere (a test runner, a tool).
  Dl_info di{};
  if (dladdr(reinterpret_cast<void*>(&vbmp3_init), &di) && di.dli_fname) {
    std::string self = di.dli_fname;
    auto slash = self.rfind('/');
    dirs.push_back((slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/system");
  }
  return dirs;
}

bool loadCodec() {
  if (g_codec) return true;
  for (const std::string& dir : systemFolders()) {
    std::string path = findInDir(dir, "L3CODECP.ACM");
    if (path.empty()) continue;
    auto c = std::make_unique<Codec>();
    c->library = kv::SharedLibrary(path);
    const kv::SharedLibrary& lib = c->library;
    if (lib.Bind(c->open, "l3codec_open") && lib.Bind(c->start, "l3codec_start") &&
        lib.Bind(c->encode, "l3codec_encode") && lib.Bind(c->close, "l3codec_close")) {
      g_codec = std::move(c);
      return true;
    }
  }
  return false;
}

// Stops and joins a running encode, then releases the stream (the codec removes an unfinished MP3).
void stopEncode() {
  g_stop = true;
  if (g_thread.joinable()) g_thread.join();
  g_stop = false;
  g_stream.reset();
}

void encodeLoop(L3CODEC_STREAM* s, l3codec_encode_fn encode) {
  int64_t done = 0;
  for (;;) {
    if (g_stop) {
      g_state = VBMP3_STATE_STOPPED;
      return;
    }
    int32_t r = encode(s, &done);
    g_progress = static_cast<int32_t>(std::min<int64_t>(done, INT32_MAX));
    if (r == L3CODEC_DONE) {
      g_state = VBMP3_STATE_IDLE;
      return;
    }
    if (r != L3CODEC_MORE) {
      g_state = VBMP3_STATE_FAILED;
      return;
    }
  }
}

// A host that exits or unloads the library mid-encode must not meet a joinable thread at teardown.
struct StopAtUnload {
  ~StopAtUnload() {
    std::lock_guard lock(g_mutex);
    stopEncode();
  }
} g_stopAtUnload;

void copyText(char (&dst)[128], const std::string& src) {
  size_t n = std::min(src.size(), sizeof dst - 1);
  while (n > 0 && n < src.size() && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) --n;  // whole characters only
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

}  // namespace

VBMP3_API int32_t vbmp3_init(void) {
  std::lock_guard lock(g_mutex);
  stopEncode();
  g_state = VBMP3_STATE_IDLE;
  g_progress = 0;
  g_total = 0;
  return 1;
}

VBMP3_API int32_t vbmp3_encodeOpen(const char* wavPath, int32_t info[4]) {
  std::lock_guard lock(g_mutex);
  stopEncode();
  g_state = VBMP3_STATE_IDLE;
  g_progress = 0;
  g_total = 0;
  if (info) std::fill(info, info + 4, 0);
  if (!wavPath || !loadCodec()) return 0;
  L3CODEC_FORMAT fmt{};
  g_stream = Stream(g_codec->open(wavPath, &fmt), g_codec->close);
  if (!g_stream) return 0;
  g_total = static_cast<int32_t>(std::min<int64_t>(fmt.totalFrames, INT32_MAX));
  if (info) {
    info[0] = fmt.sampleRate;
    info[1] = fmt.channels;
    info[2] = fmt.bitrateKbps;
    info[3] = g_total;
  }
  return 1;
}

VBMP3_API int32_t vbmp3_encodeStart(const char* mp3Path) {
  std::lock_guard lock(g_mutex);
  if (!g_stream || g_thread.joinable() || !mp3Path) return 0;
  if (g_codec->start(g_stream.get(), mp3Path) != 0) {
    g_stream.reset();
    g_state = VBMP3_STATE_FAILED;
    return 0;
  }
  g_stop = false;
  g_state = VBMP3_STATE_ENCODING;
  g_thread = std::thread(encodeLoop, g_stream.get(), g_codec->encode);
  return 1;
}

VBMP3_API int32_t vbmp3_getEncodeState(int32_t* progress, int32_t* other) {
  if (progress) *progress = g_progress;
  if (other) *other = g_total;
  return g_state;
}

VBMP3_API int32_t vbmp3_free(void) {
  std::lock_guard lock(g_mutex);
  bool running = g_state == VBMP3_STATE_ENCODING;
  stopEncode();
  if (running && g_state == VBMP3_STATE_ENCODING) g_state = VBMP3_STATE_STOPPED;
  g_codec.reset();
  return 1;
}

VBMP3_API int32_t vbmp3_open(const char* mp3Path, VBMP3_INFO* info) {
  if (!mp3Path) return 0;
  kv::mp3::Mp3FileInfo mi;
  if (!kv::mp3::readMp3Info(mp3Path, &mi)) return 0;
  if (info) {
    std::memset(info, 0, sizeof *info);
    copyText(info->title, mi.title);
    copyText(info->artist, mi.artist);
    info->v[0] = mi.sampleRate;
    info->v[1] = mi.channels;
    info->v[2] = mi.bitrateKbps;
    info->v[3] = static_cast<int32_t>(std::min(mi.seconds + 0.5, 2147483647.0));
  }
  return 1;
}
