// Recording through the conversion's command sequence: every WAVE format, onset timing against
// the tempo map in fast and real-time recording, takes that must match.
#include "Process.h"
#include "media_test_util.h"

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

// Every template format in fast recording, a long song, and real-time recording: the recorded
// clicks follow the tempo map within 64 samples, the file is what its header says, and the
// recording lasts the song plus the two delays.
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
    EXPECT_GE(w.seconds(), songSeconds + 0.2 - 0.02) << c.name;
    EXPECT_LE(w.seconds(), songSeconds + 0.2 + 1.5) << c.name;  // polling on a busy machine
    const std::vector<float> x = w.mixed();
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
