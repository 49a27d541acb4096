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
  // The same samples from the window and from "korvessa convert", frame for frame; a 0.5 s
  // delay is exactly 0.6 s of silence before the song and after its sound, from either.
  void windowAndCommandLineGiveTheSameSamples() {
    AppFixture fx;
    fx.writeIni("[Wait]\nCount=5\n[Option]\nWait=1\n");
    fx.start();
    const auto libs = kvtest::run({"/usr/bin/ldd", KV_BIN_DIR "/korvessa"});
    QVERIFY2(libs.out.find("libQt6Core") != std::string::npos && libs.out.find("libQt6Gui") == std::string::npos &&
                 libs.out.find("libQt6Widgets") == std::string::npos,
             libs.out.c_str());
    kvtest::WaveData takes[2][2];  // [window][delayed]
    for (const auto& [name, window, delayed] : {std::tuple{"window, delayed", true, true}, {"window", true, false},
                                                {"command line, delayed", false, true}, {"command line", false, false}}) {
      const QString out = fx.root->filePath(name);
      QDir().mkpath(out);
      if (window) {
        if (!delayed) fx.form->ApplyWaitAnswer("0");
        QVERIFY2(Record(fx, out, 120, {kScale}) && fx.messages.empty(), name);
      } else {
        const auto r = Convert(fx, {"--out", out, "--sample", "120", "--delay", delayed ? "0.5" : "0", kScale});
        QVERIFY2(r.exitCode == 0 && r.err.empty(), r.err.c_str());  // nothing but its own lines
        QCOMPARE(QString::fromStdString(r.out).trimmed(), out + "/test-c-major-scale.wav");
      }
      const kvtest::WaveData w = Read(out + "/test-c-major-scale.wav");
      QVERIFY2(w.ok && w.rate == 44100 && w.bits == 16 && w.channels == 2 && w.peak() > 0.05, name);
      takes[window][delayed] = w;
    }
    QVERIFY(takes[1][1].samples == takes[0][1].samples);
    QVERIFY(takes[1][0].samples == takes[0][0].samples);
    // 0.6 s at 44100 Hz, stereo: the delayed take is the other one between two such silences.
    std::vector<int> framed(26460 * 2, 0);
    framed.insert(framed.end(), takes[0][0].samples.begin(), takes[0][0].samples.end());
    framed.insert(framed.end(), 26460 * 2, 0);
    QVERIFY(takes[0][1].samples == framed);
  }

  // Worker threads (-j 2) convert each song exactly as one worker does, in every format and
  // through the wave filter: no song reaches another worker's synthesizer, recording, filter or
  // encoder, and the files are equal byte for byte.
  void commandLineWorkersConvertAsOneDoes() {
    AppFixture fx;
    const QString scale = kScale, chords = kCorpus + "test-multichannel-chords-0.mid",
                  percussion = kCorpus + "test-all-gm-percussion.mid";
    const struct {
      QStringList options;
      QStringList songs;
      const char* stream;  // ffprobe's codec, rate and channels
    } rows[] = {{{"--format", "wav"}, {scale, chords, percussion}, "pcm_s16le 44100 2"},
                {{"--format", "mp3"}, {scale, chords}, "mp3 44100 2"},
                {{"--format", "wma"}, {scale, chords}, "wmav2 44100 2"},
                {{"--format", "flac", "--normalize"}, {scale, chords}, "flac 44100 2"},
                {{"--format", "opus", "--loudness", "-16"}, {scale, chords}, "opus 48000 2"}};
    for (const auto& row : rows) {
      const QString format = row.options[1], tag = row.options.join(' ');
      for (const char* jobs : {"1", "2"}) {
        QStringList args{"--out", fx.root->path() + "/" + format + jobs, "--sample", "120", "--delay", "0.5", "-j", jobs};
        const auto r = Convert(fx, args + row.options + row.songs);
        QVERIFY2(r.exitCode == 0, qPrintable(tag + ": " + QString::fromStdString(r.err)));
      }
      for (const auto& song : row.songs) {
        const QString name = "/" + QFileInfo(song).completeBaseName() + "." + format;
        const std::string one = (fx.root->path() + "/" + format + "1" + name).toStdString();
        auto p = kvtest::probe(one);
        const QString stream = QString::fromStdString(p["codec_name"] + " " + p["sample_rate"] + " " + p["channels"]);
        QVERIFY2(stream == row.stream && kvtest::maxVolumeDb(one) > -30, qPrintable(tag + name + ": " + stream));
        QVERIFY2(kvtest::readBytes(one) == kvtest::readBytes((fx.root->path() + "/" + format + "2" + name).toStdString()),
                 qPrintable(tag + name));
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
             QStringLiteral("song.mid を変換できませんでした。\r\nThe recording could not be saved (No such file or directory): ") + out +
                 "/song.wav");
    QVERIFY(!QDir(out).exists());
    QCOMPARE(f->lstSource->currentRow(), 1);
    QCOMPARE(kvtest::readBytes(song.toStdString()), smf::Notes(60));  // the song untouched
  }

  // Stop during a batch ends the song's recording where it is and keeps it; the batch ends there.
  void stopKeepsTheRecordingSoFar() {
    AppFixture fx;
    frmMain* f = fx.start();
    QTemporaryDir in, out;
    const QString song = in.filePath("long.mid");
    kvtest::writeText(song.toStdString(), smf::Notes(6000));  // 50 minutes
    f->mnuSetPlay_Click(1);
    QVERIFY(Record(fx, out.path(), 120, {song, kScale}, [f] {
      const QString status = f->Panel("status")->text();  // "REC. mm:ss/mm:ss"
      if (!status.startsWith(QStringLiteral("REC. ")) || status.mid(5, 2).toInt() * 60 + status.mid(8, 2).toInt() < 2) return false;
      f->Toolbar1_ButtonClick(f->Button("Stop"));
      return true;
    }));
    QVERIFY(fx.messages.empty());
    QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList("long.wav"));
    const auto w = Read(out.filePath("long.wav"));
    QVERIFY2(w.ok && w.seconds() >= 2.0 && w.seconds() < 1500.0 && w.peak() > 0.02, qPrintable(Num(w.seconds()) + " " + Num(w.peak())));
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
