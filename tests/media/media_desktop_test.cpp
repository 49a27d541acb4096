// The media layer on a desktop: a real sound server behind ALSA's default device, its null sink
// as the speakers and its sine source as the line input. Playing a song sounds at the speakers
// in the song's time; a line-in recording holds the input for the song plus the delays.
#include <gtest/gtest.h>

#include "SoundServer.h"
#include "media_test_util.h"

using namespace kvtest;

namespace {

const std::string kSong = CorpusFile("test-c-major-scale.mid");  // 4.0 s

// Seconds a song sounds, its tail included: the length of its fast take with no delay.
double SoundingSeconds(const std::string& dir, const std::string& midi) {
  const std::string wav = dir + "/sounding.wav";
  writeText(wav, TemplateBytes(120));
  UseSystemSetup(dir, true);
  RecordCycle(midi, wav, 0);
  return readWave(wav).seconds();
}

class MediaDesktop : public MediaTest {
 protected:
  // The server comes first: ALSA settles what "default" is when this process first uses it.
  static void SetUpTestSuite() { server = new SoundServer, MediaTest::SetUpTestSuite(); }
  static void TearDownTestSuite() { MediaTest::TearDownTestSuite(), delete server; }
  void SetUp() override {
    ASSERT_TRUE(server->ok()) << server->log();
    MediaTest::SetUp();
  }
  static inline SoundServer* server;
};

}  // namespace

TEST_F(MediaDesktop, PlayingASongSoundsAtTheSpeakersInItsTime) {
  std::vector<double> times;
  double seconds = 0;
  const std::string song = dir + "/clicks.mid";
  writeText(song, ClickTrack(9, times, seconds));
  const double sounding = SoundingSeconds(dir, song);
  ASSERT_GT(sounding, seconds);
  SoundServer::MonitorRecording monitor(*server);
  const auto t0 = std::chrono::steady_clock::now();
  ExpectMci({{"open \"" + song + "\" alias PlayMedia"}, {"set PlayMedia port -1"}, {"play PlayMedia"}});
  while (Mci("status PlayMedia mode") == "playing" && SecondsSince(t0) < 30) SleepMs(10);
  ExpectMci({{"stop PlayMedia"}, {"close PlayMedia"}});
  // Heard to its end, never cut short; a busy machine can only make real time take longer.
  const double elapsed = SecondsSince(t0);
  EXPECT_GE(elapsed, sounding - 0.05);
  EXPECT_LE(elapsed, sounding + 2.0);
  SleepMs(300);
  monitor.stop();
  // What the speakers got is the song: each click in its time, within 50 ms of jitter the sound
  // server adds (a tempo change missed is off by 75 ms at the first beat).
  const int64_t worst = WorstOnsetError(monitor.samples(), times, SoundServer::kRate);
  EXPECT_GE(worst, 0) << "not one onset per click";
  EXPECT_LE(worst, SoundServer::kRate / 20) << "worst onset error in samples";
}

TEST_F(MediaDesktop, LineInRecordsTheInputForTheSongPlusTheDelays) {
  const double sounding = SoundingSeconds(dir, kSong);
  ASSERT_GT(sounding, 4.0);
  UseSystemSetup(dir, true, kSoundFont, "alsa:default");
  const std::string wav = dir + "/line in.wav";
  writeText(wav, TemplateBytes(120));  // 44100 Hz 16-bit stereo
  const int delayMs = 600;             // the delay of a count of 5
  const CycleResult r = RecordCycle(kSong, wav, delayMs);
  EXPECT_EQ(r.saveError, 0u);
  const WaveData w = readWave(wav);
  // The input for the time the take ran: the song and both waits, longer only on a busy machine.
  EXPECT_GE(w.seconds(), sounding + 2 * delayMs / 1000.0 - 0.05);
  EXPECT_LE(w.seconds(), sounding + 2 * delayMs / 1000.0 + 2.0);
  // The sine of the line input throughout, not the song and not silence.
  const std::vector<float> x = w.mixed();
  const size_t window = size_t(w.rate) / 10;
  ASSERT_GT(x.size(), window);
  size_t crossings = 0;
  for (size_t i = 1; i < x.size(); ++i) crossings += (x[i - 1] < 0) != (x[i] < 0);
  EXPECT_NEAR(double(crossings) * w.rate / double(x.size()), 2.0 * SoundServer::kSineHz, 10);
  for (size_t at = 0; at + window <= x.size(); at += window)
    ASSERT_GT(Peak({x.begin() + long(at), x.begin() + long(at + window)}), 0.05) << "silent at " << double(at) / w.rate << " s";
}
