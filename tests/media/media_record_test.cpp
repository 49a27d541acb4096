// Recording through the conversion's command sequence: every WAVE format, timing of onsets
// against the tempo map in fast and real-time recording, and the whole test corpus.
#include <gtest/gtest.h>

#include <cstdio>

#include "media_test_util.h"

using namespace kvtest;

namespace {

constexpr int kDelayMs = 100;

// A short two-instrument song with a tempo change.
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

class MediaRecording : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp = new TempDir, dir = tmp->path(), midi = dir + "/melody.mid";
    writeText(midi, Melody());
  }
  static void TearDownTestSuite() { delete tmp; }
  void SetUp() override { UseSystemSetup(dir, true); }
  void TearDown() override { mciSendStringA("close all", nullptr, 0, nullptr); }
  static inline TempDir* tmp;
  static inline std::string dir, midi;
};

// Click times measured in a recording, relative to the first click, against the tempo map.
std::vector<int64_t> OnsetErrors(const std::string& wav, const std::vector<double>& times, int rate) {
  Audio a;
  EXPECT_TRUE(ReadAudio(wav, a));
  EXPECT_EQ(a.rate, rate);
  auto on = Onsets(a.mono, 0.1 * Peak(a.mono), rate / 50);
  EXPECT_EQ(on.size(), times.size());
  std::vector<int64_t> errors;
  for (size_t i = 0; on.size() == times.size() && i < times.size(); ++i)
    errors.push_back(on[i] - on[0] - std::llround((times[i] - times[0]) * rate));
  return errors;
}

int64_t MaxAbs(const std::vector<int64_t>& v) {
  int64_t m = 0;
  for (auto x : v) m = std::max<int64_t>(m, std::llabs(x));
  return m;
}

}  // namespace

