// korvessa convert to MP3 and WMA: the command-line driver records a corpus MIDI file with the
// window's own conversion sequence and leaves only the encoded file.
#include <QtTest>

#include "EncoderFixture.h"

namespace {
const QString kMidi = QStringLiteral(KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/test-c-major-scale.mid");
}  // namespace

class ConvertEncodedTest : public QObject {
  Q_OBJECT
  QTemporaryDir m_dir;
  double m_waveSeconds = 0;

  // Converts kMidi into m_dir/folder; the exit code, output and error text.
  kvtest::RunResult Convert(const QString& folder, QStringList options) {
    QDir().mkpath(m_dir.path() + "/" + folder);
    std::vector<std::string> argv{KV_BIN_DIR "/korvessa", "convert", "--out", (m_dir.path() + "/" + folder).toStdString()};
    for (const QString& o : options << "--sample" << "124" << kMidi) argv.push_back(o.toStdString());
    return kvtest::run(argv, {"KORVESSA_SYSTEM_INI=" + (m_dir.path() + "/system.ini").toStdString()});
  }

 private slots:
  void initTestCase() {
    QVERIFY(QFileInfo::exists(kMidi));
    WriteFile(m_dir.path() + "/system.ini", "[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\n");
    // The plain recording, for the length the encoded files must keep.
    const auto r = Convert("wave", {"--format", "wav"});
    QCOMPARE(r.exitCode, 0);
    m_waveSeconds = Seconds(m_dir.path() + "/wave/test-c-major-scale.wav");
    QVERIFY2(m_waveSeconds > 1.0, r.err.c_str());
  }

  void mp3AndWma_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("encoder");
    QTest::addColumn<QString>("stream");  // codec, then for WMA bit rate, rate and title
    QTest::addColumn<double>("tolerance");
    QTest::newRow("gogo") << "mp3" << "gogo" << "mp3" << 0.060;
    QTest::newRow("vbwav2wma") << "wma" << "vbwav2wma" << "wmav2 64000 44100 test-c-major-scale" << 0.150;
  }

  void mp3AndWma() {
    QFETCH(QString, format);
    QFETCH(QString, encoder);
    QFETCH(QString, stream);
    QFETCH(double, tolerance);
    const auto r = Convert(encoder, {"--format", format, "--encoder", encoder});
    QVERIFY2(r.exitCode == 0, r.err.c_str());
    const QString out = m_dir.path() + "/" + encoder, result = out + "/test-c-major-scale." + format;
    QCOMPARE(QString::fromStdString(r.out).trimmed(), result);
    QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{"test-c-major-scale." + format});
    auto p = Probe(result);
    QCOMPARE(QString::fromStdString(format == "wma" ? p["codec_name"] + " " + p["bit_rate"] + " " + p["sample_rate"] + " " + p["title"]
                                                    : p["codec_name"]), stream);
    QVERIFY2(std::abs(std::atof(p["duration"].c_str()) - m_waveSeconds) <= tolerance, p["duration"].c_str());
  }
};

QTEST_GUILESS_MAIN(ConvertEncodedTest)
#include "test_encoder_convert.moc"
