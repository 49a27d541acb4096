#include "synth_lanes.h"

#include <fluidsynth.h>

#include <algorithm>
#include <bit>

#include "media_internal.h"
#include "owned.h"
#include "syssetup.h"

namespace kv::media {
namespace {

constexpr int kGsDeviceId = 0x10;

using FluidSettings = Owned<fluid_settings_t, delete_fluid_settings>;
using FluidSynth = Owned<fluid_synth_t, delete_fluid_synth>;

}  // namespace

struct FluidInstance {
  FluidSettings settings;  // declared first: it outlives its synth
  FluidSynth synth;
};

void FluidInstanceDeleter::operator()(FluidInstance* f) const { delete f; }

namespace {

// One idle synth per process keeps the SoundFont loaded: FluidSynth's sample cache shares a
// file's sample data between all synths of the process that load it, so a fresh synth (of any
// session, any lane) loads in a fraction of the time and adds no second copy of the samples.
struct SoundFontHolder {
  std::mutex mu;
  std::string path;
  FluidHandle fluid;
};
SoundFontHolder& Holder() {
  static SoundFontHolder* holder = new SoundFontHolder;  // never destroyed: render threads may outlive statics
  return *holder;
}

// A synth on `settings` with the SoundFont `path`; null (and `error`) when it cannot be loaded.
FluidHandle LoadSynth(FluidSettings settings, const std::string& path, std::string& error) {
  if (!settings) {
    error = "FluidSynth could not be started.";
    return nullptr;
  }
  // Checked first: other loaders would otherwise try the file and complain on stderr.
  if (!fluid_is_soundfont(path.c_str())) {
    error = "The file " + path + " is not a SoundFont.";
    return nullptr;
  }
  FluidHandle f(new FluidInstance{std::move(settings), nullptr});
  f->synth.reset(new_fluid_synth(f->settings.get()));
  if (!f->synth || fluid_synth_sfload(f->synth.get(), path.c_str(), 1) == FLUID_FAILED) {
    std::string why = LastFluidMessage();
    error = "The SoundFont " + path + " cannot be loaded" + (why.empty() ? "." : ": " + why);
    return nullptr;
  }
  return f;
}

// A new synth at `rate` with the SoundFont `path`, its voices on `cores` threads.
FluidHandle NewSynth(const std::string& path, int rate, int cores, bool stems, std::string& error) {
  {
    SoundFontHolder& h = Holder();
    std::lock_guard<std::mutex> lock(h.mu);
    if (h.path != path) {
      h.path.clear();
      h.fluid = LoadSynth(FluidSettings(new_fluid_settings()), path, error);
      if (!h.fluid) return nullptr;
      h.path = path;
    }
  }
  FluidSettings settings(new_fluid_settings());
  if (settings) {
    fluid_settings_setnum(settings.get(), "synth.sample-rate", double(rate));
    fluid_settings_setint(settings.get(), "synth.cpu-cores", cores);
    // GS files address their SysEx to the device id a GS module answers to by default (0x10);
    // FluidSynth takes only its own id and broadcast (0x7F) ones.
    fluid_settings_setint(settings.get(), "synth.device-id", kGsDeviceId);
    if (stems)  // an output and an effects unit per channel
      for (const char* key : {"synth.audio-channels", "synth.audio-groups", "synth.effects-groups"})
        fluid_settings_setint(settings.get(), key, kMidiChannels);
  }
  return LoadSynth(std::move(settings), path, error);
}

}  // namespace

void SendEvent(fluid_synth_t* s, const Song& song, const SmfEvent& e) {
  int ch = e.status & 0x0F;
  switch (e.status & 0xF0) {
    case 0x80: fluid_synth_noteoff(s, ch, e.data1); break;
    case 0x90: fluid_synth_noteon(s, ch, e.data1, e.data2); break;
    case 0xA0: fluid_synth_key_pressure(s, ch, e.data1, e.data2); break;
    case 0xB0: fluid_synth_cc(s, ch, e.data1, e.data2); break;
    case 0xC0: fluid_synth_program_change(s, ch, e.data1); break;
    case 0xD0: fluid_synth_channel_pressure(s, ch, e.data1); break;
    case 0xE0: fluid_synth_pitch_bend(s, ch, (e.data2 << 7) | e.data1); break;
    case 0xF0: {
      const SysexData x = song.SysexOf(e);
      if (x.length > 0)
        fluid_synth_sysex(s, reinterpret_cast<const char*>(x.data), int(x.length), nullptr, nullptr, nullptr, 0);
      break;
    }
    default: break;
  }
}

std::array<int64_t, kMidiChannels> NotesPerChannel(const Song& song) {
  std::array<int64_t, kMidiChannels> notes{};
  for (const SmfEvent& e : song.events)
    if ((e.status & 0xF0) == 0x90 && e.data2 > 0) ++notes[size_t(e.status & 0x0F)];
  return notes;
}

uint32_t LanePlan::LanesOf(const SmfEvent& e) const {
  const size_t ch = e.status & 0x0F;
  const int kind = e.status & 0xF0;
  if (kind >= 0xF0) return ~0u;
  if (split[ch] && kind <= 0xA0) return 1u << key[ch][size_t(e.data1 & 0x7F)];
  return lanes[ch];
}

namespace {

// The voice time a song's notes ask for, per channel and key, in milliseconds: each note from
// its note-on to its note-off (or the song's end), plus a release. A long chord on strings is
// work for the whole time it sounds; a drum hit for its release.
using KeyWork = std::array<std::array<int64_t, 128>, kMidiChannels>;
KeyWork NoteWork(const Song& song) {
  constexpr int64_t kReleaseMs = 300;
  KeyWork work{};
  // The note-ons of each key still held, first in first out: [first, end) of its list.
  struct Held {
    std::vector<int64_t> on;
    size_t first = 0;
  };
  std::vector<Held> held(size_t(kMidiChannels) * 128);
  for (const SmfEvent& e : song.events) {
    const int kind = e.status & 0xF0;
    if (kind != 0x80 && kind != 0x90) continue;
    Held& h = held[size_t(e.status & 0x0F) * 128 + size_t(e.data1 & 0x7F)];
    if (kind == 0x90 && e.data2 > 0) {
      h.on.push_back(e.units);
    } else if (h.first < h.on.size()) {
      work[size_t(e.status & 0x0F)][size_t(e.data1 & 0x7F)] += song.SampleAt(e.units - h.on[h.first++], 1000) + kReleaseMs;
      if (h.first == h.on.size()) h = Held{};
    }
  }
  for (size_t i = 0; i < held.size(); ++i)
    for (size_t n = held[i].first; n < held[i].on.size(); ++n)
      work[i / 128][i % 128] += song.SampleAt(song.endUnits - held[i].on[n], 1000) + kReleaseMs;
  return work;
}

}  // namespace

LanePlan PlanLanes(const Song& song, const KeyGroups& groups, int lanes) {
  constexpr uint8_t kUnplayed = 0xFF;
  lanes = std::clamp(lanes, 1, kMidiChannels);
  const KeyWork work = NoteWork(song);
  std::array<int64_t, kMidiChannels> perChannel{};
  int64_t total = 0;
  for (int c = 0; c < kMidiChannels; ++c)
    for (int64_t w : work[size_t(c)]) perChannel[size_t(c)] += w;
  for (int64_t w : perChannel) total += w;
  // Portamento time, switch and control, legato, mono and poly mode: notes that act on each other.
  std::array<bool, kMidiChannels> linked{};
  for (const SmfEvent& e : song.events)
    if ((e.status & 0xF0) == 0xB0 && (e.data1 == 5 || e.data1 == 65 || e.data1 == 68 || e.data1 == 84 ||
                                      e.data1 == 126 || e.data1 == 127))
      linked[size_t(e.status & 0x0F)] = true;
  struct Unit {
    int64_t work;
    int channel;
    int group;  // the first key of the group, or -1 for the whole channel
  };
  LanePlan plan;
  std::vector<Unit> units;
  for (int c = 0; c < kMidiChannels; ++c) {
    if (perChannel[size_t(c)] == 0) continue;
    plan.split[size_t(c)] = lanes > 1 && groups.known && !linked[size_t(c)] && perChannel[size_t(c)] * lanes > total;
    if (!plan.split[size_t(c)]) {
      units.push_back({perChannel[size_t(c)], c, -1});
      continue;
    }
    plan.key[size_t(c)].fill(kUnplayed);
    std::array<int64_t, 128> perGroup{};
    for (int k = 0; k < 128; ++k) perGroup[groups.first[size_t(k)]] += work[size_t(c)][size_t(k)];
    for (int k = 0; k < 128; ++k)
      if (perGroup[size_t(k)] > 0) units.push_back({perGroup[size_t(k)], c, k});
  }
  std::stable_sort(units.begin(), units.end(), [](const Unit& a, const Unit& b) { return a.work > b.work; });
  std::vector<int64_t> load(size_t(lanes), 0);
  for (const Unit& u : units) {
    const int lane = int(std::min_element(load.begin(), load.end()) - load.begin());
    load[size_t(lane)] += u.work;
    plan.lanes[size_t(u.channel)] |= 1u << lane;
    if (u.group >= 0)
      for (int k = 0; k < 128; ++k)
        if (groups.first[size_t(k)] == u.group) plan.key[size_t(u.channel)][size_t(k)] = uint8_t(lane);
  }
  for (int c = 0; c < kMidiChannels; ++c) {
    uint32_t& bits = plan.lanes[size_t(c)];
    if (bits == 0) bits = 1u;  // silent: lane 0
    if (!plan.split[size_t(c)]) continue;
    // Keys the song does not play (a stray note-off) go to the channel's first lane.
    for (uint8_t& lane : plan.key[size_t(c)])
      if (lane == kUnplayed) lane = uint8_t(std::countr_zero(bits));
  }
  return plan;
}

bool SoundingChannels(const std::string& midiPath, std::vector<std::pair<int, std::string>>& channels,
                      std::string& error) {
  channels.clear();
  Song song;
  if (!LoadSmf(midiPath, song, error)) return false;
  const std::string sf = ResolveSoundFont(LoadSystemSetup());
  if (sf.empty()) {
    error = MissingSoundFontMessage();
    return false;
  }
  SilenceFluid();
  FluidHandle f = NewSynth(sf, 44100, 1, false, error);
  if (!f) return false;
  fluid_synth_t* s = f->synth.get();
  std::array<std::string, kMidiChannels> names;
  std::array<bool, kMidiChannels> named{};
  for (const SmfEvent& e : song.events) {
    const int ch = e.status & 0x0F;
    if ((e.status & 0xF0) != 0x90 && (e.status & 0xF0) != 0x80) {
      SendEvent(s, song, e);  // programs, banks, drum parts
    } else if ((e.status & 0xF0) == 0x90 && e.data2 > 0 && !named[size_t(ch)]) {
      named[size_t(ch)] = true;
      int font = 0, bank = 0, program = 0;
      fluid_preset_t* preset = nullptr;
      if (fluid_synth_get_program(s, ch, &font, &bank, &program) == FLUID_OK)
        if (fluid_sfont_t* sfont = fluid_synth_get_sfont_by_id(s, font))
          preset = fluid_sfont_get_preset(sfont, bank, program);
      names[size_t(ch)] = preset ? fluid_preset_get_name(preset) : "";
    }
  }
  for (int c = 0; c < kMidiChannels; ++c)
    if (named[size_t(c)]) channels.emplace_back(c + 1, names[size_t(c)]);
  return true;
}

std::unique_ptr<SynthLanes> SynthLanes::Start(const std::string& path, int rate, int lanes, int cores, int stem,
                                              std::string& error) {
  SilenceFluid();
  std::unique_ptr<SynthLanes> s(new SynthLanes);
  s->stem_ = std::min(stem, kMidiChannels);
  s->lanes_.resize(size_t(std::clamp(lanes, 1, kMidiChannels)));
  for (LaneState& lane : s->lanes_) {
    lane.fluid = NewSynth(path, rate, s->Count() == 1 ? cores : 1, s->stem_ >= 0, error);
    if (!lane.fluid) return nullptr;
  }
  for (int i = 1; i < s->Count(); ++i) s->threads_.emplace_back(&SynthLanes::Worker, s.get(), i);
  return s;
}

SynthLanes::~SynthLanes() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  go_.notify_all();
  for (std::thread& t : threads_) t.join();
}

