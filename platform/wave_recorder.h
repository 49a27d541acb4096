// The waveaudio device: records in the format of the WAVE file it was opened on, from the
// recording source of the system setup (the built-in synth's mix, or an ALSA capture device),
// streaming to a temporary file that "save" renames over the target.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "alsa_handles.h"
#include "synth_bus.h"
#include "wave_file.h"
#include "winmm.h"

namespace kv::media {

class WaveRecorder : public MixSink {
 public:
  enum class State { Stopped, Recording, Paused };

  // `bus`: the synth mix of the recorder's session, its default source.
  explicit WaveRecorder(SynthBus& bus) : bus_(bus) {}
  ~WaveRecorder() override;
  // path empty: a new recording without a file (11025 Hz, 8-bit mono until set otherwise).
  MCIERROR Open(const std::string& path);
  MCIERROR Record(bool overwrite);
  MCIERROR Stop();
  MCIERROR Pause();
  MCIERROR Resume();
  MCIERROR SeekFrames(int64_t frame);
  MCIERROR Save(const std::string& target);
  void Close();
  // Changes the format of a recording not yet started ("set ... bitspersample 16").
  MCIERROR SetFormat(int rate, int bits, int channels);
  // The silence a fast take puts before a song and after its sound ("set ... delay 600").
  void SetDelayMs(int64_t ms) { delayMs_ = ms; }
  // True while the recording takes the built-in synthesizer's mix fast: its time line (the
  // delay included) is counted in frames, so nobody needs to wait for it.
  bool FastTake() const { return onBus_ && bus_.FastTake(); }

  State GetState() const { return state_; }
  int64_t LengthFrames() const;
  int64_t PositionFrames() const;
  const WaveFormat& Format() const { return fmt_; }
  const std::string& Path() const { return path_; }

  void OnMix(const float* left, const float* right, int frames) override;
  // What a take writes also goes to tap (kvMediaSetRecordTap); false while recording.
  bool SetTap(KvRecordTap tap, void* context);

 private:
  // Appends whole frames to the take and hands them to the tap.
  void Keep(const uint8_t* data, size_t bytes);
  MCIERROR StartSource();
  void StopSource();
  void CaptureLoop();

  SynthBus& bus_;
  std::string path_;
  WaveFormat fmt_;
  WaveStreamWriter writer_;
  std::atomic<int64_t> frames_{0};
  int64_t position_ = -1;  // -1: at the end of the recording
  State state_ = State::Stopped;
  bool onBus_ = false;
  int64_t delayMs_ = 0;
  std::vector<uint8_t> buf_;
  KvRecordTap tap_ = nullptr;
  void* tapContext_ = nullptr;
  // ALSA capture source; a take holds the frames of the time between its start and stop.
  std::thread capture_;
  std::atomic<bool> captureQuit_{false};
  std::chrono::steady_clock::time_point captureStart_, captureStop_;
  PcmHandle pcm_;
};

}  // namespace kv::media
