// Damaged MIDI files in the window: the selection display of every corpus file and 200 damaged
// ones, and files or folders that fail while a song records.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QRegularExpression>
#include <QtTest>

#include <atomic>
#include <functional>
#include <cstdio>
#include <thread>

#include "AppFixture.h"
#include "MidiFiles.h"
#include "Mutants.h"
#include "WaveFiles.h"
#include "app/Globals.h"

using kv::G;

namespace {
const QString kCorpus = QStringLiteral(KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/");

std::vector<std::string> ShortSongs() {
  std::vector<std::string> songs;
  for (const char* name : {"test-c-major-scale.mid", "test-multichannel-chords-0.mid", "test-2-tracks-type-1.mid",
                           "test-2-tracks-type-0.mid", "test-karaoke-kar.mid"})
    songs.push_back(kvtest::readBytes((kCorpus + name).toStdString()));
  return songs;
}

// Ends the test binary (a failure) when one step takes longer than its bound: a hang must not
// stall the whole suite.
class Watchdog {
 public:
  explicit Watchdog(int seconds) : bound_(seconds), thread_([this] { Watch(); }) {}
  ~Watchdog() {
    quit_ = true;
    thread_.join();
  }
  void Step(const QString& what) {
    std::lock_guard<std::mutex> lock(mu_);
    what_ = what.toStdString();
    tick_ = 0;
  }

 private:
  void Watch() {
    while (!quit_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::lock_guard<std::mutex> lock(mu_);
      if (++tick_ > bound_ * 10) {
        std::fprintf(stderr, "HANG: %s took longer than %d s\n", what_.c_str(), bound_);
        std::abort();
      }
    }
  }
  int bound_;
  std::mutex mu_;
  std::string what_;
  int tick_ = 0;
  std::atomic<bool> quit_{false};
  std::thread thread_;
};

// A song of `beats` half-second notes.
std::string Notes(uint32_t beats) {
  smf::Track t;
  for (uint32_t beat = 0; beat < beats; ++beat) {
    t.Event(beat * 96, {0x90, 60 + int(beat % 12), 0x60});
    t.Event(beat * 96 + 80, {0x80, 60 + int(beat % 12), 0});
  }
  t.End(beats * 96);
  return smf::File(0, 96, {t});
}

// Converts from the selected entry on and, once while a song records, runs `during` until it
// says it has done its part; true when the run ended and `during` did.
bool ConvertWith(AppFixture& fx, frmMain* f, const std::function<bool()>& during) {
  bool done = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!done && f->Engine()->CurrentStep() == kv::ConversionController::Step::Recording) done = during();
  });
  poll.start(1);
  Watchdog dog(60);
  dog.Step("the conversion");
  f->Toolbar1_ButtonClick(f->Button("Rec"));
  return fx.waitIdle() && done;
}

bool HasHeader(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) && f.readAll().contains("MThd");
}
}  // namespace

class WindowBadInputsTest : public QObject {
  Q_OBJECT

 private slots:
  void selectionDisplayOfEveryFile() {
    AppFixture fx;
    frmMain* f = fx.start();
    f->chkTitleToFilename->setChecked(false);
    QTemporaryDir in;
    QStringList files;
    for (const QString& n : QDir(kCorpus).entryList({"*.mid"}, QDir::Files, QDir::Name)) files << kCorpus + n;
    for (const auto& m : kvtest::MakeMutants(ShortSongs(), 200)) {
      const QString p = in.filePath(QString::fromStdString(m.name));
      kvtest::writeText(p.toStdString(), m.bytes);
      files << p;
    }
    f->AddSourceFiles(files);
    Watchdog dog(15);
    const QRegularExpression ready(QStringLiteral("^Ready\\(\\d\\d+:\\d\\d\\)$"));
    for (int i = 0; i < files.size(); ++i) {
      dog.Step(files[i]);
      f->lstSource->setCurrentRow(i);
      const QString status = f->Panel("status")->text();
      const QString name = QFileInfo(files[i]).fileName();
      if (HasHeader(files[i])) {
        QVERIFY2(ready.match(status).hasMatch(), qPrintable(name + ": " + status));
        QVERIFY2(!f->Panel("Title")->text().isEmpty(), qPrintable(name));
      } else {
        QCOMPARE(status, QStringLiteral("MIDIファイルを読み込めません"));
      }
      // The output name never depends on the damage: the file's own name, made a WAVE name.
      QCOMPARE(f->lblWaveFileName->text(), G().WavePath + "/" + name.left(name.size() - 3) + "wav");
    }
    QVERIFY(fx.messages.empty());
  }

  // While a song records, the user selects an entry whose header is cut off: the selection
  // display cannot measure that file, and the recording running meanwhile is kept, whole.
  void anotherFilesFailureKeepsTheRecording() {
    AppFixture fx;
    frmMain* f = fx.start();
    QTemporaryDir in, out;
    const QString cut = in.filePath("cut.mid"), song = in.filePath("song.mid");
    kvtest::writeText(cut.toStdString(), std::string("MThd\0\0\0\x06\0", 9));
    kvtest::writeText(song.toStdString(), Notes(60));  // 30 s: time enough to select while it records
    G().WavePath = out.path();
    f->AddSourceFiles({song, cut});
    f->lstSource->setCurrentRow(0);
    QVERIFY(ConvertWith(fx, f, [f] {
      f->lstSource->setCurrentRow(1);
      return true;
    }));
    QCOMPARE(fx.messages.size(), size_t(0));
    const auto w = kvtest::readWave(out.filePath("song.wav").toStdString());
    QVERIFY2(w.ok && w.seconds() >= 30.0, qPrintable(QString::number(w.seconds())));
    QVERIFY2(w.peak() > 0.02, qPrintable(QString::number(w.peak())));
  }

  void outputFolderRemovedDuringBatch() {
    AppFixture fx;
    frmMain* f = fx.start();
    QTemporaryDir in, parent;
    const QString out = parent.filePath("out");
    QVERIFY(QDir().mkpath(out));
    const std::string song = Notes(120);  // a minute, so the folder goes while the first item records
    const QString minute = in.filePath("minute.mid");
    kvtest::writeText(minute.toStdString(), song);
    f->mnuSetPlay_Click(1);
    G().WavePath = out;
    f->AddSourceFiles({minute, kCorpus + "test-c-major-scale.mid"});
    f->lstSource->setCurrentRow(0);
    QVERIFY(ConvertWith(fx, f, [&out] { return QDir(out).removeRecursively(); }));
    QCOMPARE(fx.messages.size(), size_t(1));
    QCOMPARE(fx.messages[0].text,
             QStringLiteral("minute.mid を変換できませんでした。\r\nThe recording could not be saved to ") + out + "/minute.wav");
    // The batch ended there; nothing made the folder again, and the song is untouched.
    QVERIFY(!QDir(out).exists());
    QCOMPARE(f->lstSource->currentRow(), 1);
    QCOMPARE(kvtest::readBytes(minute.toStdString()), song);
  }
};

QTEST_MAIN(WindowBadInputsTest)
#include "test_window_bad_inputs.moc"
