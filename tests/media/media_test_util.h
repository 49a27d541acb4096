// Helpers of the media layer tests: a private system setup, the recording templates, command
// tables, the conversion's record cycle, and FluidSynth's own rendering as the reference.
#pragma once
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "MidiFiles.h"
#include "WaveFiles.h"
#include "winmm.h"

namespace kvtest {

namespace fs = std::filesystem;

inline const std::string kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
inline std::string CorpusFile(const std::string& name) {
  return std::string(KV_SOURCE_DIR) + "/tests/data/midi/jazz-soft-test-midi-files/" + name;
}

// Points the media layer at a system setup of its own.
inline void UseSystemSetup(const std::string& dir, bool fast, const std::string& soundFont = kSoundFont,
                           const std::string& source = "synth", int threads = 0) {
  const std::string path = dir + "/system.ini";
  writeText(path, "[Setup]\nSoundFont=" + soundFont + "\nSource=" + source + "\nFast=" + (fast ? "1" : "0") +
                      "\nVolume=100\nThreads=" + std::to_string(threads) + "\n");
  setenv("KORVESSA_SYSTEM_INI", path.c_str(), 1);
}

// Recording template 101..124: rate index (n-101)/4; 8-bit for variants 0 and 1, stereo for 1 and 3.
struct Format {
  int rate, bits, channels;
};
inline Format TemplateFormat(int number) {
  static const int rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
  const int n = number - 101, v = n % 4;
  return {rates[n / 4], v < 2 ? 8 : 16, v % 2 ? 2 : 1};
}
// The 60-byte header-only file the program writes before each recording.
inline std::string TemplateBytes(int number) {
  const Format f = TemplateFormat(number);
  return waveHeader(f.rate, f.bits, f.channels, 0, true) + std::string(2, '\0');
}

inline std::string Mci(const std::string& cmd, MCIERROR* err = nullptr) {
  char buf[256] = {};
  const MCIERROR e = mciSendStringA(cmd.c_str(), buf, 255, nullptr);
  if (err) *err = e;
  return buf;
}
// A table of commands, each with the error code it must give and, when named, its reply.
struct Cmd {
  std::string cmd;
  MCIERROR error = 0;
  const char* reply = nullptr;
};
inline void ExpectMci(std::initializer_list<Cmd> rows) {
  for (const Cmd& c : rows) {
    MCIERROR e = 0;
    const std::string reply = Mci(c.cmd, &e);
    EXPECT_EQ(e, c.error) << c.cmd;
    if (c.reply) EXPECT_EQ(reply, c.reply) << c.cmd;
  }
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
inline double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Sends stderr to a file until Restore(), which gives the bytes written meanwhile.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) : path_(path), saved_(dup(2)), file_(std::fopen(path.c_str(), "w")) {
    fflush(stderr);
    dup2(fileno(file_), 2);
  }
  ~StderrCapture() { Restore(); }
  uintmax_t Restore() {
    if (file_) fflush(stderr), dup2(saved_, 2), close(saved_), std::fclose(file_), file_ = nullptr;
    return fs::file_size(path_);
  }

 private:
  std::string path_;
  int saved_;
  FILE* file_;
};

struct CycleResult {
  int64_t lengthMs = 0;  // "status PlayMedia length"
  double seconds = 0;    // wall-clock time of the whole cycle
  MCIERROR saveError = 0;
};

