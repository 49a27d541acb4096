// vbwav2wma.dll as the program drives it (dlopen, open, start, poll) and wm8eutil.exe as a process.

#include <chrono>
#include <thread>

#include "components/vbwav2wma/vbwav2wma.h"
#include "owned.h"
#include "wma_fixture.h"

using namespace wmatest;

namespace {

struct Dll {
  kv::SharedLibrary lib{KV_BIN_DIR "/vbwav2wma.dll"};
  template <class F> F Get(const char* name) {
    F fn = nullptr;
    lib.Bind(fn, name);
    return fn;
  }
#define KV_VBWW(member, fn) vbww_##fn##_fn member = Get<vbww_##fn##_fn>("vbww_" #fn)
  KV_VBWW(open, encodeOpen);
  KV_VBWW(start, encodeStart);
  KV_VBWW(state, getEncodeState);
  KV_VBWW(debug, debug);
  KV_VBWW(lastError, lastError);
#undef KV_VBWW
};

int32_t Open(Dll& d, const fs::path& wav, const fs::path& wma, std::string_view title, int32_t info[4]) {
  VbwwEncodeSettings s;
  kv::FillWmaSettings(s, title);
  return d.open(wav.c_str(), wma.c_str(), info, &s) & 0xFFFF;
}

// Runs the tool in the folder of errFile, as the conversion runs it in the output folder.
int Wm8eutil(const std::string& args, const fs::path& errFile, const std::string& env = "") {
  int rc = std::system(("cd " + kvtest::quoted(errFile.parent_path().string()) + " && " + env + " " KV_BIN_DIR "/tools/wm8eutil.exe " + args +
                        " 2>" + kvtest::quoted(errFile.string())).c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

}  // namespace

struct WmaComponents : ScratchDir {
  Dll dll;
};

TEST_F(WmaComponents, LibraryEncodesRecordingFormats) {
  ASSERT_TRUE(dll.open && dll.start && dll.state && dll.debug && dll.lastError) << dlerror();
  struct Case { Format f; std::string name, title; } const cases[] = {{{22050, 1, 8}, "song", "song"},
                     {{48000, 2, 16}, "夜の ジャズ 01", "  夜の ジャズ 01  "},
                     {{44100, 2, 8}, "c", " c"}};
  kvtest::writeText(dir / "song.wma", "older result");  // replaced by the first encode
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path wav = dir / (c.name + ".wav"), wma = dir / (c.name + ".wma");
    double rms[2];
    int64_t frames = WriteRecording(wav, c.f, 1.3, rms);
    int32_t info[4] = {-1, -1, -1, -1}, progress = -1, st;
    ASSERT_NE(Open(dll, wav, wma, c.title, info), 0) << dll.lastError();
    EXPECT_EQ(std::vector<int32_t>(info, info + 4), (std::vector<int32_t>{c.f.rate, c.f.channels, c.f.bits, int32_t(frames)}));
    EXPECT_EQ((std::vector<int32_t>{dll.state(nullptr), dll.start()}), (std::vector<int32_t>{2, 1}));  // opened, then started
    // The 60 s limit only keeps a broken encode from hanging the run.
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((st = dll.state(&progress)) != 0 && std::chrono::steady_clock::now() < giveUp)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(st, 0);
    EXPECT_EQ(std::to_string(progress) + dll.lastError(), std::to_string(info[3]));  // all frames, no error text
    ExpectWma(wma, c.name, 1.3, rms);
    EXPECT_EQ(tmp.list(), (Names{c.name + ".wav", c.name + ".wma"}));
    fs::remove(wav), fs::remove(wma);
  }
}

TEST_F(WmaComponents, ToolEncodesWithArgumentsInAnyOrder) {
  double rms[2];
  WriteRecording(dir / "tmp.wav", {22050, 1, 8}, 1.1, rms);
  ASSERT_EQ(Wm8eutil("-input tmp.wav -output tmp.wma -title 'テスト曲 第1番'", dir / "err"), 0) << kvtest::readBytes(dir / "err");
  ExpectWma(dir / "tmp.wma", "テスト曲 第1番", 1.1, rms);
  WriteRecording(dir / "tmp.wav", {48000, 2, 16}, 0.7, rms);
  ASSERT_EQ(Wm8eutil("-TITLE 'Take Five' -output " + kvtest::quoted(dir / "tmp.wma") + " -input " + kvtest::quoted(dir / "tmp.wav"), dir / "err"), 0) << kvtest::readBytes(dir / "err");
  ExpectWma(dir / "tmp.wma", "Take Five", 0.7, rms);
  EXPECT_EQ(kvtest::readBytes(dir / "err"), "");
  EXPECT_EQ(tmp.list(), (Names{"err", "tmp.wav", "tmp.wma"}));
}

TEST_F(WmaComponents, BadInputsAreRefusedAndLeaveTheOlderOutput) {
  fs::create_directory(dir / "out");
  const fs::path wma = dir / "out" / "song.wma";
  kvtest::writeText(wma, "older result");
  kvtest::writeText(dir / "tune.mid", std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14));
  kvtest::writeText(dir / "empty.wav", "");
  WriteRecording(dir / "ok.wav", {22050, 1, 16}, 0.3);
  const std::pair<fs::path, fs::path> cases[] = {{dir / "missing.wav", wma}, {dir / "tune.mid", wma},
                                                 {dir / "empty.wav", wma}, {dir / "ok.wav", dir / "nowhere" / "x.wma"}};
  for (auto& [wav, out] : cases) {
    SCOPED_TRACE(wav.string() + " -> " + out.string());
    int32_t info[4] = {7, 7, 7, 7};
    EXPECT_EQ(Open(dll, wav, out, "song", info), 0);
    // No frames, the failure flagged, idle, and start refused (in that order).
    EXPECT_EQ((std::vector<int32_t>{info[3], dll.debug(), dll.state(nullptr), dll.start()}), (std::vector<int32_t>{0, 1, 0, 0}));
    EXPECT_NE(Wm8eutil("-input " + kvtest::quoted(wav) + " -output " + kvtest::quoted(out) + " -title t", dir / "err"), 0);
    const std::string err = kvtest::readBytes(dir / "err");
    EXPECT_EQ(err.rfind("wm8eutil: ", 0), 0u) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;  // one line
  }
  // The disk fills up while the WMA file is written.
  EXPECT_EQ(Wm8eutil("-input ok.wav -output out/song.wma -title t", dir / "err",
                     "KORVESSA_FAULT_WRITE_LIMIT=1000 KORVESSA_FAULT_WRITE_MATCH=.song.wma."),
            1);
  EXPECT_NE(kvtest::readBytes(dir / "err").find("No space left on device"), std::string::npos) << kvtest::readBytes(dir / "err");
  EXPECT_EQ(kvtest::readBytes(wma), "older result");
  EXPECT_EQ(tmp.list("out"), (Names{"song.wma"}));
}
