// Shared by the WMA tests: recorded-like WAVE files, a scratch folder, ffprobe and process runs.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace wmatest {
namespace fs = std::filesystem;

struct Format {
  int rate, channels, bits;
};

inline void Put16(std::string& s, uint16_t v) { s.append({char(v & 0xFF), char(v >> 8)}); }
inline void Put32(std::string& s, uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }

// A WAVE file as the recorder leaves it: 18-byte fmt chunk, fact chunk, then the data. The
// signal is a short tune (plucked-like notes with harmonics, panned apart in stereo).
// rms (optional) receives the signal's RMS level per channel (full scale = 1).
inline int64_t WriteRecording(const fs::path& path, Format f, double seconds, double* rms = nullptr) {
  const int64_t frames = int64_t(seconds * f.rate);
  const int bytes = f.bits / 8;
  std::string data;
  data.reserve(size_t(frames) * f.channels * bytes);
  const double notes[] = {261.63, 329.63, 392.00, 523.25, 440.00, 349.23};
  double sum[2] = {0, 0};
  for (int64_t i = 0; i < frames; ++i) {
    double t = double(i) / f.rate;
    int n = int(t / 0.25);
    double local = t - n * 0.25, hz = notes[n % 6];
    double env = std::exp(-local * 9.0);
    double v = env * (0.5 * std::sin(2 * M_PI * hz * t) + 0.2 * std::sin(4 * M_PI * hz * t) +
                      0.1 * std::sin(6 * M_PI * hz * t)) + 0.15 * std::sin(2 * M_PI * 110.0 * t);
    for (int c = 0; c < f.channels; ++c) {
      double s = v * (c == 0 ? 0.9 : 0.6);
      sum[c] += s * s;
      if (f.bits == 8)
        data.push_back(char(uint8_t(std::lround(128 + s * 120))));
      else
        Put16(data, uint16_t(int16_t(std::lround(s * 30000))));
    }
  }
  std::string h = "RIFF";
  Put32(h, uint32_t(4 + 26 + 12 + 8 + data.size()));
  h += "WAVEfmt ";
  Put32(h, 18);
  Put16(h, 1);
  Put16(h, uint16_t(f.channels));
  Put32(h, uint32_t(f.rate));
  Put32(h, uint32_t(f.rate * f.channels * bytes));
  Put16(h, uint16_t(f.channels * bytes));
  Put16(h, uint16_t(f.bits));
  Put16(h, 0);
  h += "fact";
  Put32(h, 4);
  Put32(h, uint32_t(frames));
  h += "data";
  Put32(h, uint32_t(data.size()));
  std::ofstream(path, std::ios::binary) << h << data;
  if (rms)
    for (int c = 0; c < 2; ++c) rms[c] = std::sqrt(sum[f.channels == 1 ? 0 : c] / double(frames));
  return frames;
}

inline void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ffprobe's view of a file: stream/format fields and "title".
inline std::map<std::string, std::string> Probe(const fs::path& path) {
  std::string cmd = "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate"
                    ":format=duration:format_tags=title -of default=noprint_wrappers=1 '" + path.string() + "'";
  std::map<std::string, std::string> out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char line[1024];
  while (std::fgets(line, sizeof line, p)) {
    std::string l(line);
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    auto eq = l.find('=');
    if (eq == std::string::npos) continue;
    std::string key = l.substr(0, eq);
    if (key == "TAG:title") key = "title";
    out[key] = l.substr(eq + 1);
  }
  pclose(p);
  return out;
}

// The checks every produced file must pass.
inline void ExpectWma(const fs::path& path, const std::string& title, double seconds) {
  ASSERT_TRUE(fs::exists(path)) << path;
  auto p = Probe(path);
  EXPECT_EQ(p["codec_name"], "wmav2");
  EXPECT_EQ(p["sample_rate"], "44100");
  EXPECT_EQ(p["channels"], "2");
  EXPECT_EQ(p["bit_rate"], "64000");
  EXPECT_EQ(p["title"], title);
  ASSERT_FALSE(p["duration"].empty());
  EXPECT_NEAR(std::stod(p["duration"]), seconds, 0.060);
}

// RMS level per channel of a decoded file (full scale = 1).
inline std::vector<double> DecodedRms(const fs::path& path) {
  std::string cmd = "ffmpeg -v error -i '" + path.string() + "' -f s16le -acodec pcm_s16le -ac 2 -";
  FILE* p = popen(cmd.c_str(), "r");
  double sum[2] = {0, 0};
  int64_t n = 0;
  int16_t buf[2048];
  size_t got;
  while (p && (got = std::fread(buf, sizeof(int16_t), 2048, p)) > 0)
    for (size_t i = 0; i + 1 < got; i += 2, ++n)
      for (int c = 0; c < 2; ++c) sum[c] += (buf[i + c] / 32768.0) * (buf[i + c] / 32768.0);
  if (p) pclose(p);
  if (n == 0) return {};
  return {std::sqrt(sum[0] / n), std::sqrt(sum[1] / n)};
}

// The decoded music keeps its level per channel (mono lands in both channels, at full level).
inline void ExpectLevels(const fs::path& wma, const double rms[2]) {
  auto got = DecodedRms(wma);
  ASSERT_EQ(got.size(), 2u);
  for (int c = 0; c < 2; ++c) EXPECT_NEAR(20 * std::log10(got[c] / rms[c]), 0.0, 1.5) << "channel " << c;
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
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
};

struct RunResult {
  int exitCode = -1;
  std::string err;
};

// Runs a program with the given arguments (no shell), capturing stderr.
inline RunResult Run(const std::string& exe, const std::vector<std::string>& args, const fs::path& errFile) {
  std::vector<char*> argv{const_cast<char*>(exe.c_str())};
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  RunResult r;
  if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }
  posix_spawn_file_actions_destroy(&fa);
  r.err = ReadAll(errFile);
  return r;
}

}  // namespace wmatest
