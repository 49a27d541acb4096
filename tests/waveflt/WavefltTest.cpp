// waveflt.exe run as the program runs it, on recordings in the program's own WAVE layout.
#include <gtest/gtest.h>

#include "Process.h"
#include "WaveFiles.h"

namespace {

using Opts = std::vector<std::string>;

kvtest::RunResult filter(Opts argv, const std::string& in, const std::string& out) {
  argv.insert(argv.begin(), KV_BIN_DIR "/tools/waveflt.exe");
  argv.insert(argv.end(), {in, out});
  return kvtest::run(argv);
}

int peakOf(const std::vector<int>& s) {
  int p = 0;
  for (int v : s) p = std::max(p, std::abs(v));
  return p;
}

// Each row: a recording of `lead` seconds of near-silence (a DC offset per channel plus hiss)
// and then music peaking at `level` of full scale on the same offset, filtered with `opts`.
TEST(Waveflt, NormalisesCentresAndCutsKeepingTheFormat) {
  const Opts normal{"-normal", "0.9"}, all{"-autoofs", "-headcut", "1", "-normal", "0.9"};
  const struct {
    const char* name;
    int rate, bits, channels;
    double lead, seconds, level;
    int offset[2], hiss;
    Opts opts;
  } rows[] = {
      {"normalise 44100 16-bit stereo", 44100, 16, 2, 0, 0.6, 0.3, {0, 0}, 0, normal},
      {"offset kept without -autoofs", 44100, 16, 2, 0, 0.5, 0.25, {2000, -1500}, 0, normal},
      {"offset removed per channel", 44100, 16, 2, 0, 0.5, 0.25, {2000, -1500}, 0, {"-autoofs", "-normal", "0.9"}},
      {"lead kept without -headcut", 44100, 16, 2, 0.7, 0.5, 0.5, {300, 300}, 6, normal},
      {"hiss below -60 dB on an offset cut", 44100, 16, 2, 0.7, 0.5, 0.5, {300, 300}, 6, all},
      {"digital silence cut in 8-bit", 22050, 8, 1, 0.7, 0.5, 0.5, {0, 0}, 0, all},
      {"negative offset cut in mono", 48000, 16, 1, 0.7, 0.5, 0.5, {-120, -120}, 3, all},
      {"silence normalised stays silence", 44100, 16, 2, 0.5, 0, 0, {0, 0}, 0, normal},
      {"the bare header of an empty recording", 44100, 16, 2, 0, 0, 0, {0, 0}, 0, all},
  };
  for (const auto& c : rows) {
    kvtest::TempDir dir;
    const double full = c.bits == 8 ? 128.0 : 32768.0;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> hiss(-c.hiss, c.hiss);
    std::vector<int> samples, music = kvtest::musicSamples(c.rate, 16, c.channels, c.seconds, 1.0);
    const int leadFrames = int(c.lead * c.rate);
    for (int i = 0; i < leadFrames * c.channels; ++i) samples.push_back(c.offset[i % c.channels] + hiss(rng));
    const double scale = c.level * full / std::max(1, peakOf(music));
    for (size_t i = 0; i < music.size(); ++i) samples.push_back(int(std::lround(music[i] * scale)) + c.offset[i % c.channels]);
    kvtest::writeProgramWave(dir.file("in.wav"), c.rate, c.bits, c.channels, samples);
    const auto r = filter(c.opts, dir.file("in.wav"), dir.file("My Song.wav"));
    ASSERT_EQ(r.exitCode, 0) << c.name << ": " << r.err;
    EXPECT_EQ(r.err, "") << c.name;
    const kvtest::WaveData w = kvtest::readWave(dir.file("My Song.wav"));
    ASSERT_TRUE(w.ok) << c.name;
    EXPECT_EQ(std::vector<int>({w.rate, w.bits, w.channels}), std::vector<int>({c.rate, c.bits, c.channels})) << c.name;
    EXPECT_EQ(dir.list().size(), 2u) << c.name << ": no temporary left beside the output";
    const bool cut = c.opts == all && c.level > 0, centred = c.opts.front() == "-autoofs";
    const int64_t lead = w.frames() - int64_t(music.size()) / c.channels;  // what is left of the lead
    if (cut) EXPECT_TRUE(lead >= 0 && lead <= c.rate * 5 / 1000) << c.name << ": " << lead << " frames before the song";
    else EXPECT_EQ(w.samples.size(), samples.size()) << c.name;
    EXPECT_LE(std::abs(peakOf(w.samples) - (c.level > 0 ? 0.9 * full : 0)), 1.0) << c.name;
    for (int ch = 0; ch < c.channels && c.offset[ch] && w.frames(); ++ch) {
      double mean = 0;
      for (int64_t i = 0; i < w.frames(); ++i) mean += w.samples[size_t(i * c.channels + ch)] / double(w.frames());
      if (centred && !cut) EXPECT_NEAR(mean, 0.0, 1.0) << c.name << ": channel " << ch;
      else if (!cut) EXPECT_GT(mean * c.offset[ch], 0.3 * c.offset[ch] * c.offset[ch]) << c.name << ": channel " << ch;
    }
    // Without offset or lead, one factor scales the whole signal: not clipped, not compressed.
    const double gain = c.level > 0 ? 0.9 * full / peakOf(samples) : 0;
    for (size_t i = 0; !cut && !c.offset[0] && !c.lead && i < samples.size(); ++i)
      ASSERT_LE(std::lround(std::abs(w.samples[i] - samples[i] * gain)), 1) << c.name << ": sample " << i;
  }
}

// Each row: a song at `level` of full scale (with sparse clicks at `click`, which only a limiter
// keeps under the ceiling) brought to `target` LUFS, as FFmpeg's EBU R128 meter reads it.
TEST(Waveflt, LoudnessReachesTheTargetWithTheTruePeakUnderMinusOneDb) {
  const struct {
    const char* name;
    int rate, channels;
    double level, click;
    int target;
  } rows[] = {{"loud to -16", 44100, 2, 0.99, 0, -16}, {"quiet with clicks to -23", 48000, 1, 0.02, 0.7, -23},
              {"silence stays silence", 44100, 2, 0, 0, -16}};
  for (const auto& c : rows) {
    kvtest::TempDir dir;
    std::vector<int> samples = kvtest::musicSamples(c.rate, 16, c.channels, 3.0, 1.0);
    const double scale = c.level * 32768.0 / std::max(1, peakOf(samples));
    for (int& v : samples) v = int(std::lround(v * scale));
    for (size_t i = 0; c.click > 0 && i < samples.size(); i += size_t(c.rate / 2 * c.channels)) samples[i] = int(c.click * 32768);
    kvtest::writeProgramWave(dir.file("in.wav"), c.rate, 16, c.channels, samples);
    const auto r = filter({"-loudness", std::to_string(c.target)}, dir.file("in.wav"), dir.file("out.wav"));
    ASSERT_EQ(r.exitCode, 0) << c.name << ": " << r.err;
    const kvtest::WaveData w = kvtest::readWave(dir.file("out.wav"));
    EXPECT_EQ(std::vector<int>({w.rate, w.bits, w.channels}), std::vector<int>({c.rate, 16, c.channels})) << c.name;
    EXPECT_EQ(w.samples.size(), samples.size()) << c.name;
    EXPECT_EQ(dir.list().size(), 2u) << c.name << ": no temporary left beside the output";
    if (c.level == 0) {  // nothing to measure: said, and left at its level
      EXPECT_NE(r.err.find("no measurable loudness"), std::string::npos) << c.name << ": " << r.err;
      EXPECT_EQ(peakOf(w.samples), 0) << c.name;
      continue;
    }
    EXPECT_EQ(r.err, "") << c.name;
    const kvtest::Loudness got = kvtest::ebur128(dir.file("out.wav"));
    EXPECT_NEAR(got.lufs, c.target, 0.5) << c.name;
    EXPECT_LE(got.truePeak, -1.0) << c.name;
  }
}

TEST(Waveflt, BadInputGivesOneLineAndNoOutput) {
  kvtest::TempDir dir;
  kvtest::writeText(dir.file("text.wav"), "RIFX but really just some text\n");
  kvtest::writeProgramWave(dir.file("good.wav"), 44100, 16, 2, kvtest::musicSamples(44100, 16, 2, 0.2));
  kvtest::writeText(dir.file("cut.wav"), kvtest::readBytes(dir.file("good.wav")).substr(0, 30));
  kvtest::writeText(dir.file("keep.wav"), "an older result");
  const Opts normal{"-normal", "0.9"};
  const std::string out = dir.file("out.wav");
  for (auto [opts, in, to] : {std::tuple{normal, "missing.wav", out}, {normal, "text.wav", out}, {normal, "cut.wav", out},
                              {normal, "missing.wav", dir.file("keep.wav")}, {Opts{"-normal", "loud"}, "good.wav", out},
                              {normal, "good.wav", dir.file("no such folder/out.wav")}, {normal, "good.wav", dir.path()},
                              {Opts{"-loudness", "loud"}, "good.wav", out}, {Opts{"-loudness", "5"}, "good.wav", out},
                              {Opts{"-loudness", "-71"}, "good.wav", out}, {Opts{"-normal", "0.9", "-loudness", "-16"}, "good.wav", out}}) {
    const std::string row = opts.back() + " " + in + " -> " + to;
    auto r = filter(opts, dir.file(in), to);
    EXPECT_NE(r.exitCode, 0) << row;
    EXPECT_TRUE(!r.err.empty() && r.err.find('\n') == r.err.size() - 1) << row << ": not one line: " << r.err;
    EXPECT_EQ(r.err.rfind("waveflt: ", 0), 0u) << row << ": " << r.err;
  }
  EXPECT_EQ(kvtest::readBytes(dir.file("keep.wav")), "an older result");
  EXPECT_EQ(dir.list(), (Opts{"cut.wav", "good.wav", "keep.wav", "text.wav"}));  // no output, no temporaries
}

}  // namespace
