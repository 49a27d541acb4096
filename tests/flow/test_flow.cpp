// Whole conversions on the real media layer: the window and "korvessa convert" give the same
// samples with the same delays, and the window's recording when other files or the folder fail
// meanwhile.
#include <QComboBox>
#include <QLabel>
#include <QtTest>

#include "AppFixture.h"
#include "MidiFiles.h"
#include "Process.h"
#include "WaveFiles.h"
#include "app/Globals.h"
#include "postproc/cShellX.h"

using kv::G;

namespace {
const QString kCorpus = QStringLiteral(KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/");
const QString kScale = kCorpus + "test-c-major-scale.mid";  // 4.0 s, the first note at once

kvtest::WaveData Read(const QString& path) { return kvtest::readWave(path.toStdString()); }
QString Num(double v) { return QString::number(v); }

// The largest difference between two recordings once their leading silences are aligned: on the
// mono mix, or sample for sample when `exact`; over `seconds` when given. 2 when they cannot match.
double Difference(const kvtest::WaveData& x, const kvtest::WaveData& y, bool exact = false, double seconds = 0) {
  const int64_t a = int64_t(x.firstSound() * x.rate), b = int64_t(y.firstSound() * y.rate);
  int64_t n = std::min(x.frames() - a, y.frames() - b);
  if (seconds > 0) n = std::min(n, int64_t(seconds * x.rate));
  if (x.rate != y.rate || x.channels != y.channels || a < 0 || b < 0 || n <= 3 * x.rate) return 2;
  double diff = 0;
  for (int64_t i = 0; i < n * (exact ? x.channels : 1); ++i)
    diff = std::max(diff, exact ? std::abs(x.samples[size_t(a * x.channels + i)] - y.samples[size_t(b * y.channels + i)])
                                : double(std::fabs(x.mono(a + i) - y.mono(b + i))));
  return diff;
}

// Runs "korvessa convert" with these arguments and the fixture's system setup, without a
// display, a platform plugin choice or a runtime folder (a bare name unsets the variable).
kvtest::RunResult Convert(const AppFixture& fx, const QStringList& args) {
  std::vector<std::string> argv{KV_BIN_DIR "/korvessa", "convert"};
  for (const QString& a : args) argv.push_back(a.toStdString());
  return kvtest::run(argv, {"KORVESSA_SYSTEM_INI=" + fx.root->filePath("system.ini").toStdString(), "DISPLAY",
                            "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"});
}

// Converts `files` from the first into `out` with recording template `sample`; `during` runs
// while a song records until it says it has done its part. True when the run ended and it did.
bool Record(AppFixture& fx, const QString& out, int sample, const QStringList& files,
            const std::function<bool()>& during = [] { return true; }) {
  frmMain* f = fx.form.get();
  f->cboSample->setCurrentIndex(f->cboSample->findData(sample));
  G().WavePath = out;
  f->AddSourceFiles(files);
  f->lstSource->setCurrentRow(0);
  bool done = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!done && f->Engine()->CurrentStep() == kv::ConversionController::Step::Recording) done = during();
  });
  poll.start(1);
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  return fx.waitIdle() && done;
}
}  // namespace

class FlowTest : public QObject {
  Q_OBJECT

