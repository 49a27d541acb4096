// gogo.dll driven as the GoGo window drives it: loaded with dlopen, the exact call order of one encode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "Process.h"
#include "WaveFiles.h"
#include "components/gogo/gogo.h"
#include "owned.h"

namespace {

struct Gogo {
  kv::SharedLibrary lib{KV_BIN_DIR "/gogo.dll"};
  template <class F> F* sym(const char* name) {
    F* fn = nullptr;
    lib.Bind(fn, name);
    return fn;
  }
#define KV_GOGO(fn, name) decltype(&MPGE_##name) fn = sym<decltype(MPGE_##name)>("MPGE_" #name)
  KV_GOGO(getVersion, getVersionVB);
  KV_GOGO(initializeWork, initializeWorkVB);
  KV_GOGO(getUnitStates, getUnitStatesVB);
  KV_GOGO(setConfigure, setConfigureVB);
  KV_GOGO(detectConfigure, detectConfigureVB);
  KV_GOGO(getConfigure, getConfigureVB);
  KV_GOGO(processFrame, processFrameVB);
  KV_GOGO(closeCoder, closeCoderVB);
  KV_GOGO(endCoder, endCoderVB);
#undef KV_GOGO
  bool complete() const {
    return getVersion && initializeWork && getUnitStates && setConfigure && detectConfigure && getConfigure &&
           processFrame && closeCoder && endCoder;
  }

  struct Run {
    int32_t detect = -1, total = -1, last = -1, calls = 0;  // calls: processFrame calls, the last one included
  };
  // The window's sequence; stopAfter > 0 plays a close request after that many frames.
  Run encode(const std::string& wav, const std::string& mp3, int rate, int mode, int bitrate, int stopAfter = 0) {
    Run r;
    if (initializeWork() != 0) return r;
    int32_t states = 0;
    getUnitStates(&states);
    setConfigure(1, 0, wav.c_str());
    setConfigure(2, 0, mp3.c_str());
    for (auto [item, value] : {std::pair{6, rate}, {3, mode}, {4, bitrate}}) setConfigure(item, value, nullptr);
    if ((r.detect = detectConfigure()) == 0) {
      getConfigure(15, &r.total);
      do ++r.calls;
      while ((r.last = processFrame()) == 0 && (stopAfter == 0 || r.calls < stopAfter));
    }
    closeCoder();
    endCoder();
    return r;
  }
};

class GogoDll : public ::testing::Test {
protected:
  Gogo g;
  kvtest::TempDir dir;
  void SetUp() override { ASSERT_TRUE(g.complete()) << dlerror(); }
};

TEST_F(GogoDll, VersionTextNamesTheEncoderAndLame) {
  int32_t code = 0;
  char text[260];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(g.getVersion(&code, text), 0);
  EXPECT_EQ(code, GOGO_VERSION_CODE);
  std::string t(text);
  EXPECT_EQ(t.rfind("Korvessa GoGo-compatible MP3 encoder 1.0 (LAME 3.", 0), 0u) << t;
  EXPECT_LT(t.size(), 255u);
}

TEST_F(GogoDll, EncodesAMusicWaveAtTheConfiguredBitRate) {
  struct Case { int rate, channels, bitrate, mode, expectMode; };
  // 44.1 kHz stereo MPEG-1 in both channel modes; 22.05 kHz mono MPEG-2 stays mono.
  for (Case c : {Case{44100, 2, 128, GOGO_MODE_JOINT_STEREO, 1}, Case{44100, 2, 160, GOGO_MODE_STEREO, 0},
                 Case{22050, 1, 64, GOGO_MODE_JOINT_STEREO, 3}}) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.bitrate) + " kbit/s");
    const std::string wav = dir.file("song.wav"), mp3 = dir.file("song.mp3");
    kvtest::writeMusicWave(wav, c.rate, 16, c.channels, 2.0);
    Gogo::Run r = g.encode(wav, mp3, c.rate, c.mode, c.bitrate);
    ASSERT_EQ(r.detect, 0);
    EXPECT_EQ(r.last, 1);
    // The announced total is the number of frame calls: every one that returned 0 plus the finishing one.
    EXPECT_EQ(r.total, r.calls);
    const int spf = c.rate >= 32000 ? 1152 : 576;
    EXPECT_EQ(r.total, (static_cast<int>(2.0 * c.rate) + spf - 1) / spf);
    auto p = kvtest::probe(mp3);
    EXPECT_EQ(p["codec_name"] + " " + p["bit_rate"] + " " + p["sample_rate"] + " " + p["channels"],
              "mp3 " + std::to_string(c.bitrate * 1000) + " " + std::to_string(c.rate) + " " + std::to_string(c.channels));
    const double d = std::atof(p["duration"].c_str());
    EXPECT_GE(d, 2.0);
    EXPECT_LE(d, 2.0 + kvtest::mp3DurationTolerance(c.rate));
    EXPECT_EQ(kvtest::decodedFrames(mp3), static_cast<int64_t>(2.0 * c.rate));  // gapless: exactly the WAVE's length
    const std::string b = kvtest::readBytes(mp3);  // the first frame's channel mode: 0 stereo, 1 joint, 3 mono
    EXPECT_EQ(b.size() >= 4 && uint8_t(b[0]) == 0xFF ? uint8_t(b[3]) >> 6 : -1, c.expectMode);
    EXPECT_EQ(dir.list().size(), 2u);  // the WAVE and the MP3, no temporary left
  }
}

