// Path and system helpers, and the result strings of the dialogs (no window needed).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdlib>

#include "shell/BFolder.h"
#include "shell/OpenDlg.h"
#include "shell/cSystemFolder.h"
#include "shell/mShare.h"
#include "shell/modCmPOpen.h"
#include "shell32.h"

namespace {

const QChar NUL(0);

QString Nul(std::initializer_list<const char*> parts) {
  QStringList l;
  for (const char* p : parts) l << QString::fromUtf8(p);
  return l.join(NUL);
}

void Touch(const QString& path) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
  f.write("x");
}

// Restores an environment variable when the test ends.
struct EnvGuard {
  explicit EnvGuard(const char* n) : name(n) {
    if (const char* v = std::getenv(n)) {
      had = true;
      old = v;
    }
  }
  ~EnvGuard() {
    if (had)
      setenv(name, old.c_str(), 1);
    else
      unsetenv(name);
  }
  const char* name;
  bool had = false;
  std::string old;
};

}  // namespace

TEST(OpenResult, SingleFileIsTheFullPath) {
  EXPECT_EQ(kv::ShapeOpenResult({"/m/a.mid"}, 256), QString("/m/a.mid"));
  EXPECT_EQ(kv::ShapeOpenResult({}, 256), QString());
  EXPECT_EQ(kv::ShapeOpenResult({""}, 256), QString());
}

TEST(OpenResult, SeveralFilesAreFolderThenNames) {
  const QString r = kv::ShapeOpenResult({"/m/a.mid", "/m/b.mid"}, 256);
  EXPECT_EQ(r, Nul({"/m", "a.mid", "b.mid"}));
  EXPECT_FALSE(r.endsWith(NUL));
  // The root keeps its separator.
  EXPECT_EQ(kv::ShapeOpenResult({"/a.mid", "/b.mid"}, 256), Nul({"/", "a.mid", "b.mid"}));
}

TEST(OpenResult, SelectionMustFitTheBuffer) {
  // folder "/m" (2+1) + names (n+1 each) + closing NUL: fits 256 while the names total 250 bytes.
  const QString a = QString(121, 'a') + ".mid", b = QString(121, 'b') + ".mid";  // 125 + 125
  EXPECT_EQ(kv::ShapeOpenResult({"/m/" + a, "/m/" + b}, 256), QString("/m") + NUL + a + NUL + b);
  const QString b2 = QString(122, 'b') + ".mid";
  EXPECT_EQ(kv::ShapeOpenResult({"/m/" + a, "/m/" + b2}, 256), QString());
  // Bytes, not characters: 3 bytes per kana.
  const QString kana = QString(41, QChar(0x3042)) + ".mid";  // 127 bytes in 45 characters
  const QString c = QString(119, 'c') + ".mid", c2 = QString(120, 'c') + ".mid";
  EXPECT_EQ(kv::ShapeOpenResult({"/m/" + kana, "/m/" + c}, 256), QString("/m") + NUL + kana + NUL + c);
  EXPECT_EQ(kv::ShapeOpenResult({"/m/" + kana, "/m/" + c2}, 256), QString());
  // One path of 255 bytes fits with its NUL; 256 does not.
  EXPECT_EQ(kv::ShapeOpenResult({"/" + QString(254, 'x')}, 256).size(), 255);
  EXPECT_EQ(kv::ShapeOpenResult({"/" + QString(255, 'x')}, 256), QString());
  // The preview dialog's buffer is far larger.
  QStringList many;
  for (int i = 0; i < 100; ++i) many << QString("/m/%1.mid").arg(i, 20, 10, QChar('0'));
  EXPECT_EQ(kv::ShapeOpenResult(many, 256), QString());
  EXPECT_EQ(kv::ShapePreviewResult(many).count(NUL), 100);
}

TEST(PreviewResult, NoTrailingSpacesOrNuls) {
  QString buffer = QString("/m/a.mid") + NUL + QString(255990, ' ');
  EXPECT_EQ(kv::CleanPreviewBuffer(buffer), QString("/m/a.mid"));
  buffer = "   " + Nul({"/m", "a.mid", "b.mid"}) + NUL + NUL + QString(100, ' ');
  EXPECT_EQ(kv::CleanPreviewBuffer(buffer), Nul({"/m", "a.mid", "b.mid"}));
  EXPECT_EQ(kv::CleanPreviewBuffer(QString(256000, ' ')), QString());
  // Spaces inside the selection are kept: the NULs shield them from the trim.
  EXPECT_EQ(kv::CleanPreviewBuffer(QString("/m/my song .mid") + NUL + "  "), QString("/m/my song .mid"));

  EXPECT_EQ(kv::ShapePreviewResult({"/m/a.mid"}), QString("/m/a.mid"));
  EXPECT_EQ(kv::ShapePreviewResult({"/m/a.mid", "/m/b .mid"}), Nul({"/m", "a.mid", "b .mid"}));
  EXPECT_EQ(kv::ShapePreviewResult({}), QString());
}

