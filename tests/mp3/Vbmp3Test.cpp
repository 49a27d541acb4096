// VBMP3.dll with L3CODECP.ACM: background encoding as the ACM window polls it, and MP3 file information.
#include <gtest/gtest.h>
#include <lame/lame.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "Process.h"
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
  bool complete() const { return init && encodeOpen && encodeStart && getEncodeState && free && open; }
};

class Vbmp3Dll : public ::testing::Test {
protected:
  Vbmp3 v;
  kvtest::TempDir dir;
  void SetUp() override { ASSERT_TRUE(v.complete()) << dlerror(); }
};

// The window's run: init, open, start, poll until the state is no longer 1, free. Returns the last progress.
int32_t encodeLikeTheWindow(Vbmp3& v, const std::string& wav, const std::string& mp3, int32_t info[4], int* polls) {
  v.init();
  v.encodeOpen(wav.c_str(), info);
  v.encodeStart(mp3.c_str());
  int32_t progress = 0, other = 0;
  *polls = 0;
  while (v.getEncodeState(&progress, &other) == 1) {
    ++*polls;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  v.free();
  return progress;
}

TEST_F(Vbmp3Dll, EncodesThroughTheSystemCodec) {
  struct Case { int rate, channels, expectKbps; };
  for (Case c : {Case{44100, 2, 128}, Case{48000, 1, 64}, Case{24000, 2, 64}}) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz " + std::to_string(c.channels) + " ch");
    const std::string wav = dir.file("take one.wav"), mp3 = dir.file("take one.mp3");
    kvtest::writeMusicWave(wav, c.rate, 16, c.channels, 1.5);
    int32_t info[4] = {-1, -1, -1, -1};
    int polls = 0;
    int32_t progress = encodeLikeTheWindow(v, wav, mp3, info, &polls);
    EXPECT_EQ(std::vector<int32_t>(info, info + 4),
              (std::vector<int32_t>{c.rate, c.channels, c.expectKbps, static_cast<int32_t>(1.5 * c.rate)}));
    EXPECT_EQ(progress, info[3]);  // the progress unit is the total's unit
    auto p = kvtest::probe(mp3);
    EXPECT_EQ(p["codec_name"] + " " + p["bit_rate"] + " " + p["channels"],
              "mp3 " + std::to_string(c.expectKbps * 1000) + " " + std::to_string(c.channels));
    const double d = std::atof(p["duration"].c_str());
    EXPECT_GE(d, 1.5);
    EXPECT_LE(d, 1.5 + kvtest::mp3DurationTolerance(c.rate));
    EXPECT_EQ(kvtest::decodedFrames(mp3), info[3]);
    EXPECT_EQ(dir.list().size(), 2u);
  }
}

TEST_F(Vbmp3Dll, FreeDuringEncodeStopsItAndLeavesNoHalfFile) {
  const std::string wav = dir.file("long.wav"), mp3 = dir.file("long.mp3");
  kvtest::writeMusicWave(wav, 44100, 16, 2, 30.0);
  int32_t info[4] = {};
  v.init();
  ASSERT_NE(v.encodeOpen(wav.c_str(), info), 0);
  ASSERT_NE(v.encodeStart(mp3.c_str()), 0);
  int32_t progress = 0, other = 0;
  while (v.getEncodeState(&progress, &other) == 1 && progress == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(v.getEncodeState(&progress, &other), 1);
  EXPECT_GT(progress, 0);
  EXPECT_LT(progress, info[3]);
  EXPECT_EQ(other, info[3]);
  v.free();
  EXPECT_NE(v.getEncodeState(&progress, &other), 1);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"long.wav"});  // no half-written MP3
}

TEST_F(Vbmp3Dll, UnreadableInputEndsAtOnce) {
  int32_t info[4] = {7, 7, 7, 7};
  v.init();
  EXPECT_EQ(v.encodeOpen(dir.file("missing.wav").c_str(), info), 0);
  EXPECT_EQ(info[3], 0);
  EXPECT_EQ(v.encodeStart(dir.file("missing.mp3").c_str()), 0);
  int32_t progress = -1, other = -1;
  EXPECT_NE(v.getEncodeState(&progress, &other), 1);
  v.free();
  EXPECT_TRUE(dir.list().empty());
}

TEST_F(Vbmp3Dll, CodecBesideTheLibraryWhenTheSystemFolderLacksIt) {
  kvtest::TempDir emptySystem;
  const std::string wav = dir.file("a.wav");
  kvtest::writeMusicWave(wav, 44100, 16, 2, 0.3);
  // The environment points at an empty folder; the "system" folder beside VBMP3.dll still has the codec.
  setenv("KORVESSA_SYSTEM_DIR", emptySystem.path().c_str(), 1);
  int32_t info[4] = {};
  v.init();
  EXPECT_NE(v.encodeOpen(wav.c_str(), info), 0);
  v.free();
  setenv("KORVESSA_SYSTEM_DIR", KV_BIN_DIR "/system", 1);
}

