// The settings class over the private-profile routines: what it adds to them is the typed reads,
// the default for an empty value, the 1023-byte value limit and the text conversion of names.
#include "settings/inifile_IO.h"

#include <gtest/gtest.h>

#include "ScratchFolder.h"

namespace {

TEST(InifileIO, TypedReadsOfOneFile) {
  kvtest::TempDir dir;
  inifile_IO ini;
  ini.setFileName(QString::fromStdString(dir.file("Dorvanti.ini")));
  std::string longValue(2000, 'a');
  for (size_t i = 0; i < longValue.size(); ++i) longValue[i] = char('a' + i % 26);
  kvtest::writeText(dir.file("Dorvanti.ini"),
                    "[n]\nblanks=\t 15 \nquoted=\" 15 \"\nhalf2=2.5\nhalf3=3.5\nneghalf=-2.5\nbig=40000\nedge=32767\n"
                    "low=-32768\nover=32767.5\nletters=abc\ntrailing=12abc\nexp=1.5e2\nempty=\nblank=  \n"
                    "[s]\nleft=1234.5\ntop=-0.1\nhuge=1e40\ncomma=12,5\nexp=2.5E+3\nempty=\n"
                    "[Folder]\nWavePath=" + longValue + "\nWaveflt=\n[音楽]\n曲=夜\n");
  const struct {
    const char* key;
    short expected;
  } ints[] = {{"blanks", 15},  {"quoted", 15},   {"half2", 2},    {"half3", 4},      {"neghalf", -2},
              {"big", -9},     {"edge", 32767},  {"low", -32768}, {"over", -9},      {"letters", -9},
              {"trailing", -9}, {"exp", 150},    {"missing", -9}, {"empty", -9},     {"blank", -9}};
  for (const auto& c : ints) EXPECT_EQ(ini.ReadInt("n", c.key, -9), c.expected) << "ReadInt " << c.key;
  // Single precision: -0.1 is the float nearest to it, not the double.
  const struct {
    const char* key;
    float expected;
  } sngs[] = {{"left", 1234.5f}, {"top", -0.1f}, {"huge", -1.0f}, {"comma", -1.0f}, {"exp", 2500.0f}, {"empty", -1.0f}};
  for (const auto& c : sngs) EXPECT_EQ(ini.ReadSng("s", c.key, -1), c.expected) << "ReadSng " << c.key;
  EXPECT_EQ(ini.ReadStr("Folder", "WavePath", "def").toStdString(), longValue.substr(0, 1023));
  EXPECT_EQ(ini.ReadStr("Folder", "Waveflt", "def"), u"def");
  EXPECT_EQ(ini.ReadStr("音楽", "曲"), u"夜");
  EXPECT_EQ(ini.ReadStr("Folder", "none"), QString());
  EXPECT_TRUE(ini.WriteStr("音楽", "曲", "朝"));
  EXPECT_EQ(ini.ReadStr("音楽", "曲", "def"), u"朝");
  ini.setFileName(QString::fromStdString(dir.file("missing/folder/Dorvanti.ini")));
  EXPECT_FALSE(ini.WriteStr("a", "b", "c"));
}

}  // namespace
