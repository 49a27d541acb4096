// vbwav2wma.dll as the program uses it: dlopen, open, start, poll until finished.
#include <dlfcn.h>

#include <chrono>
#include <thread>

#include "components/vbwav2wma/vbwav2wma.h"
#include "wma_fixture.h"

using namespace wmatest;

namespace {

struct Dll {
  void* h = dlopen(KV_BIN_DIR "/vbwav2wma.dll", RTLD_NOW | RTLD_LOCAL);
  vbww_encodeOpen_fn open = reinterpret_cast<vbww_encodeOpen_fn>(dlsym(h, "vbww_encodeOpen"));
  vbww_encodeStart_fn start = reinterpret_cast<vbww_encodeStart_fn>(dlsym(h, "vbww_encodeStart"));
  vbww_getEncodeState_fn state = reinterpret_cast<vbww_getEncodeState_fn>(dlsym(h, "vbww_getEncodeState"));
  vbww_debug_fn debug = reinterpret_cast<vbww_debug_fn>(dlsym(h, "vbww_debug"));
  vbww_lastError_fn lastError = reinterpret_cast<vbww_lastError_fn>(dlsym(h, "vbww_lastError"));
};

Dll& L() {
  static Dll d;
  return d;
}

// Polls like the progress window; the 60 s limit only keeps a broken encode from hanging the run.
int32_t PollUntilFinished(int32_t* progress) {
  auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int32_t s;
  while ((s = L().state(progress)) != 0 && std::chrono::steady_clock::now() < giveUp)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return s;
}

}  // namespace

class VbWav2Wma : public ScratchDir {
 protected:
  void SetUp() override {
    ScratchDir::SetUp();
    ASSERT_NE(L().h, nullptr) << dlerror();
    ASSERT_TRUE(L().open && L().start && L().state && L().debug && L().lastError);
  }
  // Open + start + poll; returns the open result.
  int32_t Encode(const fs::path& wav, const fs::path& wma, std::string_view title, int32_t info[4]) {
    VbwwEncodeSettings s;
    kv::FillWmaSettings(s, title);
    int32_t r = L().open(wav.c_str(), wma.c_str(), info, &s);
    if ((r & 0xFFFF) == 0) return r;
    EXPECT_EQ(L().state(nullptr), 2);
    EXPECT_EQ(L().start(), 1);
    int32_t progress = -1;
    EXPECT_EQ(PollUntilFinished(&progress), 0);
    EXPECT_EQ(progress, info[3]);
    EXPECT_STREQ(L().lastError(), "");
    return r;
  }
};

TEST_F(VbWav2Wma, EncodesRecordingFormatsToWma64kStereoWithTitle) {
  const Format formats[] = {{22050, 1, 8}, {48000, 2, 16}, {16000, 2, 16}, {24000, 1, 16}, {44100, 2, 8}};
  for (Format f : formats) {
    SCOPED_TRACE(std::to_string(f.rate) + " Hz " + std::to_string(f.channels) + " ch " + std::to_string(f.bits) + " bit");
    fs::path wav = dir / "song.wav", wma = dir / "song.wma";
    double rms[2];
    int64_t frames = WriteRecording(wav, f, 1.3, rms);
    int32_t info[4] = {-1, -1, -1, -1};
    ASSERT_NE(Encode(wav, wma, "song", info) & 0xFFFF, 0) << L().lastError();
    EXPECT_EQ(info[0], f.rate);
    EXPECT_EQ(info[1], f.channels);
    EXPECT_EQ(info[2], f.bits);
    EXPECT_EQ(info[3], frames);
    ExpectWma(wma, "song", 1.3);
    ExpectLevels(wma, rms);
    EXPECT_EQ(Names(dir), (std::set<std::string>{"song.wav", "song.wma"}));
    fs::remove(wma);
  }
}

TEST_F(VbWav2Wma, TitleIsTrimmedAndKeepsJapanese) {
  const fs::path wav = dir / "夜の ジャズ 01.wav", wma = dir / "夜の ジャズ 01.wma";
  WriteRecording(wav, {44100, 2, 16}, 0.8);
  int32_t info[4];
  ASSERT_NE(Encode(wav, wma, "  夜の ジャズ 01  ", info), 0) << L().lastError();
  ExpectWma(wma, "夜の ジャズ 01", 0.8);
}

TEST_F(VbWav2Wma, BadInputsAreRefusedAndLeaveNothing) {
  WriteText(dir / "song.wma", "older result");
  WriteText(dir / "tune.mid", std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14));
  WriteText(dir / "empty.wav", "");
  WriteRecording(dir / "ok.wav", {22050, 1, 16}, 0.3);
  const std::pair<fs::path, fs::path> cases[] = {
      {dir / "missing.wav", dir / "song.wma"},
      {dir / "tune.mid", dir / "song.wma"},
      {dir / "empty.wav", dir / "song.wma"},
      {dir / "ok.wav", dir / "no-such-folder" / "song.wma"},
  };
  for (auto& [wav, wma] : cases) {
    SCOPED_TRACE(wav.string() + " -> " + wma.string());
    int32_t info[4] = {7, 7, 7, 7};
    VbwwEncodeSettings s;
    kv::FillWmaSettings(s, "song");
    EXPECT_EQ(L().open(wav.c_str(), wma.c_str(), info, &s) & 0xFFFF, 0);
    EXPECT_EQ(info[3], 0);
    EXPECT_NE(std::string(L().lastError()), "");
    EXPECT_EQ(L().debug(), 1);
    EXPECT_EQ(L().state(nullptr), 0);
    EXPECT_EQ(L().start(), 0);  // nothing to start after a failed open
  }
  EXPECT_EQ(ReadAll(dir / "song.wma"), "older result");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"song.wma", "tune.mid", "empty.wav", "ok.wav"}));
}

TEST_F(VbWav2Wma, ExistingOutputIsReplacedOnSuccess) {
  WriteRecording(dir / "song.wav", {32000, 2, 16}, 0.6);
  WriteText(dir / "song.wma", "older result");
  int32_t info[4];
  ASSERT_NE(Encode(dir / "song.wav", dir / "song.wma", "song", info), 0) << L().lastError();
  ExpectWma(dir / "song.wma", "song", 0.6);
  EXPECT_EQ(Names(dir), (std::set<std::string>{"song.wav", "song.wma"}));
}