TEST(FolderResult, TrailingSeparatorAndRoot) {
  EXPECT_EQ(kv::ShapeFolderResult("/"), QString("/"));
  EXPECT_EQ(kv::ShapeFolderResult("/out/"), QString("/out"));
  EXPECT_EQ(kv::ShapeFolderResult("/out"), QString("/out"));
  EXPECT_EQ(kv::ShapeFolderResult(""), QString());
  EXPECT_EQ(kv::ShapeFolderResult("/" + QString(258, 'd')), "/" + QString(258, 'd'));
  EXPECT_EQ(kv::ShapeFolderResult("/" + QString(259, 'd')), QString());
}

TEST(Filter, PairsBecomeNameFilters) {
  const QString midi = QString::fromUtf8("ＭＩＤＩファイル (*.mid;*.rmi)");
  const QStringList expected = {midi + " (*.[mM][iI][dD] *.[rR][mM][iI])"};
  EXPECT_EQ(kv::FilterToNameFilters(midi + NUL + "*.mid;*.rmi"), expected);
  EXPECT_EQ(kv::FilterToNameFilters(midi + NUL + "*.mid;*.rmi" + NUL), expected);
  EXPECT_EQ(kv::FilterToNameFilters(midi + NUL + "*.mid;*.rmi" + NUL + NUL), expected);

  const QStringList two = kv::FilterToNameFilters(Nul({"Text", "*.txt", "All", "*.*"}));
  ASSERT_EQ(two.size(), 2);
  EXPECT_EQ(two[0], QString("Text (*.[tT][xX][tT])"));
  EXPECT_EQ(two[1], QString("All (*.*)"));
  // An incomplete pair or an empty pattern is dropped.
  EXPECT_TRUE(kv::FilterToNameFilters("Text").isEmpty());
  EXPECT_TRUE(kv::FilterToNameFilters(Nul({"Text", ""})).isEmpty());
  EXPECT_TRUE(kv::FilterToNameFilters(QString()).isEmpty());
}

TEST(Filter, PatternsIgnoreLetterCase) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* n : {"scmpx.exe", "SONG.MID", "b.Rmi", "notes.txt"}) Touch(dir.filePath(n));
  auto patterns = [](const QString& nameFilter) {
    const auto m = QRegularExpression(R"(\(([^()]*)\)$)").match(nameFilter);
    return m.captured(1).split(' ');
  };
  const QStringList midi = kv::FilterToNameFilters(Nul({"MIDI", "*.mid;*.rmi"}));
  ASSERT_EQ(midi.size(), 1);
  EXPECT_EQ(QDir(dir.path()).entryList(patterns(midi[0]), QDir::Files, QDir::Name),
            QStringList({"SONG.MID", "b.Rmi"}));
  const QStringList scmpx = kv::FilterToNameFilters(QString::fromUtf8("SCMPX実行ファイル (Scmpx.exe)") + NUL + "Scmpx.exe");
  ASSERT_EQ(scmpx.size(), 1);
  EXPECT_EQ(QDir(dir.path()).entryList(patterns(scmpx[0]), QDir::Files), QStringList({"scmpx.exe"}));
}

TEST(IsNT, OnlyExactSlashNTForcesIt) {
  int asked = 0;
  auto win9x = [&asked] { ++asked; return 1u; };
  auto nt = [&asked] { ++asked; return 2u; };
  EXPECT_TRUE(kv::IsNTFor({"/NT"}, win9x));
  EXPECT_EQ(asked, 0);  // decided without asking the system
  EXPECT_FALSE(kv::IsNTFor({"/nt"}, win9x));
  EXPECT_FALSE(kv::IsNTFor({"/NT", "x"}, win9x));
  EXPECT_FALSE(kv::IsNTFor({"/NT x"}, win9x));
  EXPECT_FALSE(kv::IsNTFor({"-NT"}, win9x));
  EXPECT_FALSE(kv::IsNTFor({}, win9x));
  EXPECT_EQ(asked, 5);
  EXPECT_TRUE(kv::IsNTFor({}, nt));
  EXPECT_TRUE(kv::IsNTFor({"/nt"}, nt));
  EXPECT_FALSE(kv::IsNTFor({}, [] { return 0u; }));  // a failed query leaves the id 0
  // This system counts as NT-class.
  EXPECT_TRUE(IsNT());
}

