// The built-in synthesizer as K FluidSynth instances ("lanes"), one per group of MIDI channels,
// all on the one loaded SoundFont (FluidSynth's sample cache shares its samples in the
// process), each with its own reverb and chorus. Each lane renders its span on a thread of its
// own; the mix is the sum of the lanes in lane order, so its samples never depend on timing.
// Reverb and chorus are linear: the sum sounds as one synthesizer playing every channel would.
#pragma once
#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "smf_reader.h"

typedef struct _fluid_synth_t fluid_synth_t;

namespace kv::media {

struct FluidInstance;
struct FluidInstanceDeleter {
  void operator()(FluidInstance* f) const;
};
using FluidHandle = std::unique_ptr<FluidInstance, FluidInstanceDeleter>;

constexpr int kSynthBlock = 64;  // FluidSynth applies events at these block boundaries
constexpr int kMidiChannels = 16;

// Sends one song event to a synth (a channel message, or a SysEx).
void SendEvent(fluid_synth_t* s, const Song& song, const SmfEvent& e);

// Which lane plays which channel: channels by the notes they carry, heaviest first, each onto
// the lane with the least so far (the lowest on a tie), over as many lanes as there are
// channels that sound, at most `lanes`. Silent channels go to lane 0.
std::array<int, kMidiChannels> BalanceChannels(const std::array<int64_t, kMidiChannels>& notes, int lanes);
// The note-ons of each channel of a song.
std::array<int64_t, kMidiChannels> NotesPerChannel(const Song& song);

// The channels of a song that sound, each with the name of the preset its first note plays on
// the configured SoundFont; false (and `error`) when the song or the SoundFont cannot be read.
bool SoundingChannels(const std::string& midiPath, std::vector<std::pair<int, std::string>>& channels,
                      std::string& error);

class SynthLanes {
 public:
  // `lanes` synths at `rate` on the SoundFont `path`; empty (and `error`) when it cannot load.
  // A single lane renders its voices on `cores` threads (FluidSynth's own: the same samples).
  // With `stem` >= 0 each channel renders to its own output with its own reverb and chorus: the
  // mix is their sum in channel order, and Render can hand out each channel's share.
  static std::unique_ptr<SynthLanes> Start(const std::string& path, int rate, int lanes, int cores, int stem,
                                           std::string& error);
  ~SynthLanes();
  SynthLanes(const SynthLanes&) = delete;
  SynthLanes& operator=(const SynthLanes&) = delete;

  int Count() const { return int(lanes_.size()); }
  fluid_synth_t* Lane(int i) const;
  // Every lane in turn, on the calling thread.
  template <class F>
  void Each(F f) const {
    for (int i = 0; i < Count(); ++i) f(Lane(i));
  }
  // Routes channels to lanes for a song (see BalanceChannels).
  void Assign(const std::array<int64_t, kMidiChannels>& notes);
  int LaneOf(int channel) const { return owner_[size_t(channel & 0x0F)]; }
  // Sends an event now: a channel message to its lane, a system message to every lane.
  void Send(const Song& song, const SmfEvent& e);
  // Queues an event for the next Render, to be sent at the start of its block `block`.
  void Queue(int block, const Song& song, const SmfEvent& e);
  // Renders `frames` (whole blocks) on every lane that plays, in parallel, each lane sending its
  // queued events on their blocks; left/right get the lanes' sum, in lane order. With stems,
  // stems[2 c] and stems[2 c + 1] get channel c's share, left and right (null ones are skipped).
  void Render(int frames, float* left, float* right, float* const* stems = nullptr);

 private:
  struct Queued {
    int block;
    const SmfEvent* event;
  };
  struct LaneState {
    FluidHandle fluid;
    std::vector<Queued> queue;
    std::vector<float> left, right;
    std::vector<float> channels;  // stems: the channels' outputs, left and right, one after another
  };
  SynthLanes() = default;
  void RenderLane(int i, int frames, float* left, float* right);
  void Write(LaneState& lane, int at, int frames, float* left, float* right);
  float* Channel(LaneState& lane, int channel, int side) { return lane.channels.data() + (2 * size_t(channel) + size_t(side)) * span_; }
  void Worker(int i);

  std::vector<LaneState> lanes_;
  std::array<int, kMidiChannels> owner_{};
  int stem_ = -1;
  size_t span_ = 0;  // stems: frames of one channel buffer
  int playing_ = 1;  // lanes that have had channels: the others are silent and not rendered
  const Song* song_ = nullptr;  // of the queued events

  // The pool: lane 0 renders on the caller's thread, lane i on thread i - 1.
  std::mutex mu_;
  std::condition_variable go_, done_;
  std::vector<std::thread> threads_;
  uint64_t generation_ = 0;
  int pending_ = 0;
  int jobFrames_ = 0;
  bool quit_ = false;
};

}  // namespace kv::media
