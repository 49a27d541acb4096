// The NT switch, file names as text, and the result strings of the dialogs (no window needed).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "cmdline.h"
#include "shell/FileName.h"
#include "shell/BFolder.h"
#include "shell/OpenDlg.h"
#include "shell/mShare.h"
#include "shell/modCmPOpen.h"

namespace {

const QChar NUL(0);
QString Nul(const QStringList& parts) { return parts.join(NUL); }
std::string U8(const QString& s) { return s.toStdString(); }

}  // namespace

TEST(DialogResult, PlainDialogShapesItsSelectionIntoTheBuffer) {
  // "/m" NUL + names with their NULs + closing NUL fit 256 bytes while the names total 250 bytes;
  // bytes of UTF-8 count, not characters (41 kana + ".mid" are 127 bytes).
  const QString a = QString(121, 'a') + ".mid", b = QString(121, 'b') + ".mid", b2 = QString(122, 'b') + ".mid";
  const QString kana = QString(41, QChar(0x3042)) + ".mid", c = QString(119, 'c') + ".mid", c2 = QString(120, 'c') + ".mid";
  const struct { QStringList files; QString expected; } cases[] = {
      {{"/m/a.mid"}, "/m/a.mid"},
      {{"/m/a.mid", "/m/b.mid"}, Nul({"/m", "a.mid", "b.mid"})},
      {{"/a.mid", "/b.mid"}, Nul({"/", "a.mid", "b.mid"})},  // root keeps "/"
      {{}, ""},
      {{"/m/" + a, "/m/" + b}, Nul({"/m", a, b})},
      {{"/m/" + a, "/m/" + b2}, ""},
      {{"/m/" + kana, "/m/" + c}, Nul({"/m", kana, c})},
      {{"/m/" + kana, "/m/" + c2}, ""},
      {{"/" + QString(254, 'x')}, "/" + QString(254, 'x')},  // one path fits with its NUL up to 255 bytes
      {{"/" + QString(255, 'x')}, ""},
  };
  for (const auto& t : cases) EXPECT_EQ(kv::ShapeOpenResult(t.files, 256), t.expected) << U8(t.files.join(' '));
  // The preview dialog's buffer takes far more; the closing NULs shield spaces that belong to a name.
  EXPECT_EQ(kv::ShapePreviewResult({"/m/" + a, "/m/" + b2}), Nul({"/m", a, b2}));
  EXPECT_EQ(kv::ShapePreviewResult({"/m/a.mid", "/m/b .mid"}), Nul({"/m", "a.mid", "b .mid"}));
  EXPECT_EQ(kv::ShapePreviewResult({"/m/a.mid"}), QString("/m/a.mid"));
  EXPECT_EQ(kv::CleanPreviewBuffer("/m/a.mid" + QString(NUL) + QString(255990, ' ')), QString("/m/a.mid"));
  EXPECT_EQ(kv::CleanPreviewBuffer("  " + Nul({"/m", "a.mid", "b.mid", "", ""}) + "   "), Nul({"/m", "a.mid", "b.mid"}));
  EXPECT_EQ(kv::CleanPreviewBuffer(QString(256000, ' ')), QString());
  // Folders keep only the root's slash, within the 260-byte buffer.
  for (auto [in, out] : {std::pair<QString, QString>{"/", "/"}, {"/out/", "/out"}, {"", ""},
                         {"/" + QString(258, 'd'), "/" + QString(258, 'd')}, {"/" + QString(259, 'd'), ""}})
    EXPECT_EQ(kv::ShapeFolderResult(in), out) << in.size();
}

