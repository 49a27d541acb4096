// Helpers of the media layer tests: a private system setup, WAVE templates, generated MIDI
// files, reading recordings, FluidSynth's own rendering as the reference, onset detection.
#pragma once
#include <fluidsynth.h>
#include <sndfile.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "winmm.h"

namespace kvtest {

namespace fs = std::filesystem;

inline const std::string kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
inline std::string Corpus() { return std::string(KV_SOURCE_DIR) + "/../shared/testdata/midi/jazz-soft-test-midi-files/"; }
inline std::string CorpusFile(const std::string& name) {
  std::string p = Corpus() + name;
  if (!fs::exists(p)) p = "/work/shared/testdata/midi/jazz-soft-test-midi-files/" + name;
  return p;
}

inline std::string MakeTempDir(const std::string& tag) {
  std::string t = (fs::temp_directory_path() / ("kv-media-" + tag + "-XXXXXX")).string();
  std::vector<char> buf(t.begin(), t.end());
  buf.push_back('\0');
  char* d = mkdtemp(buf.data());
  return d ? std::string(d) : std::string();
}

// Points the media layer at a system setup of its own (TimGM6mb, synth source).
inline void UseSystemSetup(const std::string& dir, bool fast, const std::string& soundFont = kSoundFont,
                           const std::string& source = "synth") {
  std::string path = dir + "/system.ini";
  std::ofstream(path) << "[Setup]\nSoundFont=" << soundFont << "\nSource=" << source << "\nFast=" << (fast ? 1 : 0)
                      << "\nVolume=100\n";
  setenv("KORVESSA_SYSTEM_INI", path.c_str(), 1);
}

struct Format {
  int rate, bits, channels;
};
// Template number 101..124: rate index (n-101)/4, variant (n-101)%4.
inline Format TemplateFormat(int number) {
  static const int rates[] = {16000, 22050, 24000, 32000, 44100, 48000};
  int n = number - 101;
  int v = n % 4;
  return {rates[n / 4], v < 2 ? 8 : 16, (v % 2) ? 2 : 1};
}

inline void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char((v >> (8 * i)) & 0xFF));
}
inline void Put16(std::string& s, uint16_t v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char(v >> 8));
}