 private slots:
  // The same samples from the window and from "korvessa convert"; a 0.5 s delay is 0.6 s of
  // silence before the first note and after the song, from either. The waits are wall-clock
  // timer ticks: a busy machine can only make them longer.
  void windowAndCommandLineGiveTheSameSamples() {
    AppFixture fx;
    fx.writeIni("[Wait]\nCount=5\n[Option]\nWait=1\n");
    fx.start();
    const auto libs = kvtest::run({"/usr/bin/ldd", KV_BIN_DIR "/korvessa"});
    QVERIFY2(libs.out.find("libQt6Core") != std::string::npos && libs.out.find("libQt6Gui") == std::string::npos &&
                 libs.out.find("libQt6Widgets") == std::string::npos,
             libs.out.c_str());
    kvtest::WaveData undelayed[2];
    for (const auto& [name, window, delay] : {std::tuple{"window, delayed", true, 0.6}, {"window", true, 0.0},
                                              {"command line, delayed", false, 0.6}, {"command line", false, 0.0}}) {
      const QString out = fx.root->filePath(name);
      QDir().mkpath(out);
      if (window) {
        if (delay == 0) fx.form->ApplyWaitAnswer("0");
        QVERIFY2(Record(fx, out, 120, {kScale}) && fx.messages.empty(), name);
      } else {
        const auto r = Convert(fx, {"--out", out, "--sample", "120", "--delay", delay ? "0.5" : "0", kScale});
        QVERIFY2(r.exitCode == 0 && r.err.empty(), r.err.c_str());  // nothing but its own lines
        QCOMPARE(QString::fromStdString(r.out).trimmed(), out + "/test-c-major-scale.wav");
      }
      const kvtest::WaveData w = Read(out + "/test-c-major-scale.wav");
      QVERIFY2(w.ok && w.rate == 44100 && w.bits == 16 && w.channels == 2, name);
      QVERIFY2(w.firstSound() >= delay - 0.02 && w.firstSound() < delay + 0.25, qPrintable(name + Num(w.firstSound())));
      QVERIFY2(w.seconds() > 4 + 2 * delay - 0.03 && w.seconds() < 4 + 2 * delay + 0.5, qPrintable(name + Num(w.seconds())));
      if (delay == 0) undelayed[window ? 0 : 1] = w;
    }
    // The same samples once the leading silence is aligned.
    const double diff = Difference(undelayed[0], undelayed[1]);
    QVERIFY2(diff < 1e-4, qPrintable(Num(diff)));
  }

  // Worker threads (-j 2) convert each song as one worker does, in every format: no song reaches
  // another worker's synthesizer, recording or encoder. The same stream and title either way;
  // the lossless formats hold the same samples once the leading silences are aligned, up to the
  // song's end (the notes still sounding then are released when the end has been noticed, a
  // moment that follows the clock, and so does the silence before the first note, which a lossy
  // encoder's frames do not align away: their own-state forms are compared byte for byte with
  // the shared libraries in the encoder tests).
  void commandLineWorkersConvertAsOneDoes() {
    AppFixture fx;
    const std::pair<QString, double> scale{kScale, 4.0}, chords{kCorpus + "test-multichannel-chords-0.mid", 4.0},
        percussion{kCorpus + "test-all-gm-percussion.mid", 137.25};
    const struct {
      const char* format;
      std::vector<std::pair<QString, double>> songs;
      const char* stream;  // ffprobe's codec, rate and channels of either output
      bool lossless;
    } rows[] = {{"wav", {scale, chords, percussion}, "pcm_s16le 44100 2", true}, {"mp3", {scale, chords}, "mp3 44100 2", false},
                {"wma", {scale, chords}, "wmav2 44100 2", false},           {"flac", {scale, chords}, "flac 44100 2", true},
                {"opus", {scale, chords}, "opus 48000 2", false}};
    for (const auto& row : rows) {
      for (const char* jobs : {"1", "2"}) {
        const QString out = fx.root->path() + "/" + row.format + jobs;
        QStringList args{"--out", out, "--sample", "120", "--delay", "0", "--format", row.format, "-j", jobs};
        for (const auto& song : row.songs) args << song.first;
        const auto r = Convert(fx, args);
        QVERIFY2(r.exitCode == 0, qPrintable(QString(row.format) + ": " + QString::fromStdString(r.err)));
      }
      for (const auto& [song, seconds] : row.songs) {
        const QString name = "/" + QFileInfo(song).completeBaseName() + "." + row.format;
        kvtest::WaveData both[2];
        std::string titles[2];
        for (int k = 0; k < 2; ++k) {
          const QString file = fx.root->path() + "/" + row.format + QString::number(k + 1) + name;
          auto p = kvtest::probe(file.toStdString());
          const QString stream = QString::fromStdString(p["codec_name"] + " " + p["sample_rate"] + " " + p["channels"]);
          QVERIFY2(stream == row.stream, qPrintable(file + ": " + stream));
          titles[k] = p["title"];
          // Decoded as a player decodes it.
          const std::string wave = file.toStdString() + ".decoded.wav";
          QVERIFY2(kvtest::run({"/usr/bin/ffmpeg", "-v", "error", "-i", file.toStdString(), "-c:a", "pcm_s16le", wave}).exitCode == 0,
                   qPrintable(file));
          both[k] = Read(QString::fromStdString(wave));
        }
        QVERIFY2(titles[0] == titles[1], qPrintable(row.format + name + ": " + QString::fromStdString(titles[1])));
        QVERIFY2(both[0].ok && both[1].ok && both[0].peak() > 0.02 && both[1].peak() > 0.02, qPrintable(row.format + name));
        if (!row.lossless) continue;
        const double diff = Difference(both[0], both[1], true, seconds - 0.1);
        QVERIFY2(diff == 0, qPrintable(row.format + name + ": " + Num(diff)));
      }
    }
  }

