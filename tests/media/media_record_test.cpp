// Recording through the conversion's command sequence: every WAVE format, onset timing against
// the tempo map in fast and real-time recording, takes that must match, the whole test corpus.
#include "Process.h"
#include "media_test_util.h"

using namespace kvtest;

namespace {

// A short two-instrument song with a tempo change: two quarters at 120 bpm, three at 150 bpm.
std::string Melody() {
  smf::Track t0, t1, t2;
  t0.Tempo(0, 500000);
  t0.Tempo(960, 400000);
  t1.Event(0, {0xC0, 0});
  t2.Event(0, {0xC1, 40});
  const int notes[] = {60, 64, 67, 72, 67, 64, 60, 55};
  for (uint32_t i = 0, at = 0; i < 8; ++i, at += 240) {
    t1.Event(at, {0x90, notes[i], 100});
    t1.Event(at + 200, {0x80, notes[i], 0});
    if (i % 2 == 0) t2.Event(at, {0x91, notes[i] - 12, 90}), t2.Event(at + 400, {0x81, notes[i] - 12, 0});
  }
  for (smf::Track* t : {&t0, &t1, &t2}) t->End(2400);
  return smf::File(1, 480, {t0, t1, t2});
}

// A click track on the GM drum channel with tempo changes and off-grid beats; fills the click times.
std::string ClickTrack(int clicks, std::vector<double>& times) {
  const int ppq = 480, tempi[] = {500000, 416667, 612345, 350000, 545454};
  smf::Track t0, t1;
  double seconds = 0;
  uint32_t tick = 0;
  t1.Event(0, {0xB9, 91, 0});  // no reverb or chorus: each click dies away before the next
  t1.Event(0, {0xB9, 93, 0});
  for (int i = 0; i < clicks; ++i) {
    const int tempo = tempi[(i / 2) % 5];
    if (i % 2 == 0) t0.Tempo(tick, tempo);
    times.push_back(seconds);
    t1.Event(tick, {0x99, 76, 120});
    t1.Event(tick + 60, {0x89, 76, 0});
    const uint32_t step = ppq + (i % 3) * 7;
    seconds += double(step) * tempo / ppq / 1e6;
    tick += step;
  }
  t0.End(tick);
  t1.End(tick);
  return smf::File(1, ppq, {t0, t1});
}

// Sample positions where |x| crosses `threshold` after at least `quiet` samples below it.
std::vector<int64_t> Onsets(const std::vector<float>& x, double threshold, int quiet) {
  std::vector<int64_t> out;
  int64_t below = quiet;
  for (size_t i = 0; i < x.size(); ++i) {
    const bool loud = std::fabs(x[i]) > threshold;
    if (loud && below >= quiet) out.push_back(int64_t(i));
    below = loud ? 0 : below + 1;
  }
  return out;
}

// How many of the first n samples differ between two takes, each counted from its first sound.
size_t SamplesDiffering(const std::vector<float>& a, const std::vector<float>& b) {
  const size_t a0 = FirstSound(a), b0 = FirstSound(b), n = std::min(a.size() - a0, b.size() - b0);
  EXPECT_GT(n, 44100u) << "takes too short to compare";
  size_t differing = 0;
  for (size_t i = 0; i < n; ++i) differing += a[a0 + i] != b[b0 + i];
  return differing;
}

class MediaRecording : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { tmp = new TempDir, dir = tmp->path(); }
  static void TearDownTestSuite() { delete tmp; }
  void SetUp() override { UseSystemSetup(dir, true); }
  void TearDown() override { mciSendStringA("close all", nullptr, 0, nullptr); }
  // Records midi into a fresh template file and reads the result back.
  static WaveData Take(const std::string& midi, const std::string& name, int number = 120, int delayMs = 0,
                       CycleResult* cycle = nullptr) {
    const std::string wav = dir + "/" + name + ".wav";
    writeText(wav, TemplateBytes(number));
    const CycleResult r = RecordCycle(midi, wav, delayMs);
    if (cycle) *cycle = r;
    EXPECT_EQ(r.saveError, 0u) << name;
    return readWave(wav);
  }
  static inline TempDir* tmp;
  static inline std::string dir;
};

TEST_F(MediaRecording, EveryTemplateFormatRecordsTheSong) {
  const std::string midi = dir + "/melody.mid";
  writeText(midi, Melody());
  for (int number = 101; number <= 124; ++number) {
    const Format f = TemplateFormat(number);
    const std::string row = "template " + std::to_string(number), wav = dir + "/take " + std::to_string(number) + ".wav";
    CycleResult r;
    const WaveData w = Take(midi, "take " + std::to_string(number), number, 100, &r);
    EXPECT_EQ(r.lengthMs, 2200) << row;
    ASSERT_TRUE(w.ok) << row;
    // What another tool reads in the header is the template's format.
    auto p = probe(wav);
    EXPECT_EQ(p["codec_name"] + " " + p["sample_rate"] + " " + p["channels"],
              (f.bits == 8 ? "pcm_u8 " : "pcm_s16le ") + std::to_string(f.rate) + " " + std::to_string(f.channels))
        << row;
    const int64_t bytes = w.frames() * f.channels * f.bits / 8;
    EXPECT_EQ(int64_t(fs::file_size(wav)), 58 + bytes + (bytes & 1)) << row << ": header sizes against the file";
    EXPECT_GE(w.seconds(), 2.2 + 0.2 - 0.02) << row;
    EXPECT_LE(w.seconds(), 2.2 + 0.2 + 1.5) << row;  // polling on a busy machine
    EXPECT_GT(w.peak(), 0.05) << row;
    EXPECT_GT(BestEnvelopeCorrelation(w.mixed(), ReferenceRender(midi, f.rate, 0.3), f.rate), 0.9) << row;
    fs::remove(wav);
  }
}

