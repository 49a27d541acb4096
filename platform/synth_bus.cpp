#include "synth_bus.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "media_internal.h"
#include "owned.h"
#include "syssetup.h"

namespace kv::media {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChunkBlocks = 16;  // blocks rendered between looks at the clock and the lock
constexpr int kFastChunkBlocks = 128;  // in fast mode: as many as FluidSynth renders in one go
constexpr int kPlaybackRate = 44100;

// A song's tail ends once its sound has stayed below -80 dBFS (1e-4 of full scale: under half
// a step of 16-bit audio, inaudible at any listening level) for 0.2 s, which no waveform of an
// audible pitch stays below for while it still sounds. A sound that never decays ends 30 s
// after the song, fading out over its last 2 s; a fixed tail fades over at most its last half.
constexpr float kAudible = 1e-4f;
constexpr double kQuietHoldSeconds = 0.2;
constexpr double kTailCapSeconds = 30;
constexpr double kTailFadeSeconds = 2;

inline bool Loud(float l, float r) { return std::fabs(l) >= kAudible || std::fabs(r) >= kAudible; }

PcmHandle OpenSpeakers(int rate) {
  SilenceAlsa();
  snd_pcm_t* raw = nullptr;
  if (snd_pcm_open(&raw, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) return nullptr;
  PcmHandle pcm(raw);
  if (snd_pcm_set_params(raw, SND_PCM_FORMAT_FLOAT_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, unsigned(rate), 1,
                         100000) < 0)
    return nullptr;
  return pcm;
}

}  // namespace

// Callers announce themselves so the render thread, which holds the lock for most of its
// time in fast mode, steps aside for them.
struct FairLock {
  std::unique_lock<std::mutex> lock;
  explicit FairLock(SynthBus& bus) {
    ++bus.waiters_;
    lock = std::unique_lock<std::mutex>(bus.mu_);
    --bus.waiters_;
  }
};

SynthBus::~SynthBus() {
  std::unique_lock<std::mutex> lock(mu_);
  StopThread(lock);
}

bool SynthBus::StartLocked(int rate, bool speakers, std::string& error) {
  SystemSetup setup = LoadSystemSetup();
  std::string sf = ResolveSoundFont(setup);
  if (sf.empty()) {
    error = MissingSoundFontMessage();
    return false;
  }
  // The lanes are a setting, never the machine's cores: the same song gives the same samples
  // on any machine and at any -j. One lane spreads its voices over the cores instead (Threads,
  // else all of them, never more than the machine has): FluidSynth mixes them in the same order
  // on any number of threads. In real time it renders a few blocks per call, where waking many
  // threads costs more than it saves: two at most there.
  const int hardware = int(std::max(1u, std::thread::hardware_concurrency()));
  int cores = std::min(hardware, setup.threads > 0 ? setup.threads : hardware);
  if (speakers || !setup.fast) cores = std::min(cores, 2);
  lanes_ = SynthLanes::Start(sf, rate, setup.lanes, cores, setup.stem, error);
  stem_ = setup.stem;
  stemCache_ = setup.stemCache;
  songFontKey_.clear();  // new lanes hold only the configured SoundFont
  songFontId_ = -1;
  // Only lanes split a channel by key.
  fontKeys_ = setup.lanes > 1 ? ExclusiveKeyGroups(sf) : KeyGroups{};
  if (!lanes_) return false;
  const float gain = 0.2f * float(std::clamp(setup.volume, 0, 100)) / 100.0f;
  lanes_->Each([&](fluid_synth_t* s) { fluid_synth_set_gain(s, gain); });
  fast_ = setup.fast;
  tailSeconds_ = setup.tailSeconds;
  rate_ = rate;
  rendered_ = 0;
  queued_ = 0;
  phase_ = Phase::Idle;
  loudEnd_ = 0;
  pcm_ = speakers ? OpenSpeakers(rate) : nullptr;
  quit_ = false;
  running_ = true;
  paced_ = false;  // until the render thread has set its clock
  thread_ = std::thread(&SynthBus::RenderLoop, this);
  return true;
}

void SynthBus::StopThread(std::unique_lock<std::mutex>& lock) {
  if (!running_) return;
  quit_ = true;
  cv_.notify_all();
  lock.unlock();
  if (thread_.joinable()) thread_.join();
  lock.lock();
  running_ = false;
  lanes_.reset();
  songFontKey_.clear();
  songFontId_ = -1;
  if (pcm_) {
    // Dropped, not drained: a song ends once it has been heard, and what is still queued (the
    // tails after Stop or after the end) would only hold up the caller.
    snd_pcm_drop(pcm_.get());
    pcm_.reset();
    queued_ = 0;
  }
}

void SynthBus::MaybeStop(std::unique_lock<std::mutex>& lock) {
  if (!sink_ && !song_) StopThread(lock);
}

int SynthBus::QueueDue(int maxBlocks) {
  const auto& ev = song_->events;
  // An event goes to the block boundary nearest to its exact sample time: the first block
  // whose start + half a block passes it.
  const int64_t limit = rendered_ + kSynthBlock / 2;
  int64_t last = 0;
  while (next_ < ev.size()) {
    const int64_t at = songStart_ + song_->SampleAt(ev[next_].units, rate_);
    const int64_t block = at < limit ? 0 : (at - limit) / kSynthBlock + 1;
    if (block >= maxBlocks) return maxBlocks;
    lanes_->Queue(int(block), *song_, ev[next_]);
    last = block;
    ++next_;
  }
  // The song's end falls on the first block boundary at or after its End of Track, and the
  // block of its last event is rendered.
  return int(std::clamp<int64_t>((lengthEnd_ - rendered_ + kSynthBlock - 1) / kSynthBlock, last + 1, maxBlocks));
}

void SynthBus::ReleaseNotes() {
  if (!lanes_) return;
  lanes_->Each([](fluid_synth_t* synth) {
    for (int ch = 0; ch < 16; ++ch) {
      fluid_synth_cc(synth, ch, 64, 0);  // sustain pedal up, or the notes would hang on
      fluid_synth_cc(synth, ch, 66, 0);
      fluid_synth_all_notes_off(synth, ch);
    }
  });
}

void SynthBus::Measure(const float* left, const float* right, int frames) {
  for (int i = frames - 1; i >= 0; --i) {
    if (Loud(left[i], right[i])) {
      loudEnd_ = rendered_ + i + 1;
      return;
    }
  }
}

void SynthBus::StartTail() {
  ReleaseNotes();
  lengthEnd_ = rendered_;
  tailAuto_ = tailSeconds_ < 0;
  // A looped song that has faded out has ended: its fade was its tail.
  const bool faded = fadeFrom_ >= 0 && rendered_ >= fadeTo_;
  const int64_t length = faded ? 0 : std::llround((tailAuto_ ? kTailCapSeconds : tailSeconds_) * rate_);
  tailLimit_ = rendered_ + length;
  fadeStart_ = tailLimit_ - std::min<int64_t>(length / 2, std::llround(kTailFadeSeconds * rate_));
  phase_ = Phase::Tail;
}

void SynthBus::FinishTail() {
  // What still sounds is below hearing or faded out: it stops, so nothing comes back after.
  lanes_->Each([](fluid_synth_t* s) { fluid_synth_all_sounds_off(s, -1); });
  if (takePad_ > 0) {
    phase_ = Phase::Trail;
    trailEnd_ = rendered_ + takePad_;
    return;
  }
  phase_ = Phase::Done;
  songEnd_ = rendered_;
  songEnded_ = true;
}

int SynthBus::RenderTail(float* left, float* right, int frames, float* const* stems) {
  const int64_t hold = std::llround(kQuietHoldSeconds * rate_);
  if (rendered_ >= tailLimit_ || (tailAuto_ && rendered_ - loudEnd_ >= hold)) {
    FinishTail();
    return 0;
  }
  const int64_t blocks = std::min<int64_t>(frames / kSynthBlock, (tailLimit_ - rendered_ + kSynthBlock - 1) / kSynthBlock);
  if (blocks <= 0) return 0;
  const int len = int(blocks * kSynthBlock);
  lanes_->Render(len, left, right, stems);
  int64_t end = std::min<int64_t>(tailLimit_, rendered_ + len);
  for (int i = 0; i < len; ++i) {
    const int64_t f = rendered_ + i;
    if (f >= end) break;
    if (f >= fadeStart_) {
      const float gain = float(tailLimit_ - f) / float(tailLimit_ - fadeStart_);
      left[i] *= gain;
      right[i] *= gain;
      for (int s = 0; s < 2 * kMidiChannels; ++s)
        if (stems[s]) stems[s][i] *= gain;
    }
    // What is recorded counts: a fade that has brought the sound below hearing ends it too.
    if (Loud(left[i], right[i])) {
      loudEnd_ = f + 1;
    } else if (tailAuto_ && f + 1 - loudEnd_ >= hold) {
      end = f + 1;
    }
  }
  const int kept = int(end - rendered_);
  rendered_ = end;
  if (end >= tailLimit_ || (tailAuto_ && rendered_ - loudEnd_ >= hold)) FinishTail();
  return kept;
}

int SynthBus::RenderSpan(float* left, float* right, int frames) {
  int done = 0;
  auto silence = [&](int n) {
    std::fill_n(left + done, n, 0.0f);
    std::fill_n(right + done, n, 0.0f);
    for (float* p : StemsAt(done))
      if (p) std::fill_n(p, n, 0.0f);
  };
  while (done < frames) {
    const int room = frames - done;
    switch (phase_) {
      case Phase::Lead:
      case Phase::Trail: {  // counted silence
        const int64_t end = phase_ == Phase::Lead ? leadEnd_ : trailEnd_;
        const int n = int(std::clamp<int64_t>(end - rendered_, 0, room));
        silence(n);
        done += n;
        rendered_ += n;
        if (rendered_ < end) break;
        if (phase_ == Phase::Lead) {
          phase_ = Phase::Song;
          break;
        }
        phase_ = Phase::Done;
        songEnd_ = rendered_;
        songEnded_ = true;
        return done;
      }
      case Phase::Song: {
        if (next_ >= song_->events.size() && rendered_ >= lengthEnd_) {
          StartTail();
          break;
        }
        // Events are applied at block starts; each lane renders the blocks between two of its
        // events in one call, and the lanes render the whole span side by side.
        const int blocks = room / kSynthBlock;
        if (blocks <= 0) return done;
        const int len = QueueDue(blocks) * kSynthBlock;
        const auto stems = StemsAt(done);
        lanes_->Render(len, left + done, right + done, stems.data());
        ApplyFade(left + done, right + done, len);
        for (int s = 0; s < kMidiChannels; ++s)
          if (stems[size_t(2 * s)]) ApplyFade(stems[size_t(2 * s)], stems[size_t(2 * s + 1)], len);
        Measure(left + done, right + done, len);
        done += len;
        rendered_ += len;
        break;
      }
      case Phase::Tail: {
        const int n = RenderTail(left + done, right + done, room, StemsAt(done).data());
        done += n;
        if (n == 0 && phase_ == Phase::Tail) return done;  // less than a block of room
        if (phase_ == Phase::Done) return done;
        break;
      }
      case Phase::Done: {  // the song's sound has ended: silence until the next song
        const int len = room / kSynthBlock * kSynthBlock;
        if (len == 0) return done;
        silence(len);
        done += len;
        rendered_ += len;
        break;
      }
      case Phase::Idle: {  // nothing plays: the synth renders what still sounds (a stopped song's release)
        const int len = room / kSynthBlock * kSynthBlock;
        if (len == 0) return done;
        lanes_->Render(len, left + done, right + done, StemsAt(done).data());
        done += len;
        rendered_ += len;
        break;
      }
    }
  }
  return done;
}

void SynthBus::RenderLoop() {
  constexpr int kChunk = kFastChunkBlocks * kSynthBlock;
  std::vector<float> left(kChunk), right(kChunk), interleaved(2 * kChunk);
  stemSpan_ = kChunk;
  stems_.assign(stem_ >= 0 ? 2 * kMidiChannels * stemSpan_ : 0, 0.0f);
  std::unique_lock<std::mutex> lock(mu_);
  anchorTime_ = Clock::now();
  anchorSample_ = rendered_;
  bool wasFast = false;
  while (!quit_) {
    const bool fast = FastTakeLocked();
    if (fast != wasFast) {
      if (!fast) {  // back to real time from here on
        anchorTime_ = Clock::now();
        anchorSample_ = rendered_;
      }
      wasFast = fast;
    }
    paced_ = !fast && !pcm_;
    int want = kChunkBlocks * kSynthBlock;
    if (fast) {
      // A fast take has nothing to record until a song plays, and nothing after its time line.
      if (phase_ == Phase::Idle || phase_ == Phase::Done) {
        cv_.wait(lock);
        continue;
      }
      want = kChunk;
    } else if (!pcm_) {
      double elapsed = std::chrono::duration<double>(Clock::now() - anchorTime_).count();
      int64_t due = anchorSample_ + int64_t(elapsed * rate_) - rendered_;
      if (due < kSynthBlock) {
        auto wait = std::chrono::duration<double>(double(kSynthBlock - due) / rate_);
        cv_.wait_for(lock, std::chrono::duration_cast<Clock::duration>(wait));
        continue;
      }
      want = int(std::min<int64_t>(due / kSynthBlock, kChunkBlocks)) * kSynthBlock;
    }
    const bool replay = bool(cacheIn_);
    const int frames = replay ? Replay(left.data(), right.data(), want) : RenderSpan(left.data(), right.data(), want);
    if (frames > 0) WriteStemCache(frames);
    if (phase_ == Phase::Done) CloseStemCache(true);
    // A stem take records its channel; the mix still decides its time line.
    if (sink_ && frames > 0 && stem_ > 0 && !replay) sink_->OnMix(Stem(stem_ - 1, 0), Stem(stem_ - 1, 1), frames);
    else if (sink_ && frames > 0) sink_->OnMix(left.data(), right.data(), frames);
    if (pcm_ && frames > 0) {
      for (int i = 0; i < frames; ++i) {
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
      }
      snd_pcm_t* pcm = pcm_.get();
      lock.unlock();  // the sound card paces the loop
      snd_pcm_sframes_t w = snd_pcm_writei(pcm, interleaved.data(), snd_pcm_uframes_t(frames));
      if (w < 0) w = snd_pcm_recover(pcm, int(w), 1);
      snd_pcm_sframes_t delay = 0;
      if (w >= 0 && snd_pcm_delay(pcm, &delay) < 0) delay = 0;
      lock.lock();
      queued_ = std::clamp<int64_t>(delay, 0, rendered_);
      if (w < 0) {  // the card went away: carry on silently in real time
        pcm_.reset();
        queued_ = 0;
        anchorTime_ = Clock::now();
        anchorSample_ = rendered_;
      }
    }
    cv_.notify_all();
    if (waiters_.load()) {
      lock.unlock();
      while (waiters_.load()) std::this_thread::yield();
      lock.lock();
    }
  }
}

bool SynthBus::AttachRecorder(MixSink* sink, int rate, int64_t padFrames, std::string& error) {
  FairLock l(*this);
  if (running_ && (rate_ != rate || pcm_)) {
    // Restart at the recording's rate; a song in progress continues where it was.
    int64_t posMs = song_ ? std::max<int64_t>(0, (rendered_ - songStart_) * 1000 / rate_) : 0;
    StopThread(l.lock);
    if (!StartLocked(rate, false, error)) {
      song_.reset();
      token_ = 0;
      return false;
    }
    if (song_) {
      UseSongFont(songFont_);
      AssignSong();
      for (size_t i = 0; i < next_; ++i) {  // bring the new lanes' programs and controllers along
        const auto& e = song_->events[i];
        if ((e.status & 0xF0) != 0x80 && (e.status & 0xF0) != 0x90) lanes_->Send(*song_, e);
      }
      songStart_ = rendered_ - song_->SampleAt(song_->UnitsAtMs(posMs), rate_);
      lengthEnd_ = songStart_ + song_->LengthSamples(rate_);
      phase_ = Phase::Song;
      PlaceFade();
    }
  } else if (!running_ && !StartLocked(rate, false, error)) {
    return false;
  }
  sink_ = sink;
  padFrames_ = std::max<int64_t>(padFrames, 0);
  cv_.notify_all();
  return true;
}

void SynthBus::CatchUp(std::unique_lock<std::mutex>& lock) {
  // In real time the mix follows the clock; on a busy machine the render thread can fall
  // behind it. Starting a song or stopping a recording first waits for the blocks already due,
  // so silences before and after a song are as long as the wall-clock waits that made them.
  const auto now = Clock::now();
  cv_.wait_for(lock, std::chrono::milliseconds(500), [&] {
    if (!running_ || !paced_) return true;
    const double elapsed = std::chrono::duration<double>(now - anchorTime_).count();
    return rendered_ + kSynthBlock > anchorSample_ + int64_t(elapsed * rate_);
  });
}

bool SynthBus::FastTake() {
  FairLock l(*this);
  return running_ && FastTakeLocked();
}

void SynthBus::DetachRecorder(MixSink* sink) {
  FairLock l(*this);
  if (sink_ != sink) return;
  if (FastTakeLocked()) {
    // The song's tail and the silence after it belong to the take: rendered before it ends.
    cv_.wait(l.lock, [&] { return !running_ || (phase_ != Phase::Tail && phase_ != Phase::Trail); });
  } else {
    CatchUp(l.lock);  // the recording ends at the moment it is stopped
  }
  sink_ = nullptr;
  MaybeStop(l.lock);
}

int SynthBus::PlaySong(std::shared_ptr<const Song> song, const SongSoundFont& font, int64_t fromMs,
                       std::string& error) {
  FairLock l(*this);
  if (!running_ && !StartLocked(kPlaybackRate, true, error)) return 0;
  CatchUp(l.lock);
  if (song_) ReleaseNotes();
  UseSongFont(font);
  song_ = std::move(song);
  AssignSong();
  const int64_t fromUnits = song_->UnitsAtMs(std::max<int64_t>(fromMs, 0));
  next_ = song_->EventIndexAtMs(std::max<int64_t>(fromMs, 0));
  int voices = 0;
  lanes_->Each([&](fluid_synth_t* s) { voices += fluid_synth_get_active_voice_count(s); });
  if (fromMs <= 0 && voices == 0) {
    // Setting the rate again re-initialises the reverb's modulated delay lines, whose phase
    // otherwise depends on how long the synth has run: a song then renders the same samples
    // whenever it starts, in fast and in real-time recording alike.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    lanes_->Each([&](fluid_synth_t* s) {
      fluid_synth_system_reset(s);
      fluid_synth_set_sample_rate(s, float(rate_));
    });
#pragma GCC diagnostic pop
  }
  for (size_t i = 0; i < next_; ++i) {  // a song resumed mid-way gets its programs and controllers
    const auto& e = song_->events[i];
    if ((e.status & 0xF0) != 0x80 && (e.status & 0xF0) != 0x90) lanes_->Send(*song_, e);
  }
  // A fast take counts the recording's delay before the song and after its tail.
  takePad_ = FastTakeLocked() ? padFrames_ : 0;
  leadEnd_ = rendered_ + (fromMs <= 0 ? takePad_ : 0);
  songStart_ = leadEnd_ - song_->SampleAt(fromUnits, rate_);
  lengthEnd_ = songStart_ + song_->LengthSamples(rate_);
  loudEnd_ = rendered_;
  PlaceFade();
  phase_ = leadEnd_ > rendered_ ? Phase::Lead : Phase::Song;
  songEnded_ = false;
  OpenStemCache();
  token_ = nextToken_++;
  cv_.notify_all();
  return token_;
}

