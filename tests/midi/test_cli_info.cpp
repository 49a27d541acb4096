// korvessa info / devices, run as a user would: stdout lines, stderr messages, exit codes.
#include <gtest/gtest.h>

#include <QStringList>

#include "Process.h"

namespace {

const std::string kCorpus = KV_SOURCE_DIR "/tests/data/midi/jazz-soft-test-midi-files/";

struct CliRun { int code; QStringList out; std::string err; };

CliRun Korvessa(std::vector<std::string> args) {
  args.insert(args.begin(), KV_BIN_DIR "/korvessa");
  // No system setup: the first installed default SoundFont.
  const kvtest::RunResult r = kvtest::run(args, {"KORVESSA_SYSTEM_INI=/nonexistent/system.ini"});
  return {r.exitCode, QString::fromStdString(r.out).split(u'\n', Qt::SkipEmptyParts), r.err};
}

TEST(KorvessaInfo, LinesExitCodesAndMessages) {
  const std::string good = kCorpus + "test-2-tracks-type-1.mid", missing = "/nonexistent/folder/gone.mid";
  // Path, format, tracks, division, length in ms, title and SoundFont; eight quarter notes at the
  // default 120 beats per minute last 4000 ms. A file that cannot be read still gets its line.
  const QString sf = QStringLiteral("\t/usr/share/sounds/sf2/default-GM.sf2");
  const struct {
    std::vector<std::string> args;
    int code;
    QStringList out;
    std::vector<std::string> errors;
  } rows[] = {
      {{"info", kCorpus + "test-c-major-scale.mid"}, 0, {QString::fromStdString(kCorpus) + "test-c-major-scale.mid\t0\t1\t96\t4000\tC Major Scale Test" + sf}, {}},
      {{"info", missing, kCorpus + "test-not-a-midi-file.mid", good}, 1,
       {QString::fromStdString(missing) + "\t0\t0\t0\t0\t\t", QString::fromStdString(kCorpus) + "test-not-a-midi-file.mid\t0\t0\t0\t0\t\t",
        QString::fromStdString(good) + "\t1\t2\t96\t4500\tStandard MIDI file type 1" + sf},
       {missing + ": no such file", "not a MIDI file"}},
      {{"frobnicate"}, 2, {}, {"usage:"}},
  };
  for (const auto& r : rows) {
    const std::string row = r.args.empty() ? "no arguments" : r.args[0] + " " + std::to_string(r.args.size());
    const CliRun c = Korvessa(r.args);
    EXPECT_EQ(c.code, r.code) << row << ": " << c.err;
    EXPECT_EQ(c.out, r.out) << row;
    for (const std::string& e : r.errors) EXPECT_NE(c.err.find(e), std::string::npos) << row << ": " << c.err;
  }
  // The devices, numbered from -1 (the mapper), each name at most 31 bytes.
  const CliRun d = Korvessa({"devices"});
  EXPECT_EQ(d.code, 0);
  ASSERT_GE(d.out.size(), 1);
  for (int i = 0; i < d.out.size(); ++i) {
    EXPECT_TRUE(d.out[i].startsWith(QString::number(i - 1) + u'\t')) << d.out[i].toStdString();
    EXPECT_LE(d.out[i].section(u'\t', 1).toUtf8().size(), 31);
  }
}

}  // namespace