TEST_F(MediaRecording, ClickOnsetsFollowTheTempoMapInFastAndRealTime) {
  std::vector<double> shortTimes, longTimes;
  const std::string shortMidi = dir + "/clicks-short.mid", longMidi = dir + "/clicks-long.mid";
  writeText(shortMidi, ClickTrack(7, shortTimes));
  writeText(longMidi, ClickTrack(30, longTimes));
  const struct {
    const char* name;
    bool longSong;
    int number;
    bool fast;
  } rows[] = {{"fast-44100-long", true, 120, true},
              {"fast-48000-long", true, 124, true},
              {"fast-44100-short", false, 120, true},
              {"realtime-44100-short", false, 120, false},
              {"realtime-48000-short", false, 123, false}};
  std::vector<float> takes[2];  // fast and real time, 44100 Hz, short song
  for (const auto& c : rows) {
    UseSystemSetup(dir, c.fast);
    const std::vector<double>& times = c.longSong ? longTimes : shortTimes;
    CycleResult r;
    const WaveData w = Take(c.longSong ? longMidi : shortMidi, c.name, c.number, 100, &r);
    const int rate = TemplateFormat(c.number).rate;
    ASSERT_EQ(w.rate, rate) << c.name;
    const std::vector<float> x = w.mixed();
    const auto on = Onsets(x, 0.1 * Peak(x), rate / 50);
    ASSERT_EQ(on.size(), times.size()) << c.name;
    int64_t worst = 0;
    for (size_t i = 0; i < times.size(); ++i)
      worst = std::max<int64_t>(worst, std::llabs(on[i] - on[0] - std::llround((times[i] - times[0]) * rate)));
    EXPECT_LE(worst, 64) << c.name << ": worst onset error in samples, the tempo map against the recording";
    if (!c.fast) EXPECT_GE(r.seconds, times.back() - times.front()) << c.name << ": real time takes its time";
    if (std::string(c.name).find("44100-short") != std::string::npos) takes[c.fast ? 0 : 1] = x;
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

TEST_F(MediaRecording, WholeCorpusThroughTheRecordCycle) {
  int files = 0;
  for (auto& entry : fs::directory_iterator(CorpusFile(""))) {
    if (entry.path().extension() != ".mid") continue;
    ++files;
    const std::string name = entry.path().filename().string(), wav = dir + "/corpus.wav";
    writeText(wav, TemplateBytes(101));  // 16 kHz 8-bit mono keeps this quick
    const int64_t cut = 15000;           // long songs are stopped after 15 s, as the Stop command does
    const CycleResult r = RecordCycle(entry.path().string(), wav, 0, 60, cut);
    ASSERT_LT(r.seconds, 60) << name << ": the recording did not finish";
    EXPECT_EQ(r.saveError, 0u) << name;
    const WaveData w = readWave(wav);
    EXPECT_TRUE(w.ok && w.rate == 16000 && w.channels == 1) << name;
    if (r.lengthMs > 0) {
      EXPECT_GE(w.seconds(), std::min(r.lengthMs, cut) / 1000.0 - 0.02) << name;
      EXPECT_LE(w.seconds(), r.lengthMs / 1000.0 + 2.0) << name;
    } else {
      EXPECT_LT(w.seconds(), 1.0) << name;
    }
  }
  EXPECT_GT(files, 60);
}

TEST_F(MediaRecording, PlaybackWithoutRecorderKeepsRealTimeAndPrintsNothing) {
  smf::Track t;
  t.Event(0, {0x90, 60, 100});
  t.Event(480, {0x80, 60, 0});
  t.End(960);  // one second at 120 bpm
  const std::string midi = dir + "/one second.mid";
  writeText(midi, smf::File(0, 480, {t}));
  StderrCapture err(dir + "/stderr.txt");  // whatever ALSA or FluidSynth say must not reach stderr
  const auto t0 = std::chrono::steady_clock::now();
  ExpectMci({{"open \"" + midi + "\" alias PlayMedia"},
             {"set PlayMedia port -1"},
             {"set PlayMedia time format milliseconds"},
             {"play PlayMedia"},
             {"status PlayMedia mode", 0, "playing"}});
  SleepMs(300);
  const int64_t pos = std::atoll(Mci("status PlayMedia position").c_str());
  EXPECT_GT(pos, 100);
  EXPECT_LT(pos, 1000);
  ExpectMci({{"pause PlayMedia"}, {"status PlayMedia mode", 0, "paused"}});
  const std::string paused = Mci("status PlayMedia position");
  SleepMs(100);
  ExpectMci({{"status PlayMedia position", 0, paused.c_str()}, {"resume PlayMedia"}, {"status PlayMedia mode", 0, "playing"}});
  while (Mci("status PlayMedia mode") == "playing") SleepMs(10);
  EXPECT_GE(SecondsSince(t0), 1.0);  // real-time pace: a one-second song takes at least a second
  ExpectMci({{"status PlayMedia position", 0, "1000"}, {"seek PlayMedia to start"}, {"status PlayMedia position", 0, "0"}});
  // "wait" returns when the song has played to its end.
  const auto w0 = std::chrono::steady_clock::now();
  ExpectMci({{"play PlayMedia from 700 wait"}, {"status PlayMedia mode", 0, "stopped"}, {"close PlayMedia"}});
  EXPECT_GE(SecondsSince(w0), 0.29);
  EXPECT_EQ(err.Restore(), 0u);
}

}  // namespace