void SynthBus::StopSong(int token) {
  FairLock l(*this);
  if (token == 0 || token != token_) return;
  if (FastTakeLocked() && (phase_ == Phase::Lead || phase_ == Phase::Song)) {
    StartTail();  // a stopped song ends where it is, with its tail and the silence after it
    cv_.notify_all();
  } else if (!FastTakeLocked() && phase_ != Phase::Done) {
    ReleaseNotes();
    phase_ = Phase::Idle;
  }
  song_.reset();
  token_ = 0;
  MaybeStop(l.lock);
}

bool SynthBus::SongState(int token, int64_t& positionMs, bool& ended) {
  FairLock l(*this);
  if (token == 0 || token != token_ || !song_) return false;
  const int64_t heard = rendered_ - queued_;
  positionMs = std::clamp<int64_t>((heard - songStart_) * 1000 / rate_, 0, song_->LengthMs());
  ended = songEnded_ && heard >= songEnd_;
  return true;
}

namespace {

// An embedded SoundFont goes to FluidSynth as a file of its own: its RIFF chunk copied to a
// private temporary file, which is removed once loaded (the samples are then in memory).
std::string CopyEmbedded(const SongSoundFont& font) {
  kv::UniqueFile in(std::fopen(font.path.c_str(), "rb"));
  if (!in || std::fseek(in.get(), long(font.offset), SEEK_SET) != 0) return "";
  const char* dir = std::getenv("TMPDIR");
  std::string name = std::string(dir && *dir ? dir : "/tmp") + "/korvessa-sf-XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return "";
  kv::UniqueFile out(::fdopen(fd, "wb"));
  if (!out) {
    ::close(fd);
    ::unlink(name.c_str());
    return "";
  }
  std::vector<char> buf(1 << 16);
  uint64_t left = font.size;
  while (left > 0) {
    const size_t n = std::fread(buf.data(), 1, size_t(std::min<uint64_t>(left, buf.size())), in.get());
    if (n == 0 || std::fwrite(buf.data(), 1, n, out.get()) != n) break;
    left -= n;
  }
  if (left > 0 || std::fflush(out.get()) != 0) {
    ::unlink(name.c_str());
    return "";
  }
  return name;
}

}  // namespace

