// korvessa convert through every output road, with source files named as only Linux allows. Each
// song must come out whole under its own name, and nothing else.
#include <QtTest>

#include <filesystem>

#include "EncoderFixture.h"

namespace {
const QString kMidi = QStringLiteral(KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/test-c-major-scale.mid");

struct Name {
  QByteArray stem;  // on disk, as bytes
  QString title;    // what a WMA title tag reads
  QString song = QStringLiteral("C Major Scale Test");  // the song's title: what FLAC and Opus tags read
};
const Name kNames[] = {
    {"test-c-major-scale", "test-c-major-scale"},
    {"x\" -headcut 1 \"y", "x\" -headcut 1 \"y"},
    {"--normalize 0.5 song", "--normalize 0.5 song"},
    {"|:*?<>", "|:*?<>"},
    {"back\\\"slash\\", "back\\\"slash\\"},
    {"\x8b\xc8\x41", QStringLiteral("曲A")},  // Shift-JIS
    {"jp-title", "jp-title", QStringLiteral("音階のテスト")},  // its title event in Shift-JIS
};

QString Text(const QByteArray& bytes) { return QString::fromLatin1(bytes.toPercentEncoding(" -\"|:*?<>\\")); }
}  // namespace

class ConvertEncodedTest : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;
  QByteArray m_src;

  // Converts the named copies of kMidi into m_dir/folder.
  kvtest::RunResult Convert(const QString& folder, QStringList options) {
    QDir().mkpath(m_dir.path() + "/" + folder);
    std::vector<std::string> argv{KV_BIN_DIR "/korvessa", "convert", "--out", (m_dir.path() + "/" + folder).toStdString()};
    for (const QString& o : QStringList{"--sample", "124", "--delay", "0"} + options) argv.push_back(o.toStdString());
    for (const Name& n : kNames) argv.push_back((m_src + "/" + n.stem + ".mid").toStdString());
    return kvtest::run(argv, {"KORVESSA_SYSTEM_INI=" + (m_dir.path() + "/system.ini").toStdString()});
  }

 QMap<QString, double> m_recorded;  // seconds of each song's WAVE, from the first road

 private slots:
  void initTestCase() {
    QVERIFY(QFileInfo::exists(kMidi));
    WriteFile(m_dir.path() + "/system.ini", "[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\n");
    m_src = QFile::encodeName(m_dir.path()) + "/src";
    QVERIFY(QDir().mkpath(QFile::decodeName(m_src)));
    for (const Name& n : kNames) QVERIFY(QFile::copy(kMidi, QFile::decodeName(m_src + "/" + n.stem + ".mid")) || n.stem.startsWith('\x8b'));
    // Qt cannot name the Shift-JIS file: copied through the bytes.
    std::filesystem::copy_file(kMidi.toStdString(), (m_src + "/\x8b\xc8\x41.mid").toStdString(),
                               std::filesystem::copy_options::overwrite_existing);
    QFile song(kMidi), retitled(QFile::decodeName(m_src + "/jp-title.mid"));
    QVERIFY(song.open(QIODevice::ReadOnly) && retitled.open(QIODevice::WriteOnly));
    // The same 18 bytes: "音階のテスト" and the spaces a title loses.
    retitled.write(song.readAll().replace("C Major Scale Test", "\x89\xb9\x8a\x4b\x82\xcc\x83\x65\x83\x58\x83\x67      "));
  }

  // QTemporaryDir cannot reach the Shift-JIS names.
  void cleanupTestCase() { std::filesystem::remove_all(m_dir.path().toStdString()); }

