// scmpx.exe run as the program runs it: a process with the bit-rate option and the two quoted
// paths; and its own window, which encodes the files chosen in it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include "EncodeWindow.h"
#include "WaveFiles.h"

namespace {

using Args = std::vector<std::string>;
// Without a desktop session, as the program's conversions may run; a window that opened
// anyway would end by the time limit.
kvtest::RunResult scmpx(Args args) {
  args.insert(args.begin(), KV_BIN_DIR "/tools/scmpx.exe");
  kvtest::RunOptions o;
  o.timeoutMs = 20000;
  return kvtest::run(args, {"DISPLAY", "WAYLAND_DISPLAY"}, o);
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
  for (const Args& args : {Args{}, Args{"-e", dir.file("missing.wav"), out}, Args{"-e", dir.file("text.wav"), out},
                           Args{"-e", dir.file("cut.wav"), out}, Args{"-e", "-b12", dir.file("good.wav"), out},
                           Args{"-e", dir.file("good.wav")}, Args{"-e", dir.file("good.wav"), dir.file("no folder/out.mp3")}}) {
    auto r = scmpx(args);
    EXPECT_EQ(r.exitCode, args.size() < 3 || args[1] == "-b12" ? 2 : 1) << args.size();
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
    EXPECT_EQ(r.err.rfind("scmpx: ", 0), 0u) << r.err;
    EXPECT_FALSE(kvtest::exists(out));
  }
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"cut.wav", "good.wav", "text.wav"}));  // nothing else
}

// The window encodes its files one after another with its bit rate and fast option, each MP3
// beside its WAVE, and says for each file what was written or why not; its buttons follow.
TEST(Scmpx, WindowEncodesItsFilesAndSaysWhatBecameOfEach) {
  int argc = 1;
  char name[] = "scmpx", *argv[] = {name, nullptr};
  QApplication app(argc, argv);
  kvtest::TempDir dir;
  kvtest::writeMusicWave(dir.file("曲 1.WAV"), 32000, 16, 2, 1.0);
  kvtest::writeMusicWave(dir.file("low.wav"), 11025, 16, 1, 0.5);
  kvtest::writeText(dir.file("text.wav"), "plain text\n");
  kvtest::writeMusicWave(dir.file("mono"), 48000, 16, 1, 0.5);
  kv::scmpx::EncodeWindow w;
  auto* encode = w.findChild<QPushButton*>("encodeButton");
  auto* stop = w.findChild<QPushButton*>("stopButton");
  EXPECT_FALSE(encode->isEnabled());  // nothing to encode yet
  const QString folder = QString::fromStdString(dir.path()) + "/";
  w.addFiles({folder + "曲 1.WAV", folder + "low.wav", folder + "text.wav", folder + "gone.wav", folder + "mono", folder + "low.wav"});
  EXPECT_EQ(w.files().size(), 5);  // a file already listed is not listed twice
  auto* rate = w.findChild<QComboBox*>("bitrate");
  EXPECT_EQ(rate->currentData().toInt(), 128);
  rate->setCurrentIndex(rate->findData(64));
  w.findChild<QCheckBox*>("fast")->setChecked(true);
  QEventLoop loop;
  QObject::connect(&w, &kv::scmpx::EncodeWindow::runFinished, &loop, &QEventLoop::quit);
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);
  encode->click();
  EXPECT_TRUE(w.running() && stop->isEnabled() && !encode->isEnabled());
  loop.exec();
  ASSERT_FALSE(w.running());
  EXPECT_EQ(w.report().toStdString(),
            "曲 1.mp3 を書き出しました (64 kbps)。\n"
            "low.wav をエンコードできませんでした: サンプリングレート 11025 Hz は MP3 にできません "
            "(16000、22050、24000、32000、44100、48000 Hz のみ)。\n"
            "text.wav をエンコードできませんでした: WAVE ファイルではありません。\n"
            "gone.wav をエンコードできませんでした: ファイルを開けません (ファイルがありません)。\n"
            "mono.mp3 を書き出しました (64 kbps)。");
  EXPECT_TRUE(encode->isEnabled() && !stop->isEnabled());
  EXPECT_EQ(kvtest::encodedProblem(dir.file("曲 1.mp3"), "mp3 64000 32000 2", 1.0, kvtest::mp3DurationTolerance(32000)), "");
  EXPECT_EQ(kvtest::encodedProblem(dir.file("mono.mp3"), "mp3 64000 48000 1", 0.5, kvtest::mp3DurationTolerance(48000)), "");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"low.wav", "mono", "mono.mp3", "text.wav", "曲 1.WAV", "曲 1.mp3"}));
}

}  // namespace
