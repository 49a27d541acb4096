// Helpers of the media layer tests: a private system setup, the recording templates, command
// tables, the conversion's record cycle, a click track and its onsets.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <cmath>
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

// Points the media layer at a system setup of its own; `more` holds further lines of it.
inline void UseSystemSetup(const std::string& dir, bool fast, const std::string& soundFont = kSoundFont,
                           const std::string& source = "synth", int threads = 0, const std::string& more = "") {
  const std::string path = dir + "/system.ini";
  writeText(path, "[Setup]\nSoundFont=" + soundFont + "\nSource=" + source + "\nFast=" + (fast ? "1" : "0") +
                      "\nVolume=100\nThreads=" + std::to_string(threads) + "\n" + more);
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

struct CycleResult {
  int64_t lengthMs = 0;  // "status PlayMedia length"
  double seconds = 0;    // wall-clock time of the whole cycle
  MCIERROR saveError = 0;
  std::string tapped;    // what the recorder handed to its tap
};

// The command sequence of a conversion: recorder, delay, sequencer, poll, delay, save. A fast
// take counts the delays itself; a real-time one gets them as waits.
// stopAfterMs > 0 stops the song there, as the Stop command does.
inline CycleResult RecordCycle(const std::string& midi, const std::string& wav, int delayMs,
                               double timeoutSeconds = 120, int64_t stopAfterMs = 0) {
  CycleResult r;
  const auto t0 = std::chrono::steady_clock::now();
  Mci("open \"" + wav + "\" alias RecMedia");
  Mci("set RecMedia delay " + std::to_string(delayMs));
  const KvRecordTap tap = [](void* to, const void* data, UINT bytes) {
    static_cast<std::string*>(to)->append(static_cast<const char*>(data), bytes);
  };
  EXPECT_TRUE(kvMediaSetRecordTap(nullptr, "recmedia", tap, &r.tapped));
  Mci("record RecMedia overwrite");
  if (Mci("status RecMedia fast") == "true") delayMs = 0;
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

// A click track on the GM drum channel with tempo changes and off-grid beats: fills the click
// times and the song's length in seconds.
inline std::string ClickTrack(int clicks, std::vector<double>& times, double& songSeconds) {
  const int ppq = 480, tempi[] = {500000, 416667, 612345, 350000, 545454};
  smf::Track t0, t1;
  double seconds = 0;
  uint32_t tick = 0;
  t1.Event(0, {0xB9, 91, 0});  // no reverb or chorus: each click dies away before the next
  t1.Event(0, {0xB9, 93, 0});
  for (int i = 0; i < clicks; ++i) {
    const int tempo = tempi[(i / 2) % 5];
    if (i % 2 == 0) t0.Tempo(tick, tempo);
    times.push_back(seconds);
    t1.Event(tick, {0x99, 76, 120});
    t1.Event(tick + 60, {0x89, 76, 0});
    const uint32_t step = ppq + (i % 3) * 7;
    seconds += double(step) * tempo / ppq / 1e6;
    tick += step;
  }
  t0.End(tick);
  t1.End(tick);
  songSeconds = seconds;
  return smf::File(1, ppq, {t0, t1});
}

// The largest error, in samples, of the click onsets heard in x (relative to the first one)
// against the click times; -1 when the number of onsets is not the number of clicks.
inline int64_t WorstOnsetError(const std::vector<float>& x, const std::vector<double>& times, int rate) {
  const double threshold = 0.1 * Peak(x);
  std::vector<int64_t> on;
  int64_t below = rate / 50;
  for (size_t i = 0; i < x.size(); ++i) {
    const bool loud = std::fabs(x[i]) > threshold;
    if (loud && below >= rate / 50) on.push_back(int64_t(i));
    below = loud ? 0 : below + 1;
  }
  if (on.size() != times.size()) return -1;
  int64_t worst = 0;
  for (size_t i = 0; i < times.size(); ++i)
    worst = std::max<int64_t>(worst, std::llabs(on[i] - on[0] - std::llround((times[i] - times[0]) * rate)));
  return worst;
}

// Index of the first sample that is not digital silence.
inline size_t FirstSound(const std::vector<float>& x) {
  return size_t(std::find_if(x.begin(), x.end(), [](float v) { return v != 0.0f; }) - x.begin());
}

// The media tests' fixture: a scratch folder for the suite, the fast synth setup for each test,
// and every device closed after it.
class MediaTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { tmp = new TempDir, dir = tmp->path(); }
  static void TearDownTestSuite() { delete tmp; }
  void SetUp() override { UseSystemSetup(dir, true); }
  void TearDown() override { mciSendStringA("close all", nullptr, 0, nullptr); }
  static inline TempDir* tmp;
  static inline std::string dir;
};

// Four parts with reverb and chorus sends, drums with hi-hats; only the notes `plays(channel,
// key)` accepts sound.
inline std::string Band(const std::function<bool(int, int)>& plays) {
  smf::Track t;
  for (auto [ch, program] : {std::pair{0, 0}, {1, 33}, {2, 48}}) {
    t.Event(0, {0xB0 | ch, 91, 70});
    t.Event(0, {0xB0 | ch, 93, 40});
    t.Event(0, {0xC0 | ch, program});
  }
  std::multimap<uint32_t, std::array<int, 3>> notes;  // written in time order
  auto note = [&](uint32_t at, int ch, int key, int velocity, uint32_t length) {
    if (!plays(ch, key)) return;
    notes.insert({at, {0x90 | ch, key, velocity}});
    notes.insert({at + length, {0x80 | ch, key, 0}});
  };
  for (uint32_t beat = 0; beat < 8; ++beat) {
    const uint32_t at = beat * 96;
    for (int key : {60, 64, 67}) note(at, 0, key + int(beat % 2) * 12, 90, 60);
    note(at, 1, 36, 100, 90);
    if (beat % 4 == 0) note(at, 2, 48, 70, 380);
    note(at, 9, beat % 2 ? 38 : 36, 110, 20);
    note(at, 9, 42, 80, 20);
    note(at + 48, 9, beat == 7 ? 46 : 42, 80, 20);  // the open hi-hat cuts the closed one
  }
  for (const auto& [at, e] : notes) t.Event(at, {e[0], e[1], e[2]});
  t.End(768);
  return smf::File(0, 96, {t});
}
inline std::string Band(std::initializer_list<int> sounding) {
  const std::vector<int> channels(sounding);
  return Band([channels](int ch, int) { return std::find(channels.begin(), channels.end(), ch) != channels.end(); });
}

}  // namespace kvtest
