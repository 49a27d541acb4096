// The settings class over the private-profile routines.
#include "settings/inifile_IO.h"

#include <gtest/gtest.h>

#include "ScratchFolder.h"

namespace {

class InifileIO : public ::testing::Test {
 protected:
  kvtest::TempDir dir;
  inifile_IO ini;
  void SetUp() override { ini.setFileName(QString::fromStdString(dir.file("Dorvanti.ini"))); }
  void Put(const std::string& text) { kvtest::writeText(dir.file("Dorvanti.ini"), text); }
};

TEST_F(InifileIO, MissingFileGivesDefaultsAndFirstWriteCreatesIt) {
  EXPECT_EQ(ini.ReadStr("OnKey", "Media", "wave"), "wave");
  EXPECT_EQ(ini.ReadInt("Encoder", "Bitrate", 128), 128);
  EXPECT_FLOAT_EQ(ini.ReadSng("Position", "Width", 9000.5f), 9000.5f);
  EXPECT_EQ(ini.ReadStr("OnKey", "Media"), QString());
  EXPECT_FALSE(kvtest::exists(dir.file("Dorvanti.ini")));
  EXPECT_TRUE(ini.WriteStr("OnKey", "Media", "mp3"));
  EXPECT_EQ(kvtest::readBytes(dir.file("Dorvanti.ini")), "[OnKey]\nMedia=mp3\n");
  EXPECT_EQ(ini.ReadStr("OnKey", "Media", "wave"), "mp3");
}

TEST_F(InifileIO, EmptyValueGivesDefault) {
  Put("[Folder]\nWaveflt=\n[Wait]\nCount=  \n");
  EXPECT_EQ(ini.ReadStr("Folder", "Waveflt", "def"), "def");
  EXPECT_EQ(ini.ReadInt("Wait", "Count", 7), 7);
  EXPECT_FLOAT_EQ(ini.ReadSng("Wait", "Count", 1.5f), 1.5f);
}

TEST_F(InifileIO, ReadIntNumericTestAndRounding) {
  Put("[n]\n"
      "blanks=\t 15 \n"
      "quoted=\" 15 \"\n"
      "half2=2.5\n"
      "half3=3.5\n"
      "neghalf=-2.5\n"
      "big=40000\n"
      "edge=32767\n"
      "low=-32768\n"
      "over=32767.5\n"
      "letters=abc\n"
      "trailing=12abc\n"
      "exp=1.5e2\n"
      "plus=+42\n"
      "dot=.5\n"
      "bare=.\n"
      "badexp=1e\n"
      "hex=0x10\n"
      "inner=1 2\n");
  struct {
    const char* key;
    short expected;
  } cases[] = {{"blanks", 15},   {"quoted", 15},   {"half2", 2},     {"half3", 4},    {"neghalf", -2},
               {"big", -9},      {"edge", 32767},  {"low", -32768},  {"over", -9},    {"letters", -9},
               {"trailing", -9}, {"exp", 150},     {"plus", 42},     {"dot", 0},      {"bare", -9},
               {"badexp", -9},   {"hex", -9},      {"inner", -9},    {"missing", -9}};
  for (const auto& c : cases) EXPECT_EQ(ini.ReadInt("n", c.key, -9), c.expected) << c.key;
}

TEST_F(InifileIO, ReadSngIsSinglePrecision) {
  Put("[Position]\nLeft=1234.5\nTop=-0.1\nWidth=1e40\nHeight=12,5\nExp=2.5E+3\n");
  EXPECT_FLOAT_EQ(ini.ReadSng("Position", "Left", -1), 1234.5f);
  EXPECT_EQ(ini.ReadSng("Position", "Top", -1), -0.1f);
  EXPECT_FLOAT_EQ(ini.ReadSng("Position", "Width", -1), -1.0f);
  EXPECT_FLOAT_EQ(ini.ReadSng("Position", "Height", -1), -1.0f);
  EXPECT_FLOAT_EQ(ini.ReadSng("Position", "Exp", -1), 2500.0f);
}

TEST_F(InifileIO, NamesIgnoreLetterCase) {
  EXPECT_TRUE(ini.WriteStr("Normalize", "headcut", "NG"));
  EXPECT_EQ(ini.ReadStr("Normalize", "Headcut", "OK"), "NG");
  EXPECT_TRUE(ini.WriteStr("normalize", "HEADCUT", "OK"));
  EXPECT_EQ(kvtest::readBytes(dir.file("Dorvanti.ini")), "[Normalize]\nheadcut=OK\n");
}

TEST_F(InifileIO, LongValueIsCutTo1023Bytes) {
  std::string value(2000, 'a');
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>('a' + i % 26);
  Put("[Folder]\nWavePath=" + value + "\n");
  QString got = ini.ReadStr("Folder", "WavePath", "def");
  EXPECT_EQ(got.toStdString(), value.substr(0, 1023));
}

// A settings file from a Japanese Windows (CP932) is read.
TEST_F(InifileIO, JapaneseWindowsFileIsRead) {
  Put("[Folder]\r\nWavePath=C:\\\x89\xB9\x8A\x79\r\n");
  EXPECT_EQ(ini.ReadStr("Folder", "WavePath"), QStringLiteral("C:\\音楽"));
}

TEST_F(InifileIO, FailedWriteReportsFalse) {
  ini.setFileName(QString::fromStdString(dir.file("missing/folder/Dorvanti.ini")));
  EXPECT_FALSE(ini.WriteStr("a", "b", "c"));
  EXPECT_EQ(ini.ReadStr("a", "b", "def"), "def");
}

}  // namespace
