// korvessa info / devices, run as a user would: stdout lines, stderr messages, exit codes.
#include <gtest/gtest.h>

#include <QStringList>

#include "Process.h"

namespace {

const std::string kCorpus = KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/";

struct CliRun { int code; QStringList out; std::string err; };

CliRun Korvessa(std::vector<std::string> args) {
  args.insert(args.begin(), KV_BIN_DIR "/korvessa");
  const kvtest::RunResult r = kvtest::run(args);
  return {r.exitCode, QString::fromStdString(r.out).split(u'\n', Qt::SkipEmptyParts), r.err};
}

TEST(KorvessaInfo, CorpusFileAndMissingFile) {
  const std::string good = kCorpus + "test-2-tracks-type-1.mid", missing = "/nonexistent/folder/gone.mid";
  const CliRun ok = Korvessa({"info", good});
  EXPECT_EQ(ok.code, 0) << ok.err;
  ASSERT_EQ(ok.out.size(), 1);
  const QStringList f = ok.out[0].split(u'\t');
  ASSERT_EQ(f.size(), 6);
  EXPECT_EQ(f.mid(0, 4), QStringList({QString::fromStdString(good), "1", "2", "96"}));
  bool number = false;
  EXPECT_TRUE(f[4].toInt(&number) >= 0 && number) << f[4].toStdString();
  EXPECT_EQ(f[5], u"Standard MIDI file type 1");

  // Eight quarter notes at the default 120 beats per minute, as the sequencer measures them.
  const CliRun scale = Korvessa({"info", kCorpus + "test-c-major-scale.mid"});
  EXPECT_EQ(scale.code, 0);
  ASSERT_EQ(scale.out.size(), 1);
  EXPECT_TRUE(scale.out[0].endsWith("\t0\t1\t96\t4000\tC Major Scale Test")) << scale.out[0].toStdString();

  // A file that cannot be read still gets its line, the others are reported normally.
  const CliRun bad = Korvessa({"info", missing, kCorpus + "test-not-a-midi-file.mid", good});
  EXPECT_EQ(bad.code, 1);
  ASSERT_EQ(bad.out.size(), 3);
  EXPECT_EQ(bad.out[0], QString::fromStdString(missing) + "\t0\t0\t0\t0\t");
  EXPECT_TRUE(bad.out[1].endsWith("test-not-a-midi-file.mid\t0\t0\t0\t0\t"));
  EXPECT_EQ(bad.out[2].split(u'\t').value(5), u"Standard MIDI file type 1");
  EXPECT_NE(bad.err.find(missing + ": no such file"), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("not a MIDI file"), std::string::npos) << bad.err;
}

TEST(KorvessaInfo, UsageErrorsAndDevices) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"info"}, {"frobnicate"}, {"devices", "x"}}) {
    const CliRun r = Korvessa(args);
    EXPECT_EQ(r.code, 2) << args.size();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
  }
  const CliRun d = Korvessa({"devices"});
  EXPECT_EQ(d.code, 0);
  ASSERT_GE(d.out.size(), 1);
  for (int i = 0; i < d.out.size(); ++i) {
    EXPECT_TRUE(d.out[i].startsWith(QString::number(i - 1) + u'\t')) << d.out[i].toStdString();
    EXPECT_LE(d.out[i].section(u'\t', 1).toUtf8().size(), 31);
  }
}

}  // namespace
