// File names as text and the result strings of the dialogs (no window needed).
#include <gtest/gtest.h>

#include "cmdline.h"
#include "shell/FileName.h"
#include "shell/BFolder.h"
#include "shell/OpenDlg.h"

namespace {

const QChar NUL(0);
QString Nul(const QStringList& parts) { return parts.join(NUL); }
std::string U8(const QString& s) { return s.toStdString(); }

}  // namespace

TEST(DialogResult, PlainDialogShapesItsSelectionIntoTheBuffer) {
  // "/m", the names and their NULs fit 256 bytes up to 250 bytes of names, counted in UTF-8 bytes.
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
  };
  for (const auto& t : cases) EXPECT_EQ(kv::ShapeOpenResult(t.files, 256), t.expected) << U8(t.files.join(' '));
  // Folders keep only the root's slash.
  for (auto [in, out] : {std::pair<QString, QString>{"/", "/"}, {"/out/", "/out"}, {"", ""}})
    EXPECT_EQ(kv::ShapeFolderResult(in), out) << in.size();
}

TEST(Filter, PairsBecomeCaseInsensitiveNameFilters) {
  const QString midi = QString::fromUtf8("ＭＩＤＩファイル (*.mid;*.rmi)");
  const QStringList expected = {midi + " (*.[mM][iI][dD] *.[rR][mM][iI])"};
  EXPECT_EQ(kv::FilterToNameFilters(midi + NUL + "*.mid;*.rmi"), expected);
  EXPECT_EQ(kv::FilterToNameFilters(Nul({"Text", "*.txt", "All", "*.*", ""})), QStringList({"Text (*.[tT][xX][tT])", "All (*.*)"}));
  EXPECT_TRUE(kv::FilterToNameFilters(Nul({"Text", ""})).isEmpty());  // incomplete pair
}

// Quoted names split back whole; any file name's bytes survive the trip through QString.
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
  // Shown to the eye as Japanese, Shift-JIS characters ending in an ASCII byte too.
  EXPECT_EQ(kv::DisplayName(kv::PathText("/\x83\x41\x83\x43/\x8b\xc8\x41.mid を")), QString("/アイ/曲A.mid を"));
}