  // While a song records, the user selects an entry whose header is cut off: the recording
  // is kept, whole. The output folder removed while the first of two songs records: the
  // user is told, the batch ends there and nothing makes the folder again.
  void recordingWhileOtherThingsFail() {
    AppFixture fx;
    frmMain* f = fx.start();
    QTemporaryDir in, parent;
    const QString cut = in.filePath("cut.mid"), song = in.filePath("song.mid"), out = parent.filePath("out");
    kvtest::writeText(cut.toStdString(), std::string("MThd\0\0\0\x06\0", 9));
    kvtest::writeText(song.toStdString(), smf::Notes(60));  // 30 s: time enough to act while it records
    QVERIFY(Record(fx, parent.path(), 120, {song, cut}, [f] {
      f->lstSource->setCurrentRow(1);
      return true;
    }));
    QVERIFY(fx.messages.empty());
    const auto w = Read(parent.filePath("song.wav"));
    QVERIFY2(w.ok && w.seconds() >= 30.0 && w.peak() > 0.02, qPrintable(Num(w.seconds()) + " " + Num(w.peak())));

    f->Sources->Clear();
    f->mnuSetPlay_Click(1);
    QVERIFY(QDir().mkpath(out));
    QVERIFY(Record(fx, out, 120, {song, kScale}, [&out] { return QDir(out).removeRecursively(); }));
    QCOMPARE(fx.messages.size(), size_t(1));
    QCOMPARE(fx.messages[0].text,
             QStringLiteral("song.mid を変換できませんでした。\r\nThe recording could not be saved to ") + out + "/song.wav");
    QVERIFY(!QDir(out).exists());
    QCOMPARE(f->lstSource->currentRow(), 1);
    QCOMPARE(kvtest::readBytes(song.toStdString()), smf::Notes(60));  // the song untouched
  }

  void commandLineIsSplitAtTheFirstFindableProgram() {
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString prog = dir.path() + "/My Tools/run me.sh";
    QDir().mkpath(dir.path() + "/My Tools");
    kvtest::writeText(prog.toStdString(), "#!/bin/sh\nexit 0\n", true);
    const auto split = cShellX().SplitCommandLine(prog + " -a \"x y\"");
    QCOMPARE(split.program + "|" + split.parameters, prog + "|-a \"x y\"");
    // A program that cannot be started by either method: false, at once.
    kv::ProgramRun run;
    QVERIFY(!run.Start("/nonexistent/program -x", [] {}));
    // A program that ends at once is seen ended at the first look, about 100 ms on; never
    // from inside Start.
    QElapsedTimer t;
    t.start();
    bool ended = false;
    QVERIFY(run.Start(prog + " arg", [&ended] { ended = true; }));
    QVERIFY(!ended);
    QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
    QVERIFY(t.elapsed() >= 100);
  }
};

QTEST_MAIN(FlowTest)
#include "test_flow.moc"