TEST_F(MediaRecording, EveryTemplateFormatRecordsTheSong) {
  const double songSeconds = 2.2;  // two quarters at 120 bpm, three at 150 bpm
  for (int number = 101; number <= 124; ++number) {
    SCOPED_TRACE("template " + std::to_string(number));
    Format f = TemplateFormat(number);
    std::string wav = dir + "/out " + std::to_string(number) + ".wav";
    writeText(wav, TemplateBytes(number));
    CycleResult r = RecordCycle(midi, wav, kDelayMs);
    EXPECT_EQ(r.lengthMs, 2200);
    EXPECT_EQ(r.saveError, 0u);
    Audio a;
    ASSERT_TRUE(ReadAudio(wav, a));
    EXPECT_EQ(a.rate, f.rate);
    EXPECT_EQ(a.channels, f.channels);
    EXPECT_EQ(a.format & SF_FORMAT_SUBMASK, f.bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
    // Header sizes agree with the file: header + data (+ pad byte).
    int64_t bytes = a.frames * f.channels * f.bits / 8;
    EXPECT_EQ(int64_t(fs::file_size(wav)), 58 + bytes + (bytes & 1));
    double seconds = double(a.frames) / f.rate;
    EXPECT_GE(seconds, songSeconds + 2 * kDelayMs / 1000.0 - 0.02);
    EXPECT_LE(seconds, songSeconds + 2 * kDelayMs / 1000.0 + 1.5);  // polling on a busy machine
    EXPECT_GT(Peak(a.mono), 0.05);
    auto ref = ReferenceRender(midi, f.rate, 0.3);
    EXPECT_GT(BestEnvelopeCorrelation(a.mono, ref, f.rate), 0.9);
    fs::remove(wav);
  }
}

TEST_F(MediaRecording, SavedFileIsReadByOtherTools) {
  std::string wav = dir + "/tools.wav";
  writeText(wav, TemplateBytes(122));  // 48 kHz 8-bit stereo
  RecordCycle(midi, wav, 0);
  const std::string probe = "ffprobe -v error -show_entries stream=sample_rate,channels,codec_name -of csv=p=0 ";
  FILE* p = popen((probe + "\"" + wav + "\"").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[128] = {};
  ASSERT_NE(fgets(line, sizeof line, p), nullptr);
  pclose(p);
  EXPECT_EQ(std::string(line), "pcm_u8,48000,2\n");
  EXPECT_EQ(std::system(("sox \"" + wav + "\" -n stat 2>/dev/null").c_str()), 0);
}

TEST_F(MediaRecording, ClickOnsetsFollowTheTempoMapInFastAndRealTime) {
  std::vector<double> shortTimes, longTimes;
  std::string shortMidi = dir + "/clicks-short.mid", longMidi = dir + "/clicks-long.mid";
  writeText(shortMidi, ClickTrack(7, shortTimes));
  writeText(longMidi, ClickTrack(30, longTimes));

  struct Case {
    const char* name;
    const std::string* midi;
    const std::vector<double>* times;
    int number;
    bool fast;
  };
  const Case cases[] = {
      {"fast-44100-long", &longMidi, &longTimes, 120, true},
      {"fast-48000-long", &longMidi, &longTimes, 124, true},
      {"fast-44100-short", &shortMidi, &shortTimes, 120, true},
      {"realtime-44100-short", &shortMidi, &shortTimes, 120, false},
      {"realtime-48000-short", &shortMidi, &shortTimes, 123, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseSystemSetup(dir, c.fast);
    std::string wav = dir + "/" + c.name + ".wav";
    writeText(wav, TemplateBytes(c.number));
    CycleResult r = RecordCycle(*c.midi, wav, 100);
    int rate = TemplateFormat(c.number).rate;
    auto errors = OnsetErrors(wav, *c.times, rate);
    ASSERT_EQ(errors.size(), c.times->size());
    EXPECT_LE(MaxAbs(errors), 64) << "worst onset error in samples";
    EXPECT_LE(std::llabs(errors.back()), 64) << "drift from first click to last";
    std::printf("[ onsets ] %-22s clicks %zu, worst error %lld samples (%.2f ms), recorded in %.2f s\n", c.name,
                errors.size(), (long long)MaxAbs(errors), 1000.0 * MaxAbs(errors) / rate, r.seconds);
    if (!c.fast) EXPECT_GE(r.seconds, shortTimes.back() - shortTimes.front());  // real time takes its time
  }

  // Fast and real-time recordings of the same song hold the same samples from the first sound on.
  Audio fast, slow;
  ASSERT_TRUE(ReadAudio(dir + "/fast-44100-short.wav", fast));
  ASSERT_TRUE(ReadAudio(dir + "/realtime-44100-short.wav", slow));
  size_t n = size_t(44100 * (shortTimes.back() + 0.2));
  ASSERT_LT(FirstSound(fast) + n, fast.mono.size());
  ASSERT_LT(FirstSound(slow) + n, slow.mono.size());
  EXPECT_EQ(SamplesDiffering(fast, slow, n), 0u);
}

// The synth's voices rendered on one thread or spread over two give the same samples.
TEST_F(MediaRecording, OneAndTwoSynthThreadsRecordTheSameSamples) {
  const std::string midi = CorpusFile("test-multichannel-chords-3.mid");
  Audio take[2];
  for (int threads : {1, 2}) {
    UseSystemSetup(dir, true, kSoundFont, "synth", threads);
    const std::string wav = dir + "/threads" + std::to_string(threads) + ".wav";
    writeText(wav, TemplateBytes(120));
    RecordCycle(midi, wav, 100);
    ASSERT_TRUE(ReadAudio(wav, take[threads - 1]));
  }
  const size_t n = std::min(take[0].mono.size() - FirstSound(take[0]), take[1].mono.size() - FirstSound(take[1]));
  ASSERT_GT(n, size_t(44100));
  ASSERT_GT(Peak(take[0].mono), 0.05);
  EXPECT_EQ(SamplesDiffering(take[0], take[1], n), 0u);
}

// GS files usually address their SysEx to device 0x10, the id a GS module answers to: such a
// drum-part change ("channel 1 plays drums") sounds exactly as the broadcast (0x7F) one does,
// and unlike the same file whose messages no synth takes (another maker's id).
TEST_F(MediaRecording, GsMessagesToTheUsualDeviceIdTakeEffect) {
  const std::string original = readBytes(CorpusFile("test-sysex-gs-40-1x-15-drum-part-change.mid"));
  auto addressedTo = [&](const std::string& header) {
    std::string bytes = original;
    size_t count = 0;
    for (size_t at = 0; (at = bytes.find("\x41\x7F\x42\x12", at)) != std::string::npos; at += 4, ++count)
      bytes.replace(at, 4, header);
    EXPECT_EQ(count, 3u);  // GS reset, drum part of channel 1, normal part of channel 10
    return bytes;
  };
  struct Take {
    const char* name;
    std::string bytes;
    Audio audio;
  } takes[] = {{"broadcast", original, {}},
               {"device 0x10", addressedTo("\x41\x10\x42\x12"), {}},
               {"no GS message", addressedTo("\x7D\x7F\x42\x12"), {}}};
  for (Take& t : takes) {
    const std::string midi = dir + "/gs " + t.name + ".mid", wav = dir + "/gs " + t.name + ".wav";
    writeText(midi, t.bytes);
    writeText(wav, TemplateBytes(120));
    RecordCycle(midi, wav, 0);
    ASSERT_TRUE(ReadAudio(wav, t.audio)) << t.name;
    ASSERT_GT(Peak(t.audio.mono), 0.05) << t.name;
  }
  size_t n = SIZE_MAX;
  for (const Take& t : takes) n = std::min(n, t.audio.mono.size() - FirstSound(t.audio));
  ASSERT_GT(n, size_t(44100));
  EXPECT_EQ(SamplesDiffering(takes[1].audio, takes[0].audio, n), 0u) << "device 0x10 against broadcast";
  EXPECT_GT(SamplesDiffering(takes[1].audio, takes[2].audio, n), n / 4) << "device 0x10 against no GS message";
}

TEST_F(MediaRecording, WholeCorpusThroughTheRecordCycle) {
  int files = 0;
  for (auto& entry : fs::directory_iterator(CorpusFile(""))) {
    if (entry.path().extension() != ".mid") continue;
    ++files;
    std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    std::string wav = dir + "/corpus.wav";
    writeText(wav, TemplateBytes(101));  // 16 kHz 8-bit mono keeps this quick
    // Long songs are stopped after 15 s, as the Stop command does: that keeps this quick.
    const int64_t cut = 15000;
    CycleResult r = RecordCycle(entry.path().string(), wav, 0, 60, cut);
    ASSERT_LT(r.seconds, 60) << "the recording did not finish";
    EXPECT_EQ(r.saveError, 0u);
    Audio a;
    ASSERT_TRUE(ReadAudio(wav, a));
    EXPECT_EQ(a.rate, 16000);
    EXPECT_EQ(a.channels, 1);
    double seconds = double(a.frames) / a.rate;
    if (r.lengthMs > 0) {
      EXPECT_GE(seconds, std::min(r.lengthMs, cut) / 1000.0 - 0.02);
      EXPECT_LE(seconds, r.lengthMs / 1000.0 + 2.0);
    } else {
      EXPECT_LT(seconds, 1.0);
    }
  }
  EXPECT_GT(files, 60);
}

TEST_F(MediaRecording, PlaybackWithoutRecorderKeepsRealTimeAndPrintsNothing) {
  smf::Track t;
  t.Event(0, {0x90, 60, 100});
  t.Event(480, {0x80, 60, 0});
  t.End(960);  // one second at 120 bpm
  std::string midi = dir + "/one second.mid";
  writeText(midi, smf::File(0, 480, {t}));
  StderrCapture err(dir + "/stderr.txt");  // whatever ALSA or FluidSynth say must not reach stderr

  auto t0 = std::chrono::steady_clock::now();
  MCIERROR e;
  Mci("open \"" + midi + "\" alias PlayMedia", &e);
  ASSERT_EQ(e, 0u);
  mciSendStringA("set PlayMedia port -1", nullptr, 0, nullptr);
  mciSendStringA("set PlayMedia time format milliseconds", nullptr, 0, nullptr);
  Mci("play PlayMedia", &e);
  EXPECT_EQ(e, 0u);
  EXPECT_EQ(Mci("status PlayMedia mode"), "playing");
  SleepMs(300);
  int64_t pos = std::atoll(Mci("status PlayMedia position").c_str());
  EXPECT_GT(pos, 100);
  EXPECT_LT(pos, 1000);
  Mci("pause PlayMedia");
  EXPECT_EQ(Mci("status PlayMedia mode"), "paused");
  int64_t paused = std::atoll(Mci("status PlayMedia position").c_str());
  SleepMs(100);
  EXPECT_EQ(std::atoll(Mci("status PlayMedia position").c_str()), paused);
  Mci("resume PlayMedia");
  EXPECT_EQ(Mci("status PlayMedia mode"), "playing");
  while (Mci("status PlayMedia mode") == "playing") SleepMs(10);
  double took = SecondsSince(t0);
  EXPECT_EQ(Mci("status PlayMedia mode"), "stopped");
  EXPECT_EQ(Mci("status PlayMedia position"), "1000");
  EXPECT_GE(took, 1.0);  // real-time pace: a one-second song takes at least a second
  Mci("seek PlayMedia to start");
  EXPECT_EQ(Mci("status PlayMedia position"), "0");
  // "wait" returns when the song has played to its end.
  auto w0 = std::chrono::steady_clock::now();
  Mci("play PlayMedia from 700 wait", &e);
  EXPECT_EQ(e, 0u);
  EXPECT_GE(SecondsSince(w0), 0.29);
  EXPECT_EQ(Mci("status PlayMedia mode"), "stopped");
  Mci("close PlayMedia");
  EXPECT_EQ(err.Restore(), 0u);
}
