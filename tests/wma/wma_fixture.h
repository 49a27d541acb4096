// Shared by the WMA tests: recorded-like WAVE files, a scratch folder, ffprobe checks, processes.
#pragma once
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace wmatest {
namespace fs = std::filesystem;

struct Format {
  int rate, channels, bits;
};

inline void Put(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(char(v >> (8 * i)));  // little-endian
}

// A WAVE as the recorder leaves it (18-byte fmt chunk, fact chunk): a short plucked tune over
// a bass tone, the left channel louder. rms receives each output channel's level (full scale 1).
inline int64_t WriteRecording(const fs::path& path, Format f, double seconds, double* rms = nullptr) {
  const int64_t frames = int64_t(seconds * f.rate);
  const int bytes = f.bits / 8;
  std::string d;
  double sum = 0;
  for (int64_t i = 0; i < frames; ++i) {
    double t = double(i) / f.rate, hz = 220.0 * std::pow(2.0, (int(t / 0.25) * 5 % 12) / 12.0);
    double v = std::exp(-std::fmod(t, 0.25) * 9) * (0.5 * std::sin(2 * M_PI * hz * t) + 0.2 * std::sin(4 * M_PI * hz * t)) +
               0.15 * std::sin(2 * M_PI * 110 * t);
    sum += v * v;
    for (int c = 0; c < f.channels; ++c) {
      double s = v * (c ? 0.6 : 0.9);
      if (f.bits == 8) Put(d, uint32_t(std::lround(128 + s * 120)), 1);
      else Put(d, uint16_t(int16_t(std::lround(s * 30000))), 2);
    }
  }
  std::string h = "RIFF";
  Put(h, uint32_t(4 + 26 + 12 + 8 + d.size()), 4);
  h += "WAVEfmt ";
  for (uint32_t v : {18u, 1u | uint32_t(f.channels) << 16, uint32_t(f.rate), uint32_t(f.rate * f.channels * bytes),
                     uint32_t(f.channels * bytes) | uint32_t(f.bits) << 16})
    Put(h, v, 4);
  Put(h, 0, 2);  // cbSize
  h += "fact";
  Put(h, 4, 4);
  Put(h, uint32_t(frames), 4);
  h += "data";
  Put(h, uint32_t(d.size()), 4);
  std::ofstream(path, std::ios::binary) << h << d;
  if (rms)
    for (int c = 0; c < 2; ++c)
      rms[c] = std::sqrt(sum / double(frames)) * (f.channels == 2 && c ? 0.6 : 0.9) * (f.bits == 8 ? 120 / 128.0 : 30000 / 32768.0);
  return frames;
}

inline void WriteText(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
inline std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// What ffprobe reports, and the level per channel of the decoded audio: every produced file
// must be WMA v2, 64 kbit/s, 44100 Hz stereo with the title, as long as the WAVE (±60 ms)
// and, when rms is given, at the WAVE's level in each channel (mono lands in both, unattenuated).
inline void ExpectWma(const fs::path& wma, const std::string& title, double seconds, const double* rms = nullptr) {
  ASSERT_TRUE(fs::exists(wma)) << wma;
  std::map<std::string, std::string> p;
  FILE* f = popen(("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate:format=duration"
                   ":format_tags=title -of default=noprint_wrappers=1 " + Quoted(wma.string())).c_str(), "r");
  char line[1024];
  while (f && std::fgets(line, sizeof line, f)) {
    std::string l(line, std::strcspn(line, "\r\n"));
    if (auto eq = l.find('='); eq != std::string::npos) p[l.substr(0, eq)] = l.substr(eq + 1);
  }
  if (f) pclose(f);
  EXPECT_EQ(p["codec_name"], "wmav2");
  EXPECT_EQ(p["sample_rate"], "44100");
  EXPECT_EQ(p["channels"], "2");
  EXPECT_EQ(p["bit_rate"], "64000");
  EXPECT_EQ(p["TAG:title"], title);
  EXPECT_NEAR(std::atof(p["duration"].c_str()), seconds, 0.060);
  if (!rms) return;
  f = popen(("ffmpeg -v error -i " + Quoted(wma.string()) + " -f s16le -ac 2 -").c_str(), "r");
  double sum[2] = {0, 0};
  int64_t n = 0;
  int16_t s[2];
  while (f && std::fread(s, sizeof s, 1, f) == 1 && ++n)
    for (int c = 0; c < 2; ++c) sum[c] += (s[c] / 32768.0) * (s[c] / 32768.0);
  if (f) pclose(f);
  ASSERT_GT(n, 0);
  for (int c = 0; c < 2; ++c) EXPECT_NEAR(20 * std::log10(std::sqrt(sum[c] / n) / rms[c]), 0.0, 1.0) << "channel " << c;
}

inline std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> s;
  for (auto& e : fs::directory_iterator(dir)) s.insert(e.path().filename().string());
  return s;
}

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kv-wma-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

}  // namespace wmatest