TEST_F(GogoDll, DetectionReportsMissingAndUnreadableInputs) {
  const std::string mp3 = dir.file("out.mp3");
  Gogo::Run missing = g.encode(dir.file("missing.wav"), mp3, 44100, 2, 128);
  EXPECT_EQ(missing.detect, GOGO_ERR_INPUT_OPEN);
  EXPECT_EQ(missing.calls, 0);
  kvtest::writeText(dir.file("text.wav"), "this is not a RIFF WAVE file at all, only text\n");
  Gogo::Run text = g.encode(dir.file("text.wav"), mp3, 44100, 2, 128);
  EXPECT_NE(text.detect, 0);
  EXPECT_NE(text.detect, GOGO_ERR_INPUT_OPEN);
  // A sampling rate MP3 cannot carry; an output folder that does not exist.
  kvtest::writeMusicWave(dir.file("odd.wav"), 11025, 16, 1, 0.2);
  EXPECT_EQ(g.encode(dir.file("odd.wav"), mp3, 11025, 2, 128).detect, GOGO_ERR_INPUT_FORMAT);
  kvtest::writeMusicWave(dir.file("ok.wav"), 44100, 16, 2, 0.2);
  EXPECT_EQ(g.encode(dir.file("ok.wav"), dir.file("no such folder/out.mp3"), 44100, 2, 128).detect, GOGO_ERR_OUTPUT_OPEN);
  EXPECT_FALSE(kvtest::exists(mp3));
}

TEST_F(GogoDll, StoppingMidEncodeLeavesNoFileAndKeepsAnOlderOne) {
  const std::string wav = dir.file("song.wav"), mp3 = dir.file("song.mp3");
  kvtest::writeMusicWave(wav, 44100, 16, 2, 2.0);
  Gogo::Run r = g.encode(wav, mp3, 44100, 2, 128, 10);
  EXPECT_EQ(r.last, 0);  // the close request came while frames were still to follow
  EXPECT_EQ(r.calls, 10);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"song.wav"});
  // A stopped encode does not destroy an MP3 already there.
  kvtest::writeText(mp3, "older result");
  g.encode(wav, mp3, 44100, 2, 128, 5);
  EXPECT_EQ(kvtest::readBytes(mp3), "older result");
  EXPECT_EQ(dir.list().size(), 2u);
}

TEST_F(GogoDll, CallsOutOfOrderAreRefused) {
  EXPECT_EQ(g.initializeWork(), 0);
  EXPECT_EQ(g.processFrame(), GOGO_ERR_STATE);
  EXPECT_EQ(g.setConfigure(99, 1, nullptr), GOGO_ERR_PARAM);
  int32_t total = -1;
  EXPECT_EQ(g.getConfigure(15, &total), 0);
  EXPECT_EQ(total, 0);  // nothing detected yet
  g.closeCoder();
  g.endCoder();
}

TEST_F(GogoDll, EmptyRecordingGivesOneFinishingFrame) {
  // A recorder that never wrote data leaves just the 60-byte header.
  const std::string wav = dir.file("empty.wav"), mp3 = dir.file("empty.mp3");
  kvtest::writeProgramWave(wav, 44100, 16, 2, {});
  Gogo::Run r = g.encode(wav, mp3, 44100, 2, 128);
  ASSERT_EQ(r.detect, 0);
  EXPECT_EQ(std::vector<int32_t>({r.total, r.calls, r.last}), std::vector<int32_t>({1, 1, 1}));
  EXPECT_TRUE(kvtest::exists(mp3));
}

}  // namespace
