// Path search, directory search.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ScratchFolder.h"
#include "kernel32.h"

namespace {

using V = std::vector<std::string>;
const DWORD kFileNotFound = ERROR_FILE_NOT_FOUND;

TEST(Search, CurrentFolderThenPathLetterCaseAndBufferSize) {
  kvtest::TempDir dir;
  char cwd[4096], buf[261];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  kvtest::writeText(dir.file("scmpx.exe"), "x");
  kvtest::writeText(dir.file("Mixed.Exe"), "x");
  std::filesystem::create_directory(dir.file("folder.exe"));
  const std::string scmpx = dir.file("scmpx.exe");
  const struct { std::string name; const char* ext; std::string found; } cases[] = {
      {"scmpx.exe", nullptr, scmpx},
      {"mixed.exe", nullptr, dir.file("Mixed.Exe")},  // letter case ignored when no exact match exists
      {scmpx, nullptr, scmpx},
      {"folder.exe", nullptr, ""},  // folders and name prefixes are no match
      {"no-such-program-here", nullptr, ""},
  };
  for (const auto& c : cases) {
    char* part = nullptr;
    const DWORD n = SearchPathA(nullptr, c.name.c_str(), c.ext, sizeof buf, buf, &part);
    EXPECT_EQ(n, c.found.size()) << c.name;
    if (n) EXPECT_EQ(std::string(buf), c.found) << c.name;
    if (n) EXPECT_EQ(std::string(part), c.found.substr(c.found.rfind('/') + 1)) << c.name;
  }
  EXPECT_EQ(GetLastError(), kFileNotFound);
  char* part = nullptr;
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_GT(SearchPathA(nullptr, "sh", nullptr, sizeof buf, buf, &part), 0u);  // from PATH
  EXPECT_EQ(std::string(part), "sh");
  EXPECT_EQ(access(buf, X_OK), 0);
}

class Find : public ::testing::Test {
 protected:
  kvtest::TempDir dir;
  void SetUp() override {
    kvtest::writeText(dir.file("a.WAV"), "12345");
    for (const char* n : {"b.wav", "Notes.txt"}) kvtest::writeText(dir.file(n), "");
    std::filesystem::create_directory(dir.file("music"));
  }
  V All(const std::string& pattern) {
    V names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    EXPECT_TRUE(FindClose(h));
    return names;
  }
};

// As the program searches: "*.ext" in a folder, and exact names.
TEST_F(Find, WildcardsNamesAndFoldersIgnoreLetterCase) {
  const struct { const char* pattern; V expected; } cases[] = {
      {"*.wav", {"a.WAV", "b.wav"}}, {"NOTES.TXT", {"Notes.txt"}}, {"a.wav", {"a.WAV"}},
      {"*.xyz", {}},                 {"missing.wav", {}},          {"MUSIC", {"music"}},
  };
  for (const auto& c : cases) EXPECT_EQ(All(dir.file(c.pattern)), c.expected) << c.pattern;
  WIN32_FIND_DATAA fd;
  EXPECT_EQ(FindFirstFileA((dir.path() + "/nodir/*.wav").c_str(), &fd), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
