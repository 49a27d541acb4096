// korvessa info / devices, run as a user would: stdout lines, stderr messages, exit codes.
#include <gtest/gtest.h>

#include <QProcess>

namespace {

const QString kCorpus = QStringLiteral("/work/shared/testdata/midi/jazz-soft-test-midi-files");

struct CliRun {
  int code = -1;
  QStringList out;
  QString err;
};

CliRun Korvessa(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(KV_BIN_DIR "/korvessa"), args);
  CliRun r;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

TEST(KorvessaInfo, CorpusFileAndMissingFile) {
  const QString good = kCorpus + QStringLiteral("/test-2-tracks-type-1.mid");
  const QString missing = QStringLiteral("/nonexistent/folder/gone.mid");
  const CliRun ok = Korvessa({QStringLiteral("info"), good});
  EXPECT_EQ(ok.code, 0) << ok.err.toStdString();
  ASSERT_EQ(ok.out.size(), 1);
  const QStringList f = ok.out[0].split(u'\t');
  ASSERT_EQ(f.size(), 6);
  EXPECT_EQ(f[0], good);
  EXPECT_EQ(f[1], u"1");
  EXPECT_EQ(f[2], u"2");
  EXPECT_EQ(f[3], u"96");
  bool number = false;
  EXPECT_GE(f[4].toInt(&number), 0);
  EXPECT_TRUE(number) << f[4].toStdString();
  EXPECT_EQ(f[5], u"Standard MIDI file type 1");

  // Eight quarter notes at the default 120 beats per minute, as the sequencer measures them.
  const CliRun scale = Korvessa({QStringLiteral("info"), kCorpus + QStringLiteral("/test-c-major-scale.mid")});
  EXPECT_EQ(scale.code, 0);
  ASSERT_EQ(scale.out.size(), 1);
  EXPECT_TRUE(scale.out[0].endsWith(QStringLiteral("\t0\t1\t96\t4000\tC Major Scale Test"))) << scale.out[0].toStdString();

  // A file that cannot be read still gets its line, the others are reported normally.
  const CliRun bad = Korvessa({QStringLiteral("info"), missing, kCorpus + QStringLiteral("/test-not-a-midi-file.mid"), good});
  EXPECT_EQ(bad.code, 1);
  ASSERT_EQ(bad.out.size(), 3);
  EXPECT_EQ(bad.out[0], missing + QStringLiteral("\t0\t0\t0\t0\t"));
  EXPECT_TRUE(bad.out[1].endsWith(QStringLiteral("test-not-a-midi-file.mid\t0\t0\t0\t0\t")));
  EXPECT_EQ(bad.out[2].split(u'\t').value(5), u"Standard MIDI file type 1");
  EXPECT_TRUE(bad.err.contains(missing + QStringLiteral(": no such file"))) << bad.err.toStdString();
  EXPECT_TRUE(bad.err.contains(QStringLiteral("not a MIDI file"))) << bad.err.toStdString();
}

TEST(KorvessaInfo, UsageErrorsAndDevices) {
  for (const QStringList& args : {QStringList{}, QStringList{QStringLiteral("info")},
                                  QStringList{QStringLiteral("frobnicate")},
                                  QStringList{QStringLiteral("devices"), QStringLiteral("x")}}) {
    const CliRun r = Korvessa(args);
    EXPECT_EQ(r.code, 2) << args.join(u' ').toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(QStringLiteral("usage:")));
  }
  const CliRun d = Korvessa({QStringLiteral("devices")});
  EXPECT_EQ(d.code, 0);
  ASSERT_GE(d.out.size(), 1);
  for (int i = 0; i < d.out.size(); ++i) {
    EXPECT_TRUE(d.out[i].startsWith(QString::number(i - 1) + u'\t')) << d.out[i].toStdString();
    EXPECT_LE(d.out[i].section(u'\t', 1).toUtf8().size(), 31);
  }
}

}  // namespace