// An MP3 made directly with LAME, VBR or CBR, with or without the Xing/Info record.
void lameFile(const std::string& wav, const std::string& mp3, bool vbr, bool infoFrame) {
  const kvtest::WaveData w = kvtest::readWave(wav);
  ASSERT_TRUE(w.ok);
  lame_global_flags* gf = lame_init();
  lame_set_num_channels(gf, w.channels);
  lame_set_in_samplerate(gf, w.rate);
  lame_set_out_samplerate(gf, w.rate);
  lame_set_bWriteVbrTag(gf, infoFrame ? 1 : 0);
  if (vbr) {
    lame_set_VBR(gf, vbr_mtrh);
    lame_set_VBR_q(gf, 4);
  } else {
    lame_set_brate(gf, 96);
  }
  ASSERT_GE(lame_init_params(gf), 0);
  std::vector<short> pcm(w.samples.begin(), w.samples.end());
  std::vector<unsigned char> buf(pcm.size() * 2 + 7200);
  std::string out;
  int n = lame_encode_buffer_interleaved(gf, pcm.data(), static_cast<int>(w.frames()), buf.data(), static_cast<int>(buf.size()));
  out.append(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(n));
  n = lame_encode_flush(gf, buf.data(), static_cast<int>(buf.size()));
  out.append(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(n));
  if (infoFrame) {
    size_t tn = lame_get_lametag_frame(gf, buf.data(), buf.size());
    out.replace(0, tn, reinterpret_cast<char*>(buf.data()), tn);
  }
  lame_close(gf);
  std::ofstream(mp3, std::ios::binary) << out;
}

TEST_F(Vbmp3Dll, OpenGivesPlayingTimeOfCbrAndVbrFiles) {
  const std::string wav = dir.file("m.wav");
  kvtest::writeMusicWave(wav, 44100, 16, 2, 7.3);
  struct Case { const char* name; bool vbr, info; };
  for (Case c : {Case{"cbr.mp3", false, true}, Case{"vbr.mp3", true, true}, Case{"vbr-bare.mp3", true, false},
                 Case{"cbr-bare.mp3", false, false}}) {
    SCOPED_TRACE(c.name);
    lameFile(wav, dir.file(c.name), c.vbr, c.info);
    VBMP3_INFO info;
    std::memset(&info, 0x55, sizeof info);
    v.init();
    EXPECT_NE(v.open(dir.file(c.name).c_str(), &info), 0);
    v.free();
    EXPECT_EQ(std::vector<int32_t>({info.v[3], info.v[0], info.v[1]}), std::vector<int32_t>({7, 44100, 2}));
    if (!c.vbr) EXPECT_NEAR(info.v[2], 96, 3);
    EXPECT_EQ(std::string(info.title) + "|" + info.artist, "|");
  }
  // A longer one encoded by the codec itself.
  const std::string wav2 = dir.file("n.wav");
  kvtest::writeMusicWave(wav2, 32000, 16, 1, 12.6);
  int32_t info4[4];
  int polls = 0;
  encodeLikeTheWindow(v, wav2, dir.file("n.mp3"), info4, &polls);
  VBMP3_INFO info;
  EXPECT_NE(v.open(dir.file("n.mp3").c_str(), &info), 0);
  EXPECT_EQ(std::vector<int32_t>({info.v[3], info.v[0], info.v[1]}), std::vector<int32_t>({13, 32000, 1}));
}

std::string syncsafe(uint32_t n) { return {char((n >> 21) & 0x7F), char((n >> 14) & 0x7F), char((n >> 7) & 0x7F), char(n & 0x7F)}; }
// An ID3v2.4 tag with UTF-8 title and artist frames and some padding.
std::string id3v24(const std::string& title, const std::string& artist) {
  auto frame = [](const char* id, const std::string& text) { return id + syncsafe(uint32_t(text.size() + 1)) + std::string(2, '\0') + '\x03' + text; };
  const std::string frames = frame("TIT2", title) + frame("TPE1", artist) + std::string(64, '\0');
  return std::string("ID3\x04\0\0", 6) + syncsafe(uint32_t(frames.size())) + frames;
}

TEST_F(Vbmp3Dll, OpenReadsId3TitleAndArtist) {
  const std::string wav = dir.file("m.wav");
  kvtest::writeMusicWave(wav, 44100, 16, 2, 3.2);
  lameFile(wav, dir.file("plain.mp3"), false, true);
  const std::string audio = kvtest::readBytes(dir.file("plain.mp3"));

  kvtest::writeText(dir.file("v2.mp3"), id3v24("夜の海", "Korvessa Ensemble") + audio);
  VBMP3_INFO info;
  ASSERT_NE(v.open(dir.file("v2.mp3").c_str(), &info), 0);
  EXPECT_STREQ(info.title, "夜の海");
  EXPECT_STREQ(info.artist, "Korvessa Ensemble");
  EXPECT_EQ(info.v[3], 3);

  // ID3v1 at the end, Shift-JIS text as older tools wrote it ("海" is 0x8A 0x43).
  std::string v1(128, '\0');
  v1.replace(0, 3, "TAG");
  v1.replace(3, 5, "Sea\x8A\x43");
  v1.replace(33, 5, "Trio ");
  kvtest::writeText(dir.file("v1.mp3"), audio + v1);
  ASSERT_NE(v.open(dir.file("v1.mp3").c_str(), &info), 0);
  EXPECT_STREQ(info.title, "Sea海");
  EXPECT_STREQ(info.artist, "Trio");
  EXPECT_EQ(info.v[3], 3);
}

TEST_F(Vbmp3Dll, OpenRejectsFilesThatAreNotMp3) {
  kvtest::writeMusicWave(dir.file("music.wav"), 44100, 16, 2, 2.0);
  kvtest::writeText(dir.file("notes.mp3"), "not audio\n");
  kvtest::writeText(dir.file("empty.mp3"), "");
  for (const char* name : {"music.wav", "notes.mp3", "empty.mp3", "missing.mp3"}) {
    VBMP3_INFO info{};
    EXPECT_EQ(v.open(dir.file(name).c_str(), &info), 0) << name;
  }
}

}  // namespace
