// The built-in synthesizer's mix: its lanes (synth_lanes.h) rendered in 64-frame blocks, driven
// by one thread. The recorder takes the mix as its input; a song on device 0 / the mapper plays into
// it. In real-time mode blocks are paced by a monotonic clock (or by the sound card when the
// mix goes to the speakers, where a song's position is what has been heard).
//
// A fast take (the recorder on the mix with fast recording on) follows a time line counted in
// frames, never a clock: nothing is recorded until a song plays; then come the recording's
// delay as silence, the song with its events on their blocks, the song's tail (its sound after
// the last event, until it has decayed), and the delay's silence again. The same song, SoundFont,
// format and setup give the same frames however fast or busy the machine is.
#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alsa_handles.h"
#include "owned.h"
#include "smf_reader.h"
#include "song_soundfont.h"
#include "synth_lanes.h"

namespace kv::media {

class MixSink {
 public:
  virtual ~MixSink() = default;
  // Called on the render thread with `frames` stereo frames at the mix rate.
  virtual void OnMix(const float* left, const float* right, int frames) = 0;
};

// One per media session: sessions of one process render side by side, each on its own synth.
class SynthBus {
 public:
  SynthBus() = default;
  SynthBus(const SynthBus&) = delete;
  SynthBus& operator=(const SynthBus&) = delete;

  // The recorder's input: starts the mix at `rate` (restarting it when it runs at another rate).
  // `padFrames`: the silence a fast take puts before a song and after its tail.
  bool AttachRecorder(MixSink* sink, int rate, int64_t padFrames, std::string& error);
  // Ends the recorder's input; a fast take first finishes the tail and silence of its song.
  void DetachRecorder(MixSink* sink);
  // True while the attached recorder takes a fast take (its time line is counted, not clocked).
  bool FastTake();

  // Starts a song at `fromMs` with its SoundFont (the song's own goes on top of the configured
  // one); returns a token for the calls below, 0 on failure.
  int PlaySong(std::shared_ptr<const Song> song, const SongSoundFont& font, int64_t fromMs, std::string& error);
  // Stops the song: its notes are released, the mix keeps rendering their tails.
  void StopSong(int token);
  // Position in ms (at most the song's length) and whether the song, with its tail, has ended;
  // false for an unknown token.
  bool SongState(int token, int64_t& positionMs, bool& ended);

  ~SynthBus();

 private:
  friend struct FairLock;
  // Where a song is on the time line. Lead and Trail are a fast take's counted silences.
  enum class Phase { Idle, Lead, Song, Tail, Trail, Done };

  void RenderLoop();
  bool StartLocked(int rate, bool speakers, std::string& error);
  void StopThread(std::unique_lock<std::mutex>& lock);
  void MaybeStop(std::unique_lock<std::mutex>& lock);
  bool FastTakeLocked() const { return fast_ && sink_ != nullptr; }
  // Renders up to `frames` frames of the time line into left/right; returns how many it did
  // (fewer when the song's time line ends, or when a span must end on a block boundary).
  int RenderSpan(float* left, float* right, int frames);
  int RenderTail(float* left, float* right, int frames, float* const* stems);
  // The channels' buffers a span renders into from `done` on (2 per channel; null: not kept).
  std::array<float*, 2 * kMidiChannels> StemsAt(int done);
  float* Stem(int channel, int side) { return stems_.data() + size_t(2 * channel + side) * stemSpan_; }
  // The stem cache (see SystemSetup::stemCache): opened for a song, filled by a fast take of the
  // mix, replayed by a take of one of its stems.
  void OpenStemCache();
  void WriteStemCache(int frames);
  void CloseStemCache(bool complete);
  int Replay(float* left, float* right, int frames);
  // Queues on the lanes the song's events due in the next maxBlocks blocks, each on the block
  // it falls on; returns how many blocks the song's span has.
  int QueueDue(int maxBlocks);
  void Measure(const float* left, const float* right, int frames);
  void StartTail();
  void FinishTail();
  void ReleaseNotes();
  void CatchUp(std::unique_lock<std::mutex>& lock);
  // Puts the song's own SoundFont on top of the synth's stack (the one there before goes).
  void UseSongFont(const SongSoundFont& font);
  // Routes the song's channels to the lanes.
  void AssignSong();
  // The fade of a looped song, from its frames on the time line: a gain ramp on the mix.
  void PlaceFade();
  void ApplyFade(float* left, float* right, int frames) const;

