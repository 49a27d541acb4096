// The conversion and playback sequences without a window, on the recording fake media layer.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "FakeMediaLayer.h"
#include "ScratchFolder.h"
#include "WaveFiles.h"
#include "encoders/GogoLibrary.h"
#include "engine/ConversionController.h"

namespace {
const QString kCorpus = QStringLiteral(KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/");
const QString kScale = kCorpus + "test-c-major-scale.mid";
const QString kChords = kCorpus + "test-multichannel-chords-0.mid";

// A program that runs `body` (by default: ends at once without writing anything).
QString Script(const QString& path, const std::string& body = "exit 0") {
  kvtest::writeText(path.toStdString(), "#!/bin/sh\n" + body + "\n", true);
  return path;
}
}  // namespace

class ConversionControllerTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  std::unique_ptr<FakeMediaLayer> media;

  kv::ConversionJob Job(const QStringList& sources) const {
    kv::ConversionJob j;
    j.sources = sources;
    j.entry = 0;
    j.outputFolder = dir.path();
    j.sampleTemplate = 120;
    j.sampleRate = 44100;
    return j;
  }

  // Runs job to its end; the reports as lines ("locked 1", "message text|style", ...). Each
  // item's sequencer plays until the first progress text, then stops; `atProgress` runs there.
  QStringList Run(const kv::ConversionJob& job, const std::function<void(kv::ConversionController&)>& atProgress = {},
                  bool play = false, bool* playedAtOnce = nullptr) {
    kv::ConversionController c;
    QStringList log;
    connect(&c, &kv::ConversionController::status, [&](const QString& t) {
      log << "status " + t;
      if (!t.startsWith("REC.") && !t.startsWith("Play ")) return;
      media->replies["status PlayMedia mode"] = "stopped";
      if (atProgress) atProgress(c);
    });
    connect(&c, &kv::ConversionController::entrySelected, [&](int row) { log << "select " + QString::number(row); });
    connect(&c, &kv::ConversionController::itemStarted, [&](int row, const QString& midi, const QString& wave) {
      log << "item " + QString::number(row) + " " + QFileInfo(wave).fileName();
      media->replies["status PlayMedia mode"] = QFile::exists(midi) ? "playing" : "stopped";  // a missing file never plays
    });
    connect(&c, &kv::ConversionController::locked, [&](bool conv) { log << "locked " + QString::number(conv); });
    connect(&c, &kv::ConversionController::unlocked, [&] { log << "unlocked"; });
    connect(&c, &kv::ConversionController::message,
            [&](const QString& t, int style) { log << "message " + t + "|" + QString::number(style); });
    bool over = false;
    connect(&c, &kv::ConversionController::finished, [&] { over = true; });
    play ? c.PlayCommand(job) : c.StartConversion(job);
    if (playedAtOnce) *playedAtOnce = media->texts().contains("play PlayMedia");
    if (!QTest::qWaitFor([&] { return over; }, 10000)) log << "never finished";
    if (c.Busy()) log << "still busy";
    return log;
  }

  QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }

 private slots:
  void init() {
    media = std::make_unique<FakeMediaLayer>();
    media->replies = {{"status PlayMedia position", "1000"}, {"status PlayMedia length", "4000"}};
    QDir(dir.path()).removeRecursively();
    QDir().mkpath(dir.path());
  }
  void cleanup() { media.reset(); }

  void refusalsStartNothing() {
    const QString held = dir.path() + "/test-c-major-scale.wav";
    struct Row {
      const char* name;
      std::function<void(kv::ConversionJob&)> set;
      QString message;
    };
    const Row rows[] = {
        {"no entry", [](kv::ConversionJob& j) { j.entry = -1; }, {}},
        {"MP3 of 8 bits", [](kv::ConversionJob& j) { j.encoder.outputType = 1, j.sampleBits = 8; },
         "MP3変換は16ビット形式のみです。|64"},
        {"normaliser at 16000 Hz", [](kv::ConversionJob& j) { j.normalise = true, j.sampleRate = 16000; },
         "ノーマライズ機能は、16000Hz/24000Hzには対応していません。|64"},
        {"wm8eutil at 24000 Hz", [](kv::ConversionJob& j) { j.encoder.outputType = 2, j.encoder.wma = 0, j.sampleRate = 24000; },
         "wm8eutilは、24000Hzおよび8ビットには対応していません。|64"},
        {"no output folder", [this](kv::ConversionJob& j) { j.outputFolder = dir.path() + "/gone"; },
         "保存先フォルダ " + dir.path() + "/gone が見つかりません。|48"},
        {"output held", [&](kv::ConversionJob&) {
           Script(held);
           QFile::setPermissions(held, QFile::ReadOwner);
         }, held + "が他のソフトで開かれています。|64"},
    };
    for (const Row& r : rows) {
      kv::ConversionJob job = Job({kScale});
      r.set(job);
      const QStringList expected = r.message.isEmpty() ? QStringList() : QStringList("message " + r.message);
      QCOMPARE(QString(r.name) + ": " + Run(job).join(", "), QString(r.name) + ": " + expected.join(", "));
      QVERIFY2(!media->texts().join('|').contains(QRegularExpression("RecMedia|PlayMedia")), r.name);  // nothing started
    }
    QCOMPARE(Files(), QStringList("test-c-major-scale.wav"));  // the held one, untouched
  }

  // The recorder gets the delay the controller would wait: 0.5 s waits six 100 ms ticks. A
  // fast take counts that silence itself, so the sequencer starts at once; a take on the clock
  // gets the wait.
  void delayGoesToTheRecorder() {
    for (const auto& [fast, tenths, delayMs, atOnce] : {std::tuple{"true", 5, 600, true}, {"false", 5, 600, false},
                                                        {"true", 0, 100, true}, {"false", 0, 100, false}}) {
      cleanup();
      init();
      media->replies["status RecMedia fast"] = fast;
      kv::ConversionJob j = Job({kScale});
      j.delay = true;
      j.delayTenths = short(tenths);
      bool playedAtOnce = false;
      Run(j, {}, false, &playedAtOnce);
      const QString row = QStringLiteral("fast %1, %2 tenths").arg(fast).arg(tenths);
      QVERIFY2(media->texts().contains("set RecMedia delay " + QString::number(delayMs)), qPrintable(row));
      QVERIFY2(playedAtOnce == atOnce, qPrintable(row));
    }
  }

  void batchItemsCommandsAndStop() {
    QCOMPARE(Run([this] {
               kv::ConversionJob j = Job({kScale, kChords});
               j.batch = true;
               j.port = 2;
               return j;
             }()),
             QStringList({"item 0 test-c-major-scale.wav", "locked 1", "status REC. 00:01/00:04", "unlocked", "select 1",
                          "item 1 test-multichannel-chords-0.wav", "locked 1", "status REC. 00:01/00:04", "unlocked",
                          "select 1"}));
    const QString wave = dir.path() + "/test-c-major-scale.wav";
    // The song's title and length are looked up for its output name, then it records and saves.
    QCOMPARE(media->texts().mid(4, 18),
             QStringList({"open \"" + wave + "\" alias RecMedia", "set RecMedia delay 0", "record RecMedia overwrite",
                          "status RecMedia fast",
                          "open \"" + kScale + "\" alias PlayMedia", "set PlayMedia port 2",
                          "set PlayMedia time format milliseconds", "play PlayMedia", "status PlayMedia mode",
                          "status PlayMedia position", "status PlayMedia length", "status PlayMedia mode",
                          "stop PlayMedia", "close PlayMedia", "stop RecMedia", "seek RecMedia to start",
                          "save RecMedia", "close RecMedia"}));
    QCOMPARE(Files(), QStringList({"test-c-major-scale.wav", "test-multichannel-chords-0.wav"}));
    // Stop while the first item records: the sequencer stops, the batch ends after the item.
    media->sent.clear();
    kv::ConversionJob j = Job({kScale, kChords});
    j.batch = true;
    const QStringList log = Run(j, [](kv::ConversionController& c) { c.StopRun(); });
    QCOMPARE(log.mid(3), QStringList({"unlocked", "select 1"}));
    QVERIFY(media->texts().contains("stop PlayMedia"));
    QVERIFY(!media->texts().join('|').contains(kChords));
  }

  void playbackBatchAndStop() {
    // A missing entry ends at once and the batch goes on.
    kv::ConversionJob j = Job({kScale, dir.path() + "/gone.mid", kChords});
    j.batch = true;
    QCOMPARE(Run(j, {}, true), QStringList({"item 0 ", "locked 0", "status Play 00:01/00:04", "unlocked", "select 1", "item 1 ",
                                             "locked 0", "unlocked", "select 2", "item 2 ", "locked 0",
                                             "status Play 00:01/00:04", "unlocked", "select 2"}));
    QCOMPARE(media->texts().filter(QRegularExpression("^open ")).size(), 3);
    QVERIFY(!QDir(dir.path()).entryList(QDir::Files).size());  // playback records nothing
  }

  void recordingOfNothingIsNoResult() {
    // The recorder never got the song: the file keeps only its header, yet the song lasts 4 s.
    media->replies["status Midi length"] = "4000";
    QVERIFY(Run(Job({kScale})).contains("message test-c-major-scale.mid を録音できませんでした。|48"));
    QCOMPARE(Files(), QStringList());
  }

  void filterAndEncoderSteps() {
    // A wave filter that writes nothing is reported; the encoder then runs and the WAVE goes.
    kv::ConversionJob j = Job({kScale});
    j.waveFilter = Script(dir.path() + "/waveflt.exe");
    j.encoder.scmpxPath = Script(dir.path() + "/scmpx.exe", "for a; do f=$a; done; echo mp3 > \"${f%.*}.mp3\"");
    j.normalise = true;
    j.encoder.outputType = 1;
    j.encoder.mp3 = 0;
    j.encoder.mp3Available[0] = true;
    QCOMPARE(Run(j).mid(3),
             QStringList({"message ノーマライズでエラーが発生しました。|64", "status Encoding...", "unlocked", "select 0"}));
    QCOMPARE(Files(), QStringList({"scmpx.exe", "test-c-major-scale.mp3", "waveflt.exe"}));
    QFile::remove(dir.path() + "/test-c-major-scale.mp3");
    // A filter that writes its output is not stopped by the user's own file named like its input.
    const std::string normal = (dir.path() + "/normal.wav").toStdString();
    kvtest::writeText(normal, "the user's own");
    Script(dir.path() + "/waveflt.exe", "cp \"$3\" \"$4\"");
    j.encoder.outputType = 0;
    QCOMPARE(Run(j).mid(3), QStringList({"unlocked", "select 0"}));
    QCOMPARE(Files(), QStringList({"normal.wav", "scmpx.exe", "test-c-major-scale.wav", "waveflt.exe"}));
    QCOMPARE(kvtest::readBytes(normal), std::string("the user's own"));
    // The filter's command line names the output folder's normal.wav and the recording, quoted.
    kv::ConversionController c;
    j.headCut = true;
    j.outputFolder = dir.path() + "/a b";
    QDir().mkpath(j.outputFolder);
    connect(&c, &kv::ConversionController::itemStarted, [&] {
      QCOMPARE(c.WaveFilterCommandLine(), j.waveFilter + " -autoofs -headcut 1 -normal 0.9 \"" + j.outputFolder +
                                              "/normal.wav\" \"" + j.outputFolder + "/test-c-major-scale.wav\"");
      c.StopRun();
    });
    c.StartConversion(j);
    QVERIFY(QTest::qWaitFor([&] { return !c.Busy(); }, 10000));
  }

  void mp3MadeWhileRecording() {
    // The recorder hands its blocks to the encoder as it records them, in sizes of its own;
    // the MP3 is then, byte for byte, the one gogo.dll makes of the saved WAVE, and the WAVE
    // goes. GoGo itself never starts.
    const std::vector<int> pcm = kvtest::musicSamples(44100, 16, 2, 1.5);
    const std::string reference = (dir.path() + "/reference.wav").toStdString();
    kvtest::writeWave(reference, 44100, 16, 2, pcm);
    const std::string data = kvtest::readBytes(reference).substr(kvtest::readBytes(reference).size() - pcm.size() * 2);
    kv::ConversionJob j = Job({kScale});
    j.encoder.outputType = 1;
    j.encoder.mp3 = 1;
    j.encoder.mp3Available[1] = true;
    j.encodeWhileRecording = true;
    j.encoder.bitrate = 160;
    j.encoder.jointStereo = true;  // GoGo's mode 2 below
    const QString wave = dir.path() + "/test-c-major-scale.wav";
    const QStringList log = Run(j, [&](kv::ConversionController&) {
      QVERIFY(media->tap);
      for (size_t at = 0, block = 4; at < data.size(); at += block, block = block * 3 % 40000 + 4)
        media->tap(media->tapContext, data.data() + at, UINT(std::min(block, data.size() - at)));
      QVERIFY(QFile::remove(wave) && QFile::copy(QString::fromStdString(reference), wave));  // what the recorder saves
    });
    QCOMPARE(log.mid(2), QStringList({"status REC. 00:01/00:04", "status Encoding...", "unlocked", "select 0"}));
    QCOMPARE(Files(), QStringList({"reference.wav", "test-c-major-scale.mp3"}));

    const kv::GogoApi* gogo = kv::LoadGogo(KV_BIN_DIR "/gogo.dll");
    QVERIFY(gogo && gogo->MPGE_initializeWorkVB() == 0);
    const QByteArray mp3 = (dir.path() + "/reference.mp3").toUtf8();
    gogo->MPGE_setConfigureVB(1, 0, reference.c_str());
    gogo->MPGE_setConfigureVB(2, 0, mp3.constData());
    gogo->MPGE_setConfigureVB(6, 44100, nullptr);
    gogo->MPGE_setConfigureVB(3, 2, nullptr);
    gogo->MPGE_setConfigureVB(4, 160, nullptr);
    QCOMPARE(gogo->MPGE_detectConfigureVB(), 0);
    int32_t r = 0;
    while ((r = gogo->MPGE_processFrameVB()) == 0) {}
    gogo->MPGE_closeCoderVB();
    gogo->MPGE_endCoderVB();
    QCOMPARE(r, 1);
    QVERIFY(kvtest::readBytes(mp3.toStdString()) == kvtest::readBytes((dir.path() + "/test-c-major-scale.mp3").toStdString()));
  }
};

QTEST_GUILESS_MAIN(ConversionControllerTest)
#include "test_conversion_controller.moc"