// The 60-byte header-only WAVE file the program writes before each recording.
inline std::string TemplateBytes(int number) {
  Format f = TemplateFormat(number);
  int align = f.channels * f.bits / 8;
  std::string s = "RIFF";
  Put32(s, 50);
  s += "WAVEfmt ";
  Put32(s, 18);
  Put16(s, 1);
  Put16(s, uint16_t(f.channels));
  Put32(s, uint32_t(f.rate));
  Put32(s, uint32_t(f.rate * align));
  Put16(s, uint16_t(align));
  Put16(s, uint16_t(f.bits));
  Put16(s, 0);
  s += "fact";
  Put32(s, 4);
  Put32(s, 0);
  s += "data";
  Put32(s, 0);
  s.append(2, '\0');
  return s;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string Mci(const std::string& cmd, MCIERROR* err = nullptr) {
  char buf[256] = {};
  MCIERROR e = mciSendStringA(cmd.c_str(), buf, 255, nullptr);
  if (err) *err = e;
  return buf;
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct CycleResult {
  bool played = false;     // the sequencer reported "playing" at least once
  int64_t lengthMs = 0;    // "status PlayMedia length"
  double seconds = 0;      // wall-clock time of the whole cycle
  MCIERROR saveError = 0;
};

// The exact command sequence of a conversion: recorder, delay, sequencer, poll, delay, save.
// stopAfterMs > 0 stops the song there, as the Stop command does.
inline CycleResult RecordCycle(const std::string& midi, const std::string& wav, int delayMs,
                               double timeoutSeconds = 120, int64_t stopAfterMs = 0) {
  CycleResult r;
  auto t0 = std::chrono::steady_clock::now();
  const std::string q = "\"";
  Mci("open " + q + wav + q + " alias RecMedia");
  Mci("record RecMedia overwrite");
  SleepMs(delayMs);
  Mci("open " + q + midi + q + " alias PlayMedia");
  mciSendStringA("set PlayMedia port -1", nullptr, 0, nullptr);
  mciSendStringA("set PlayMedia time format milliseconds", nullptr, 0, nullptr);
  r.lengthMs = std::atoll(Mci("status PlayMedia length").c_str());
  Mci("play PlayMedia");
  for (;;) {
    std::string mode = Mci("status PlayMedia mode");
    if (mode.compare(0, 7, "playing") != 0) break;
    r.played = true;
    int64_t position = std::atoll(Mci("status PlayMedia position").c_str());
    Mci("status PlayMedia length");
    if (stopAfterMs > 0 && position >= stopAfterMs) break;
    if (std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() > timeoutSeconds) break;
    SleepMs(10);
  }
  Mci("stop PlayMedia");
  Mci("close PlayMedia");
  SleepMs(delayMs);
  Mci("stop RecMedia");
  Mci("seek RecMedia to start");
  Mci("save RecMedia", &r.saveError);
  Mci("close RecMedia");
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
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
  a.rate = info.samplerate;
  a.channels = info.channels;
  a.format = info.format;
  a.frames = info.frames;
  std::vector<float> buf(size_t(info.frames) * info.channels);
  sf_count_t got = sf_readf_float(f, buf.data(), info.frames);
  sf_close(f);
  a.mono.assign(size_t(got), 0.0f);
  for (sf_count_t i = 0; i < got; ++i) {
    float s = 0;
    for (int c = 0; c < info.channels; ++c) s += buf[size_t(i) * info.channels + c];
    a.mono[size_t(i)] = s / float(info.channels);
  }
  return true;
}

// FluidSynth's own rendering of a MIDI file (its player, timed by the rendered samples).
inline std::vector<float> ReferenceRender(const std::string& midi, int rate, double tailSeconds) {
  fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
  fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
  fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
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
  int64_t tail = int64_t(tailSeconds * rate), after = 0;
  while (after < tail) {
    fluid_synth_write_float(synth, 64, l, 0, 1, r, 0, 1);
    for (int i = 0; i < 64; ++i) out.push_back(0.5f * (l[i] + r[i]));
    if (fluid_player_get_status(player) != FLUID_PLAYER_PLAYING) after += 64;
    if (out.size() > size_t(rate) * 3600) break;
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
  double ma = 0, mb = 0;
  for (size_t i = 0; i < n; ++i) {
    ma += a[offA + i];
    mb += b[i];
  }
  ma /= n;
  mb /= n;
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < n; ++i) {
    double da = a[offA + i] - ma, db = b[i] - mb;
    sab += da * db;
    saa += da * da;
    sbb += db * db;
  }
  return (saa > 0 && sbb > 0) ? sab / std::sqrt(saa * sbb) : 0;
}

// Best envelope correlation of the reference against the recording over leading offsets of
// the recording (its record/play delay); the overlap of both is compared.
inline double BestEnvelopeCorrelation(const std::vector<float>& recording, const std::vector<float>& reference, int rate) {
  size_t win = size_t(rate / 100);
  auto a = Envelope(recording, win), b = Envelope(reference, win);
  double best = 0;
  for (size_t off = 0; off < 400 && off < a.size(); ++off) {
    size_t n = std::min(a.size() - off, b.size());
    if (n < 50) break;
    best = std::max(best, Pearson(a, off, b, n));
  }
  return best;
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
    if (std::fabs(x[i]) > threshold) {
      if (below >= quiet) out.push_back(int64_t(i));
      below = 0;
    } else {
      ++below;
    }
  }
  return out;
}

// A small Standard MIDI File writer for generated test songs.
struct SmfWriter {
  struct Track {
    std::string bytes;
    uint32_t last = 0;
    void Delta(uint32_t tick) {
      uint32_t d = tick - last;
      last = tick;
      char buf[5];
      int n = 0;
      buf[n++] = char(d & 0x7F);
      while (d >>= 7) buf[n++] = char(0x80 | (d & 0x7F));
      while (n) bytes.push_back(buf[--n]);
    }
    void Event(uint32_t tick, std::initializer_list<int> b) {
      Delta(tick);
      for (int x : b) bytes.push_back(char(x));
    }
    void Tempo(uint32_t tick, int us) { Event(tick, {0xFF, 0x51, 3, (us >> 16) & 0xFF, (us >> 8) & 0xFF, us & 0xFF}); }
    void End(uint32_t tick) { Event(tick, {0xFF, 0x2F, 0}); }
  };
  static std::string Chunk(const char* id, const std::string& body) {
    std::string s(id, 4);
    for (int i = 3; i >= 0; --i) s.push_back(char((body.size() >> (8 * i)) & 0xFF));
    return s + body;
  }
  static std::string File(int format, int division, const std::vector<Track>& tracks) {
    std::string h;
    h.push_back(0);
    h.push_back(char(format));
    h.push_back(0);
    h.push_back(char(tracks.size()));
    h.push_back(char((division >> 8) & 0xFF));
    h.push_back(char(division & 0xFF));
    std::string s = Chunk("MThd", h);
    for (auto& t : tracks) s += Chunk("MTrk", t.bytes);
    return s;
  }
};

// A click track on the GM drum channel with tempo changes; fills the exact click times.
inline std::string ClickTrack(int clicks, std::vector<double>& times) {
  const int ppq = 480;
  const int tempi[] = {500000, 416667, 612345, 350000, 545454};
  SmfWriter::Track t0, t1;
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
  return SmfWriter::File(1, ppq, {t0, t1});
}

}  // namespace kvtest
