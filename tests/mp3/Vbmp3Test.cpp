// VBMP3.dll with L3CODECP.ACM: background encoding as the ACM window polls it, and MP3 playing times.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "WaveFiles.h"
#include "components/vbmp3/vbmp3.h"
#include "owned.h"

namespace {

struct Vbmp3 {
  kv::SharedLibrary lib = (setenv("KORVESSA_SYSTEM_DIR", KV_BIN_DIR "/system", 1), kv::SharedLibrary(KV_BIN_DIR "/VBMP3.dll"));
  template <class F> F sym(const char* name) {
    F fn = nullptr;
    lib.Bind(fn, name);
    return fn;
  }
#define KV_VBMP3(fn) vbmp3_##fn##_fn fn = sym<vbmp3_##fn##_fn>("vbmp3_" #fn)
  KV_VBMP3(init);
  KV_VBMP3(encodeOpen);
  KV_VBMP3(encodeStart);
  KV_VBMP3(getEncodeState);
  KV_VBMP3(free);
  KV_VBMP3(open);
#undef KV_VBMP3
  // The window's run: init, open, start, poll until the state is no longer 1, free. Returns the last progress.
  int32_t encode(const std::string& wav, const std::string& mp3, int32_t info[4]) {
    init();
    encodeOpen(wav.c_str(), info);
    encodeStart(mp3.c_str());
    int32_t progress = 0, other = 0;
    while (getEncodeState(&progress, &other) == 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    free();
    return progress;
  }
};

class Vbmp3Dll : public ::testing::Test {
 protected:
  Vbmp3 v;
  kvtest::TempDir dir;
  void SetUp() override { ASSERT_TRUE(v.init && v.open) << dlerror(); }
};

TEST_F(Vbmp3Dll, EncodesThroughTheSystemCodec) {
  const struct {
    int rate, channels, kbps;
  } rows[] = {{44100, 2, 128}, {48000, 1, 64}, {24000, 2, 64}};
  for (const auto& c : rows) {
    const std::string row = std::to_string(c.rate) + " Hz " + std::to_string(c.channels) + " ch";
    const std::string wav = dir.file("take one.wav"), mp3 = dir.file("take one.mp3");
    kvtest::writeMusicWave(wav, c.rate, 16, c.channels, 1.5);
    int32_t info[4] = {-1, -1, -1, -1};
    const int32_t progress = v.encode(wav, mp3, info);
    EXPECT_EQ(std::vector<int32_t>(info, info + 4), (std::vector<int32_t>{c.rate, c.channels, c.kbps, int32_t(1.5 * c.rate)})) << row;
    EXPECT_EQ(progress, info[3]) << row << ": the progress unit is the total's unit";
    EXPECT_EQ(kvtest::encodedProblem(mp3, "mp3 " + std::to_string(c.kbps * 1000) + " " + std::to_string(c.rate) + " " + std::to_string(c.channels),
                                     1.5, kvtest::mp3DurationTolerance(c.rate)), "") << row;
    EXPECT_EQ(kvtest::decodedFrames(mp3), info[3]) << row;
    EXPECT_EQ(dir.list().size(), 2u) << row;
  }
}

TEST_F(Vbmp3Dll, MissingInputLeavesNoFile) {
  int32_t progress = 0, other = 0;
  // A missing input: nothing to encode, at once.
  int32_t none[4] = {7, 7, 7, 7};
  v.init();
  EXPECT_EQ(v.encodeOpen(dir.file("missing.wav").c_str(), none), 0);
  EXPECT_EQ(none[3], 0);
  EXPECT_EQ(v.encodeStart(dir.file("missing.mp3").c_str()), 0);
  EXPECT_NE(v.getEncodeState(&progress, &other), 1);
  v.free();
  EXPECT_TRUE(dir.list().empty());
}

// An MP3 of a WAVE made by ffmpeg's LAME encoder, VBR or 96 kbit/s CBR, with or without the Xing/Info record.
std::string LameFile(const std::string& wav, bool vbr, bool infoFrame) {
  const std::string mp3 = wav + (vbr ? ".vbr" : ".cbr") + (infoFrame ? "" : "-bare") + ".mp3";
  kvtest::run({"ffmpeg", "-v", "error", "-y", "-i", wav, "-c:a", "libmp3lame", vbr ? "-q:a" : "-b:a", vbr ? "4" : "96k",
               "-write_xing", infoFrame ? "1" : "0", "-id3v2_version", "0", mp3});
  const std::string bytes = kvtest::readBytes(mp3);
  std::filesystem::remove(mp3);
  return bytes;
}

// The program reads the playing time only (the capacity window): whole seconds, rounded, past
// any ID3 tag in front or at the end.
TEST_F(Vbmp3Dll, OpenGivesThePlayingTime) {
  const std::string w = dir.file("m.wav");
  kvtest::writeMusicWave(w, 44100, 16, 2, 7.3);
  int32_t info4[4];
  kvtest::writeMusicWave(dir.file("n.wav"), 32000, 16, 1, 12.6);
  v.encode(dir.file("n.wav"), dir.file("codec.mp3"), info4);
  const std::string cbr = LameFile(w, false, true);
  const std::string id3v2 = std::string("ID3\x04\0\0\0\0\0\x40", 10) + std::string(64, '\0'), id3v1 = "TAG" + std::string(125, 'x');
  const struct {
    const char* name;
    std::string bytes;  // empty: the file is already there
    int seconds;        // -1: refused
  } rows[] = {{"cbr.mp3", cbr, 7},          {"vbr.mp3", LameFile(w, true, true), 7}, {"vbr-bare.mp3", LameFile(w, true, false), 7},
              {"cbr-bare.mp3", LameFile(w, false, false), 7}, {"codec.mp3", "", 13}, {"v2.mp3", id3v2 + cbr, 7},
              {"v1.mp3", cbr + id3v1, 7}, {"m.wav", "", -1}, {"notes.mp3", "not audio\n", -1},
              {"empty.mp3", "", -1},        {"missing.mp3", "", -1}};
  kvtest::writeText(dir.file("empty.mp3"), "");
  for (const auto& c : rows) {
    if (!c.bytes.empty()) kvtest::writeText(dir.file(c.name), c.bytes);
    VBMP3_INFO info;
    std::memset(&info, 0x55, sizeof info);
    v.init();
    const bool opened = v.open(dir.file(c.name).c_str(), &info) != 0;
    v.free();
    EXPECT_EQ(opened ? info.v[3] : -1, c.seconds) << c.name;
  }
}

}  // namespace
