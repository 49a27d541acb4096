// vbwav2wma.dll as the program drives it (dlopen, open, start, poll) and wm8eutil.exe as a process.
#include <dlfcn.h>

#include <chrono>
#include <thread>

#include "components/vbwav2wma/vbwav2wma.h"
#include "wma_fixture.h"

using namespace wmatest;

namespace {

struct Dll {
  void* h = dlopen(KV_BIN_DIR "/vbwav2wma.dll", RTLD_NOW | RTLD_LOCAL);
  template <class F> F Get(const char* name) { return reinterpret_cast<F>(dlsym(h, name)); }
  vbww_encodeOpen_fn open = Get<vbww_encodeOpen_fn>("vbww_encodeOpen");
  vbww_encodeStart_fn start = Get<vbww_encodeStart_fn>("vbww_encodeStart");
  vbww_getEncodeState_fn state = Get<vbww_getEncodeState_fn>("vbww_getEncodeState");
  vbww_debug_fn debug = Get<vbww_debug_fn>("vbww_debug");
  vbww_lastError_fn lastError = Get<vbww_lastError_fn>("vbww_lastError");
};

int32_t Open(Dll& d, const fs::path& wav, const fs::path& wma, std::string_view title, int32_t info[4]) {
  VbwwEncodeSettings s;
  kv::FillWmaSettings(s, title);
  return d.open(wav.c_str(), wma.c_str(), info, &s) & 0xFFFF;
}

// Runs the tool in the folder of errFile, as the conversion runs it in the output folder.
int Wm8eutil(const std::string& args, const fs::path& errFile) {
  int rc = std::system(("cd " + Quoted(errFile.parent_path().string()) + " && " KV_BIN_DIR "/tools/wm8eutil.exe " + args +
                        " 2>" + Quoted(errFile.string())).c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace

class WmaComponents : public ScratchDir {
 protected:
  Dll dll;
};

TEST_F(WmaComponents, LibraryEncodesRecordingFormats) {
  ASSERT_TRUE(dll.open && dll.start && dll.state && dll.debug && dll.lastError) << dlerror();
  struct Case {
    Format f;
    std::string name, title;
  } const cases[] = {{{22050, 1, 8}, "song", "song"},
                     {{48000, 2, 16}, "夜の ジャズ 01", "  夜の ジャズ 01  "},
                     {{24000, 1, 16}, "b", "b"},
                     {{44100, 2, 8}, "c", " c"}};
  WriteText(dir / "song.wma", "older result");  // replaced by the first encode
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path wav = dir / (c.name + ".wav"), wma = dir / (c.name + ".wma");
    double rms[2];
    int64_t frames = WriteRecording(wav, c.f, 1.3, rms);
    int32_t info[4] = {-1, -1, -1, -1}, progress = -1, st;
    ASSERT_NE(Open(dll, wav, wma, c.title, info), 0) << dll.lastError();
    EXPECT_EQ(std::vector<int32_t>(info, info + 4), (std::vector<int32_t>{c.f.rate, c.f.channels, c.f.bits, int32_t(frames)}));
    EXPECT_EQ(dll.state(nullptr), 2);
    EXPECT_EQ(dll.start(), 1);
    // The 60 s limit only keeps a broken encode from hanging the run.
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((st = dll.state(&progress)) != 0 && std::chrono::steady_clock::now() < giveUp)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(st, 0);
    EXPECT_EQ(progress, info[3]);
    EXPECT_STREQ(dll.lastError(), "");
    ExpectWma(wma, c.name, 1.3, rms);
    EXPECT_EQ(Names(dir), (std::set<std::string>{c.name + ".wav", c.name + ".wma"}));
    fs::remove(wav), fs::remove(wma);
  }
}

TEST_F(WmaComponents, ToolEncodesWithArgumentsInAnyOrder) {
  double rms[2];
  WriteRecording(dir / "tmp.wav", {22050, 1, 8}, 1.1, rms);
  const std::string in = Quoted((dir / "tmp.wav").string()), out = Quoted((dir / "tmp.wma").string());
  ASSERT_EQ(Wm8eutil("-input tmp.wav -output tmp.wma -title 'テスト曲 第1番'", dir / "err"), 0) << ReadAll(dir / "err");
  ExpectWma(dir / "tmp.wma", "テスト曲 第1番", 1.1, rms);
  WriteRecording(dir / "tmp.wav", {48000, 2, 16}, 0.7, rms);
  ASSERT_EQ(Wm8eutil("-TITLE 'Take Five' -output " + out + " -input " + in, dir / "err"), 0) << ReadAll(dir / "err");
  ExpectWma(dir / "tmp.wma", "Take Five", 0.7, rms);
  EXPECT_EQ(ReadAll(dir / "err"), "");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"tmp.wav", "tmp.wma", "err"}));
}

TEST_F(WmaComponents, BadInputsAreRefusedAndLeaveTheOlderOutput) {
  fs::create_directory(dir / "out");
  const fs::path wma = dir / "out" / "song.wma";
  WriteText(wma, "older result");
  WriteText(dir / "tune.mid", std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14));
  WriteText(dir / "empty.wav", "");
  WriteRecording(dir / "ok.wav", {22050, 1, 16}, 0.3);
  const std::pair<fs::path, fs::path> cases[] = {{dir / "missing.wav", wma}, {dir / "tune.mid", wma},
                                                 {dir / "empty.wav", wma}, {dir / "ok.wav", dir / "nowhere" / "x.wma"}};
  for (auto& [wav, out] : cases) {
    SCOPED_TRACE(wav.string() + " -> " + out.string());
    int32_t info[4] = {7, 7, 7, 7};
    EXPECT_EQ(Open(dll, wav, out, "song", info), 0);
    EXPECT_EQ(info[3], 0);
    EXPECT_EQ(dll.debug(), 1);
    EXPECT_EQ(dll.state(nullptr), 0);
    EXPECT_EQ(dll.start(), 0);
    EXPECT_NE(Wm8eutil("-input " + Quoted(wav.string()) + " -output " + Quoted(out.string()) + " -title t", dir / "err"), 0);
    std::string err = ReadAll(dir / "err");
    EXPECT_EQ(err.rfind("wm8eutil: ", 0), 0u) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;  // one line
  }
  for (const char* args : {"", "-input x.wav -title t", "-input x.wav -output y.wma -speed 2"})
    EXPECT_EQ(Wm8eutil(args, dir / "err"), 2) << args;
  EXPECT_EQ(ReadAll(wma), "older result");
  EXPECT_EQ(Names(dir / "out"), (std::set<std::string>{"song.wma"}));
}
