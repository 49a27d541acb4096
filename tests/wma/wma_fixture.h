// Shared by the WMA tests: recorded-like WAVE files and the checks every produced WMA must pass.
#pragma once
#include <gtest/gtest.h>

#include "Process.h"
#include "WaveFiles.h"

namespace wmatest {
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

struct Format {
  int rate, channels, bits;
};

// A WAVE as the recorder leaves it: a short plucked tune over a bass tone, the left channel
// louder. rms receives each output channel's level (full scale 1).
inline int64_t WriteRecording(const fs::path& path, Format f, double seconds, double* rms = nullptr) {
  const int64_t frames = int64_t(seconds * f.rate);
  const double full = f.bits == 8 ? 120 : 30000;
  std::vector<int> d;
  double sum = 0;
  for (int64_t i = 0; i < frames; ++i) {
    double t = double(i) / f.rate, hz = 220.0 * std::pow(2.0, (int(t / 0.25) * 5 % 12) / 12.0);
    double v = std::exp(-std::fmod(t, 0.25) * 9) * (0.5 * std::sin(2 * M_PI * hz * t) + 0.2 * std::sin(4 * M_PI * hz * t)) +
               0.15 * std::sin(2 * M_PI * 110 * t);
    sum += v * v;
    for (int c = 0; c < f.channels; ++c) d.push_back(int(std::lround(v * (c ? 0.6 : 0.9) * full)));
  }
  kvtest::writeProgramWave(path, f.rate, f.bits, f.channels, d);
  for (int c = 0; rms && c < 2; ++c)
    rms[c] = std::sqrt(sum / double(frames)) * (f.channels == 2 && c ? 0.6 : 0.9) * full / (f.bits == 8 ? 128.0 : 32768.0);
  return frames;
}

// Every produced file must be WMA v2, 64 kbit/s, 44100 Hz stereo with the title, as long as
// the WAVE (±60 ms) and, when rms is given, at the WAVE's level in each channel (mono lands
// in both, unattenuated).
inline void ExpectWma(const fs::path& wma, const std::string& title, double seconds, const double* rms = nullptr) {
  ASSERT_TRUE(fs::exists(wma)) << wma;
  auto p = kvtest::probe(wma);
  EXPECT_EQ(p["codec_name"] + " " + p["sample_rate"] + " " + p["channels"] + " " + p["bit_rate"], "wmav2 44100 2 64000");
  EXPECT_EQ(p["title"], title);
  EXPECT_NEAR(std::atof(p["duration"].c_str()), seconds, 0.060);
  if (!rms) return;
  FILE* f = popen(("ffmpeg -v error -i " + kvtest::quoted(wma) + " -f s16le -ac 2 -").c_str(), "r");
  double sum[2] = {0, 0};
  int64_t n = 0;
  int16_t s[2];
  while (f && std::fread(s, sizeof s, 1, f) == 1 && ++n)
    for (int c = 0; c < 2; ++c) sum[c] += (s[c] / 32768.0) * (s[c] / 32768.0);
  if (f) pclose(f);
  ASSERT_GT(n, 0);
  for (int c = 0; c < 2; ++c) EXPECT_NEAR(20 * std::log10(std::sqrt(sum[c] / n) / rms[c]), 0.0, 1.0) << "channel " << c;
}

class ScratchDir : public ::testing::Test {
 protected:
  kvtest::TempDir tmp;
  fs::path dir = tmp.path();
};

}  // namespace wmatest