  std::mutex mu_;
  std::condition_variable cv_;
  std::atomic<int> waiters_{0};  // callers waiting for mu_ (see FairLock)
  std::thread thread_;
  bool quit_ = false;
  bool running_ = false;
  int rate_ = 0;
  bool fast_ = true;
  double tailSeconds_ = -1;  // the setup's tail: negative = until the sound has decayed
  std::unique_ptr<SynthLanes> lanes_;  // new for every start
  // A stem take (KORVESSA_STEM=N): the recorder gets channel N's share of the mix, rendered,
  // timed and faded as the mix is, so the stems of a song have its length and add up to it.
  int stem_ = -1;
  std::vector<float> stems_;  // the channels' shares of the chunk being rendered
  size_t stemSpan_ = 0;
  std::string stemCache_;
  std::array<kv::UniqueFile, kMidiChannels> cacheOut_;  // a take of the mix: its channels' shares
  kv::UniqueFile cacheIn_;                                  // a stem take: its channel's share
  std::vector<float> cacheBuf_;
  PcmHandle pcm_;      // when the mix goes to the speakers
  MixSink* sink_ = nullptr;
  int64_t rendered_ = 0;
  // Rendered samples the speakers have not played yet (the sound card's and the sound
  // server's buffers); a song's position and end follow what has been heard.
  int64_t queued_ = 0;
  // Real-time pacing: the sample that was due at anchorTime_; false while rendering fast.
  bool paced_ = false;
  std::chrono::steady_clock::time_point anchorTime_;
  int64_t anchorSample_ = 0;

  // The song playing on the synth and its time line, in frames of the mix.
  std::shared_ptr<const Song> song_;
  int token_ = 0;
  int nextToken_ = 1;
  size_t next_ = 0;
  Phase phase_ = Phase::Idle;
  int64_t padFrames_ = 0;   // the recorder's silence before a song and after its tail
  int64_t takePad_ = 0;     // ... of the song playing (0 unless it plays into a fast take)
  int64_t leadEnd_ = 0;     // Lead: where the song starts
  int64_t songStart_ = 0;   // the song's time 0
  int64_t lengthEnd_ = 0;   // the song's own end (its End of Track); the tail starts here
  int64_t tailLimit_ = 0;   // Tail: the latest end (a fixed tail, or the cap of a decaying one)
  int64_t fadeStart_ = 0;   // Tail: a tail ended by its limit fades out from here
  bool tailAuto_ = true;    // Tail: ends once the sound has decayed
  int64_t trailEnd_ = 0;    // Trail: where the time line ends
  int64_t loudEnd_ = 0;     // the frame after the last one at or above the audible level
  int64_t songEnd_ = 0;     // where the time line ended (Done)
  bool songEnded_ = false;
  // The song's own SoundFont on the lanes: which one (path and offset) and its FluidSynth id
  // (the same on every lane: they load the same SoundFonts in the same order).
  SongSoundFont songFont_;
  std::string songFontKey_;
  int songFontId_ = -1;
  KeyGroups fontKeys_, songFontKeys_;  // exclusive classes of the configured and the song's SoundFont
  // The fade-out of a looped song, in frames of the time line; it holds after the song ends
  // (its tail stays faded) until the next song starts.
  int64_t fadeFrom_ = -1;
  int64_t fadeTo_ = -1;
};

}  // namespace kv::media
