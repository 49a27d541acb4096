// wm8eutil.exe run as a process, as the conversion runs it.
#include "wma_fixture.h"

using namespace wmatest;

namespace {
const std::string kExe = KV_BIN_DIR "/tools/wm8eutil.exe";
}

class Wm8eutil : public ScratchDir {
 protected:
  RunResult Wm(const std::vector<std::string>& args) { return wmatest::Run(kExe, args, dir.parent_path() / (dir.filename().string() + ".err")); }
  void TearDown() override {
    fs::remove(dir.parent_path() / (dir.filename().string() + ".err"));
    ScratchDir::TearDown();
  }
};

TEST_F(Wm8eutil, EncodesRecordingFormatsInAnyArgumentOrder) {
  struct Case {
    Format f;
    std::string title;
    bool titleFirst;
  };
  const Case cases[] = {{{22050, 1, 8}, "テスト曲 第1番", false},
                        {{48000, 2, 16}, "Take Five (live)", true},
                        {{32000, 1, 16}, "x", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    double rms[2];
    int64_t frames = WriteRecording(dir / "tmp.wav", c.f, 1.1, rms);
    ASSERT_GT(frames, 0);
    std::vector<std::string> args = {"-input", (dir / "tmp.wav").string(), "-output", (dir / "tmp.wma").string(),
                                     "-title", c.title};
    if (c.titleFirst) args = {"-TITLE", c.title, "-output", (dir / "tmp.wma").string(), "-input", (dir / "tmp.wav").string()};
    RunResult r = Wm(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ExpectWma(dir / "tmp.wma", c.title, 1.1);
    ExpectLevels(dir / "tmp.wma", rms);
    EXPECT_EQ(Names(dir), (std::set<std::string>{"tmp.wav", "tmp.wma"}));
  }
}

TEST_F(Wm8eutil, BadInputFailsWithOneLineAndKeepsTheOlderOutput) {
  WriteText(dir / "tmp.wma", "older result");
  WriteText(dir / "notwave.wav", "RIFF\x10\0\0\0AVI LIST");
  WriteRecording(dir / "tmp.wav", {44100, 2, 16}, 0.3);
  const std::string out = (dir / "tmp.wma").string();
  const std::vector<std::vector<std::string>> cases = {
      {"-input", (dir / "missing.wav").string(), "-output", out, "-title", "t"},
      {"-input", (dir / "notwave.wav").string(), "-output", out, "-title", "t"},
      {"-input", (dir / "tmp.wav").string(), "-output", (dir / "nowhere" / "x.wma").string(), "-title", "t"},
      {"-input", (dir / "tmp.wav").string(), "-title", "t"},
      {"-input", (dir / "tmp.wav").string(), "-output", out, "-speed"},
      {},
  };
  for (auto& args : cases) {
    SCOPED_TRACE(args.empty() ? std::string("(no arguments)") : args.back());
    RunResult r = Wm(args);
    EXPECT_NE(r.exitCode, 0);
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // exactly one line
    EXPECT_EQ(r.err.rfind("wm8eutil: ", 0), 0u) << r.err;
  }
  EXPECT_EQ(ReadAll(dir / "tmp.wma"), "older result");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"tmp.wma", "notwave.wav", "tmp.wav"}));

  ASSERT_EQ(Wm({"-input", (dir / "tmp.wav").string(), "-output", out, "-title", "t"}).exitCode, 0);
  ExpectWma(dir / "tmp.wma", "t", 0.3);
}