fluid_synth_t* SynthLanes::Lane(int i) const { return lanes_[size_t(i)].fluid->synth.get(); }

void SynthLanes::Assign(const Song& song, const KeyGroups& groups) {
  plan_ = PlanLanes(song, groups, Count());
  for (uint32_t bits : plan_.lanes) playing_ = std::max(playing_, int(std::bit_width(bits)));
  if (stem_ < 0) return;
  // A lane's effects units run only for the sounding channels it plays: an idle unit still
  // leaves a trace of its anti-denormal offset, which would be in the mix and in no stem.
  const auto notes = NotesPerChannel(song);
  for (int i = 0; i < Count(); ++i)
    for (int c = 0; c < kMidiChannels; ++c) {
      const bool on = (plan_.lanes[size_t(c)] >> i & 1u) && notes[size_t(c)] > 0;
      fluid_synth_reverb_on(Lane(i), c, on);
      fluid_synth_chorus_on(Lane(i), c, on);
    }
}

void SynthLanes::Send(const Song& song, const SmfEvent& e) {
  const uint32_t to = plan_.LanesOf(e);
  for (int i = 0; i < Count(); ++i)
    if (to >> i & 1u) SendEvent(Lane(i), song, e);
}

void SynthLanes::Queue(int block, const Song& song, const SmfEvent& e) {
  song_ = &song;
  const uint32_t to = plan_.LanesOf(e);
  for (int i = 0; i < Count(); ++i) {
    if (!(to >> i & 1u)) continue;
    if (i < playing_) {
      lanes_[size_t(i)].queue.push_back({block, &e});
    } else {
      SendEvent(Lane(i), song, e);  // a lane that does not render has no time to keep
    }
  }
}

