// An MP3 made while its song is recorded. The recorder hands every block it writes to Tap, on
// its render thread; a thread of this object encodes the blocks with gogo.dll's LAME settings,
// so the MP3 is byte for byte the one GoGo makes of the finished WAVE, and it is ready soon
// after the recording ends instead of one whole encode later.
#pragma once
#include <QObject>
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "Mp3Encoder.h"
#include "winmm.h"

namespace kv {

class RecordingEncoder {
 public:
  // Creates the MP3 (under a temporary name until finished) for 16-bit PCM of rate and channels.
  RecordingEncoder(const QString& mp3Path, int rate, int channels, int bitrate, bool jointStereo);
  ~RecordingEncoder();  // an unfinished MP3 leaves nothing
  RecordingEncoder(const RecordingEncoder&) = delete;
  RecordingEncoder& operator=(const RecordingEncoder&) = delete;

  bool ok() const { return bool(opened_); }
  // A KvRecordTap: self is the encoder, data the WAVE data bytes of one block.
  static void Tap(void* self, const void* data, UINT bytes);
  // The recording has ended: encodes what is left and puts the MP3 in place, then calls
  // done(made, error code) on context's thread.
  void Finish(QObject* context, std::function<void(bool made, int code)> done);

 private:
  void Run();
  void Push();  // under mu_: moves the block being gathered to the queue

  const int channels_;
  mp3::Mp3Encoder mp3_;
  Status opened_;
  std::vector<int16_t> gathering_;  // render thread: the block being filled
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::vector<int16_t>> queue_;
  size_t queued_ = 0;  // samples in queue_
  bool ended_ = false, quit_ = false;
  Status result_;  // the first failure: later blocks are dropped
  QObject* context_ = nullptr;
  std::function<void(bool, int)> done_;
  std::thread thread_;
};

}  // namespace kv
