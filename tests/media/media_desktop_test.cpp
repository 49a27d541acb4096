// The media layer on a desktop: a real sound server behind ALSA's default device, its null sink
// as the speakers and its sine source as the line input. Playing a song sounds at the speakers
// for as long as the song lasts; a line-in recording holds the input for the song plus the delays.
#include <gtest/gtest.h>

#include "SoundServer.h"
#include "media_test_util.h"

using namespace kvtest;

namespace {

const std::string kSong = CorpusFile("test-c-major-scale.mid");  // 4.0 s
constexpr double kSongSeconds = 4.0;

class MediaDesktop : public ::testing::Test {
 protected:
  // The server comes first: ALSA settles what "default" is when this process first uses it.
  static void SetUpTestSuite() { server = new SoundServer, tmp = new TempDir; }
  static void TearDownTestSuite() { delete tmp, delete server; }
  void SetUp() override {
    ASSERT_TRUE(server->ok()) << server->log();
    UseSystemSetup(tmp->path(), true);
  }
  void TearDown() override { mciSendStringA("close all", nullptr, 0, nullptr); }
  static inline SoundServer* server;
  static inline TempDir* tmp;
};

// Zero crossings per second of x at `rate`.
double Crossings(const std::vector<float>& x, size_t from, size_t to, int rate) {
  size_t n = 0;
  for (size_t i = from + 1; i < to; ++i) n += (x[i - 1] < 0) != (x[i] < 0);
  return double(n) * rate / double(to - from);
}

// Seconds from the first to the last 10 ms window louder than a tenth of the loudest.
double SoundSeconds(const std::vector<float>& x, int rate) {
  const auto e = Envelope(x, rate);
  const double loud = 0.1 * *std::max_element(e.begin(), e.end());
  const auto first = std::find_if(e.begin(), e.end(), [&](double v) { return v > loud; });
  const auto last = std::find_if(e.rbegin(), e.rend(), [&](double v) { return v > loud; });
  return double(e.rend() - last - (first - e.begin())) / 100.0;
}

}  // namespace

TEST_F(MediaDesktop, PlayingASongSoundsAtTheSpeakersForTheSongsLength) {
  SoundServer::MonitorRecording monitor(*server);
  const auto t0 = std::chrono::steady_clock::now();
  ExpectMci({{"open \"" + kSong + "\" alias PlayMedia"}, {"set PlayMedia port -1"}, {"play PlayMedia"}});
  while (Mci("status PlayMedia mode") == "playing" && SecondsSince(t0) < 30) SleepMs(10);
  ExpectMci({{"stop PlayMedia"}, {"close PlayMedia"}});
  const double took = SecondsSince(t0);
  SleepMs(300);
  monitor.stop();
  EXPECT_NEAR(took, kSongSeconds, 0.3);

  // What the speakers got is the song: its notes, in its time.
  const std::vector<float> heard = monitor.samples();
  ASSERT_GT(Peak(heard), 0.05);
  const std::vector<float> ref = ReferenceRender(kSong, SoundServer::kRate, 0.3);
  EXPECT_GT(BestEnvelopeCorrelation(heard, ref, SoundServer::kRate), 0.9);
  EXPECT_NEAR(SoundSeconds(heard, SoundServer::kRate), SoundSeconds(ref, SoundServer::kRate), 0.15);
}

TEST_F(MediaDesktop, LineInRecordsTheInputForTheSongPlusTheDelays) {
  UseSystemSetup(tmp->path(), true, kSoundFont, "alsa:default");
  const std::string wav = tmp->path() + "/line in.wav";
  writeText(wav, TemplateBytes(120));  // 44100 Hz 16-bit stereo
  const int delayMs = 600;             // the delay of a count of 5
  const CycleResult r = RecordCycle(kSong, wav, delayMs);
  EXPECT_EQ(r.saveError, 0u);
  const WaveData w = readWave(wav);
  EXPECT_NEAR(w.seconds(), kSongSeconds + 2 * delayMs / 1000.0, 0.3);
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
