#include "wave_recorder.h"

#include <alsa/asoundlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "media_internal.h"
#include "owned.h"
#include "syssetup.h"

namespace kv::media {
namespace {

// How far the line input may run ahead of the recording: small, so a recording holds what
// came in until the moment it was stopped.
constexpr unsigned kCaptureLatencyUs = 50000;

inline int16_t ToS16(float x) {
  x = std::clamp(x, -1.0f, 1.0f);
  return int16_t(std::lrintf(x * 32767.0f));
}
inline uint8_t ToU8(float x) {
  x = std::clamp(x, -1.0f, 1.0f);
  return uint8_t(std::lrintf(x * 127.0f) + 128);
}

}  // namespace

WaveRecorder::~WaveRecorder() { Close(); }

MCIERROR WaveRecorder::Open(const std::string& path) {
  path_ = path;
  if (path.empty()) {
    fmt_ = WaveFormat{};
    fmt_.formatTag = 1;
    SetFormat(11025, 8, 1);
    return 0;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    ReportFailure("File not found: " + path);
    return MCIERR_FILE_NOT_FOUND;
  }
  if (!ReadWaveHeader(path, fmt_)) {
    ReportFailure("Not a WAVE file: " + path);
    return MCIERR_INVALID_FILE;
  }
  return 0;
}

MCIERROR WaveRecorder::SetFormat(int rate, int bits, int channels) {
  if (state_ != State::Stopped || writer_.IsOpen()) return MCIERR_NONAPPLICABLE_FUNCTION;
  if (rate > 0) fmt_.rate = rate;
  if (bits > 0) fmt_.bits = bits;
  if (channels > 0) fmt_.channels = channels;
  fmt_.blockAlign = fmt_.channels * std::max(fmt_.bits / 8, 1);
  fmt_.bytesPerSecond = int64_t(fmt_.rate) * fmt_.blockAlign;
  return 0;
}

int64_t WaveRecorder::LengthFrames() const {
  if (writer_.IsOpen()) return frames_;
  return fmt_.blockAlign > 0 ? fmt_.dataBytes / fmt_.blockAlign : 0;
}

int64_t WaveRecorder::PositionFrames() const {
  int64_t len = LengthFrames();
  return position_ < 0 ? len : std::min(position_, len);
}

MCIERROR WaveRecorder::StartSource() {
  SystemSetup setup = LoadSystemSetup();
  std::string error;
  if (setup.source.rfind("alsa:", 0) == 0) {
    SilenceAlsa();
    captureStart_ = std::chrono::steady_clock::now();
    snd_pcm_t* raw = nullptr;
    std::string name = setup.source.substr(5);
    snd_pcm_format_t format = fmt_.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    if (snd_pcm_open(&raw, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) {
      ReportFailure("The recording device " + name + " cannot be opened.");
      return MCIERR_WAVE_INPUTSUNSUITABLE;
    }
    PcmHandle pcm(raw);
    if (snd_pcm_set_params(raw, format, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(fmt_.channels), unsigned(fmt_.rate), 1,
                           kCaptureLatencyUs) < 0 ||
        snd_pcm_start(raw) < 0) {
      ReportFailure("The recording device " + name + " does not record in this format.");
      return MCIERR_WAVE_INPUTSUNSUITABLE;
    }
    pcm_ = std::move(pcm);
    captureQuit_ = false;
    capture_ = std::thread(&WaveRecorder::CaptureLoop, this);
    return 0;
  }
  const int64_t pad = (delayMs_ * fmt_.rate + 500) / 1000;
  if (!bus_.AttachRecorder(this, fmt_.rate, pad, error)) {
    ReportFailure(error);
    return MCIERR_WAVE_INPUTSUNSUITABLE;
  }
  onBus_ = true;
  return 0;
}

void WaveRecorder::StopSource() {
  if (onBus_) {
    bus_.DetachRecorder(this);
    onBus_ = false;
  }
  if (capture_.joinable()) {
    captureStop_ = std::chrono::steady_clock::now();
    captureQuit_ = true;
    capture_.join();
  }
  pcm_.reset();
}

void WaveRecorder::CaptureLoop() {
  using Clock = std::chrono::steady_clock;
  snd_pcm_t* pcm = pcm_.get();
  const size_t align = size_t(fmt_.blockAlign);
  std::vector<uint8_t> buf(align * 1024), ahead;
  int64_t kept = 0;  // frames of this take written
  // A take holds the frames of the time it ran: a source may deliver ahead of time (a sound
  // server's generator fills whole blocks at once) or a little late (buffers on the way).
  auto due = [&](Clock::time_point t) {
    return int64_t(std::chrono::duration<double>(t - captureStart_).count() * fmt_.rate);
  };
  auto keep = [&](int64_t upTo) {
    const int64_t n = std::min<int64_t>(upTo - kept, int64_t(ahead.size() / align));
    if (n <= 0) return;
    Keep(ahead.data(), size_t(n) * align);
    ahead.erase(ahead.begin(), ahead.begin() + std::ptrdiff_t(size_t(n) * align));
    kept += n;
  };
  for (;;) {
    const bool stopping = captureQuit_;
    const int64_t upTo = due(stopping ? captureStop_ : Clock::now());
    keep(upTo);
    // After a stop, what was still on its way in comes in for a moment.
    if (stopping && (kept >= upTo || Clock::now() - captureStop_ > std::chrono::milliseconds(100))) break;
    // Short waits and non-blocking reads: a stop is seen at once.
    if (snd_pcm_wait(pcm, 10) == 0) continue;
    snd_pcm_sframes_t n = snd_pcm_readi(pcm, buf.data(), 1024);
    if (n == -EAGAIN) continue;
    if (n < 0) n = snd_pcm_recover(pcm, int(n), 1);
    if (n < 0) break;
    ahead.insert(ahead.end(), buf.begin(), buf.begin() + std::ptrdiff_t(size_t(n) * align));
  }
}

MCIERROR WaveRecorder::Record(bool overwrite) {
  if (state_ == State::Recording) return 0;
  if (!IsRecordableFormat(fmt_)) {
    ReportFailure("The recorder cannot record this WAVE format.");
    return MCIERR_WAVE_INPUTSUNSUITABLE;
  }
  bool fresh = overwrite || !writer_.IsOpen() || position_ == 0;
  if (fresh) {
    std::string target = path_.empty() ? std::string() : path_;
    if (target.empty()) {
      char tmpl[] = "/tmp/korvessa-rec-XXXXXX";
      const UniqueFd reserved(mkstemp(tmpl));  // only the name is kept
      target = tmpl;
      path_ = target;
    }
    if (!writer_.Open(target, fmt_)) {
      ReportFailure("The recording cannot be written (" + writer_.Reason() + "): " + target);
      return MCIERR_FILE_WRITE;
    }
    frames_ = 0;
  }
  position_ = -1;
  MCIERROR err = StartSource();
  if (err) return err;
  state_ = State::Recording;
  return 0;
}

MCIERROR WaveRecorder::Stop() {
  StopSource();
  state_ = State::Stopped;
  return 0;
}

MCIERROR WaveRecorder::Pause() {
  if (state_ != State::Recording) return 0;
  StopSource();
  state_ = State::Paused;
  return 0;
}

MCIERROR WaveRecorder::Resume() {
  if (state_ != State::Paused) return 0;
  MCIERROR err = StartSource();
  if (err) return err;
  state_ = State::Recording;
  return 0;
}

MCIERROR WaveRecorder::SeekFrames(int64_t frame) {
  if (state_ != State::Stopped) Stop();
  position_ = std::clamp<int64_t>(frame, 0, LengthFrames());
  return 0;
}

MCIERROR WaveRecorder::Save(const std::string& target) {
  if (state_ != State::Stopped) Stop();
  std::string dest = target.empty() ? path_ : target;
  if (dest.empty()) return MCIERR_FILENAME_REQUIRED;
  if (!writer_.IsOpen()) return 0;  // nothing recorded since the last save
  int64_t bytes = writer_.DataBytes();
  if (!writer_.Commit(dest)) {
    ReportFailure("The recording could not be saved (" + writer_.Reason() + "): " + dest);
    return MCIERR_FILE_NOT_SAVED;
  }
  fmt_.dataBytes = bytes;
  fmt_.fmtSize = fmt_.fmtSize >= 18 ? 18 : 16;
  return 0;
}

void WaveRecorder::Close() {
  Stop();
  writer_.Discard();
}

void WaveRecorder::OnMix(const float* left, const float* right, int frames) {
  const int ch = fmt_.channels;
  const bool eight = fmt_.bits == 8;
  buf_.resize(size_t(frames) * fmt_.blockAlign);
  uint8_t* out = buf_.data();
  for (int i = 0; i < frames; ++i) {
    float l = left[i], r = right[i];
    if (ch == 1) l = r = 0.5f * (l + r);
    for (int c = 0; c < ch; ++c) {
      float x = c == 0 ? l : r;
      if (eight) {
        *out++ = ToU8(x);
      } else {
        int16_t s = ToS16(x);
        *out++ = uint8_t(s & 0xFF);
        *out++ = uint8_t((s >> 8) & 0xFF);
      }
    }
  }
  Keep(buf_.data(), buf_.size());
}

void WaveRecorder::Keep(const uint8_t* data, size_t bytes) {
  if (!writer_.Write(data, bytes)) return;
  frames_ += int64_t(bytes / size_t(fmt_.blockAlign));
  if (tap_) tap_(tapContext_, data, UINT(bytes));
}

bool WaveRecorder::SetTap(KvRecordTap tap, void* context) {
  if (state_ == State::Recording) return false;
  tap_ = tap;
  tapContext_ = tap ? context : nullptr;
  return true;
}

}  // namespace kv::media
