#include "engine/RecordingEncoder.h"

#include <cstring>

#include "shell/FileName.h"

namespace kv {

namespace {
// Blocks of about a third of a second go to the encoder at a time: few hand-overs.
constexpr size_t kBlockSamples = 32768;
// Rendering waits when the encoder is this far behind (about 12 s of 44.1 kHz stereo).
constexpr size_t kMaxQueuedSamples = 1 << 20;
}  // namespace

RecordingEncoder::RecordingEncoder(const QString& mp3Path, int rate, int channels, int bitrate, bool jointStereo)
    : channels_(channels) {
  mp3::EncodeOptions opt;  // gogo.dll's defaults but for the settings' bit rate and mode
  opt.bitrateKbps = bitrate;
  opt.mode = jointStereo ? mp3::ChannelMode::JointStereo : mp3::ChannelMode::Stereo;
  opened_ = mp3_.openStream(rate, channels, opt);
  if (opened_) opened_ = mp3_.openOutput(PathBytes(mp3Path).toStdString());
  if (!opened_) return;
  gathering_.reserve(kBlockSamples);
  thread_ = std::thread(&RecordingEncoder::Run, this);
}

RecordingEncoder::~RecordingEncoder() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void RecordingEncoder::Tap(void* self, const void* data, UINT bytes) {
  auto* e = static_cast<RecordingEncoder*>(self);
  const size_t samples = bytes / sizeof(int16_t);
  const size_t at = e->gathering_.size();
  e->gathering_.resize(at + samples);
  std::memcpy(e->gathering_.data() + at, data, samples * sizeof(int16_t));  // little-endian, as in the file
  if (e->gathering_.size() < kBlockSamples) return;
  std::unique_lock<std::mutex> lock(e->mu_);
  e->cv_.wait(lock, [e] { return e->queued_ < kMaxQueuedSamples || e->quit_ || !e->result_; });
  e->Push();
}

void RecordingEncoder::Push() {
  if (gathering_.empty()) return;
  queued_ += gathering_.size();
  queue_.push_back(std::move(gathering_));
  gathering_ = {};
  gathering_.reserve(kBlockSamples);
  cv_.notify_all();
}

void RecordingEncoder::Finish(QObject* context, std::function<void(bool, int)> done) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!thread_.joinable()) {  // never opened: the failure is already known
    QMetaObject::invokeMethod(context, [done, code = opened_.code()] { done(false, code); }, Qt::QueuedConnection);
    return;
  }
  Push();  // the recorder has stopped: its last blocks are here
  context_ = context;
  done_ = std::move(done);
  ended_ = true;
  cv_.notify_all();
}

void RecordingEncoder::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return quit_ || ended_ || !queue_.empty(); });
    if (quit_) return;
    if (queue_.empty()) break;  // ended, and everything is encoded
    std::vector<int16_t> block = std::move(queue_.front());
    queue_.pop_front();
    queued_ -= block.size();
    cv_.notify_all();
    if (!result_) continue;
    lock.unlock();
    Status st = mp3_.feed(block.data(), int64_t(block.size()) / channels_);
    lock.lock();
    if (!st) result_ = st;
  }
  lock.unlock();
  const Status st = result_ ? mp3_.finish() : result_;
  lock.lock();
  QMetaObject::invokeMethod(context_, [done = std::move(done_), made = bool(st), code = st.code()] { done(made, code); },
                            Qt::QueuedConnection);
}

}  // namespace kv