void SynthLanes::Write(LaneState& lane, int at, int frames, float* left, float* right) {
  fluid_synth_t* s = lane.fluid->synth.get();
  if (stem_ < 0) {
    fluid_synth_write_float(s, frames, left, at, 1, right, at, 1);
    return;
  }
  // Each channel's dry sound, reverb and chorus into its own pair (FluidSynth adds to them).
  float* out[2 * kMidiChannels];
  float* fx[4 * kMidiChannels];
  for (int c = 0; c < kMidiChannels; ++c)
    for (int side = 0; side < 2; ++side) {
      out[2 * c + side] = Channel(lane, c, side) + at;
      fx[4 * c + side] = fx[4 * c + 2 + side] = out[2 * c + side];
    }
  fluid_synth_process(s, frames, 4 * kMidiChannels, fx, 2 * kMidiChannels, out);
}

void SynthLanes::RenderLane(int i, int frames, float* left, float* right) {
  LaneState& lane = lanes_[size_t(i)];
  // FluidSynth adds to the channels' buffers: only the frames this call renders are cleared.
  if (stem_ >= 0)
    for (int c = 0; c < kMidiChannels; ++c)
      for (int side = 0; side < 2; ++side) std::fill_n(Channel(lane, c, side), frames, 0.0f);
  int at = 0;
  for (const Queued& q : lane.queue) {
    const int start = q.block * kSynthBlock;
    if (start > at) {
      Write(lane, at, start - at, left, right);
      at = start;
    }
    SendEvent(lane.fluid->synth.get(), *song_, *q.event);
  }
  lane.queue.clear();
  if (frames > at) Write(lane, at, frames - at, left, right);
}