void SynthBus::UseSongFont(const SongSoundFont& font) {
  songFont_ = font;
  const std::string key = font.Own() ? font.path + "#" + std::to_string(font.offset) : "";
  if (key == songFontKey_ || !lanes_) return;
  // The last song's own SoundFont goes first: none stays loaded after its last song.
  if (songFontId_ >= 0) lanes_->Each([&](fluid_synth_t* s) { fluid_synth_sfunload(s, songFontId_, 1); });
  songFontId_ = -1;
  songFontKey_ = key;
  if (key.empty()) return;
  const std::string file = font.kind == SongSoundFont::Kind::Embedded ? CopyEmbedded(font) : font.path;
  if (file.empty()) return;
  // On top of the configured SoundFont: its presets win, the configured one has the rest.
  // Every lane gets it (the same id on each); a lane that cannot load it unloads it everywhere.
  int id = fluid_is_soundfont(file.c_str()) ? 0 : FLUID_FAILED;
  std::vector<int> ids;
  if (id != FLUID_FAILED)
    lanes_->Each([&](fluid_synth_t* s) { ids.push_back(fluid_synth_sfload(s, file.c_str(), 1)); });
  if (file != font.path) ::unlink(file.c_str());
  if (ids.empty() || std::any_of(ids.begin(), ids.end(), [&](int i) { return i != ids[0] || i == FLUID_FAILED; })) {
    for (int i = 0; i < int(ids.size()); ++i)
      if (ids[size_t(i)] != FLUID_FAILED) fluid_synth_sfunload(lanes_->Lane(i), ids[size_t(i)], 1);
    return;  // the song plays with the configured SoundFont
  }
  id = ids[0];
  songFontId_ = id;
  if (lanes_->Count() > 1)
    songFontKeys_ = ExclusiveKeyGroups(font.path, font.kind == SongSoundFont::Kind::Embedded ? font.offset : 0);
  if (font.kind == SongSoundFont::Kind::Embedded)
    lanes_->Each([&](fluid_synth_t* s) { fluid_synth_set_bank_offset(s, id, font.bankShift); });
}