TEST(Filter, PairsBecomeCaseInsensitiveNameFilters) {
  const QString midi = QString::fromUtf8("ＭＩＤＩファイル (*.mid;*.rmi)");
  const QStringList expected = {midi + " (*.[mM][iI][dD] *.[rR][mM][iI])"};
  EXPECT_EQ(kv::FilterToNameFilters(midi + NUL + "*.mid;*.rmi"), expected);
  EXPECT_EQ(kv::FilterToNameFilters(midi + NUL + "*.mid;*.rmi" + NUL), expected);
  EXPECT_EQ(kv::FilterToNameFilters(Nul({"Text", "*.txt", "All", "*.*", ""})), QStringList({"Text (*.[tT][xX][tT])", "All (*.*)"}));
  EXPECT_TRUE(kv::FilterToNameFilters("Text").isEmpty());  // incomplete pair
  EXPECT_TRUE(kv::FilterToNameFilters(Nul({"Text", ""})).isEmpty());
  // The patterns find files whatever their letter case.
  QTemporaryDir dir;
  for (const char* n : {"scmpx.exe", "SONG.MID", "b.Rmi", "notes.txt"}) ASSERT_TRUE(QFile(dir.filePath(n)).open(QIODevice::WriteOnly)) << n;
  auto matches = [&](const QString& filter) {
    const QString f = kv::FilterToNameFilters(filter).value(0);
    const QStringList globs = QRegularExpression(R"(\(([^()]*)\)$)").match(f).captured(1).split(' ');
    return QDir(dir.path()).entryList(globs, QDir::Files, QDir::Name);
  };
  EXPECT_EQ(matches(midi + NUL + "*.mid;*.rmi"), QStringList({"SONG.MID", "b.Rmi"}));
  EXPECT_EQ(matches(QString::fromUtf8("SCMPX実行ファイル (Scmpx.exe)") + NUL + "Scmpx.exe"), QStringList({"scmpx.exe"}));
}

// The folder, short-path and special-folder wrappers only copy what the platform calls (tests/platform)
// answer; the command-line switch is this layer's own.
TEST(IsNT, OnlyExactSlashNTForcesIt) {
  auto win9x = [] { return 1u; };
  EXPECT_TRUE(kv::IsNTFor({"/NT"}, win9x));
  for (const QStringList& args : {QStringList{"/nt"}, QStringList{"/NT", "x"}, QStringList{"/NT x"}, QStringList{}})
    EXPECT_FALSE(kv::IsNTFor(args, win9x)) << U8(args.join(' '));
  EXPECT_TRUE(IsNT());  // this system counts as NT-class
}

// Any name quoted for a command string or command line is split back whole by the one rule the
// media layer and the process starter share, and any file name's bytes survive the trip through
// QString, both ways.
TEST(FileNames, QuotedNamesSplitBackWholeAndBytesSurviveText) {
  const QByteArray names[] = {"/o d/song.wav",         "/x\" -headcut 1 \"y.wav", "/-x.wav",       "/a\\\"b\\\\\"c.wav",
                              "/folder\\",             "/tab\there.wav",          "/|:*?<>.wav",   "/\x8b\xc8\x41.mid",
                              "/\xed\xb2\x80 \xc3.mid", "/\xf0\x9f\x8e\xb5.mid"};
  for (const QByteArray& name : names) {
    SCOPED_TRACE(name.toPercentEncoding("/ ").toStdString());
    const QString text = kv::PathText(name);
    EXPECT_EQ(kv::PathBytes(text), name);
    const QByteArray line = kv::PathBytes("open " + kv::Quoted(text) + " alias RecMedia");
    std::vector<std::string> words;
    EXPECT_TRUE(kv::SplitArguments(line.constData(), words));
    EXPECT_EQ(words, (std::vector<std::string>{"open", name.toStdString(), "alias", "RecMedia"}));
  }
  // An ordinary name is only enclosed, so the command texts stay as they always were.
  EXPECT_EQ(kv::Quoted("/o d/曲.wav"), QString("\"/o d/曲.wav\""));
  EXPECT_EQ(kv::PathText("/o d/曲.wav"), QString("/o d/曲.wav"));
  // Shown to the eye as Japanese, Shift-JIS characters ending in an ASCII byte too.
  EXPECT_EQ(kv::DisplayName(kv::PathText("/\x83\x41\x83\x43/\x8b\xc8\x41.mid を")), QString("/アイ/曲A.mid を"));
}
