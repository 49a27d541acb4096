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

namespace {

const QChar NUL(0);
QString Nul(const QStringList& parts) { return parts.join(NUL); }

void Touch(const QString& path) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
  f.write("x");
}

// Sets an environment variable for one test and restores it afterwards.
struct ScopedEnv {
  ScopedEnv(const char* n, const QString& value) : name(n) {
    if (const char* v = std::getenv(n)) old = v, had = true;
    value.isNull() ? unsetenv(n) : setenv(n, value.toUtf8().constData(), 1);
  }
  ~ScopedEnv() { had ? setenv(name, old.c_str(), 1) : unsetenv(name); }
  const char* name;
  std::string old;
  bool had = false;
};

}  // namespace

TEST(DialogResult, OneFileIsItsPathSeveralAreFolderThenNames) {
  EXPECT_EQ(kv::ShapeOpenResult({"/m/a.mid"}, 256), QString("/m/a.mid"));
  EXPECT_EQ(kv::ShapeOpenResult({"/m/a.mid", "/m/b.mid"}, 256), Nul({"/m", "a.mid", "b.mid"}));
  EXPECT_EQ(kv::ShapeOpenResult({"/a.mid", "/b.mid"}, 256), Nul({"/", "a.mid", "b.mid"}));  // root keeps "/"
  EXPECT_EQ(kv::ShapeOpenResult({}, 256), QString());
}

TEST(DialogResult, SelectionMustFitThePlainDialogsBuffer) {
  // "/m" NUL + names with their NULs + closing NUL fit 256 bytes while the names total 250 bytes.
  const QString a = QString(121, 'a') + ".mid", b = QString(121, 'b') + ".mid", b2 = QString(122, 'b') + ".mid";
  EXPECT_EQ(kv::ShapeOpenResult({"/m/" + a, "/m/" + b}, 256), Nul({"/m", a, b}));
  EXPECT_EQ(kv::ShapeOpenResult({"/m/" + a, "/m/" + b2}, 256), QString());
  // Bytes of UTF-8 count, not characters: 41 kana + ".mid" are 127 bytes.
  const QString kana = QString(41, QChar(0x3042)) + ".mid";
  const QString c = QString(119, 'c') + ".mid", c2 = QString(120, 'c') + ".mid";
  EXPECT_EQ(kv::ShapeOpenResult({"/m/" + kana, "/m/" + c}, 256), Nul({"/m", kana, c}));
  EXPECT_EQ(kv::ShapeOpenResult({"/m/" + kana, "/m/" + c2}, 256), QString());
  // One path fits with its NUL up to 255 bytes.
  EXPECT_EQ(kv::ShapeOpenResult({"/" + QString(254, 'x')}, 256).size(), 255);
  EXPECT_EQ(kv::ShapeOpenResult({"/" + QString(255, 'x')}, 256), QString());
  // The preview dialog's buffer takes far more.
  EXPECT_EQ(kv::ShapePreviewResult({"/m/" + a, "/m/" + b2}), Nul({"/m", a, b2}));
}

TEST(DialogResult, PreviewBufferLosesItsSpacesAndClosingNuls) {
  EXPECT_EQ(kv::CleanPreviewBuffer("/m/a.mid" + QString(NUL) + QString(255990, ' ')), QString("/m/a.mid"));
  EXPECT_EQ(kv::CleanPreviewBuffer("  " + Nul({"/m", "a.mid", "b.mid", "", ""}) + "   "), Nul({"/m", "a.mid", "b.mid"}));
  EXPECT_EQ(kv::CleanPreviewBuffer(QString(256000, ' ')), QString());
  // The closing NULs shield spaces that belong to a name.
  EXPECT_EQ(kv::ShapePreviewResult({"/m/a.mid", "/m/b .mid"}), Nul({"/m", "a.mid", "b .mid"}));
  EXPECT_EQ(kv::ShapePreviewResult({"/m/a.mid"}), QString("/m/a.mid"));
}

TEST(DialogResult, FolderKeepsOnlyTheRootsSlash) {
  EXPECT_EQ(kv::ShapeFolderResult("/"), QString("/"));
  EXPECT_EQ(kv::ShapeFolderResult("/out/"), QString("/out"));
  EXPECT_EQ(kv::ShapeFolderResult(""), QString());
  EXPECT_EQ(kv::ShapeFolderResult("/" + QString(258, 'd')).size(), 259);
  EXPECT_EQ(kv::ShapeFolderResult("/" + QString(259, 'd')), QString());  // beyond the 260-byte buffer
}

TEST(Filter, PairsBecomeCaseInsensitiveNameFilters) {
  const QString midi = QString::fromUtf8("ＭＩＤＩファイル (*.mid;*.rmi)");
  const QStringList expected = {midi + " (*.[mM][iI][dD] *.[rR][mM][iI])"};
  EXPECT_EQ(kv::FilterToNameFilters(midi + NUL + "*.mid;*.rmi"), expected);
  EXPECT_EQ(kv::FilterToNameFilters(midi + NUL + "*.mid;*.rmi" + NUL), expected);
  EXPECT_EQ(kv::FilterToNameFilters(Nul({"Text", "*.txt", "All", "*.*", ""})),
            QStringList({"Text (*.[tT][xX][tT])", "All (*.*)"}));
  EXPECT_TRUE(kv::FilterToNameFilters("Text").isEmpty());  // incomplete pair
  EXPECT_TRUE(kv::FilterToNameFilters(Nul({"Text", ""})).isEmpty());

  // The patterns find files whatever their letter case.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* n : {"scmpx.exe", "SONG.MID", "b.Rmi", "notes.txt"}) Touch(dir.filePath(n));
  auto matches = [&](const QString& filter) {
    const QString f = kv::FilterToNameFilters(filter).value(0);
    const QStringList globs = QRegularExpression(R"(\(([^()]*)\)$)").match(f).captured(1).split(' ');
    return QDir(dir.path()).entryList(globs, QDir::Files, QDir::Name);
  };
  EXPECT_EQ(matches(midi + NUL + "*.mid;*.rmi"), QStringList({"SONG.MID", "b.Rmi"}));
  EXPECT_EQ(matches(QString::fromUtf8("SCMPX実行ファイル (Scmpx.exe)") + NUL + "Scmpx.exe"), QStringList({"scmpx.exe"}));
}

