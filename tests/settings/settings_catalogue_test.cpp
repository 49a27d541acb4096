// The settings catalogue: a session reads every key and writes it back byte for byte; the
// start-up checks against the disk decide the encoder choices and fall back for unusable paths.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <utility>
#include <vector>

#include "ScratchFolder.h"
#include "settings/Settings.h"
#include "settings/StartUpChecks.h"
#include "settings/inifile_IO.h"

namespace {

// A file as shut-down writes it: every key, in the order and form of the catalogue.
const std::string kFull =
    "[OnKey]\nMedia=mp3\nPlay=all\n"
    "[Position]\nLeft=1500\nTop=900\nWidth=9000.5\nHeight=6000\n"
    "[Folder]\nWavePath=/srv/出力 フォルダ\nMidiPath=/srv/midi files\nScmpx=/opt/scmpx.exe\nWm8eutil=(なし)\n"
    "Waveflt=/opt/tools/waveflt.exe\n"
    "[Option]\nTitleToName=1\nDefSample=20\nDefDevice=2\nSelSample=1\nWait=0\n"
    "[Encoder]\nEnable0=0\nEnable1=0\nEnable2=0\nDefault=1\nBitrate=192\nStereo=Joint Stereo\nWMAEnc=0\nFast=1\n"
    "[Normalize]\nEnable=1\nheadcut=NG\n"
    "[Wait]\nCount=15\n";

std::string With(std::string text, const std::vector<std::pair<std::string, std::string>>& changes) {
  for (const auto& [from, to] : changes) {
    const size_t at = text.find(from);
    if (at == std::string::npos) return "<no " + from + ">";
    text.replace(at, from.size(), to);
  }
  return text;
}

struct Row {
  const char* name;
  bool stored;  // false: no file yet (first run)
  std::string before;
  bool withPosition;
  std::string after;
};

TEST(SettingsCatalogue, ReadThenWriteGivesTheFileOfTheSession) {
  const std::vector<Row> rows = {
      {"first run writes every default", false, "", true,
       "[OnKey]\nMedia=wave\nPlay=one\n[Position]\nLeft=0\nTop=0\nWidth=7500\nHeight=5250\n"
       "[Folder]\nWavePath=/opt/kv\nMidiPath=/opt/kv\nScmpx=(なし)\nWm8eutil=(なし)\nWaveflt=\n"
       "[Option]\nTitleToName=0\nDefSample=-1\nDefDevice=0\nSelSample=0\nWait=1\n"
       "[Encoder]\nEnable0=0\nEnable1=0\nEnable2=0\nDefault=-1\nBitrate=128\nStereo=Stereo\nWMAEnc=-1\nFast=0\n"
       "[Normalize]\nEnable=2\nheadcut=OK\n[Wait]\nCount=0\n"},
      {"every value comes back in place", true, kFull, true, kFull},
      {"a maximised window keeps the stored position", true, kFull, false, kFull},
      {"unusable values are written in their own form", true,
       With(kFull, {{"Fast=1", "Fast=2"}, {"Enable=1", "Enable=0"}, {"headcut=NG", "headcut=ok"},
                    {"TitleToName=1", "TitleToName=2"}, {"Bitrate=192", "Bitrate=40000"}, {"Count=15", "Count=x"},
                    {"Wait=0", "Wait=7"}, {"Left=1500", "Left=1.5e3"}}),
       true,
       With(kFull, {{"Fast=1", "Fast=0"}, {"Enable=1", "Enable=2"}, {"TitleToName=1", "TitleToName=0"},
                    {"Bitrate=192", "Bitrate=128"}, {"Count=15", "Count=0"}})},
  };
  for (const Row& row : rows) {
    kvtest::TempDir dir;
    const std::string file = dir.file("Dorvanti.ini");
    if (row.stored) kvtest::writeText(file, row.before);
    inifile_IO ini;
    ini.setFileName(QString::fromStdString(file));
    const kv::Settings s = kv::ReadSettings(ini, 7500, 5250, QStringLiteral("/opt/kv"));
    EXPECT_TRUE(kv::WriteSettings(ini, s, row.withPosition)) << row.name;
    EXPECT_EQ(kvtest::readBytes(file), row.after) << row.name;
  }
}

struct DetectRow {
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
  const DetectRow rows[] = {
      {"nothing installed", {}, "", "", -1, -1, "-1 -1 | 0 0 0 | 0 0 | 0 | 0"},
      {"stored GoGo and VBWAV2WMA choices stay though missing", {}, "", "", 1, 1, "1 1 | 0 0 0 | 0 0 | 0 | 0"},
      {"SCMPX of another name is dropped, its stored choice reset; WM8EUTIL.EXE counts",
       {{"other.exe", ""}, {"WM8EUTIL.EXE", ""}}, "other.exe", "WM8EUTIL.EXE", 0, -1, "-1 0 | 0 0 0 | 1 0 | 0 | 0"},
      {"ACM and VBWAV2WMA beside the program", {{"system/L3CODECP.ACM", ""}, {"app/vbmp3.dll", ""}, {"app/VBWAV2WMA.DLL", ""}},
       "", "", -1, -1, "2 1 | 0 0 1 | 0 1 | 0 | 0"},
      {"with no stored choice SCMPX comes before ACM", {{"scmpx.exe", ""}, {"app/vbmp3.dll", ""},
       {"system/L3CODECP.ACM", ""}}, "scmpx.exe", "", -1, -1, "0 -1 | 1 0 1 | 0 0 | 1 | 0"},
      {"gogo.dll only in the Windows folder", {{"windows/GOGO.DLL", gogoBytes}}, "", "", -1, -1,
       "1 -1 | 0 1 0 | 0 0 | 0 | 1"},
      {"a gogo.dll that is no library", {{"app/gogo.dll", "not a library"}}, "", "", -1, -1,
       "-1 -1 | 0 0 0 | 0 0 | 0 | 0"},
  };
  for (const DetectRow& r : rows) {
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