  void roads_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("stream");  // codec, then for WMA bit rate and rate
    QTest::addColumn<double>("tolerance");  // what the encoder may add to the length
    QTest::newRow("wave") << QStringList{"--format", "wav"} << "wav" << "pcm_s16le" << 0.0;
    QTest::newRow("wave normalised, two workers") << QStringList{"--format", "wav", "--normalize", "-j", "2"} << "wav" << "pcm_s16le" << 0.0;
    for (const char* enc : {"gogo", "scmpx"})  // ACM takes the path as GoGo does; VBMP3.dll: Vbmp3Dll tests
      QTest::newRow(enc) << QStringList{"--format", "mp3", "--encoder", enc} << "mp3" << "mp3" << 0.060;
    for (const char* enc : {"vbwav2wma", "wm8eutil"})
      QTest::newRow(enc) << QStringList{"--format", "wma", "--encoder", enc} << "wma" << "wmav2 64000 44100" << 0.150;
    QTest::newRow("opus from 44100 Hz") << QStringList{"--format", "opus", "--sample", "120"} << "opus" << "opus 48000 2" << 0.02;
    QTest::newRow("flac at -23 LUFS") << QStringList{"--format", "flac", "--loudness", "-23"} << "flac" << "flac 48000 2" << 0.0;
  }

  void roads() {
    QFETCH(QStringList, options);
    QFETCH(QString, ext);
    QFETCH(QString, stream);
    QFETCH(double, tolerance);
    const QString folder = QTest::currentDataTag();
    const auto r = Convert(folder, options);
    QVERIFY2(r.exitCode == 0, r.err.c_str());
    const QByteArray out = QFile::encodeName(m_dir.path() + "/" + folder) + "/";
    QByteArrayList printed, expected;
    for (const Name& n : kNames) expected << out + n.stem + "." + ext.toLatin1();
    printed = QByteArray::fromStdString(r.out).split('\n');
    printed.removeAll(QByteArray());
    std::sort(printed.begin(), printed.end());  // workers finish in any order
    std::sort(expected.begin(), expected.end());
    QCOMPARE(Text(printed.join('\n')), Text(expected.join('\n')));
    // Nothing beside the results: no working file, no temporary recording.
    std::vector<std::string> listed;
    for (const auto& e : std::filesystem::directory_iterator(out.toStdString())) listed.push_back(e.path().filename().string());
    QCOMPARE(listed.size(), std::size(kNames));
    for (const Name& n : kNames) {
      const std::string file = (out + n.stem + "." + ext.toLatin1()).toStdString();
      auto p = kvtest::probe(file);
      const QString what = Text(n.stem);
      const std::string more = ext == "wma" ? " " + p["bit_rate"] + " " + p["sample_rate"]
                               : ext == "flac" || ext == "opus" ? " " + p["sample_rate"] + " " + p["channels"] : "";
      const QString got = QString::fromStdString(p["codec_name"] + more);
      QVERIFY2(got == stream, qPrintable(what + ": " + got));
      const QString title = ext == "wma" ? n.title : ext == "flac" || ext == "opus" ? n.song : QString();
      QVERIFY2(QString::fromStdString(p["title"]) == title, qPrintable(what + ": " + QString::fromStdString(p["title"])));
      const double seconds = std::atof(p["duration"].c_str());
      // The WAVE road's recording (the whole 4 s song and its tail) is every road's length: a
      // fast recording's length is the song's, whatever the machine's load; encoders may add.
      const qsizetype sample = options.indexOf("--sample");  // one reference per recording format
      const QString take = what + (sample >= 0 ? " " + options[sample + 1] : QString());
      if (!m_recorded.contains(take)) m_recorded[take] = seconds;
      const double recorded = m_recorded[take], under = ext == "opus" ? tolerance : 0.001;
      QVERIFY2(recorded > 4.0 && seconds >= recorded - under && seconds <= recorded + tolerance,
               qPrintable(what + ": " + QString::number(seconds) + " s against " + QString::number(recorded)));
      const double peak = kvtest::maxVolumeDb(file);
      QVERIFY2(peak > -30, qPrintable(what + ": peak " + QString::number(peak) + " dB"));
      if (const qsizetype at = options.indexOf("--loudness"); at >= 0) {
        const kvtest::Loudness l = kvtest::ebur128(file);
        QVERIFY2(std::fabs(l.lufs - options[at + 1].toDouble()) <= 0.5 && l.truePeak <= -1,
                 qPrintable(what + QStringLiteral(": %1 LUFS, %2 dBTP").arg(l.lufs).arg(l.truePeak)));
      }
    }
  }
};

QTEST_GUILESS_MAIN(ConvertEncodedTest)
#include "test_encoder_convert.moc"
