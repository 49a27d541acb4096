// waveflt.exe run as the program runs it, on recordings in the program's own WAVE layout.
#include <gtest/gtest.h>

#include "Process.h"
#include "WaveFiles.h"

namespace {

using Opts = std::vector<std::string>;
struct Format { int rate, bits, channels; };
std::string name(const Format& f) { return std::to_string(f.rate) + " Hz " + std::to_string(f.bits) + "-bit " + std::to_string(f.channels) + " ch"; }
double fullScale(const Format& f) { return f.bits == 8 ? 128.0 : 32768.0; }
int peakOf(const std::vector<int>& s) { return s.empty() ? 0 : std::abs(*std::max_element(s.begin(), s.end(), [](int a, int b) { return std::abs(a) < std::abs(b); })); }

// A musical signal in the file's sample size, scaled to `level` of full scale, plus `offset`.
std::vector<int> music(const Format& f, double seconds, double level, int offset = 0) {
  std::vector<int> s = kvtest::musicSamples(f.rate, 16, f.channels, seconds, 1.0);
  const double scale = level * fullScale(f) / std::max(1, peakOf(s));
  for (int& v : s) v = int(std::lround(v * scale)) + offset;
  return s;
}

double channelMean(const kvtest::WaveData& w, int c) {
  double sum = 0;
  for (int64_t i = 0; i < w.frames(); ++i) sum += w.samples[size_t(i * w.channels + c)];
  return sum / double(std::max<int64_t>(1, w.frames()));
}

kvtest::RunResult filter(Opts argv, const std::string& in, const std::string& out) {
  argv.insert(argv.begin(), KV_BIN_DIR "/tools/waveflt.exe");
  argv.insert(argv.end(), {in, out});
  return kvtest::run(argv);
}

TEST(Waveflt, NormalisesThePeakKeepingFormatAndLength) {
  for (Format f : {Format{44100, 16, 2}, Format{22050, 8, 1}, Format{48000, 16, 1}, Format{32000, 8, 2}}) {
    SCOPED_TRACE(name(f));
    kvtest::TempDir dir;
    const std::string in = dir.file("normal.wav"), out = dir.file("My Song.wav");
    const std::vector<int> samples = music(f, 0.6, 0.3);
    kvtest::writeProgramWave(in, f.rate, f.bits, f.channels, samples);
    auto r = filter({"-normal", "0.9"}, in, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const kvtest::WaveData w = kvtest::readWave(out);  // a RIFF WAVE in the input's format
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(std::vector<int>({w.rate, w.bits, w.channels}), std::vector<int>({f.rate, f.bits, f.channels}));
    ASSERT_EQ(w.samples.size(), samples.size());
    EXPECT_LE(std::abs(peakOf(w.samples) - 0.9 * fullScale(f)), 1.0);
    // The whole signal is scaled by one factor, not clipped or compressed.
    const double gain = 0.9 * fullScale(f) / peakOf(samples);
    for (size_t i = 0; i < samples.size(); ++i) ASSERT_LE(std::lround(std::abs(w.samples[i] - samples[i] * gain)), 1) << i;
    EXPECT_EQ(dir.list().size(), 2u);  // no temporary left beside the output
  }
}

TEST(Waveflt, AutoOffsetRemovesEachChannelsDcOffset) {
  kvtest::TempDir dir;
  std::vector<int> samples = music({44100, 16, 2}, 0.5, 0.25);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] += (i % 2 == 0) ? 2000 : -1500;
  kvtest::writeProgramWave(dir.file("in.wav"), 44100, 16, 2, samples);
  ASSERT_EQ(filter({"-autoofs", "-normal", "0.9"}, dir.file("in.wav"), dir.file("centred.wav")).exitCode, 0);
  kvtest::WaveData w = kvtest::readWave(dir.file("centred.wav"));
  for (int c : {0, 1}) EXPECT_NEAR(channelMean(w, c), 0.0, 1.0) << c;
  EXPECT_LE(std::abs(peakOf(w.samples) - 0.9 * 32768), 1.0);
  // Without the option the offset stays (scaled with the signal).
  ASSERT_EQ(filter({"-normal", "0.9"}, dir.file("in.wav"), dir.file("kept.wav")).exitCode, 0);
  w = kvtest::readWave(dir.file("kept.wav"));
  EXPECT_GT(channelMean(w, 0), 1000.0);
  EXPECT_LT(channelMean(w, 1), -700.0);
}

TEST(Waveflt, HeadcutRemovesLeadingSilence) {
  struct Case { Format f; int offset, hiss; };
  // Hiss well below -60 dBFS on an offset, and plain digital silence in 8-bit.
  for (Case c : {Case{{44100, 16, 2}, 300, 6}, Case{{22050, 8, 1}, 0, 0}, Case{{48000, 16, 1}, -120, 3}}) {
    SCOPED_TRACE(name(c.f));
    kvtest::TempDir dir;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> hiss(-c.hiss, c.hiss);
    std::vector<int> samples;
    for (int i = 0; i < c.f.rate * 7 / 10 * c.f.channels; ++i) samples.push_back(c.offset + hiss(rng));  // 0.7 s lead
    const std::vector<int> song = music(c.f, 0.5, 0.5, c.offset);
    samples.insert(samples.end(), song.begin(), song.end());
    kvtest::writeProgramWave(dir.file("normal.wav"), c.f.rate, c.f.bits, c.f.channels, samples);
    auto r = filter({"-autoofs", "-headcut", "1", "-normal", "0.9"}, dir.file("normal.wav"), dir.file("out.wav"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    kvtest::WaveData w = kvtest::readWave(dir.file("out.wav"));
    // The song's first sample sits within 5 ms of the start.
    const int64_t before = w.frames() - int64_t(song.size()) / c.f.channels;
    EXPECT_GE(before, 0);
    EXPECT_LE(before, c.f.rate * 5 / 1000);
    EXPECT_LE(std::abs(peakOf(w.samples) - 0.9 * fullScale(c.f)), 1.0);
    // Without the cut the length is the input's.
    ASSERT_EQ(filter({"-normal", "0.9"}, dir.file("normal.wav"), dir.file("full.wav")).exitCode, 0);
    EXPECT_EQ(kvtest::readWave(dir.file("full.wav")).samples.size(), samples.size());
  }
}

TEST(Waveflt, LoudnessReachesTheTargetWithTheTruePeakUnderMinusOneDb) {
  struct Case { const char* song; double level, click; Format f; };
  // A loud song, and a quiet one whose sparse clicks only a limiter keeps under the peak.
  for (Case c : {Case{"loud", 0.99, 0, {44100, 16, 2}}, Case{"quiet with clicks", 0.02, 0.7, {48000, 16, 1}}})
    for (int target : {-16, -23}) {
      SCOPED_TRACE(std::string(c.song) + " to " + std::to_string(target) + " LUFS");
      kvtest::TempDir dir;
      std::vector<int> samples = music(c.f, 3.0, c.level);
      for (size_t i = 0; c.click > 0 && i < samples.size(); i += size_t(c.f.rate / 2 * c.f.channels))
        samples[i] = int(c.click * fullScale(c.f));
      kvtest::writeProgramWave(dir.file("in.wav"), c.f.rate, c.f.bits, c.f.channels, samples);
      auto r = filter({"-loudness", std::to_string(target)}, dir.file("in.wav"), dir.file("out.wav"));
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.err, "");
      const kvtest::WaveData w = kvtest::readWave(dir.file("out.wav"));
      EXPECT_EQ(std::vector<int>({w.rate, w.bits, w.channels}), std::vector<int>({c.f.rate, c.f.bits, c.f.channels}));
      EXPECT_EQ(w.samples.size(), samples.size());
      const kvtest::Loudness got = kvtest::ebur128(dir.file("out.wav"));
      EXPECT_NEAR(got.lufs, target, 0.5);
      EXPECT_LE(got.truePeak, -1.0);
      EXPECT_EQ(dir.list().size(), 2u);
    }
  // Levels out of range, and the peak normaliser at once, are refused with what is allowed.
  kvtest::TempDir dir;
  kvtest::writeProgramWave(dir.file("in.wav"), 44100, 16, 2, music({44100, 16, 2}, 0.2, 0.5));
  for (auto [opts, said] : {std::pair{Opts{"-loudness", "loud"}, "bad value for -loudness: loud"},
                            {Opts{"-loudness", "5"}, "-loudness takes a level in LUFS from -70 to 0"},
                            {Opts{"-loudness", "-71"}, "-loudness takes a level in LUFS from -70 to 0"},
                            {Opts{"-normal", "0.9", "-loudness", "-16"}, "-normal and -loudness exclude each other"}}) {
    auto r = filter(opts, dir.file("in.wav"), dir.file("out.wav"));
    EXPECT_NE(r.exitCode, 0) << said;
    EXPECT_EQ(r.err, std::string("waveflt: ") + said + "\n");
  }
  EXPECT_EQ(dir.list(), Opts{"in.wav"});
}

TEST(Waveflt, SilentAndEmptyRecordingsStaySilent) {
  for (Format f : {Format{44100, 16, 2}, Format{16000, 8, 1}}) {
    SCOPED_TRACE(name(f));
    kvtest::TempDir dir;
    const std::vector<int> zeros(size_t(f.rate / 2 * f.channels), 0);
    kvtest::writeProgramWave(dir.file("silent.wav"), f.rate, f.bits, f.channels, zeros);
    for (const Opts& opts : {Opts{"-normal", "0.9"}, Opts{"-autoofs", "-headcut", "1", "-normal", "0.9"}, Opts{"-loudness", "-16"}}) {
      const auto r = filter(opts, dir.file("silent.wav"), dir.file("out.wav"));
      ASSERT_EQ(r.exitCode, 0);
      // Nothing to measure: said, and left at its level.
      EXPECT_EQ(r.err.find("no measurable loudness") != std::string::npos, opts[0] == "-loudness") << r.err;
      const kvtest::WaveData w = kvtest::readWave(dir.file("out.wav"));
      ASSERT_TRUE(w.ok);
      EXPECT_EQ(w.samples.size(), zeros.size());  // nothing to cut towards: kept whole
      EXPECT_EQ(peakOf(w.samples), 0);
      EXPECT_EQ(w.bits, f.bits);
    }
    // The bare 60-byte header of a recording that captured nothing.
    kvtest::writeProgramWave(dir.file("empty.wav"), f.rate, f.bits, f.channels, {});
    ASSERT_EQ(filter({"-autoofs", "-headcut", "1", "-normal", "0.9"}, dir.file("empty.wav"), dir.file("e.wav")).exitCode, 0);
    const kvtest::WaveData w = kvtest::readWave(dir.file("e.wav"));
    EXPECT_TRUE(w.ok && w.frames() == 0 && w.rate == f.rate);
  }
}

TEST(Waveflt, BadInputGivesOneLineAndNoOutput) {
  kvtest::TempDir dir;
  kvtest::writeText(dir.file("text.wav"), "RIFX but really just some text\n");
  kvtest::writeProgramWave(dir.file("good.wav"), 44100, 16, 2, music({44100, 16, 2}, 0.2, 0.5));
  kvtest::writeText(dir.file("cut.wav"), kvtest::readBytes(dir.file("good.wav")).substr(0, 30));
  kvtest::writeText(dir.file("keep.wav"), "an older result");
  const Opts normal{"-normal", "0.9"};
  const std::string out = dir.file("out.wav");
  for (auto [opts, in, to] : {std::tuple{normal, "missing.wav", out}, {normal, "text.wav", out}, {normal, "cut.wav", out},
                              {normal, "missing.wav", dir.file("keep.wav")}, {Opts{"-normal", "loud"}, "good.wav", out},
                              {normal, "good.wav", dir.file("no such folder/out.wav")}, {normal, "good.wav", dir.path()}}) {
    SCOPED_TRACE(std::string(in) + " -> " + to);
    auto r = filter(opts, dir.file(in), to);
    EXPECT_NE(r.exitCode, 0);
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.err.rfind("waveflt: ", 0), 0u) << r.err;
  }
  EXPECT_EQ(kvtest::readBytes(dir.file("keep.wav")), "an older result");
  EXPECT_EQ(dir.list(), (Opts{"cut.wav", "good.wav", "keep.wav", "text.wav"}));  // no output, no temporaries
}

}  // namespace