TEST(IsNT, OnlyExactSlashNTForcesIt) {
  int asked = 0;
  auto win9x = [&asked] { return ++asked, 1u; };
  EXPECT_TRUE(kv::IsNTFor({"/NT"}, win9x));
  EXPECT_EQ(asked, 0);  // decided without asking the system
  for (const QStringList& args : {QStringList{"/nt"}, QStringList{"/NT", "x"}, QStringList{"/NT x"}, QStringList{}})
    EXPECT_FALSE(kv::IsNTFor(args, win9x)) << args.join(' ').toStdString();
  EXPECT_TRUE(kv::IsNTFor({"/nt"}, [] { return 2u; }));
  EXPECT_FALSE(kv::IsNTFor({}, [] { return 0u; }));  // a failed query leaves the id 0
  EXPECT_TRUE(IsNT());  // this system counts as NT-class
}

TEST(PathHelpers, RemoveFileSpecAndGetShortPath) {
  EXPECT_EQ(RemoveFileSpec("/tools/waveflt.exe"), QString("/tools"));
  EXPECT_EQ(RemoveFileSpec("/waveflt.exe"), QString("/"));
  EXPECT_EQ(RemoveFileSpec(QString::fromUtf8("/音楽/曲.mid")), QString::fromUtf8("/音楽"));
  EXPECT_EQ(RemoveFileSpec("waveflt.exe"), QString());
  EXPECT_EQ(RemoveFileSpec("/"), QString());

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath(QString::fromUtf8("wm8eutil 変換.exe"));
  Touch(file);
  EXPECT_EQ(GetShortPath(file), file);
  EXPECT_EQ(GetShortPath(dir.filePath("missing.exe")), QString());
  // A path longer than the 300-byte buffer does not fit.
  ASSERT_TRUE(QDir().mkpath(dir.filePath(QString(200, 'd'))));
  const QString longFile = dir.filePath(QString(200, 'd') + "/" + QString(120, 'f'));
  Touch(longFile);
  EXPECT_EQ(GetShortPath(longFile), QString());
}

TEST(ShellOpen, NoAssociatedProgramGivesZero) {
  ScopedEnv d("DISPLAY", QString()), w("WAYLAND_DISPLAY", QString());
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  Touch(dir.filePath("data.kvzz"));
  EXPECT_EQ(ShellOpen(dir.filePath("data.kvzz")), 0);
  EXPECT_EQ(ShellOpen(dir.filePath("missing.kvzz")), 0);
  EXPECT_EQ(ShellOpen("https://example.invalid/"), 0);
}

TEST(SystemFolder, WindowsAndSystemFolders) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  cSystemFolder sf;
  {
    ScopedEnv e("KORVESSA_WINDOWS_DIR", QString());
    EXPECT_TRUE(sf.Windows().endsWith("/windows")) << sf.Windows().toStdString();  // beside the program
  }
  ScopedEnv s("KORVESSA_SYSTEM_DIR", dir.path());
  EXPECT_EQ(sf.System(), dir.path());
  ScopedEnv e("KORVESSA_WINDOWS_DIR", dir.path() + "/");
  EXPECT_EQ(sf.Windows(), dir.path());  // no trailing "/"
  setenv("KORVESSA_WINDOWS_DIR", ("/" + QString(249, 'w')).toUtf8().constData(), 1);
  EXPECT_EQ(sf.Windows(), QString());  // does not fit the 250-byte buffer
}

TEST(SystemFolder, SpecialFolders) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ScopedEnv desk("XDG_DESKTOP_DIR", dir.filePath(QString::fromUtf8("デスクトップ")));
  ScopedEnv data("XDG_DATA_HOME", dir.filePath("data")), conf("XDG_CONFIG_HOME", dir.filePath("config"));
  cSystemFolder sf;
  EXPECT_EQ(sf.Desktop(), dir.filePath(QString::fromUtf8("デスクトップ")));
  EXPECT_EQ(sf.Program(), dir.filePath("data/applications"));
  EXPECT_EQ(sf.Startup(), dir.filePath("config/autostart"));
  EXPECT_EQ(sf.Recent(), dir.filePath("data"));
  EXPECT_EQ(sf.GetSpecialFold(0x7abc), QString());  // unknown folder number
  setenv("XDG_DESKTOP_DIR", ("/" + QString(255, 'd')).toUtf8().constData(), 1);
  EXPECT_EQ(sf.Desktop(), QString());  // does not fit the 256-byte buffer
  setenv("XDG_DESKTOP_DIR", ("/" + QString(254, 'd')).toUtf8().constData(), 1);
  EXPECT_EQ(sf.Desktop().size(), 255);
}
