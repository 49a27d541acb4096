// Shared by the WMA tests: recorded-like WAVE files and the checks every produced WMA must pass.
#pragma once
#include <gtest/gtest.h>

#include "WaveFiles.h"

namespace wmatest {
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

struct Format {
  int rate, channels, bits;
};

// A WAVE as the recorder leaves it, of the test signal; gives its frames and each channel's RMS
// level (full scale 1; a mono file's level in both).
inline int64_t WriteRecording(const fs::path& path, Format f, double seconds, double* rms = nullptr) {
  const std::vector<int> s = kvtest::musicSamples(f.rate, f.bits, f.channels, seconds);
  kvtest::writeProgramWave(path, f.rate, f.bits, f.channels, s);
  const int64_t frames = int64_t(s.size()) / f.channels;
  double sum[2] = {0, 0};
  for (size_t i = 0; i < s.size(); ++i) sum[i % f.channels] += std::pow(s[i] / (f.bits == 8 ? 128.0 : 32768.0), 2);
  for (int c = 0; rms && c < 2; ++c) rms[c] = std::sqrt(sum[c % f.channels] / double(frames));
  return frames;
}

// Every produced file must be WMA v2, 64 kbit/s, 44100 Hz stereo with the title, as long as
// the WAVE and, when rms is given, within 1 dB of the WAVE's level in each channel.
inline void ExpectWma(const fs::path& wma, const std::string& title, double seconds, const double* rms = nullptr) {
  EXPECT_EQ(kvtest::encodedProblem(wma, "wmav2 64000 44100 2", seconds, 0.06), "");
  EXPECT_EQ(kvtest::probe(wma)["title"], title);
  if (!rms) return;
  FILE* f = popen(("ffmpeg -v error -i " + kvtest::quoted(wma) + " -f s16le -ac 2 -").c_str(), "r");
  double sum[2] = {0, 0};
  int64_t n = 0;
  int16_t s[2];
  while (f && std::fread(s, sizeof s, 1, f) == 1 && ++n)
    for (int c = 0; c < 2; ++c) sum[c] += (s[c] / 32768.0) * (s[c] / 32768.0);
  if (f) pclose(f);
  ASSERT_GT(n, 0) << wma;
  for (int c = 0; c < 2; ++c) EXPECT_NEAR(20 * std::log10(std::sqrt(sum[c] / n) / rms[c]), 0.0, 1.0) << wma << " channel " << c;
}

class ScratchDir : public ::testing::Test {
 protected:
  kvtest::TempDir tmp;
  fs::path dir = tmp.path();
};

}  // namespace wmatest