void SynthBus::AssignSong() {
  lanes_->Assign(*song_, songFontId_ >= 0 ? Join(fontKeys_, songFontKeys_) : fontKeys_);
}

void SynthBus::PlaceFade() {
  fadeFrom_ = fadeTo_ = -1;
  if (!song_ || song_->fadeStartUnits < 0) return;
  fadeFrom_ = songStart_ + song_->SampleAt(song_->fadeStartUnits, rate_);
  fadeTo_ = lengthEnd_;
}

void SynthBus::ApplyFade(float* left, float* right, int frames) const {
  if (fadeFrom_ < 0 || rendered_ + frames <= fadeFrom_) return;
  // Linear in amplitude from 1 at fadeFrom_ to 0 at fadeTo_, silence after: the gain of a
  // frame depends only on its place on the time line.
  const double span = double(std::max<int64_t>(fadeTo_ - fadeFrom_, 1));
  for (int i = 0; i < frames; ++i) {
    const int64_t at = rendered_ + i;
    if (at < fadeFrom_) continue;
    const float g = at >= fadeTo_ ? 0.0f : float(1.0 - double(at - fadeFrom_) / span);
    left[i] *= g;
    right[i] *= g;
  }
}

std::array<float*, 2 * kMidiChannels> SynthBus::StemsAt(int done) {
  std::array<float*, 2 * kMidiChannels> out{};
  if (stem_ < 0 || stems_.empty()) return out;
  for (int c = 0; c < kMidiChannels; ++c) {
    // A take of the mix that fills the cache keeps every channel; a stem take its own.
    const bool kept = stem_ == 0 ? bool(cacheOut_[size_t(c)]) : c + 1 == stem_;
    if (!kept) continue;
    out[size_t(2 * c)] = Stem(c, 0) + done;
    out[size_t(2 * c + 1)] = Stem(c, 1) + done;
  }
  return out;
}