void SynthLanes::Worker(int i) {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    go_.wait(lock, [&] { return quit_ || generation_ != seen; });
    if (quit_) return;
    seen = generation_;
    const int frames = jobFrames_;
    const bool plays = i < playing_;
    lock.unlock();
    if (plays) {
      LaneState& lane = lanes_[size_t(i)];
      RenderLane(i, frames, lane.left.data(), lane.right.data());
    }
    lock.lock();
    if (--pending_ == 0) done_.notify_one();
  }
}

void SynthLanes::Render(int frames, float* left, float* right, float* const* stems) {
  const int workers = Count() - 1;
  if (stem_ >= 0 && span_ < size_t(frames)) {
    span_ = size_t(frames);
    for (LaneState& lane : lanes_) lane.channels.assign(2 * kMidiChannels * span_, 0.0f);
  }
  if (playing_ > 1) {
    for (int i = 1; i < playing_; ++i) {
      LaneState& lane = lanes_[size_t(i)];
      if (lane.left.size() < size_t(frames)) {
        lane.left.resize(size_t(frames));
        lane.right.resize(size_t(frames));
      }
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      jobFrames_ = frames;
      pending_ = workers;
      ++generation_;
    }
    go_.notify_all();
  }
  RenderLane(0, frames, left, right);  // lane 0 straight into the mix
  if (playing_ > 1) {
    std::unique_lock<std::mutex> lock(mu_);
    done_.wait(lock, [&] { return pending_ == 0; });
  }
  if (stem_ >= 0) {
    // The mix is the sum of the channels in channel order: exactly what their stems add up to.
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);
    for (int c = 0; c < kMidiChannels; ++c) {
      const uint32_t bits = plan_.lanes[size_t(c)];
      const float* l = Channel(lanes_[size_t(std::countr_zero(bits))], c, 0);
      const float* r = Channel(lanes_[size_t(std::countr_zero(bits))], c, 1);
      if (std::popcount(bits) > 1) {
        // A channel split by key: its share is the sum of its lanes' parts, in lane order.
        share_.assign(2 * size_t(frames), 0.0f);
        for (int i = 0; i < Count(); ++i) {
          if (!(bits >> i & 1u)) continue;
          const float* pl = Channel(lanes_[size_t(i)], c, 0);
          const float* pr = Channel(lanes_[size_t(i)], c, 1);
          for (int f = 0; f < frames; ++f) {
            share_[size_t(f)] += pl[f];
            share_[size_t(frames + f)] += pr[f];
          }
        }
        l = share_.data();
        r = share_.data() + frames;
      }
      for (int f = 0; f < frames; ++f) {
        left[f] += l[f];
        right[f] += r[f];
      }
      if (stems && stems[2 * c]) {
        std::copy_n(l, frames, stems[2 * c]);
        std::copy_n(r, frames, stems[2 * c + 1]);
      }
    }
    return;
  }
  if (playing_ <= 1) return;
  // The sum in lane order: the same samples however the threads were scheduled.
  for (int i = 1; i < playing_; ++i) {
    const float* l = lanes_[size_t(i)].left.data();
    const float* r = lanes_[size_t(i)].right.data();
    for (int f = 0; f < frames; ++f) {
      left[f] += l[f];
      right[f] += r[f];
    }
  }
}

}  // namespace kv::media