// The command sequence of a conversion: recorder, delay, sequencer, poll, delay, save.
// stopAfterMs > 0 stops the song there, as the Stop command does.
inline CycleResult RecordCycle(const std::string& midi, const std::string& wav, int delayMs,
                               double timeoutSeconds = 120, int64_t stopAfterMs = 0) {
  CycleResult r;
  const auto t0 = std::chrono::steady_clock::now();
  Mci("open \"" + wav + "\" alias RecMedia");
  Mci("record RecMedia overwrite");
  SleepMs(delayMs);
  Mci("open \"" + midi + "\" alias PlayMedia");
  for (const char* c : {"set PlayMedia port -1", "set PlayMedia time format milliseconds"}) Mci(c);
  r.lengthMs = std::atoll(Mci("status PlayMedia length").c_str());
  Mci("play PlayMedia");
  while (Mci("status PlayMedia mode").compare(0, 7, "playing") == 0) {
    const int64_t position = std::atoll(Mci("status PlayMedia position").c_str());
    Mci("status PlayMedia length");  // the conversion asks for both while it waits
    if ((stopAfterMs > 0 && position >= stopAfterMs) || SecondsSince(t0) > timeoutSeconds) break;
    SleepMs(10);
  }
  for (const char* c : {"stop PlayMedia", "close PlayMedia"}) Mci(c);
  SleepMs(delayMs);
  for (const char* c : {"stop RecMedia", "seek RecMedia to start"}) Mci(c);
  Mci("save RecMedia", &r.saveError);
  Mci("close RecMedia");
  r.seconds = SecondsSince(t0);
  return r;
}

// FluidSynth's own rendering of a MIDI file (its player, timed by the rendered samples).
inline std::vector<float> ReferenceRender(const std::string& midi, int rate, double tailSeconds) {
  for (int level : {FLUID_WARN, FLUID_INFO, FLUID_DBG}) fluid_set_log_function(level, nullptr, nullptr);
  fluid_settings_t* st = new_fluid_settings();
  fluid_settings_setnum(st, "synth.sample-rate", rate);
  fluid_settings_setstr(st, "player.timing-source", "sample");
  fluid_synth_t* synth = new_fluid_synth(st);
  fluid_synth_sfload(synth, kSoundFont.c_str(), 1);
  fluid_player_t* player = new_fluid_player(synth);
  fluid_player_add(player, midi.c_str());
  fluid_player_play(player);
  std::vector<float> out;
  float l[64], r[64];
  for (int64_t tail = int64_t(tailSeconds * rate), after = 0; after < tail && out.size() < size_t(rate) * 3600;) {
    fluid_synth_write_float(synth, 64, l, 0, 1, r, 0, 1);
    for (int i = 0; i < 64; ++i) out.push_back(0.5f * (l[i] + r[i]));
    if (fluid_player_get_status(player) != FLUID_PLAYER_PLAYING) after += 64;
  }
  delete_fluid_player(player);
  delete_fluid_synth(synth);
  delete_fluid_settings(st);
  return out;
}

// RMS envelope in 10 ms windows.
inline std::vector<double> Envelope(const std::vector<float>& x, int rate) {
  const size_t win = size_t(rate / 100);
  std::vector<double> e;
  for (size_t i = 0; i + win <= x.size(); i += win) {
    double s = 0;
    for (size_t j = 0; j < win; ++j) s += double(x[i + j]) * x[i + j];
    e.push_back(std::sqrt(s / win));
  }
  return e;
}

// Best Pearson correlation of the reference's envelope against the recording's over leading
// offsets of the recording (its record/play delay).
inline double BestEnvelopeCorrelation(const std::vector<float>& recording, const std::vector<float>& reference, int rate) {
  const auto a = Envelope(recording, rate), b = Envelope(reference, rate);
  double best = 0;
  for (size_t off = 0; off < 400 && off < a.size() && std::min(a.size() - off, b.size()) >= 50; ++off) {
    const size_t n = std::min(a.size() - off, b.size());
    double ma = 0, mb = 0, sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) ma += a[off + i] / n, mb += b[i] / n;
    for (size_t i = 0; i < n; ++i) {
      const double da = a[off + i] - ma, db = b[i] - mb;
      sab += da * db, saa += da * da, sbb += db * db;
    }
    if (saa > 0 && sbb > 0) best = std::max(best, sab / std::sqrt(saa * sbb));
  }
  return best;
}

inline double Peak(const std::vector<float>& x) {
  double p = 0;
  for (float v : x) p = std::max(p, double(std::fabs(v)));
  return p;
}

// Index of the first sample that is not digital silence.
inline size_t FirstSound(const std::vector<float>& x) {
  return size_t(std::find_if(x.begin(), x.end(), [](float v) { return v != 0.0f; }) - x.begin());
}

}  // namespace kvtest