namespace {
std::string CacheFile(const std::string& folder, int channel) {
  char name[16];
  std::snprintf(name, sizeof name, "/%02d.f32", channel + 1);
  return folder + name;
}
}  // namespace

void SynthBus::OpenStemCache() {
  CloseStemCache(false);
  // Only a fast take's frames are the recording's, frame for frame.
  if (stemCache_.empty() || stem_ < 0 || !FastTakeLocked() || !song_ || next_ != 0) return;
  const std::string complete = stemCache_ + "/complete";
  if (stem_ > 0) {
    if (::access(complete.c_str(), F_OK) == 0) cacheIn_.reset(std::fopen(CacheFile(stemCache_, stem_ - 1).c_str(), "rb"));
    return;
  }
  ::unlink(complete.c_str());
  const auto notes = NotesPerChannel(*song_);
  for (int c = 0; c < kMidiChannels; ++c)
    if (notes[size_t(c)] > 0) cacheOut_[size_t(c)].reset(std::fopen(CacheFile(stemCache_, c).c_str(), "wb"));
}

void SynthBus::WriteStemCache(int frames) {
  for (int c = 0; c < kMidiChannels; ++c) {
    kv::UniqueFile& f = cacheOut_[size_t(c)];
    if (!f) continue;
    cacheBuf_.resize(2 * size_t(frames));
    const float* l = Stem(c, 0);
    const float* r = Stem(c, 1);
    for (int i = 0; i < frames; ++i) {
      cacheBuf_[2 * size_t(i)] = l[i];
      cacheBuf_[2 * size_t(i) + 1] = r[i];
    }
    // A cache that cannot be written is no cache: the stems are then rendered again.
    if (std::fwrite(cacheBuf_.data(), sizeof(float), cacheBuf_.size(), f.get()) != cacheBuf_.size()) {
      for (kv::UniqueFile& g : cacheOut_) g.reset();
      return;
    }
  }
}

void SynthBus::CloseStemCache(bool complete) {
  bool wrote = false, failed = false;
  for (kv::UniqueFile& f : cacheOut_) {
    if (!f) continue;
    wrote = true;
    failed = std::fclose(f.release()) != 0 || failed;
  }
  cacheIn_.reset();
  if (wrote && complete && !failed) {
    kv::UniqueFile mark(std::fopen((stemCache_ + "/complete").c_str(), "wb"));
  }
}

int SynthBus::Replay(float* left, float* right, int frames) {
  cacheBuf_.resize(2 * size_t(frames));
  const int n = int(std::fread(cacheBuf_.data(), 2 * sizeof(float), size_t(frames), cacheIn_.get()));
  for (int i = 0; i < n; ++i) {
    left[i] = cacheBuf_[2 * size_t(i)];
    right[i] = cacheBuf_[2 * size_t(i) + 1];
  }
  rendered_ += n;
  if (n < frames) {  // the take of the mix ended here
    cacheIn_.reset();
    phase_ = Phase::Done;
    songEnd_ = rendered_;
    songEnded_ = true;
  }
  return n;
}

}  // namespace kv::media
