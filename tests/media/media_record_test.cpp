// Recording through the conversion's command sequence: every WAVE format, onset timing against
// the tempo map in fast and real-time recording, takes that must match.
#include <filesystem>
#include <map>

#include "Process.h"
#include "media_test_util.h"
#include "smf_reader.h"
#include "synth_bus.h"
#include "syssetup.h"

using namespace kvtest;
namespace fs = std::filesystem;

namespace {

// How many of the first n samples differ between two takes, each counted from its first sound.
size_t SamplesDiffering(const std::vector<float>& a, const std::vector<float>& b) {
  const size_t a0 = FirstSound(a), b0 = FirstSound(b), n = std::min(a.size() - a0, b.size() - b0);
  EXPECT_GT(n, 44100u) << "takes too short to compare";
  size_t differing = 0;
  for (size_t i = 0; i < n; ++i) differing += a[a0 + i] != b[b0 + i];
  return differing;
}

class MediaRecording : public MediaTest {
 protected:
  // Records midi at 44100 Hz 16-bit stereo into a fresh template file and reads the result back.
  static WaveData Take(const std::string& midi, const std::string& name) {
    const std::string wav = dir + "/" + name + ".wav";
    writeText(wav, TemplateBytes(120));
    EXPECT_EQ(RecordCycle(midi, wav, 0).saveError, 0u) << name;
    return readWave(wav);
  }
};

// The built-in synthesizer's mix as a fast take hears it, in float frames.
struct MixCapture : kv::media::MixSink {
  std::vector<float> left, right;
  void OnMix(const float* l, const float* r, int frames) override {
    left.insert(left.end(), l, l + frames);
    right.insert(right.end(), r, r + frames);
  }
  bool Loud(size_t i) const { return std::fabs(left[i]) >= 1e-4f || std::fabs(right[i]) >= 1e-4f; }
  // One past the last frame at or above -80 dBFS.
  int64_t LoudEnd() const {
    int64_t i = int64_t(left.size());
    while (i > 0 && !Loud(size_t(i - 1))) --i;
    return i;
  }
  double PeakDb(int64_t from, int64_t to) const {
    float p = 0;
    for (int64_t i = from; i < to; ++i) p = std::max({p, std::fabs(left[size_t(i)]), std::fabs(right[size_t(i)])});
    return 20 * std::log10(std::max(p, 1e-12f));
  }
};

// A fast take of `midi` on a synth bus of its own with `padFrames` of delay: every frame of it.
MixCapture FastTake(const std::string& midi, int64_t padFrames, int64_t& songFrames) {
  auto song = std::make_shared<kv::media::Song>();
  std::string error;
  EXPECT_TRUE(kv::media::ParseSmf(reinterpret_cast<const uint8_t*>(midi.data()), midi.size(), *song, error)) << error;
  songFrames = song->LengthSamples(44100);
  MixCapture take;
  kv::media::SynthBus bus;
  EXPECT_TRUE(bus.AttachRecorder(&take, 44100, padFrames, error)) << error;
  const int token = bus.PlaySong(song, kv::SongSoundFont{}, 0, error);
  int64_t position = 0;
  bool ended = false;
  const auto t0 = std::chrono::steady_clock::now();
  while (bus.SongState(token, position, ended) && !ended && SecondsSince(t0) < 60) SleepMs(1);
  EXPECT_TRUE(ended);
  EXPECT_EQ(position, song->LengthMs()) << "a song reports its own length while its tail sounds";
  bus.StopSong(token);
  bus.DetachRecorder(&take);
  return take;
}

// A fast take's time line, frame by frame: the delay's silence, the song on its blocks, the tail
// until the sound has stayed below -80 dBFS for 0.2 s (or the fixed tail, or the 30 s cap with
// its fade), and the delay's silence again. Songs end with a pad held by the sustain pedal, a
// released piano note, and an organ note whose release outlasts the cap.
TEST_F(MediaRecording, FastTakeTimeLineIsCountedInFrames) {
  auto song = [](int program, bool pedal, bool endless) {
    smf::Track t;
    t.Event(0, {0xC0, program});
    if (endless)  // a release time of 100 s (sound generator 38 through NRPN)
      for (auto cc : {std::pair{99, 120}, {98, 38}, {6, 95}, {38, 32}}) t.Event(0, {0xB0, cc.first, cc.second});
    if (pedal) t.Event(0, {0xB0, 64, 127});
    t.Event(0, {0x90, 60, 127});
    t.Event(60, {0x90, 64, 127});
    t.Event(150, {0x80, 60, 0});
    t.Event(190, {0x80, 64, 0});
    t.End(191);  // 191 ticks at 96 per beat: 0.995 s, off the block grid
    return smf::File(0, 96, {t});
  };
  const int64_t rate = 44100, pad = 26460, hold = 8820;  // 0.6 s of delay, 0.2 s of quiet
  struct Row {
    const char* name;
    std::string midi;
    std::string tail;
    int64_t padFrames;
  };
  const std::string padSong = song(89, true, false), piano = song(0, false, false), organ = song(19, false, true);
  const Row rows[] = {{"pad held by the pedal", padSong, "auto", pad},
                      {"pad held by the pedal, no delay", padSong, "auto", 0},
                      {"piano", piano, "auto", pad},
                      {"organ released over 100 s", organ, "auto", pad},
                      {"no tail", padSong, "0", pad},
                      {"tail of 1.5 s", padSong, "1.5", pad}};
  std::vector<float> undelayed, delayed;
  for (const Row& c : rows) {
    UseSystemSetup(dir, true, kSoundFont, "synth", 0, "Tail=" + c.tail + "\n");
    int64_t songFrames = 0;
    const MixCapture take = FastTake(c.midi, c.padFrames, songFrames);
    const int64_t frames = int64_t(take.left.size()), songEnd = c.padFrames + (songFrames + 63) / 64 * 64;
    ASSERT_GE(frames, songEnd + c.padFrames) << c.name;
    for (int64_t i = 0; i < c.padFrames; ++i) {
      ASSERT_TRUE(take.left[size_t(i)] == 0 && take.right[size_t(i)] == 0) << c.name << ": sound in the delay at " << i;
      ASSERT_TRUE(take.left[size_t(frames - 1 - i)] == 0 && take.right[size_t(frames - 1 - i)] == 0) << c.name << ": sound after the tail";
    }
    EXPECT_GT(take.PeakDb(c.padFrames, c.padFrames + 64), -200) << c.name << ": the first note in the song's first block";
    const int64_t soundEnd = frames - c.padFrames, loudEnd = take.LoudEnd();
    if (c.tail == "0") {
      EXPECT_EQ(soundEnd, songEnd) << c.name;
    } else if (c.tail == "1.5") {
      EXPECT_EQ(soundEnd, songEnd + 66150) << c.name;
    } else {
      EXPECT_EQ(soundEnd, loudEnd + hold) << c.name << ": ends 0.2 s after the sound";
      EXPECT_GT(loudEnd, songEnd + rate / 10) << c.name << ": the notes' release is kept";
    }
    if (c.midi == organ) {  // still sounding when the cap's fade began 28 s on, gone by 30 s
      EXPECT_GT(take.PeakDb(songEnd + 27 * rate, songEnd + 28 * rate), -75) << c.name;
      EXPECT_GT(soundEnd, songEnd + 28 * rate) << c.name;
      EXPECT_LE(soundEnd, songEnd + 30 * rate) << c.name;
    }
    if (c.midi == padSong && c.tail == "auto") (c.padFrames ? delayed : undelayed) = take.left;
  }
  // The delay moves the song by exactly its frames.
  ASSERT_EQ(delayed.size(), undelayed.size() + 2 * pad);
  EXPECT_TRUE(std::equal(undelayed.begin(), undelayed.end(), delayed.begin() + pad));
}

// Every template format in fast recording, a long song, and real-time recording: the recorded
// clicks follow the tempo map within 64 samples (events fall on 64-frame blocks), the file is
// what its header says, and the recording holds the song between the two delays.
TEST_F(MediaRecording, EveryFormatAndPaceFollowsTheTempoMap) {
  std::vector<double> shortTimes, longTimes;
  double shortSeconds = 0, longSeconds = 0;
  const std::string shortMidi = dir + "/clicks-short.mid", longMidi = dir + "/clicks-long.mid";
  writeText(shortMidi, ClickTrack(7, shortTimes, shortSeconds));
  writeText(longMidi, ClickTrack(30, longTimes, longSeconds));
  struct Row {
    std::string name;
    bool longSong;
    int number;
    bool fast;
  };
  std::vector<Row> rows;
  for (int n = 101; n <= 124; ++n) rows.push_back({"fast, template " + std::to_string(n), false, n, true});
  rows.insert(rows.end(), {{"fast, long song, 48000", true, 124, true}, {"real time, 44100", false, 120, false}});
  std::vector<float> takes[2];  // template 120, short song: fast and real time
  for (const Row& c : rows) {
    UseSystemSetup(dir, c.fast);
    const Format f = TemplateFormat(c.number);
    const double songSeconds = c.longSong ? longSeconds : shortSeconds;
    const std::string wav = dir + "/take.wav";
    writeText(wav, TemplateBytes(c.number));
    const CycleResult r = RecordCycle(c.longSong ? longMidi : shortMidi, wav, 100);
    EXPECT_EQ(r.saveError, 0u) << c.name;
    EXPECT_NEAR(r.lengthMs, songSeconds * 1000, 1) << c.name;
    const WaveData w = readWave(wav);
    ASSERT_TRUE(w.ok) << c.name;
    auto p = probe(wav);  // what another tool reads in the header is the template's format
    EXPECT_EQ(p["codec_name"] + " " + p["sample_rate"] + " " + p["channels"],
              (f.bits == 8 ? "pcm_u8 " : "pcm_s16le ") + std::to_string(f.rate) + " " + std::to_string(f.channels)) << c.name;
    const int64_t bytes = w.frames() * f.channels * f.bits / 8;
    EXPECT_EQ(int64_t(fs::file_size(wav)), 58 + bytes + (bytes & 1)) << c.name << ": header sizes against the file";
    EXPECT_TRUE(r.tapped == readBytes(wav).substr(58, size_t(bytes))) << c.name << ": the tap had the file's data";
    const std::vector<float> x = w.mixed();
    if (c.fast) {  // 0.1 s of silence, counted, before the first click's block and after the tail
      const int64_t pad = f.rate / 10, lead = int64_t(FirstSound(x));
      int64_t trail = 0;
      while (trail < w.frames() && x[size_t(w.frames() - 1 - trail)] == 0) ++trail;
      EXPECT_TRUE(lead >= pad && lead < pad + 64) << c.name << ": first sound at frame " << lead;
      EXPECT_GE(trail, pad) << c.name;
      EXPECT_GE(w.frames(), 2 * pad + int64_t(songSeconds * f.rate)) << c.name;
    } else {  // the clock's delays: a busy machine can only make them longer
      EXPECT_GE(w.seconds(), songSeconds + 0.2 - 0.02) << c.name;
      EXPECT_LE(w.seconds(), songSeconds + 0.2 + 1.5) << c.name;
    }
    const int64_t worst = WorstOnsetError(x, c.longSong ? longTimes : shortTimes, f.rate);
    EXPECT_GE(worst, 0) << c.name << ": not one onset per click";
    EXPECT_LE(worst, 64) << c.name << ": worst onset error in samples";
    if (!c.fast) EXPECT_GE(r.seconds, shortTimes.back()) << c.name << ": real time takes its time";
    if (c.number == 120 && !c.longSong) takes[c.fast ? 0 : 1] = x;
  }
  EXPECT_EQ(SamplesDiffering(takes[0], takes[1]), 0u) << "fast and real-time takes of one song";
}

// Takes that must hold the same samples, or must not. GS files usually address their SysEx to
// device 0x10, the id a GS module answers to: that must sound as the broadcast id does, and
// unlike the same file addressed to another maker's id, which no synth takes.
TEST_F(MediaRecording, TakesThatMustMatch) {
  const std::string gs = readBytes(CorpusFile("test-sysex-gs-40-1x-15-drum-part-change.mid"));
  auto addressedTo = [&](const std::string& name, const std::string& header) {
    std::string bytes = gs;
    size_t count = 0;
    for (size_t at = 0; (at = bytes.find("\x41\x7F\x42\x12", at)) != std::string::npos; at += 4, ++count)
      bytes.replace(at, 4, header);
    EXPECT_EQ(count, 3u) << "GS reset, drum part of channel 1, normal part of channel 10";
    writeText(dir + "/" + name + ".mid", bytes);
    return dir + "/" + name + ".mid";
  };
  const std::string chords = CorpusFile("test-multichannel-chords-3.mid"), broadcast = CorpusFile("test-sysex-gs-40-1x-15-drum-part-change.mid");
  const std::string device10 = addressedTo("gs 10", "\x41\x10\x42\x12"), other = addressedTo("gs 7d", "\x7D\x7F\x42\x12");
  // Songs with their own SoundFont (TimGM6mb) under another configured one (FluidR3_GM) sound as
  // the song does with TimGM6mb configured: embedded in an RMID with bank offset 0, or without
  // DBNK (offset 1) where the song selects bank 1, or as Song.SF2 beside song.mid. Without DBNK
  // the song's bank 0 and its drums play from the configured SoundFont.
  auto song = [](int bank, bool drums) {
    smf::Track t;
    const int programs[] = {0, 48, 56};
    for (int ch = 0; ch < 3; ++ch) {
      t.Event(0, {0xB0 | ch, 0, bank});
      t.Event(0, {0xC0 | ch, programs[ch]});
    }
    if (drums) t.Event(0, {0x99, 38, 110});
    for (int ch = 0; ch < 3; ++ch) t.Event(uint32_t(ch * 48), {0x90 | ch, 60 + 4 * ch, 100});
    for (int ch = 0; ch < 3; ++ch) t.Event(uint32_t(192 + ch * 24), {0x80 | ch, 60 + 4 * ch, 0});
    t.End(384);
    return smf::File(0, 96, {t});
  };
  const std::string fluidR3 = "/usr/share/sounds/sf2/FluidR3_GM.sf2", bank = readBytes(kSoundFont);
  auto info = [](const std::string& chunks) { return smf::RiffChunk("LIST", "INFO" + chunks); };
  const std::string plain = dir + "/plain.mid", offset0 = dir + "/offset0.rmi", offset1 = dir + "/offset1.rmi";
  writeText(plain, song(0, true));
  writeText(offset0, smf::Rmid(song(0, true), info(smf::RiffChunk("DBNK", smf::Le(0, 2))) + bank));
  writeText(offset1, smf::Rmid(song(1, false), info(smf::RiffChunk("INAM", "Shifted")) + bank));
  const std::string offset1bank0 = dir + "/offset1-bank0.rmi";  // its presets are all at bank 1
  writeText(offset1bank0, smf::Rmid(song(0, true), bank));
  fs::create_directories(dir + "/beside");
  writeText(dir + "/beside/song.mid", song(0, true));
  fs::remove(dir + "/beside/Song.SF2");
  fs::create_symlink(kSoundFont, dir + "/beside/Song.SF2");
  const std::string plainNoDrums = dir + "/plain-no-drums.mid";
  writeText(plainNoDrums, song(0, false));
  const struct {
    const char* name;
    std::string midiA;
    int lanesA;
    std::string midiB;
    int lanesB;
    bool same;
    std::string soundFontA = kSoundFont, soundFontB = kSoundFont;
    int threadsA = 0, threadsB = 0;
  } rows[] = {{"two lanes, twice", chords, 2, chords, 2, true},
              {"voices on one thread and on two", chords, 1, chords, 1, true, kSoundFont, kSoundFont, 1, 2},
              {"GS to device 0x10 and broadcast", device10, 1, broadcast, 1, true},
              {"GS to device 0x10 and to another maker", device10, 1, other, 1, false},
              {"RMID with its SoundFont, bank offset 0", offset0, 1, plain, 1, true, fluidR3},
              {"RMID with its SoundFont, default bank offset 1", offset1, 1, plainNoDrums, 1, true, fluidR3},
              {"SoundFont named after the song beside it", dir + "/beside/song.mid", 1, plain, 1, true, fluidR3},
              {"RMID without DBNK, song on bank 0", offset1bank0, 1, plain, 1, true, fluidR3, fluidR3}};
  for (const auto& c : rows) {
    UseSystemSetup(dir, true, c.soundFontA, "synth", c.threadsA, "Lanes=" + std::to_string(c.lanesA) + "\n");
    const std::vector<float> a = Take(c.midiA, "a").mixed();
    UseSystemSetup(dir, true, c.soundFontB, "synth", c.threadsB, "Lanes=" + std::to_string(c.lanesB) + "\n");
    const std::vector<float> b = Take(c.midiB, "b").mixed();
    ASSERT_GT(Peak(a), 0.01) << c.name;
    const size_t differing = SamplesDiffering(a, b), n = std::min(a.size(), b.size());
    if (c.same) EXPECT_EQ(differing, 0u) << c.name;
    else EXPECT_GT(differing, n / 4) << c.name;
  }
}

// The channels spread over lanes, one synth each with its own reverb and chorus, balanced by the
// time their notes sound. On three lanes piano and drums are each over a lane's share and split
// by key: hi-hats (closed and open, one exclusive class) and kick; three piano keys and the
// snare; the other three piano keys. Up to the song's end the mix is the sum of the three groups
// each played alone, within float rounding (reverb and chorus are linear). Against one synth
// playing every note the difference is larger (measured: 0.023 at most, the residual 44 dB under
// the mix; the corpus chords 3.4e-8): FluidSynth is not exactly the sum of its channels even on
// its own, a voice starting where another channel's voice has just been (its channels rendered
// apart by the fluidsynth program differ from the whole by as much).
TEST_F(MediaRecording, LanesSumToTheirChannels) {
  auto take = [&](const std::string& midi, int lanes, int64_t& songFrames) {
    UseSystemSetup(dir, true, kSoundFont, "synth", 0, "Lanes=" + std::to_string(lanes) + "\n");
    return FastTake(midi, 0, songFrames);
  };
  auto laneOf = [](int ch, int key) {
    if (ch == 9) return key == 38 ? 1 : 0;
    return key == 60 || key == 67 || key == 76 ? 1 : 2;
  };
  int64_t songFrames = 0;
  const MixCapture lanes = take(Band({0, 9}), 3, songFrames), one = take(Band({0, 9}), 1, songFrames);
  std::vector<MixCapture> groups;
  for (int lane = 0; lane < 3; ++lane)
    groups.push_back(take(Band([&](int ch, int key) { return (ch == 0 || ch == 9) && laneOf(ch, key) == lane; }), 1, songFrames));
  const int64_t songEnd = (songFrames + 63) / 64 * 64;
  ASSERT_EQ(lanes.left.size(), one.left.size());
  EXPECT_GT(lanes.PeakDb(0, songEnd), -20);
  for (const MixCapture& g : groups) {
    ASSERT_GE(int64_t(g.left.size()), songEnd);
    EXPECT_GT(g.PeakDb(0, songEnd), -30);
  }
  float fromGroups = 0, fromOne = 0;
  for (size_t i = 0; i < size_t(songEnd); ++i) {
    fromGroups = std::max({fromGroups, std::fabs(lanes.left[i] - (groups[0].left[i] + groups[1].left[i] + groups[2].left[i])),
                           std::fabs(lanes.right[i] - (groups[0].right[i] + groups[1].right[i] + groups[2].right[i]))});
    fromOne = std::max({fromOne, std::fabs(lanes.left[i] - one.left[i]), std::fabs(lanes.right[i] - one.right[i])});
  }
  EXPECT_LE(fromGroups, 1e-7f) << "the lanes' mix against its groups' sum";
  EXPECT_LE(fromOne, 0.03f) << "the lanes' mix against one synth";

  // SysEx goes to every lane: channel 2 (8 notes) gets lane 0, channel 1 (4 as long) lane 1, and
  // a GS message in mid-song makes channel 1 a drum part. Two lanes sound as one synth does.
  smf::Track g;
  g.Event(0, {0xC1, 0});
  g.Event(48, {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7});
  for (uint32_t b = 0; b < 8; ++b) {
    g.Event(96 + b * 48, {0x91, 60 + int(b), 90});
    if (b % 2 == 0) g.Event(96 + b * 48, {0x90, 38, 110});
    g.Event(96 + b * 48 + 40, {0x81, 60 + int(b), 0});
    if (b % 2 == 0) g.Event(96 + b * 48 + 40, {0x80, 38, 0});
  }
  g.End(96 * 6);
  const std::string gs = smf::File(0, 96, {g});
  const MixCapture gs2 = take(gs, 2, songFrames), gs1 = take(gs, 1, songFrames);
  ASSERT_EQ(gs2.left.size(), gs1.left.size());
  EXPECT_GT(gs1.PeakDb(0, int64_t(gs1.left.size())), -30);
  float gsOff = 0;
  for (size_t i = 0; i < gs1.left.size(); ++i)
    gsOff = std::max({gsOff, std::fabs(gs2.left[i] - gs1.left[i]), std::fabs(gs2.right[i] - gs1.right[i])});
  EXPECT_LE(gsOff, 0.03f) << "a GS drum part on two lanes against one synth";
}

// Stem takes: each channel's share of the mix (its dry sound, its own reverb and chorus), on the
// mix's time line (its delay, its tail until the whole mix has decayed). In float the stems add
// up, in channel order, to exactly the mix of the same run; in 16-bit each file is rounded on
// its own, so four stems and the mix are within (4 + 1) / 2 steps: 2 LSB (measured: 2). A
// channel that never sounds gives silence.
TEST_F(MediaRecording, StemsAddUpToTheMix) {
  const std::string band = dir + "/band.mid";
  writeText(band, Band({0, 1, 2, 9}));
  UseSystemSetup(dir, true, kSoundFont, "synth", 0);
  auto stem = [&](const char* which, bool wave) {
    setenv("KORVESSA_STEM", which, 1);
    int64_t songFrames = 0;
    MixCapture take;
    WaveData file;
    if (wave) file = Take(band, std::string("stem ") + which);
    else take = FastTake(readBytes(band), 4410, songFrames);
    unsetenv("KORVESSA_STEM");
    return std::pair{take, file};
  };
  const auto [mix, mixWave] = stem("mix", true);
  const MixCapture mixFloat = stem("mix", false).first;
  std::vector<float> left(mixFloat.left.size()), right(mixFloat.right.size());
  auto add = [&](const MixCapture& take) {
    for (size_t i = 0; i < left.size(); ++i) {
      left[i] += take.left[i];
      right[i] += take.right[i];
    }
  };
  std::vector<int> sum(mixWave.samples.size());
  std::map<std::string, MixCapture> onOne;  // each channel's float stem, on one synth
  for (const char* channel : {"1", "2", "3", "10"}) {
    const auto [take, wave] = std::pair{stem(channel, false).first, stem(channel, true).second};
    ASSERT_EQ(take.left.size(), left.size()) << channel;
    ASSERT_EQ(wave.samples.size(), sum.size()) << channel;
    EXPECT_GT(take.PeakDb(0, int64_t(left.size())), -30) << channel;
    add(take);
    for (size_t i = 0; i < sum.size(); ++i) sum[i] += wave.samples[i];
    onOne[channel] = take;
  }
  EXPECT_TRUE(left == mixFloat.left && right == mixFloat.right) << "the stems' float sum is the mix";
  int worst = 0;
  for (size_t i = 0; i < sum.size(); ++i) worst = std::max(worst, std::abs(sum[i] - mixWave.samples[i]));
  EXPECT_LE(worst, 2) << "16-bit stems against the 16-bit mix";
  EXPECT_EQ(Peak(stem("5", true).second.mixed()), 0) << "a channel without notes";
  // On four lanes piano and drums are each split by key over several: a split channel's stem is
  // its parts' sum, as its stem on one synth is (within what separate synths differ by), and the
  // stems still add up, in channel order, to the mix.
  UseSystemSetup(dir, true, kSoundFont, "synth", 0, "Lanes=4\n");
  const MixCapture mix4 = stem("mix", false).first;
  left.assign(mix4.left.size(), 0.0f);
  right.assign(mix4.right.size(), 0.0f);
  for (const char* channel : {"1", "2", "3", "10"}) {
    const MixCapture take = stem(channel, false).first;
    ASSERT_EQ(take.left.size(), left.size()) << channel;
    add(take);
    if (channel != std::string("1") && channel != std::string("10")) continue;  // the split ones
    const MixCapture& one = onOne[channel];
    EXPECT_EQ(take.left.size(), one.left.size()) << channel;
    EXPECT_GT(take.PeakDb(0, int64_t(left.size())), -30) << channel;
    float off = 0;
    for (size_t i = 0; i < std::min(take.left.size(), one.left.size()); ++i)
      off = std::max({off, std::fabs(take.left[i] - one.left[i]), std::fabs(take.right[i] - one.right[i])});
    EXPECT_LE(off, 0.03f) << "channel " << channel << " split over lanes against one synth";
  }
  EXPECT_TRUE(left == mix4.left && right == mix4.right) << "four lanes: the stems' float sum is the mix";
  UseSystemSetup(dir, true, kSoundFont, "synth", 0);
  // The piano alone: its stem, reverb and chorus included, is the whole mix.
  writeText(band, Band({0}));
  const MixCapture pianoMix = stem("mix", false).first, piano = stem("1", false).first;
  EXPECT_TRUE(piano.left == pianoMix.left && piano.right == pianoMix.right) << "the piano's stem carries its effects";
}

// A stem take plays its channel back from what the fast take of the mix left in the stem cache:
// the same frames as rendering the song again, with and without delay. Only a cache whose mix
// take ended ("complete") is played back; a channel without notes gets no file.
TEST_F(MediaRecording, StemTakesPlayTheMixTakesChannelsBack) {
  UseSystemSetup(dir, true, kSoundFont, "synth", 0);
  const std::string band = Band({0, 1, 2, 9}), cache = dir + "/cache";
  fs::create_directories(cache);
  auto take = [&](const char* which, int64_t pad) {
    setenv("KORVESSA_STEM", which, 1);
    int64_t songFrames = 0;
    MixCapture t = FastTake(band, pad, songFrames);
    unsetenv("KORVESSA_STEM");
    return t;
  };
  for (int64_t pad : {0, 4410}) {
    const MixCapture rendered = take("3", pad);
    kv::SetThreadStemCache(cache);
    const MixCapture mix = take("mix", pad);
    EXPECT_TRUE(fs::exists(cache + "/complete"));
    EXPECT_TRUE(fs::exists(cache + "/10.f32"));
    EXPECT_FALSE(fs::exists(cache + "/05.f32"));
    EXPECT_EQ(fs::file_size(cache + "/03.f32"), mix.left.size() * 2 * sizeof(float)) << pad;
    const MixCapture replayed = take("3", pad);
    kv::SetThreadStemCache("");
    ASSERT_GT(rendered.PeakDb(0, int64_t(rendered.left.size())), -30);
    EXPECT_TRUE(replayed.left == rendered.left && replayed.right == rendered.right) << pad;
  }
  // The take plays the cache back, not the song: silence written over it comes back as silence,
  // unless the cache is not marked complete.
  const MixCapture rendered = take("3", 0);
  kv::SetThreadStemCache(cache);
  take("mix", 0);
  writeText(cache + "/03.f32", std::string(fs::file_size(cache + "/03.f32"), '\0'));
  const MixCapture silent = take("3", 0);
  fs::remove(cache + "/complete");
  const MixCapture again = take("3", 0);
  kv::SetThreadStemCache("");
  EXPECT_EQ(silent.left.size(), rendered.left.size());
  EXPECT_EQ(silent.PeakDb(0, int64_t(silent.left.size())), -240);
  EXPECT_TRUE(again.left == rendered.left && again.right == rendered.right);
}

// A song with an intro and a controller-111 loop, played twice then faded over 2 s, against the
// same notes written out in full (three passes, played straight): up to the fade the samples are
// the same, exactly; the jump carries a note held across it, a bend and a volume change. The
// song starts a few frames before its first sound, which places the fade: the last block before
// it is checked with the fade, where each sample is the written-out one times the ramp within
// one 16-bit step plus the ramp's change over one block; then silence.
TEST_F(MediaRecording, LoopedSongMatchesItsNotesWrittenOut) {
  auto song = [](int passes) {
    smf::Track t;
    t.Event(0, {0xC0, 0});
    t.Event(0, {0xC1, 48});
    t.Event(0, {0x91, 48, 90});  // held through every pass
    for (int n : {60, 64, 67}) t.Event(0, {0x90, n, 100});
    for (int n : {60, 64, 67}) t.Event(180, {0x80, n, 0});
    for (int p = 0; p < passes; ++p) {
      const uint32_t at = 192 + 384 * p;  // the loop: 2 s from 1 s on
      t.Event(at, {0xB0, 111, 0});
      t.Event(at, {0x90, 72, 100});
      t.Event(at + 88, {0x80, 72, 0});
      t.Event(at + 96, {0x90, 74, 100});
      t.Event(at + 108, {0xB0, 7, 100});
      t.Event(at + 184, {0x80, 74, 0});
      t.Event(at + 192, {0xE0, 0x00, 0x50});
      t.Event(at + 192, {0x90, 76, 100});
      t.Event(at + 288, {0x80, 76, 0});
      t.Event(at + 300, {0xB0, 7, 80});
      t.Event(at + 300, {0x90, 79, 100});  // sounds on over the jump: no note-off in the loop
    }
    t.End(192 + 384 * passes);
    return smf::File(0, 96, {t});
  };
  const std::string looped = dir + "/looped.mid", full = dir + "/full.mid";
  writeText(looped, song(1));
  writeText(full, song(3));
  auto take = [&](const std::string& midi, const std::string& setup, int64_t& lengthMs) {
    UseSystemSetup(dir, true, kSoundFont, "synth", 0, setup);
    const std::string wav = dir + "/take.wav";
    writeText(wav, TemplateBytes(120));
    const CycleResult r = RecordCycle(midi, wav, 0);
    EXPECT_EQ(r.saveError, 0u);
    lengthMs = r.lengthMs;
    return readWave(wav);
  };
  int64_t loopedMs = 0, fullMs = 0;
  const WaveData a = take(looped, "Loops=2\nFade=2\n", loopedMs), b = take(full, "Loops=0\n", fullMs);
  EXPECT_EQ(loopedMs, 7000) << "intro 1 s, two passes of 2 s, a fade of 2 s";
  EXPECT_EQ(fullMs, 7000) << "loop marks ignored";
  auto first = [](const WaveData& w) {
    const auto at = std::find_if(w.samples.begin(), w.samples.end(), [](int v) { return v != 0; });
    return int64_t(at - w.samples.begin()) / w.channels;
  };
  const int64_t a0 = first(a), b0 = first(b), rate = 44100, fadeFrom = 5 * rate, fadeTo = 7 * rate;
  const int64_t n = std::min(a.frames() - a0, b.frames() - b0);
  ASSERT_GE(n, fadeTo);
  int64_t differing = 0, overRamp = 0, loudAfter = 0;
  for (int64_t i = 0; i < n; ++i)
    for (int c = 0; c < 2; ++c) {
      const int x = a.samples[size_t((a0 + i) * 2 + c)], y = b.samples[size_t((b0 + i) * 2 + c)];
      if (i < fadeFrom - 64) {
        differing += x != y;
      } else if (i < fadeTo) {
        const double g = std::clamp(1.0 - double(i - fadeFrom) / double(fadeTo - fadeFrom), 0.0, 1.0);
        overRamp += std::fabs(x - y * g) > 1.0 + std::fabs(y) * 64.0 / double(fadeTo - fadeFrom);
      } else if (i >= fadeTo + 64) {
        loudAfter += x != 0;
      }
    }
  EXPECT_GT(Peak(b.mixed()), 0.05);
  EXPECT_EQ(differing, 0) << "intro and both passes, sample for sample";
  EXPECT_EQ(overRamp, 0) << "samples off the fade's ramp";
  EXPECT_EQ(loudAfter, 0) << "sound after the fade";
}

}  // namespace
