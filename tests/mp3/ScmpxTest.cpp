// scmpx.exe run as the program runs it: a process with the bit-rate option and the two quoted paths.
#include <gtest/gtest.h>

#include "WaveFiles.h"

namespace {

using Args = std::vector<std::string>;
kvtest::RunResult scmpx(Args args) {
  args.insert(args.begin(), KV_BIN_DIR "/tools/scmpx.exe");
  return kvtest::run(args);
}

TEST(Scmpx, EncodesWithTheBitRateOption) {
  kvtest::TempDir dir;
  const std::string wav = dir.file("a song.wav"), mp3 = dir.file("a song.mp3");
  kvtest::writeMusicWave(wav, 32000, 16, 2, 1.0);
  for (auto [opts, kbps] : {std::pair<Args, int>{{"-e", "-b9", "-f"}, 128}, {{"-e", "-b7"}, 96}, {{"-e"}, 128},
                            {{"-e", "-b11"}, 192}, {{"-e", "-b3", "-f"}, 48}}) {
    opts.insert(opts.end(), {wav, mp3});
    auto r = scmpx(opts);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(kvtest::encodedProblem(mp3, "mp3 " + std::to_string(kbps * 1000) + " 32000 2", 1.0, kvtest::mp3DurationTolerance(32000)), "");
  }
  EXPECT_EQ(dir.list().size(), 2u);
}

TEST(Scmpx, BadInputGivesAMessageAndNoOutput) {
  kvtest::TempDir dir;
  kvtest::writeText(dir.file("text.wav"), "plain text, not a WAVE file\n");
  kvtest::writeMusicWave(dir.file("good.wav"), 44100, 16, 2, 0.5);
  kvtest::writeText(dir.file("cut.wav"), kvtest::readBytes(dir.file("good.wav")).substr(0, 30));
  const std::string out = dir.file("out.mp3");
  for (const Args& args : {Args{"-e", dir.file("missing.wav"), out}, Args{"-e", dir.file("text.wav"), out},
                           Args{"-e", dir.file("cut.wav"), out}, Args{"-e", "-b12", dir.file("good.wav"), out},
                           Args{"-e", dir.file("good.wav")}, Args{"-e", dir.file("good.wav"), dir.file("no folder/out.mp3")}}) {
    auto r = scmpx(args);
    EXPECT_NE(r.exitCode, 0) << args[1];
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
    EXPECT_EQ(r.err.rfind("scmpx: ", 0), 0u) << r.err;
    EXPECT_FALSE(kvtest::exists(out));
  }
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"cut.wav", "good.wav", "text.wav"}));  // nothing else
}

}  // namespace
