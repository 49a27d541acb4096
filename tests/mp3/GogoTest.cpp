// gogo.dll driven as the GoGo window drives it: loaded with dlopen, the exact call order of one encode.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "components/gogo/gogo.h"

namespace {

struct Gogo {
  void* h = nullptr;
  decltype(&MPGE_getVersionVB) getVersion = nullptr;
  decltype(&MPGE_initializeWorkVB) initializeWork = nullptr;
  decltype(&MPGE_getUnitStatesVB) getUnitStates = nullptr;
  decltype(&MPGE_setConfigureVB) setConfigure = nullptr;
  decltype(&MPGE_detectConfigureVB) detectConfigure = nullptr;
  decltype(&MPGE_getConfigureVB) getConfigure = nullptr;
  decltype(&MPGE_processFrameVB) processFrame = nullptr;
  decltype(&MPGE_closeCoderVB) closeCoder = nullptr;
  decltype(&MPGE_endCoderVB) endCoder = nullptr;

  Gogo() {
    h = dlopen(KV_BIN_DIR "/gogo.dll", RTLD_NOW | RTLD_LOCAL);
    if (!h) return;
    getVersion = reinterpret_cast<decltype(getVersion)>(dlsym(h, "MPGE_getVersionVB"));
    initializeWork = reinterpret_cast<decltype(initializeWork)>(dlsym(h, "MPGE_initializeWorkVB"));
    getUnitStates = reinterpret_cast<decltype(getUnitStates)>(dlsym(h, "MPGE_getUnitStatesVB"));
    setConfigure = reinterpret_cast<decltype(setConfigure)>(dlsym(h, "MPGE_setConfigureVB"));
    detectConfigure = reinterpret_cast<decltype(detectConfigure)>(dlsym(h, "MPGE_detectConfigureVB"));
    getConfigure = reinterpret_cast<decltype(getConfigure)>(dlsym(h, "MPGE_getConfigureVB"));
    processFrame = reinterpret_cast<decltype(processFrame)>(dlsym(h, "MPGE_processFrameVB"));
    closeCoder = reinterpret_cast<decltype(closeCoder)>(dlsym(h, "MPGE_closeCoderVB"));
    endCoder = reinterpret_cast<decltype(endCoder)>(dlsym(h, "MPGE_endCoderVB"));
  }
  ~Gogo() { if (h) dlclose(h); }
  bool complete() const {
    return getVersion && initializeWork && getUnitStates && setConfigure && detectConfigure && getConfigure &&
           processFrame && closeCoder && endCoder;
  }

  struct Run {
    int32_t detect = -1, total = -1, last = -1;
    int32_t calls = 0;  // processFrame calls, the last one included
  };
  // The window's sequence; stopAfter > 0 plays a close request after that many frames.
  Run encode(const std::string& wav, const std::string& mp3, int rate, int mode, int bitrate, int stopAfter = 0) {
    Run r;
    if (initializeWork() != 0) return r;
    int32_t states = 0;
    getUnitStates(&states);
    setConfigure(1, 0, wav.c_str());
    setConfigure(2, 0, mp3.c_str());
    setConfigure(6, rate, nullptr);
    setConfigure(3, mode, nullptr);
    setConfigure(4, bitrate, nullptr);
    r.detect = detectConfigure();
    if (r.detect == 0) {
      getConfigure(15, &r.total);
      do {
        r.last = processFrame();
        ++r.calls;
      } while (r.last == 0 && (stopAfter == 0 || r.calls < stopAfter));
    }
    closeCoder();
    endCoder();
    return r;
  }
};

int channelModeOfFirstFrame(const std::string& mp3) {
  std::string b = kvtest::readBytes(mp3);
  if (b.size() < 4 || static_cast<unsigned char>(b[0]) != 0xFF) return -1;
  return static_cast<unsigned char>(b[3]) >> 6;  // 0 stereo, 1 joint stereo, 3 mono
}

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
    EXPECT_EQ(p["codec_name"], "mp3");
    EXPECT_EQ(p["bit_rate"], std::to_string(c.bitrate * 1000));
    EXPECT_EQ(p["sample_rate"], std::to_string(c.rate));
    EXPECT_EQ(p["channels"], std::to_string(c.channels));
    const double d = std::atof(p["duration"].c_str());
    EXPECT_GE(d, 2.0);
    EXPECT_LE(d, 2.0 + kvtest::mp3DurationTolerance(c.rate));
    EXPECT_EQ(kvtest::decodedFrames(mp3), static_cast<int64_t>(2.0 * c.rate));  // gapless: exactly the WAVE's length
    EXPECT_EQ(channelModeOfFirstFrame(mp3), c.expectMode);
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

  // A sampling rate MP3 cannot carry.
  kvtest::writeMusicWave(dir.file("odd.wav"), 11025, 16, 1, 0.2);
  EXPECT_EQ(g.encode(dir.file("odd.wav"), mp3, 11025, 2, 128).detect, GOGO_ERR_INPUT_FORMAT);

  // Output folder that does not exist.
  kvtest::writeMusicWave(dir.file("ok.wav"), 44100, 16, 2, 0.2);
  EXPECT_EQ(g.encode(dir.file("ok.wav"), dir.file("no such folder/out.mp3"), 44100, 2, 128).detect,
            GOGO_ERR_OUTPUT_OPEN);
  EXPECT_FALSE(kvtest::exists(mp3));
}

TEST_F(GogoDll, StoppingMidEncodeLeavesNoFileAndKeepsAnOlderOne) {
  const std::string wav = dir.file("song.wav"), mp3 = dir.file("song.mp3");
  kvtest::writeMusicWave(wav, 44100, 16, 2, 2.0);
  Gogo::Run r = g.encode(wav, mp3, 44100, 2, 128, 10);
  EXPECT_EQ(r.last, 0);  // the close request came while frames were still to follow
  EXPECT_EQ(r.calls, 10);
  EXPECT_FALSE(kvtest::exists(mp3));
  EXPECT_EQ(dir.list().size(), 1u);

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
  EXPECT_EQ(r.total, 1);
  EXPECT_EQ(r.calls, 1);
  EXPECT_EQ(r.last, 1);
  EXPECT_TRUE(kvtest::exists(mp3));
}

}  // namespace
