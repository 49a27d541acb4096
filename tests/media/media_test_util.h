// Helpers of the media layer tests: a private system setup, WAVE templates, reading
// recordings, FluidSynth's own rendering as the reference, onset detection.
#pragma once
#include <fluidsynth.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "MidiFiles.h"
#include "ScratchFolder.h"
#include "winmm.h"

namespace kvtest {

namespace fs = std::filesystem;

inline const std::string kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
inline std::string CorpusFile(const std::string& name) {
  return std::string(KV_SOURCE_DIR) + "/tests/data/midi/jazz-soft-test-midi-files/" + name;
}

// Points the media layer at a system setup of its own (TimGM6mb, synth source).
inline void UseSystemSetup(const std::string& dir, bool fast, const std::string& soundFont = kSoundFont,
                           const std::string& source = "synth", int threads = 0) {
  std::string path = dir + "/system.ini";
  writeText(path, "[Setup]\nSoundFont=" + soundFont + "\nSource=" + source + "\nFast=" + (fast ? "1" : "0") +
                       "\nVolume=100\nThreads=" + std::to_string(threads) + "\n");
  setenv("KORVESSA_SYSTEM_INI", path.c_str(), 1);
}

struct Format {
  int rate, bits, channels;
};
// Template number 101..124: rate index (n-101)/4, variant (n-101)%4.
inline Format TemplateFormat(int number) {
  static const int rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
  int n = number - 101, v = n % 4;
  return {rates[n / 4], v < 2 ? 8 : 16, (v % 2) ? 2 : 1};
}

// The 60-byte header-only WAVE file the program writes before each recording; with `data`,
// a complete file holding that data.
inline std::string TemplateBytes(int number, const std::string& data = "") {
  Format f = TemplateFormat(number);
  uint32_t align = f.channels * f.bits / 8, size = uint32_t(data.size());
  using smf::Le;
  return "RIFF" + Le(50 + size, 4) + "WAVEfmt " + Le(18, 4) + Le(1, 2) + Le(f.channels, 2) + Le(f.rate, 4) +
         Le(f.rate * align, 4) + Le(align, 2) + Le(f.bits, 2) + Le(0, 2) + "fact" + Le(4, 4) + Le(0, 4) + "data" +
         Le(size, 4) + (data.empty() ? std::string(2, '\0') : data);
}

inline std::string Mci(const std::string& cmd, MCIERROR* err = nullptr) {
  char buf[256] = {};
  MCIERROR e = mciSendStringA(cmd.c_str(), buf, 255, nullptr);
  if (err) *err = e;
  return buf;
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
inline double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Sends stderr to a file for its lifetime: whatever ALSA or FluidSynth might complain about.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) : path_(path), saved_(dup(2)), file_(std::fopen(path.c_str(), "w")) {
    fflush(stderr);
    dup2(fileno(file_), 2);
  }
  ~StderrCapture() { Restore(); }
  // Restores stderr and gives the number of bytes written meanwhile.
  uintmax_t Restore() {
    if (file_) {
      fflush(stderr);
      dup2(saved_, 2);
      close(saved_);
      std::fclose(file_);
      file_ = nullptr;
    }
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

// The exact command sequence of a conversion: recorder, delay, sequencer, poll, delay, save.
// stopAfterMs > 0 stops the song there, as the Stop command does.
inline CycleResult RecordCycle(const std::string& midi, const std::string& wav, int delayMs,
                               double timeoutSeconds = 120, int64_t stopAfterMs = 0) {
  CycleResult r;
  auto t0 = std::chrono::steady_clock::now();
  Mci("open \"" + wav + "\" alias RecMedia");
  Mci("record RecMedia overwrite");
  SleepMs(delayMs);
  Mci("open \"" + midi + "\" alias PlayMedia");
  mciSendStringA("set PlayMedia port -1", nullptr, 0, nullptr);
  mciSendStringA("set PlayMedia time format milliseconds", nullptr, 0, nullptr);
  r.lengthMs = std::atoll(Mci("status PlayMedia length").c_str());
  Mci("play PlayMedia");
  while (Mci("status PlayMedia mode").compare(0, 7, "playing") == 0) {
    int64_t position = std::atoll(Mci("status PlayMedia position").c_str());
    Mci("status PlayMedia length");
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

struct Audio {
  int rate = 0, channels = 0, format = 0;
  int64_t frames = 0;
  std::vector<float> mono;  // channels averaged
};

inline bool ReadAudio(const std::string& path, Audio& a) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return false;
  a = {info.samplerate, info.channels, info.format, info.frames, {}};
  std::vector<float> buf(size_t(info.frames) * info.channels);
  sf_count_t got = sf_readf_float(f, buf.data(), info.frames);
  sf_close(f);
  a.mono.assign(size_t(got), 0.0f);
  for (size_t i = 0; i < size_t(got) * info.channels; ++i) a.mono[i / info.channels] += buf[i] / info.channels;
  return true;
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

// RMS envelope in windows of `win` samples.
inline std::vector<double> Envelope(const std::vector<float>& x, size_t win) {
  std::vector<double> e;
  for (size_t i = 0; i + win <= x.size(); i += win) {
    double s = 0;
    for (size_t j = 0; j < win; ++j) s += double(x[i + j]) * x[i + j];
    e.push_back(std::sqrt(s / win));
  }
  return e;
}

inline double Pearson(const std::vector<double>& a, size_t offA, const std::vector<double>& b, size_t n) {
  double ma = 0, mb = 0, sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < n; ++i) ma += a[offA + i] / n, mb += b[i] / n;
  for (size_t i = 0; i < n; ++i) {
    double da = a[offA + i] - ma, db = b[i] - mb;
    sab += da * db, saa += da * da, sbb += db * db;
  }
  return (saa > 0 && sbb > 0) ? sab / std::sqrt(saa * sbb) : 0;
}

// Best envelope correlation of the reference against the recording over leading offsets of
// the recording (its record/play delay); the overlap of both is compared.
inline double BestEnvelopeCorrelation(const std::vector<float>& recording, const std::vector<float>& reference, int rate) {
  auto a = Envelope(recording, size_t(rate / 100)), b = Envelope(reference, size_t(rate / 100));
  double best = 0;
  for (size_t off = 0; off < 400 && off < a.size() && std::min(a.size() - off, b.size()) >= 50; ++off)
    best = std::max(best, Pearson(a, off, b, std::min(a.size() - off, b.size())));
  return best;
}

// Index of the first sample that is not silence.
inline size_t FirstSound(const Audio& a) {
  return size_t(std::find_if(a.mono.begin(), a.mono.end(), [](float v) { return v != 0.0f; }) - a.mono.begin());
}

// How many of n samples differ between two recordings, each counted from its first sound.
inline size_t SamplesDiffering(const Audio& a, const Audio& b, size_t n) {
  const size_t a0 = FirstSound(a), b0 = FirstSound(b);
  size_t differing = 0;
  for (size_t i = 0; i < n; ++i) differing += a.mono[a0 + i] != b.mono[b0 + i];
  return differing;
}

inline double Peak(const std::vector<float>& x) {
  double p = 0;
  for (float v : x) p = std::max(p, double(std::fabs(v)));
  return p;
}

// Sample positions where the signal crosses `threshold` after at least `quiet` samples below it.
inline std::vector<int64_t> Onsets(const std::vector<float>& x, double threshold, int quiet) {
  std::vector<int64_t> out;
  int64_t below = quiet;
  for (size_t i = 0; i < x.size(); ++i) {
    bool loud = std::fabs(x[i]) > threshold;
    if (loud && below >= quiet) out.push_back(int64_t(i));
    below = loud ? 0 : below + 1;
  }
  return out;
}

// A click track on the GM drum channel with tempo changes; fills the exact click times.
inline std::string ClickTrack(int clicks, std::vector<double>& times) {
  const int ppq = 480, tempi[] = {500000, 416667, 612345, 350000, 545454};
  smf::Track t0, t1;
  times.clear();
  double seconds = 0;
  uint32_t tick = 0;
  t1.Event(0, {0xB9, 91, 0});  // no reverb or chorus: each click dies away before the next
  t1.Event(0, {0xB9, 93, 0});
  for (int i = 0; i < clicks; ++i) {
    int tempo = tempi[(i / 2) % 5];
    if (i % 2 == 0) t0.Tempo(tick, tempo);
    times.push_back(seconds);
    t1.Event(tick, {0x99, 76, 120});
    t1.Event(tick + 60, {0x89, 76, 0});
    uint32_t step = ppq + (i % 3) * 7;  // off-grid beat lengths
    seconds += double(step) * tempo / ppq / 1e6;
    tick += step;
  }
  t0.End(tick);
  t1.End(tick);
  return smf::File(1, ppq, {t0, t1});
}

}  // namespace kvtest
