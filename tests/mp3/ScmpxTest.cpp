// scmpx.exe run as the program runs it: a process with the bit-rate option and the two quoted paths.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"

namespace {

const std::string kScmpx = KV_BIN_DIR "/tools/scmpx.exe";

TEST(Scmpx, EncodesWithTheBitRateOption) {
  kvtest::TempDir dir;
  const std::string wav = dir.file("a song.wav"), mp3 = dir.file("a song.mp3");
  kvtest::writeMusicWave(wav, 32000, 16, 2, 1.0);
  struct Case { std::vector<std::string> opts; int kbps; };
  for (const Case& c : {Case{{"-e", "-b9", "-f"}, 128}, Case{{"-e", "-b7"}, 96}, Case{{"-e"}, 128},
                        Case{{"-e", "-b11"}, 192}, Case{{"-e", "-b3", "-f"}, 48}}) {
    std::vector<std::string> argv{kScmpx};
    argv.insert(argv.end(), c.opts.begin(), c.opts.end());
    argv.push_back(wav);
    argv.push_back(mp3);
    auto r = kvtest::run(argv);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    auto p = kvtest::probe(mp3);
    EXPECT_EQ(p["codec_name"], "mp3");
    EXPECT_EQ(p["bit_rate"], std::to_string(c.kbps * 1000));
    EXPECT_EQ(p["sample_rate"], "32000");
    const double d = std::atof(p["duration"].c_str());
    EXPECT_GE(d, 1.0);
    EXPECT_LE(d, 1.0 + kvtest::mp3DurationTolerance(32000));
  }
  EXPECT_EQ(dir.list().size(), 2u);
}

TEST(Scmpx, BadInputGivesAMessageAndNoOutput) {
  kvtest::TempDir dir;
  kvtest::writeText(dir.file("text.wav"), "plain text, not a WAVE file\n");
  kvtest::writeMusicWave(dir.file("good.wav"), 44100, 16, 2, 0.5);
  kvtest::writeText(dir.file("cut.wav"), kvtest::readBytes(dir.file("good.wav")).substr(0, 30));
  struct Case { std::vector<std::string> args; };
  for (const Case& c : {Case{{"-e", dir.file("missing.wav"), dir.file("out.mp3")}},
                        Case{{"-e", dir.file("text.wav"), dir.file("out.mp3")}},
                        Case{{"-e", dir.file("cut.wav"), dir.file("out.mp3")}},
                        Case{{"-e", "-b12", dir.file("good.wav"), dir.file("out.mp3")}},
                        Case{{"-e", dir.file("good.wav")}},
                        Case{{"-e", dir.file("good.wav"), dir.file("no folder/out.mp3")}}}) {
    std::vector<std::string> argv{kScmpx};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    auto r = kvtest::run(argv);
    EXPECT_NE(r.exitCode, 0) << c.args[1];
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
    EXPECT_EQ(r.err.rfind("scmpx: ", 0), 0u) << r.err;
    EXPECT_FALSE(kvtest::exists(dir.file("out.mp3")));
  }
  EXPECT_EQ(dir.list().size(), 3u);  // text.wav, good.wav, cut.wav: nothing else
}

}  // namespace
