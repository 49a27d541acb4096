// Start-up checks against the disk: the installed encoders decide the choices, unusable stored
// paths and folders fall back.
#include "settings/StartUpChecks.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

struct Row {
  const char* name;
  QList<std::pair<QString, QByteArray>> files;  // under the scratch root: app/, system/, windows/
  QString scmpx, wm8eutil;                      // stored, relative to the root; empty: none
  short storedDefault, storedWma;
  // Expected: "Default WMAEnc | Enable0 Enable1 Enable2 | WMA0 WMA1 | Scmpx kept | version known".
  const char* expected;
};

QString Outcome(const kv::Settings& s) {
  auto b = [](bool v) { return v ? QStringLiteral("1") : QStringLiteral("0"); };
  return QStringLiteral("%1 %2 | %3 %4 %5 | %6 %7 | %8 | %9")
      .arg(s.EncoderDefault).arg(s.WmaEncoder)
      .arg(b(s.EncoderAvailable[0]), b(s.EncoderAvailable[1]), b(s.EncoderAvailable[2]))
      .arg(b(s.WmaAvailable[0]), b(s.WmaAvailable[1]), b(s.ScmpxPath != kv::NonePath()), b(!s.GogoVersion.isEmpty()));
}

TEST(StartUpChecks, InstalledEncodersDecideTheChoices) {
  QFile gogo(QStringLiteral(KV_BIN_DIR "/gogo.dll"));
  ASSERT_TRUE(gogo.open(QIODevice::ReadOnly)) << "build/bin/gogo.dll is missing";
  const QByteArray gogoBytes = gogo.readAll();
  const Row rows[] = {
      {"nothing installed", {}, "", "", -1, -1, "-1 -1 | 0 0 0 | 0 0 | 0 | 0"},
      {"stored GoGo and VBWAV2WMA choices stay though missing", {}, "", "", 1, 1, "1 1 | 0 0 0 | 0 0 | 0 | 0"},
      {"SCMPX of another name is dropped, its stored choice reset; WM8EUTIL.EXE counts",
       {{"other.exe", ""}, {"WM8EUTIL.EXE", ""}}, "other.exe", "WM8EUTIL.EXE", 0, -1, "-1 0 | 0 0 0 | 1 0 | 0 | 0"},
      {"the codec without VBMP3.DLL is not enough", {{"system/L3CODECP.ACM", ""}}, "", "", -1, -1,
       "-1 -1 | 0 0 0 | 0 0 | 0 | 0"},
      {"ACM and VBWAV2WMA beside the program", {{"system/L3CODECP.ACM", ""}, {"app/vbmp3.dll", ""}, {"app/VBWAV2WMA.DLL", ""}},
       "", "", -1, -1, "2 1 | 0 0 1 | 0 1 | 0 | 0"},
      {"with no stored choice SCMPX comes before ACM", {{"scmpx.exe", ""}, {"app/vbmp3.dll", ""},
       {"system/L3CODECP.ACM", ""}}, "scmpx.exe", "", -1, -1, "0 -1 | 1 0 1 | 0 0 | 1 | 0"},
      {"gogo.dll only in the Windows folder", {{"windows/GOGO.DLL", gogoBytes}}, "", "", -1, -1,
       "1 -1 | 0 1 0 | 0 0 | 0 | 1"},
      {"a gogo.dll that is no library", {{"app/gogo.dll", "not a library"}}, "", "", -1, -1,
       "-1 -1 | 0 0 0 | 0 0 | 0 | 0"},
  };
  for (const Row& r : rows) {
    QTemporaryDir root;
    for (const char* d : {"app", "system", "windows"}) QDir(root.path()).mkpath(d);
    for (const auto& [name, bytes] : r.files) {
      QFile f(root.filePath(name));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()) << r.name;
    }
    kv::Settings s;
    if (!r.scmpx.isEmpty()) s.ScmpxPath = root.filePath(r.scmpx);
    if (!r.wm8eutil.isEmpty()) s.Wm8eutilPath = root.filePath(r.wm8eutil);
    s.EncoderDefault = r.storedDefault;
    s.WmaEncoder = r.storedWma;
    kv::DetectEncoders(s, root.filePath("app"), root.filePath("system"), root.filePath("windows"));
    EXPECT_EQ(Outcome(s), QString::fromUtf8(r.expected)) << r.name;
  }
}

TEST(StartUpChecks, UnusableFoldersAndFilterFallBack) {
  QTemporaryDir root;
  for (const char* d : {"abc", "long name", "tools"}) QDir(root.path()).mkpath(d);
  QFile(root.filePath("tools/other.exe")).open(QIODevice::WriteOnly);
  kv::Settings s;
  const QString app = root.filePath("app");
  for (const auto& [wave, midi, expected] :
       {std::tuple{root.filePath("abc"), root.filePath("gone"), app + " " + app},
        std::tuple{root.filePath("long name"), QString(), root.filePath("long name") + " " + app}}) {
    s.WavePath = wave;
    s.MidiPath = midi;
    kv::CheckFolders(s, app);
    EXPECT_EQ(s.WavePath + " " + s.MidiPath, expected);
  }
  s.WavefltPath = root.filePath("tools/other.exe");
  kv::CheckWaveflt(s);
  EXPECT_EQ(s.WavefltPath, QString());
}

}  // namespace
