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

#include "exclusive_keys.h"
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

// Which lane plays what. Units of work, heaviest first, each onto the lane with the least work
// so far (the lowest on a tie), over at most `lanes` lanes. A unit's work is the time its notes
// sound (see the note-time estimate in the source): a held string chord outweighs many drum hits.
// A channel that sounds is a unit. A channel with more work than a lane's fair share (the
// song's work over `lanes`) is split into its groups of keys instead (see ExclusiveKeyGroups),
// unless portamento, legato or mono mode link its notes. Silent channels go to lane 0.
struct LanePlan {
  std::array<uint32_t, kMidiChannels> lanes{};  // the lanes (bits) playing each channel
  std::array<bool, kMidiChannels> split{};      // split by key
  std::array<std::array<uint8_t, 128>, kMidiChannels> key{};  // a split channel's lane of each key
  // The lanes a channel event goes to: a note of a split channel to its key's lane, anything
  // else to all of the channel's lanes.
  uint32_t LanesOf(const SmfEvent& e) const;
};
LanePlan PlanLanes(const Song& song, const KeyGroups& groups, int lanes);
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
  // Routes a song's channels to the lanes (see PlanLanes).
  void Assign(const Song& song, const KeyGroups& groups);
  // Sends an event now: a channel message to its lanes, a system message to every lane.
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
  LanePlan plan_;
  std::vector<float> share_;  // stems: a split channel's share, left then right
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
