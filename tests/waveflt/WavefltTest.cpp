// waveflt.exe run as the program runs it, on recordings in the program's own WAVE layout.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "TestSupport.h"

namespace {

const std::string kWaveflt = KV_BIN_DIR "/tools/waveflt.exe";

struct Format { int rate, bits, channels; };

std::string name(const Format& f) {
  return std::to_string(f.rate) + " Hz " + std::to_string(f.bits) + "-bit " + std::to_string(f.channels) + " ch";
}

// A musical signal in the file's sample size, scaled to `level` of full scale, plus `offset`.
std::vector<int> music(const Format& f, double seconds, double level, int offset = 0) {
  kvtest::TempDir scratch;
  kvtest::writeMusicWave(scratch.file("m.wav"), f.rate, 16, f.channels, seconds, 1.0);
  kvtest::WaveData w;
  kvtest::readWave(scratch.file("m.wav"), &w);
  int peak = 1;
  for (int s : w.samples) peak = std::max(peak, std::abs(s));
  const double fs = f.bits == 8 ? 128.0 : 32768.0;
  std::vector<int> out;
  for (int s : w.samples) out.push_back(static_cast<int>(std::lround(s * level * fs / peak)) + offset);
  return out;
}

int peakOf(const std::vector<int>& s) {
  int p = 0;
  for (int v : s) p = std::max(p, std::abs(v));
  return p;
}

double channelMean(const kvtest::WaveData& w, int c) {
  double sum = 0;
  for (int64_t i = 0; i < w.frames(); ++i) sum += w.samples[static_cast<size_t>(i * w.channels + c)];
  return w.frames() ? sum / static_cast<double>(w.frames()) : 0;
}

kvtest::RunResult filter(const std::vector<std::string>& opts, const std::string& in, const std::string& out) {
  std::vector<std::string> argv{kWaveflt};
  argv.insert(argv.end(), opts.begin(), opts.end());
  argv.push_back(in);
  argv.push_back(out);
  return kvtest::run(argv);
}

TEST(Waveflt, NormalisesThePeakKeepingFormatAndLength) {
  for (Format f : {Format{44100, 16, 2}, Format{22050, 8, 1}, Format{48000, 16, 1}, Format{32000, 8, 2}}) {
    SCOPED_TRACE(name(f));
    kvtest::TempDir dir;
    const std::string in = dir.file("normal.wav"), out = dir.file("My Song.wav");
    std::vector<int> samples = music(f, 0.6, 0.3);
    kvtest::writeProgramWave(in, f.rate, f.bits, f.channels, samples);
    auto r = filter({"-normal", "0.9"}, in, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    kvtest::WaveData w;
    ASSERT_TRUE(kvtest::readWave(out, &w));
    EXPECT_TRUE(w.wav);
    EXPECT_EQ(w.rate, f.rate);
    EXPECT_EQ(w.bits, f.bits);
    EXPECT_EQ(w.channels, f.channels);
    ASSERT_EQ(w.samples.size(), samples.size());
    const double fs = f.bits == 8 ? 128.0 : 32768.0;
    EXPECT_LE(std::abs(peakOf(w.samples) - 0.9 * fs), 1.0);
    // The whole signal is scaled by one factor, not clipped or compressed.
    const double gain = 0.9 * fs / peakOf(samples);
    int worst = 0;
    for (size_t i = 0; i < samples.size(); ++i)
      worst = std::max(worst, static_cast<int>(std::lround(std::abs(w.samples[i] - samples[i] * gain))));
    EXPECT_LE(worst, 1);
    const std::string bytes = kvtest::readBytes(out);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(bytes.substr(8, 4), "WAVE");
    EXPECT_EQ(dir.list().size(), 2u);  // no temporary left beside the output
  }
}

TEST(Waveflt, AutoOffsetRemovesEachChannelsDcOffset) {
  kvtest::TempDir dir;
  Format f{44100, 16, 2};
  std::vector<int> samples = music(f, 0.5, 0.25);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] += (i % 2 == 0) ? 2000 : -1500;
  kvtest::writeProgramWave(dir.file("in.wav"), f.rate, f.bits, f.channels, samples);

  ASSERT_EQ(filter({"-autoofs", "-normal", "0.9"}, dir.file("in.wav"), dir.file("centred.wav")).exitCode, 0);
  kvtest::WaveData w;
  ASSERT_TRUE(kvtest::readWave(dir.file("centred.wav"), &w));
  EXPECT_NEAR(channelMean(w, 0), 0.0, 1.0);
  EXPECT_NEAR(channelMean(w, 1), 0.0, 1.0);
  EXPECT_LE(std::abs(peakOf(w.samples) - 0.9 * 32768), 1.0);

  // Without the option the offset stays (scaled with the signal).
  ASSERT_EQ(filter({"-normal", "0.9"}, dir.file("in.wav"), dir.file("kept.wav")).exitCode, 0);
  ASSERT_TRUE(kvtest::readWave(dir.file("kept.wav"), &w));
  EXPECT_GT(channelMean(w, 0), 1000.0);
  EXPECT_LT(channelMean(w, 1), -700.0);
}

TEST(Waveflt, HeadcutRemovesLeadingSilence) {
  struct Case { Format f; int offset; int hiss; };
  // Hiss well below -60 dBFS on an offset, and plain digital silence in 8-bit.
  for (Case c : {Case{{44100, 16, 2}, 300, 6}, Case{{22050, 8, 1}, 0, 0}, Case{{48000, 16, 1}, -120, 3}}) {
    SCOPED_TRACE(name(c.f));
    kvtest::TempDir dir;
    const int lead = c.f.rate * 7 / 10;  // 0.7 s before the first note
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> hiss(-c.hiss, c.hiss);
    std::vector<int> samples;
    for (int i = 0; i < lead * c.f.channels; ++i) samples.push_back(c.offset + hiss(rng));
    std::vector<int> song = music(c.f, 0.5, 0.5, c.offset);
    samples.insert(samples.end(), song.begin(), song.end());
    kvtest::writeProgramWave(dir.file("normal.wav"), c.f.rate, c.f.bits, c.f.channels, samples);

    auto r = filter({"-autoofs", "-headcut", "1", "-normal", "0.9"}, dir.file("normal.wav"), dir.file("out.wav"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    kvtest::WaveData w;
    ASSERT_TRUE(kvtest::readWave(dir.file("out.wav"), &w));
    const int64_t songFrames = static_cast<int64_t>(song.size()) / c.f.channels;
    // The song's first sample sits within 5 ms of the start.
    const int64_t before = w.frames() - songFrames;
    EXPECT_GE(before, 0);
    EXPECT_LE(before, c.f.rate * 5 / 1000);
    EXPECT_LE(std::abs(peakOf(w.samples) - 0.9 * (c.f.bits == 8 ? 128 : 32768)), 1.0);

    // Without the cut the length is the input's.
    ASSERT_EQ(filter({"-normal", "0.9"}, dir.file("normal.wav"), dir.file("full.wav")).exitCode, 0);
    ASSERT_TRUE(kvtest::readWave(dir.file("full.wav"), &w));
    EXPECT_EQ(w.samples.size(), samples.size());
  }
}

TEST(Waveflt, SilentAndEmptyRecordingsStaySilent) {
  for (Format f : {Format{44100, 16, 2}, Format{16000, 8, 1}}) {
    SCOPED_TRACE(name(f));
    kvtest::TempDir dir;
    std::vector<int> zeros(static_cast<size_t>(f.rate / 2 * f.channels), 0);
    kvtest::writeProgramWave(dir.file("silent.wav"), f.rate, f.bits, f.channels, zeros);
    for (const auto& opts : {std::vector<std::string>{"-normal", "0.9"},
                             std::vector<std::string>{"-autoofs", "-headcut", "1", "-normal", "0.9"}}) {
      ASSERT_EQ(filter(opts, dir.file("silent.wav"), dir.file("out.wav")).exitCode, 0);
      kvtest::WaveData w;
      ASSERT_TRUE(kvtest::readWave(dir.file("out.wav"), &w));
      EXPECT_EQ(w.samples.size(), zeros.size());  // nothing to cut towards: kept whole
      EXPECT_EQ(peakOf(w.samples), 0);
      EXPECT_EQ(w.bits, f.bits);
    }
    // The bare 60-byte header of a recording that captured nothing.
    kvtest::writeProgramWave(dir.file("empty.wav"), f.rate, f.bits, f.channels, {});
    ASSERT_EQ(filter({"-autoofs", "-headcut", "1", "-normal", "0.9"}, dir.file("empty.wav"), dir.file("e.wav")).exitCode, 0);
    kvtest::WaveData w;
    ASSERT_TRUE(kvtest::readWave(dir.file("e.wav"), &w));
    EXPECT_EQ(w.frames(), 0);
    EXPECT_EQ(w.rate, f.rate);
  }
}

TEST(Waveflt, BadInputGivesOneLineAndNoOutput) {
  kvtest::TempDir dir;
  kvtest::writeText(dir.file("text.wav"), "RIFX but really just some text\n");
  std::vector<int> samples = music({44100, 16, 2}, 0.2, 0.5);
  kvtest::writeProgramWave(dir.file("good.wav"), 44100, 16, 2, samples);
  kvtest::writeText(dir.file("cut.wav"), kvtest::readBytes(dir.file("good.wav")).substr(0, 30));
  kvtest::writeText(dir.file("keep.wav"), "an older result");
  struct Case { std::vector<std::string> opts; std::string in, out; };
  for (const Case& c : {Case{{"-normal", "0.9"}, dir.file("missing.wav"), dir.file("out.wav")},
                        Case{{"-normal", "0.9"}, dir.file("text.wav"), dir.file("out.wav")},
                        Case{{"-normal", "0.9"}, dir.file("cut.wav"), dir.file("out.wav")},
                        Case{{"-normal", "0.9"}, dir.file("missing.wav"), dir.file("keep.wav")},
                        Case{{"-normal", "loud"}, dir.file("good.wav"), dir.file("out.wav")},
                        Case{{"-normal", "0.9"}, dir.file("good.wav"), dir.file("no such folder/out.wav")},
                        Case{{"-normal", "0.9"}, dir.file("good.wav"), dir.path() /* a folder */}}) {
    SCOPED_TRACE(c.in + " -> " + c.out);
    auto r = filter(c.opts, c.in, c.out);
    EXPECT_NE(r.exitCode, 0);
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.err.rfind("waveflt: ", 0), 0u) << r.err;
  }
  EXPECT_FALSE(kvtest::exists(dir.file("out.wav")));
  EXPECT_EQ(kvtest::readBytes(dir.file("keep.wav")), "an older result");
  EXPECT_EQ(dir.list().size(), 4u);  // text, good, cut, keep: no temporaries
}

}  // namespace
