// Recording through the conversion's command sequence: every WAVE format, onset timing against
// the tempo map in fast and real-time recording, takes that must match.
#include "Process.h"
#include "media_test_util.h"
#include "smf_reader.h"
#include "synth_bus.h"

using namespace kvtest;

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
  const int token = bus.PlaySong(song, 0, error);
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
    UseSystemSetup(dir, true, kSoundFont, "synth", 0, c.tail);
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
    } else if (c.midi == organ) {
      EXPECT_EQ(soundEnd, songEnd + 30 * rate) << c.name << ": capped";
      EXPECT_GT(take.PeakDb(songEnd + 27 * rate, songEnd + 28 * rate), -75) << c.name << ": still sounding before the fade";
      EXPECT_LT(take.PeakDb(soundEnd - rate / 100, soundEnd), -70) << c.name << ": faded out, not cut";
    } else {
      EXPECT_EQ(soundEnd, loudEnd + hold) << c.name << ": ends 0.2 s after the sound";
      EXPECT_GT(loudEnd, songEnd + rate / 10) << c.name << ": the notes' release is kept";
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
  const struct {
    const char* name;
    std::string midiA;
    int threadsA;
    std::string midiB;
    int threadsB;
    bool same;
  } rows[] = {{"one and two synth threads", chords, 1, chords, 2, true},
              {"GS to device 0x10 and broadcast", device10, 0, broadcast, 0, true},
              {"GS to device 0x10 and to another maker", device10, 0, other, 0, false}};
  for (const auto& c : rows) {
    UseSystemSetup(dir, true, kSoundFont, "synth", c.threadsA);
    const std::vector<float> a = Take(c.midiA, "a").mixed();
    UseSystemSetup(dir, true, kSoundFont, "synth", c.threadsB);
    const std::vector<float> b = Take(c.midiB, "b").mixed();
    ASSERT_GT(Peak(a), 0.05) << c.name;
    const size_t differing = SamplesDiffering(a, b), n = std::min(a.size(), b.size());
    if (c.same) EXPECT_EQ(differing, 0u) << c.name;
    else EXPECT_GT(differing, n / 4) << c.name;
  }
}

}  // namespace
