#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sndfile.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvtest {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/kv mp3 test XXXXXX";
  if (mkdtemp(tmpl.data())) path_ = tmpl;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  for (const auto& n : list()) unlink(file(n).c_str());
  rmdir(path_.c_str());
}

std::vector<std::string> TempDir::list() const {
  std::vector<std::string> names;
  if (DIR* d = opendir(path_.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
    closedir(d);
  }
  return names;
}

namespace {

std::vector<double> musicSignal(int rate, int channels, double seconds, double amplitude) {
  const int64_t n = static_cast<int64_t>(std::llround(seconds * rate));
  std::vector<double> out(static_cast<size_t>(n * channels));
  static const int melody[] = {60, 64, 67, 72, 71, 67, 64, 62, 65, 69, 72, 74};
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> noise(-1.0, 1.0);
  const double noteLen = 0.25;
  for (int64_t i = 0; i < n; ++i) {
    double t = static_cast<double>(i) / rate;
    int k = static_cast<int>(t / noteLen);
    double inNote = t - k * noteLen;
    double f = 440.0 * std::pow(2.0, (melody[k % 12] - 69) / 12.0);
    double env = std::exp(-inNote * 6.0);
    double lead = 0;
    for (int h = 1; h <= 5; ++h) lead += std::sin(2 * M_PI * f * h * t) / h;
    double chord = 0.3 * (std::sin(2 * M_PI * 130.81 * t) + std::sin(2 * M_PI * 164.81 * t) + std::sin(2 * M_PI * 196.0 * t));
    double burst = (k % 4 == 3 && inNote < 0.05) ? 0.6 * noise(rng) : 0.0;  // a snare-like hit every bar
    double mix = (0.45 * lead * env + 0.25 * chord + burst) / 1.6;
    for (int c = 0; c < channels; ++c) {
      double pan = channels == 2 ? (c == 0 ? 0.8 + 0.2 * std::sin(t) : 0.8 - 0.2 * std::sin(t)) : 1.0;
      out[static_cast<size_t>(i * channels + c)] = std::clamp(mix * pan, -1.0, 1.0) * amplitude;
    }
  }
  return out;
}

void put16(std::string& s, int v) { s += char(v & 0xFF); s += char((v >> 8) & 0xFF); }
void put32(std::string& s, uint32_t v) { put16(s, v & 0xFFFF); put16(s, v >> 16); }

}  // namespace

void writeMusicWave(const std::string& path, int rate, int bits, int channels, double seconds, double amplitude) {
  SF_INFO si{};
  si.samplerate = rate;
  si.channels = channels;
  si.format = SF_FORMAT_WAV | (bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
  SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &si);
  if (!sf) return;
  auto sig = musicSignal(rate, channels, seconds, amplitude);
  sf_writef_double(sf, sig.data(), static_cast<sf_count_t>(sig.size() / channels));
  sf_close(sf);
}

void writeProgramWave(const std::string& path, int rate, int bits, int channels, const std::vector<int>& samples) {
  const uint32_t bytes = static_cast<uint32_t>(samples.size() * (bits / 8));
  const int align = channels * bits / 8;
  std::string h;
  h += "RIFF";
  put32(h, 50 + bytes);
  h += "WAVEfmt ";
  put32(h, 18);
  put16(h, 1);
  put16(h, channels);
  put32(h, static_cast<uint32_t>(rate));
  put32(h, static_cast<uint32_t>(rate * align));
  put16(h, align);
  put16(h, bits);
  put16(h, 0);
  h += "fact";
  put32(h, 4);
  put32(h, static_cast<uint32_t>(samples.size() / channels));
  h += "data";
  put32(h, bytes);
  for (int s : samples) {
    if (bits == 8) h += char((s + 128) & 0xFF);
    else put16(h, s);
  }
  std::ofstream(path, std::ios::binary) << h;
}

bool readWave(const std::string& path, WaveData* out) {
  SF_INFO si{};
  SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &si);
  if (!sf) return false;
  WaveData w;
  w.rate = si.samplerate;
  w.channels = si.channels;
  int sub = si.format & SF_FORMAT_SUBMASK;
  w.bits = (sub == SF_FORMAT_PCM_U8 || sub == SF_FORMAT_PCM_S8) ? 8 : sub == SF_FORMAT_PCM_16 ? 16 : 0;
  w.wav = (si.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV;
  std::vector<int> buf(static_cast<size_t>(si.frames * si.channels));
  sf_count_t got = sf_readf_int(sf, buf.data(), si.frames);
  sf_close(sf);
  buf.resize(static_cast<size_t>(got * si.channels));
  const int shift = 32 - (w.bits ? w.bits : 32);
  for (int& v : buf) v >>= shift;
  w.samples = std::move(buf);
  *out = std::move(w);
  return true;
}

RunResult run(const std::vector<std::string>& argv) {
  RunResult r;
  int pipefd[2];
  if (pipe(pipefd) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipefd[1], 2);
    close(pipefd[0]);
    close(pipefd[1]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(pipefd[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0) r.err.append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

std::map<std::string, std::string> probe(const std::string& path) {
  std::map<std::string, std::string> m;
  std::string cmd = "ffprobe -v error -show_entries stream=codec_name,bit_rate,sample_rate,channels:format=duration "
                    "-of default=nw=1 '" + path + "' 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return m;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    auto eq = s.find('=');
    if (eq != std::string::npos && !m.count(s.substr(0, eq))) m[s.substr(0, eq)] = s.substr(eq + 1);
  }
  pclose(p);
  return m;
}

int64_t decodedFrames(const std::string& mp3) {
  std::string wav = mp3 + ".decoded.wav";
  std::string cmd = "ffmpeg -v error -y -i '" + mp3 + "' '" + wav + "' 2>/dev/null";
  int64_t frames = -1;
  if (std::system(cmd.c_str()) == 0) {
    SF_INFO si{};
    if (SNDFILE* sf = sf_open(wav.c_str(), SFM_READ, &si)) {
      frames = si.frames;
      sf_close(sf);
    }
  }
  unlink(wav.c_str());
  return frames;
}

double mp3DurationTolerance(int rate) {
  const int spf = rate >= 32000 ? 1152 : 576;
  return std::max(0.06, (576.0 + 288.0 + spf) / rate);
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string readBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace kvtest
