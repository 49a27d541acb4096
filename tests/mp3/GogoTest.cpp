// gogo.dll driven as the GoGo window drives it: loaded with dlopen, the exact call order of one encode.
#include <gtest/gtest.h>

#include <cstring>

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

  struct Run {
    int32_t detect = -1, total = -1, last = -1, calls = 0;  // calls: processFrame calls, the last one included
  };
  // The window's sequence; stopAfter > 0 plays a close request after that many frames.
  Run encode(const std::string& wav, const std::string& mp3, int rate, int mode, int bitrate, int stopAfter = 0) {
    Run r;
    if (initializeWork() != 0) return r;
    int32_t states = 0;
    getUnitStates(&states);
    setConfigure(GOGO_ITEM_INPUT_FILE, 0, wav.c_str());
    setConfigure(GOGO_ITEM_OUTPUT_FILE, 0, mp3.c_str());
    for (auto [item, value] : {std::pair{GOGO_ITEM_INPUT_RATE, rate}, {GOGO_ITEM_CHANNEL_MODE, mode}, {GOGO_ITEM_BITRATE, bitrate}})
      setConfigure(item, value, nullptr);
    if ((r.detect = detectConfigure()) == 0) {
      getConfigure(GOGO_ITEM_TOTAL_FRAMES, &r.total);
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
  void SetUp() override { ASSERT_TRUE(g.getVersion && g.endCoder) << dlerror(); }
};

TEST_F(GogoDll, EncodesAMusicWaveAtTheConfiguredBitRate) {
  // 44.1 kHz stereo MPEG-1 in both channel modes; 22.05 kHz mono MPEG-2 stays mono. An empty
  // recording (the bare 60-byte header) gives one finishing frame.
  const struct {
    int rate, channels, bitrate, mode, headerMode;  // headerMode: the first frame's, 0 stereo, 1 joint, 3 mono
    double seconds;
  } rows[] = {{44100, 2, 128, GOGO_MODE_JOINT_STEREO, 1, 2.0}, {44100, 2, 160, GOGO_MODE_STEREO, 0, 2.0},
              {22050, 1, 64, GOGO_MODE_JOINT_STEREO, 3, 2.0}, {44100, 2, 128, GOGO_MODE_STEREO, 0, 0.0}};
  for (const auto& c : rows) {
    const std::string row = std::to_string(c.rate) + " Hz " + std::to_string(c.bitrate) + " kbit/s " + std::to_string(c.seconds) + " s";
    const std::string wav = dir.file("song.wav"), mp3 = dir.file("song.mp3");
    kvtest::writeProgramWave(wav, c.rate, 16, c.channels, kvtest::musicSamples(c.rate, 16, c.channels, c.seconds));
    const Gogo::Run r = g.encode(wav, mp3, c.rate, c.mode, c.bitrate);
    ASSERT_EQ(r.detect, 0) << row;
    // The announced total is the number of frame calls: every one that returned 0 plus the finishing one.
    const int spf = c.rate >= 32000 ? 1152 : 576;
    EXPECT_EQ(std::vector<int32_t>({r.total, r.calls, r.last}),
              std::vector<int32_t>({std::max(1, (int(c.seconds * c.rate) + spf - 1) / spf), r.total, GOGO_FINISHED})) << row;
    EXPECT_EQ(dir.list().size(), 2u) << row << ": the WAVE and the MP3, no temporary left";
    if (c.seconds == 0) continue;
    EXPECT_EQ(kvtest::encodedProblem(mp3, "mp3 " + std::to_string(c.bitrate * 1000) + " " + std::to_string(c.rate) + " " +
                                              std::to_string(c.channels), c.seconds, kvtest::mp3DurationTolerance(c.rate)), "") << row;
    EXPECT_EQ(kvtest::decodedFrames(mp3), int64_t(c.seconds * c.rate)) << row << ": gapless, exactly the WAVE's length";
    const std::string b = kvtest::readBytes(mp3);
    EXPECT_EQ(b.size() >= 4 && uint8_t(b[0]) == 0xFF ? uint8_t(b[3]) >> 6 : -1, c.headerMode) << row;
  }
}

TEST_F(GogoDll, RefusalsAndStops) {
  const std::string mp3 = dir.file("out.mp3"), song = dir.file("song.wav"), older = dir.file("older.mp3");
  kvtest::writeText(dir.file("text.wav"), "this is not a RIFF WAVE file at all, only text\n");
  kvtest::writeMusicWave(dir.file("odd.wav"), 11025, 16, 1, 0.2);
  kvtest::writeMusicWave(song, 44100, 16, 2, 2.0);
  kvtest::writeText(older, "older result");
  const struct {
    const char* name;
    std::string wav, mp3;
    int rate, stopAfter;
    int32_t detect, calls;
  } rows[] = {{"text input", dir.file("text.wav"), mp3, 44100, 0, GOGO_ERR_INPUT_FORMAT, 0},
              {"a rate MP3 cannot carry", dir.file("odd.wav"), mp3, 11025, 0, GOGO_ERR_INPUT_FORMAT, 0},
              {"no output folder", song, dir.file("no such folder/out.mp3"), 44100, 0, GOGO_ERR_OUTPUT_OPEN, 0},
              {"closed after 10 frames", song, mp3, 44100, 10, 0, 10},
              {"closed over an older MP3", song, older, 44100, 5, 0, 5}};
  for (const auto& c : rows) {
    const Gogo::Run r = g.encode(c.wav, c.mp3, c.rate, GOGO_MODE_STEREO, 128, c.stopAfter);
    EXPECT_EQ(std::vector<int32_t>({r.detect, r.calls}), std::vector<int32_t>({c.detect, c.calls})) << c.name;
    if (c.stopAfter) EXPECT_EQ(r.last, 0) << c.name << ": the close came while frames were still to follow";
  }
  EXPECT_EQ(kvtest::readBytes(older), "older result");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"odd.wav", "older.mp3", "song.wav", "text.wav"}));
}

}  // namespace
