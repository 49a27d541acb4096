// vbwav2wma.dll: the vbww_* calls over the shared WMA encoder, one encode at a time, each in a
// worker thread so the caller only polls.
#include "components/vbwav2wma/vbwav2wma.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "components/wmacore/WmaEncode.h"

#define VBWW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

enum Phase : int { kIdle = 0, kEncoding = 1, kOpened = 2 };

struct State {
  std::mutex m;
  std::thread worker;
  std::unique_ptr<kv::wma::Encoder> encoder;
  std::atomic<int> phase{kIdle};
  std::atomic<int32_t> progress{0};
  std::atomic<bool> cancel{false};
  std::string lastError;

  // Unloading the library while an encode runs: stop it so no thread outlives the code.
  ~State() {
    cancel = true;
    if (worker.joinable()) worker.join();
  }
};

State& S() {
  static State s;
  return s;
}

int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < 0 ? 0 : static_cast<int32_t>(v); }

}  // namespace

VBWW_EXPORT int32_t vbww_encodeOpen(const char* wavPath, const char* wmaPath, int32_t openInfo[4], void* settings) {
  State& s = S();
  std::lock_guard lock(s.m);
  if (openInfo)
    for (int i = 0; i < 4; ++i) openInfo[i] = 0;
  if (s.phase == kEncoding) {
    s.lastError = "an encode is still running";
    return 0;
  }
  if (s.worker.joinable()) s.worker.join();

  kv::wma::Settings opts;
  if (settings) {
    const auto* rec = static_cast<const VbwwEncodeSettings*>(settings);
    opts.bitRateKbps = rec->bitRate;
    opts.sampleRate = rec->sampleRate;
    opts.channels = rec->channels;
    opts.tags.title = kv::WmaSettingsText(rec->title, sizeof rec->title);
    opts.tags.author = kv::WmaSettingsText(rec->author, sizeof rec->author);
    opts.tags.copyright = kv::WmaSettingsText(rec->copyright, sizeof rec->copyright);
    opts.tags.comment = kv::WmaSettingsText(rec->description, sizeof rec->description);
    opts.tags.rating = kv::WmaSettingsText(rec->rating, sizeof rec->rating);
  }
  s.encoder = std::make_unique<kv::wma::Encoder>();
  if (kv::Status st = s.encoder->Open(wavPath ? wavPath : "", wmaPath ? wmaPath : "", opts); !st) {
    s.lastError = st.message();
    s.encoder.reset();
    s.phase = kIdle;
    return 0;
  }
  const kv::wma::WaveSource& src = s.encoder->Source();
  if (openInfo) {
    openInfo[0] = src.sampleRate;
    openInfo[1] = src.channels;
    openInfo[2] = src.bitsPerSample;
    openInfo[3] = Clamp32(src.frames);
  }
  s.lastError.clear();
  s.progress = 0;
  s.cancel = false;
  s.phase = kOpened;
  return 1;
}

VBWW_EXPORT int32_t vbww_encodeStart(void) {
  State& s = S();
  std::lock_guard lock(s.m);
  if (s.phase != kOpened || !s.encoder) return 0;
  s.phase = kEncoding;
  s.worker = std::thread([&s] {
    const kv::Status st = s.encoder->Run([&s](int64_t done, int64_t) {
      s.progress = Clamp32(done);
      return !s.cancel.load();
    });
    std::lock_guard lock(s.m);
    s.lastError = st.message();
    s.encoder.reset();
    // Last: once the caller sees "finished", the input is closed and the output in place.
    s.phase = kIdle;
  });
  return 1;
}

VBWW_EXPORT int32_t vbww_getEncodeState(int32_t* progress) {
  State& s = S();
  int phase = s.phase.load();
  if (progress) *progress = s.progress.load();
  return phase;
}

VBWW_EXPORT int32_t vbww_debug(void) {
  State& s = S();
  std::lock_guard lock(s.m);
  if (s.lastError.empty()) return 0;
  std::fprintf(stderr, "vbwav2wma: %s\n", s.lastError.c_str());
  return 1;
}

VBWW_EXPORT const char* vbww_lastError(void) {
  State& s = S();
  std::lock_guard lock(s.m);
  static thread_local std::string copy;
  copy = s.lastError;
  return copy.c_str();
}