TEST(RemoveFileSpec, FolderPartOrEmpty) {
  EXPECT_EQ(RemoveFileSpec("/tools/waveflt.exe"), QString("/tools"));
  EXPECT_EQ(RemoveFileSpec("/waveflt.exe"), QString("/"));
  EXPECT_EQ(RemoveFileSpec(QString::fromUtf8("/音楽/曲.mid")), QString::fromUtf8("/音楽"));
  EXPECT_EQ(RemoveFileSpec("waveflt.exe"), QString());
  EXPECT_EQ(RemoveFileSpec("/"), QString());
  EXPECT_EQ(RemoveFileSpec(""), QString());
}

TEST(GetShortPath, ExistingPathOrEmpty) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath(QString::fromUtf8("wm8eutil 変換.exe"));
  Touch(file);
  EXPECT_EQ(GetShortPath(file), file);
  EXPECT_EQ(GetShortPath(dir.filePath("missing.exe")), QString());
  EXPECT_EQ(GetShortPath(""), QString());
  // A path longer than the 300-byte buffer does not fit.
  const QString deep = dir.filePath(QString(200, 'd'));
  ASSERT_TRUE(QDir().mkpath(deep));
  const QString longFile = deep + "/" + QString(120, 'f');
  Touch(longFile);
  ASSERT_GT(longFile.toUtf8().size(), 300);
  EXPECT_EQ(GetShortPath(longFile), QString());
}

TEST(ShellOpen, NoAssociatedProgramGivesZero) {
  EnvGuard d("DISPLAY"), w("WAYLAND_DISPLAY");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  EXPECT_EQ(ShellOpen(dir.filePath("missing.kvzz")), 0);
  const QString unknown = dir.filePath("data.kvzz");
  Touch(unknown);
  EXPECT_EQ(ShellOpen(unknown), 0);
  EXPECT_EQ(ShellOpen(""), 0);
}

TEST(SystemFolder, WindowsFolder) {
  EnvGuard g("KORVESSA_WINDOWS_DIR");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  cSystemFolder sf;
  setenv("KORVESSA_WINDOWS_DIR", dir.path().toUtf8().constData(), 1);
  EXPECT_EQ(sf.Windows(), dir.path());
  setenv("KORVESSA_WINDOWS_DIR", (dir.path() + "/").toUtf8().constData(), 1);
  EXPECT_EQ(sf.Windows(), dir.path());
  // A folder that does not fit the 250-byte buffer gives nothing.
  const QString deep = dir.filePath(QString(250, 'w'));
  ASSERT_TRUE(QDir().mkpath(deep));
  setenv("KORVESSA_WINDOWS_DIR", deep.toUtf8().constData(), 1);
  EXPECT_EQ(sf.Windows(), QString());
  unsetenv("KORVESSA_WINDOWS_DIR");
  const QString def = sf.Windows();
  EXPECT_TRUE(def.endsWith("/windows")) << def.toStdString();
}

TEST(SystemFolder, SystemFolderAndSpecialFolders) {
  EnvGuard g("KORVESSA_SYSTEM_DIR");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  setenv("KORVESSA_SYSTEM_DIR", dir.path().toUtf8().constData(), 1);
  cSystemFolder sf;
  EXPECT_EQ(sf.System(), dir.path());
  // Folder numbers the shell does not know have no path.
  EXPECT_EQ(sf.GetSpecialFold(0x7abc), QString());
  EXPECT_EQ(sf.GetSpecialFold(-1), QString());
}

TEST(SystemFolder, SpecialFoldersFollowTheDesktopSettings) {
  EnvGuard desk("XDG_DESKTOP_DIR"), data("XDG_DATA_HOME"), conf("XDG_CONFIG_HOME");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  setenv("XDG_DESKTOP_DIR", dir.filePath(QString::fromUtf8("デスクトップ")).toUtf8().constData(), 1);
  setenv("XDG_DATA_HOME", dir.filePath("data").toUtf8().constData(), 1);
  setenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8().constData(), 1);
  cSystemFolder sf;
  EXPECT_EQ(sf.Desktop(), dir.filePath(QString::fromUtf8("デスクトップ")));
  EXPECT_EQ(sf.Program(), dir.filePath("data/applications"));
  EXPECT_EQ(sf.Startup(), dir.filePath("config/autostart"));
  EXPECT_EQ(sf.Recent(), dir.filePath("data"));
  EXPECT_EQ(sf.GetSpecialFold(CSIDL_DESKTOP), sf.Desktop());
  // A path that does not fit the 256-byte buffer gives nothing.
  const QString longDesk = "/" + QString(256, 'd');
  setenv("XDG_DESKTOP_DIR", longDesk.toUtf8().constData(), 1);
  EXPECT_EQ(sf.Desktop(), QString());
  setenv("XDG_DESKTOP_DIR", longDesk.left(255).toUtf8().constData(), 1);
  EXPECT_EQ(sf.Desktop(), longDesk.left(255));
}
