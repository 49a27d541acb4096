// Private-profile routines: reading, writing, keeping foreign lines, safe replacement.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "ScratchFolder.h"
#include "kernel32.h"

using namespace std::string_literals;

namespace {

const std::string kSample =
    "; settings of the test\n[Section1]\nName1=val1\n  name2 =  val 2  \nquoted=\"  spaced  \"\nsingle='x'\n"
    "half=\"open\nempty=\nnoequals\n# another comment\n[ Spaced Section ]\nkey=1\n";

class Profile : public ::testing::Test {
 protected:
  kvtest::TempDir dir;
  std::string ini = dir.file("test.ini");

  std::string Get(const char* s, const char* k, const char* def = "", DWORD size = 256, DWORD* ret = nullptr) {
    char buf[1024];
    memset(buf, 'X', sizeof buf);
    DWORD r = GetPrivateProfileStringA(s, k, def, buf, size, ini.c_str());
    if (ret) *ret = r;
    return std::string(buf, r);
  }
};

TEST_F(Profile, ReadsValuesAsWindowsDoes) {
  kvtest::writeText(ini, kSample);
  // What, section, key, default, buffer size, bytes expected at the start of the buffer, result.
  const struct { const char *what, *section, *key, *def; DWORD size; std::string expected; DWORD ret; } cases[] = {
      {"plain", "Section1", "Name1", "d", 256, "val1\0"s, 4},
      {"names ignore case", "SECTION1", "nAmE1", "d", 256, "val1\0"s, 4},
      {"blanks around names and value", "Section1", "name2", "d", 256, "val 2\0"s, 5},
      {"double quotes dropped", "Section1", "quoted", "d", 256, "  spaced  \0"s, 10},
      {"unpaired quote kept", "Section1", "half", "d", 256, "\"open\0"s, 5},
      {"empty value is not the default", "Section1", "empty", "d", 256, "\0"s, 0},
      {"missing section", "Nowhere", "Name1", "zz", 256, "zz\0"s, 2},
      {"section name with blanks inside brackets", "Spaced Section", "KEY", "d", 256, "1\0"s, 1},
      {"value cut to the buffer", "Section1", "Name1", "d", 3, "va\0"s, 2},
  };
  for (const auto& c : cases) {
    char buf[300];
    memset(buf, 'X', sizeof buf);
    DWORD r = GetPrivateProfileStringA(c.section, c.key, c.def, buf, c.size, ini.c_str());
    EXPECT_EQ(r, c.ret) << c.what;
    EXPECT_EQ(std::string(buf, c.expected.size()), c.expected) << c.what;
    EXPECT_EQ(buf[c.size], 'X') << c.what << ": wrote past the buffer";
  }
}

TEST_F(Profile, ReadsBomLineEndingsAndLegacyEncodingsRewritingThemAsUtf8) {
  kvtest::writeText(ini, "\xEF\xBB\xBF[Folder]\r\nWavePath=/home/ユーザー/音楽\r\nMidi = \"/tmp/a b\" \r\n");
  EXPECT_EQ(Get("folder", "wavepath"), "/home/ユーザー/音楽");
  EXPECT_EQ(Get("Folder", "Midi"), "/tmp/a b");
  // A UTF-8 value is never cut inside a character.
  DWORD r = 0;
  EXPECT_EQ(Get("Folder", "WavePath", "", 14, &r), "/home/ユー");
  EXPECT_EQ(r, 12u);
  // "[Folder]" / "WavePath=C:\音楽\ユーザー" in Shift-JIS; "ー" (81 5B) carries a '[' byte.
  const std::string sjis = "[Folder]\r\nWavePath=C:\\\x89\xB9\x8A\x79\\\x83\x86\x81\x5B\x83\x55\x81\x5B\r\n";
  kvtest::writeText(ini, sjis);
  EXPECT_EQ(Get("Folder", "WavePath"), "C:\\音楽\\ユーザー");
  ASSERT_TRUE(WritePrivateProfileStringA("Folder", "MidiPath", "/tmp", ini.c_str()));
  EXPECT_EQ(kvtest::readBytes(ini), "[Folder]\r\nWavePath=C:\\音楽\\ユーザー\r\nMidiPath=/tmp\r\n");
}

TEST_F(Profile, MissingGarbageAndHugeFilesGiveDefaults) {
  EXPECT_EQ(Get("a", "b", "fallback"), "fallback");

  std::mt19937 rng(7);
  std::string garbage(10 * 1024 * 1024, '\0');
  for (auto& c : garbage) c = static_cast<char>(rng());
  kvtest::writeText(ini, garbage);
  EXPECT_EQ(Get("Folder", "WavePath", "def"), "def");

  // A folder is not a settings file.
  ini = dir.path();
  EXPECT_EQ(Get("a", "b", "dflt"), "dflt");
  EXPECT_FALSE(WritePrivateProfileStringA("a", "b", "c", ini.c_str()));
}

TEST_F(Profile, WriteCreatesFileSectionsAndKeysAndKeepsOtherLinesByteForByte) {
  ASSERT_TRUE(WritePrivateProfileStringA("OnKey", "Media", "wave", ini.c_str()));
  EXPECT_EQ(kvtest::readBytes(ini), "[OnKey]\nMedia=wave\n");

  // Comments, odd lines, blank lines and unknown sections stay; the last line had no line end.
  const std::string before = "; comment\r\n[Normalize]\r\nHeadcut = OK\r\nEnable=2\r\n\r\n# odd line follows\r\n"
                             "just some words\r\n[Unknown]\r\nFoo=bar  \r\n[Last]\r\nk=v";
  kvtest::writeText(ini, before);
  ASSERT_TRUE(WritePrivateProfileStringA("Normalize", "headcut", "NG", ini.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Normalize", "New", "1", ini.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Last", "j", "2", ini.c_str()));
  const std::string after = "; comment\r\n[Normalize]\r\nHeadcut = NG\r\nEnable=2\r\nNew=1\r\n\r\n# odd line follows\r\n"
                            "just some words\r\n[Unknown]\r\nFoo=bar  \r\n[Last]\r\nk=v\r\nj=2\r\n";
  EXPECT_EQ(kvtest::readBytes(ini), after);
}

TEST_F(Profile, ReplacementKeepsPermissionsAndLinks) {
  kvtest::writeText(ini, "[a]\nk=v\n");
  struct stat st{};
  ASSERT_EQ(chmod(ini.c_str(), 0640), 0);
  std::string link = dir.file("link.ini");
  ASSERT_EQ(symlink(ini.c_str(), link.c_str()), 0);
  ASSERT_TRUE(WritePrivateProfileStringA("a", "k", "new", link.c_str()));
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(kvtest::readBytes(ini), "[a]\nk=new\n");
  // No temporary file is left behind.
  EXPECT_EQ(dir.list().size(), 2u);
}

// A write by a user who may not replace files in the folder (a full disk while writing, binary
// garbage in the file: the SettingsFile tests); a value that could not be read back is refused.
TEST_F(Profile, FailedWriteReturnsFalseAndKeepsOldFile) {
  const std::string old = "[a]\nk=old\n; keep me\n";
  kvtest::writeText(ini, old);
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  ASSERT_EQ(chmod(ini.c_str(), 0666), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(99);
    _exit(WritePrivateProfileStringA("a", "k", "new", ini.c_str()) ? 1 : 0);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "unwritable folder";
  EXPECT_EQ(kvtest::readBytes(ini), old);
  EXPECT_FALSE(WritePrivateProfileStringA("a", "k", "line1\nline2", ini.c_str()));
  EXPECT_EQ(kvtest::readBytes(ini), old);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"test.ini"});
}

}  // namespace
