// korvessa convert to MP3 and WMA: the command-line driver records a corpus MIDI file with the
// window's own conversion sequence and leaves only the encoded file.
#include <QProcess>
#include <QtTest>

#include "EncoderFixture.h"

namespace {
const QString kMidi = QStringLiteral(KV_SOURCE_DIR) +
                      "/../shared/testdata/midi/jazz-soft-test-midi-files/test-c-major-scale.mid";

struct Run {
  int exitCode = -1;
  QString out, err;
};

Run Convert(const QString& systemIni, const QStringList& options) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("KORVESSA_SYSTEM_INI", systemIni);
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(KV_BIN_DIR) + "/korvessa", QStringList{"convert"} + options + QStringList{kMidi});
  if (!p.waitForFinished(120000)) p.kill();
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
}
}  // namespace

class ConvertEncodedTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void mp3AndWma_data();
  void mp3AndWma();

 private:
  QTemporaryDir m_dir;
  QString m_ini;
  double m_waveSeconds = 0;
};

void ConvertEncodedTest::initTestCase() {
  QVERIFY(QFileInfo::exists(kMidi));
  m_ini = m_dir.path() + "/system.ini";
  QFile ini(m_ini);
  QVERIFY(ini.open(QIODevice::WriteOnly));
  ini.write("[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\n");
  ini.close();
  // The plain recording, for the length the encoded files must keep.
  const QString out = m_dir.path() + "/wave";
  QDir().mkpath(out);
  const Run r = Convert(m_ini, {"--out", out, "--format", "wav", "--sample", "124"});
  QCOMPARE(r.exitCode, 0);
  m_waveSeconds = Probe(out + "/test-c-major-scale.wav").value("duration").toDouble();
  QVERIFY2(m_waveSeconds > 1.0, qPrintable(r.err));
}

void ConvertEncodedTest::mp3AndWma_data() {
  QTest::addColumn<QString>("format");
  QTest::addColumn<QString>("encoder");
  QTest::addColumn<QString>("codec");
  QTest::addColumn<double>("tolerance");
  QTest::newRow("gogo") << "mp3" << "gogo" << "mp3" << 0.060;
  QTest::newRow("vbwav2wma") << "wma" << "vbwav2wma" << "wmav2" << 0.150;
}

void ConvertEncodedTest::mp3AndWma() {
  QFETCH(QString, format);
  QFETCH(QString, encoder);
  QFETCH(QString, codec);
  QFETCH(double, tolerance);
  const QString out = m_dir.path() + "/" + encoder;
  QDir().mkpath(out);
  const Run r = Convert(m_ini, {"--out", out, "--format", format, "--encoder", encoder, "--sample", "124"});
  QVERIFY2(r.exitCode == 0, qPrintable(r.err));
  const QString result = out + "/test-c-major-scale." + format;
  QCOMPARE(r.out.trimmed(), result);
  QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{"test-c-major-scale." + format});
  const auto p = Probe(result);
  QCOMPARE(p.value("codec_name"), codec);
  QVERIFY2(std::abs(p.value("duration").toDouble() - m_waveSeconds) <= tolerance, qPrintable(p.value("duration")));
  if (format == "wma") {
    QCOMPARE(p.value("bit_rate"), QString("64000"));
    QCOMPARE(p.value("sample_rate"), QString("44100"));
    QCOMPARE(p.value("title"), QString("test-c-major-scale"));
  }
}

QTEST_GUILESS_MAIN(ConvertEncodedTest)
#include "test_convert_encoded.moc"
