// The settings catalogue: a session reads every key and writes it back byte for byte.
#include "settings/Settings.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "ScratchFolder.h"
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
      {"comments, unknown keys and key case are kept", true,
       With(kFull, {{"[OnKey]", "; Korvessa\n[OnKey]"}, {"Wait=0\n", "Wait=0\nUnknownKey=kept\n"},
                    {"headcut=NG", "Headcut=NG"}}),
       true, With(kFull, {{"[OnKey]", "; Korvessa\n[OnKey]"}, {"Wait=0\n", "Wait=0\nUnknownKey=kept\n"},
                          {"headcut=NG", "Headcut=NG"}})},
      {"a maximised window keeps the stored position", true, kFull, false, kFull},
      {"unusable values are written in their own form", true,
       With(kFull, {{"Fast=1", "Fast=2"}, {"Enable=1", "Enable=0"}, {"headcut=NG", "headcut=ok"},
                    {"TitleToName=1", "TitleToName=2"}, {"Bitrate=192", "Bitrate=40000"}, {"Count=15", "Count=x"},
                    {"Wait=0", "Wait=7"}, {"Left=1500", "Left=1.5e3"}}),
       true,
       With(kFull, {{"Fast=1", "Fast=0"}, {"Enable=1", "Enable=2"}, {"headcut=NG", "headcut=NG"},
                    {"TitleToName=1", "TitleToName=0"}, {"Bitrate=192", "Bitrate=128"}, {"Count=15", "Count=0"},
                    {"Wait=0", "Wait=0"}})},
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

}  // namespace
