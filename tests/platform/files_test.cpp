// Folders, short paths, version, disk space, path search, directory search, PathRemoveFileSpecA.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "Environment.h"
#include "ScratchFolder.h"
#include "kernel32.h"
#include "shlwapi.h"

namespace {

std::string ExeFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe(buf, n > 0 ? n : 0);
  return exe.substr(0, exe.rfind('/'));
}

TEST(Folders, WindowsAndSystemFoldersBesideTheProgramOrFromEnvironment) {
  char buf[250];
  {
    EnvGuard w("KORVESSA_WINDOWS_DIR", nullptr), s("KORVESSA_SYSTEM_DIR", nullptr);
    EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof buf), ExeFolder().size() + 8);
    EXPECT_EQ(std::string(buf), ExeFolder() + "/windows");
    GetSystemDirectoryA(buf, sizeof buf);
    EXPECT_EQ(std::string(buf), ExeFolder() + "/system");
  }
  EnvGuard w("KORVESSA_WINDOWS_DIR", "/opt/win//"), s("KORVESSA_SYSTEM_DIR", "/opt/sys");
  EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof buf), 8u);
  EXPECT_STREQ(buf, "/opt/win");
  EXPECT_EQ(GetSystemDirectoryA(buf, sizeof buf), 8u);
  EXPECT_STREQ(buf, "/opt/sys");
  // Too small: the size needed, NUL included, and the buffer untouched.
  char small[8] = "XXXXXXX";
  EXPECT_EQ(GetSystemDirectoryA(small, sizeof small), 9u);
  EXPECT_STREQ(small, "XXXXXXX");
  EXPECT_EQ(GetSystemDirectoryA(buf, 9), 8u);
}

TEST(ShortPath, ExistingPathIsItselfMissingPathIsNothing) {
  kvtest::TempDir dir;
  std::string file = dir.file("long name.wav");
  kvtest::writeText(file, "x");
  char buf[300];
  EXPECT_EQ(GetShortPathNameA(file.c_str(), buf, sizeof buf), file.size());
  EXPECT_EQ(std::string(buf), file);
  EXPECT_EQ(GetShortPathNameA(file.c_str(), buf, 5), file.size() + 1);
  SetLastError(0);
  EXPECT_EQ(GetShortPathNameA((dir.file("missing.exe")).c_str(), buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Version, ReportsAnNtClassSystemForTheRightRecordSize) {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = 148;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  utsname u{};
  uname(&u);
  EXPECT_EQ(v.dwMajorVersion, static_cast<DWORD>(atoi(u.release)));
  OSVERSIONINFOA bad{};
  bad.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExA(&bad));
  EXPECT_EQ(bad.dwPlatformId, 0u);
}

TEST(DiskSpace, FreeBytesOfExistingFolderOnly) {
  ULARGE_INTEGER avail{}, total{}, freeBytes{};
  ASSERT_TRUE(GetDiskFreeSpaceExA("/tmp", &avail, &total, &freeBytes));
  EXPECT_GT(freeBytes.QuadPart, 0u);
  EXPECT_GE(freeBytes.QuadPart, avail.QuadPart);
  EXPECT_GE(total.QuadPart, freeBytes.QuadPart);
  EXPECT_FALSE(GetDiskFreeSpaceExA("/no/such/folder", &avail, &total, &freeBytes));
}

class Search : public ::testing::Test {
 protected:
  kvtest::TempDir dir;
  char cwd[4096];
  void SetUp() override {
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    kvtest::writeText(dir.file("scmpx.exe"), "x");
    kvtest::writeText(dir.file("Mixed.Exe"), "x");
    std::filesystem::create_directory(dir.file("folder.exe"));
  }
  void TearDown() override { ASSERT_EQ(chdir(cwd), 0); }
};

TEST_F(Search, FindsInCurrentFolderThenPath) {
  char buf[261];
  char* part = nullptr;
  DWORD n = SearchPathA(nullptr, "scmpx.exe", nullptr, sizeof buf, buf, &part);
  EXPECT_EQ(std::string(buf), dir.file("scmpx.exe"));
  EXPECT_EQ(n, strlen(buf));
  EXPECT_STREQ(part, "scmpx.exe");
  // Letter case of the name is ignored when no exact match exists.
  ASSERT_GT(SearchPathA(nullptr, "mixed.exe", nullptr, sizeof buf, buf, &part), 0u);
  EXPECT_EQ(std::string(buf), dir.file("Mixed.Exe"));
  // Default extension for a name without one.
  ASSERT_GT(SearchPathA(nullptr, "scmpx", ".exe", sizeof buf, buf, &part), 0u);
  EXPECT_EQ(std::string(buf), dir.file("scmpx.exe"));
  // PATH.
  ASSERT_GT(SearchPathA(nullptr, "sh", nullptr, sizeof buf, buf, &part), 0u);
  EXPECT_EQ(std::string(part), "sh");
  EXPECT_EQ(access(buf, X_OK), 0);
  // A path as given; relative paths come back absolute.
  ASSERT_GT(SearchPathA(nullptr, "./scmpx.exe", nullptr, sizeof buf, buf, &part), 0u);
  EXPECT_EQ(std::string(buf), dir.file("scmpx.exe"));
  ASSERT_GT(SearchPathA(nullptr, (dir.file("scmpx.exe")).c_str(), nullptr, sizeof buf, buf, &part), 0u);
}

TEST_F(Search, MissesFoldersPrefixesAndReportsBufferSize) {
  char buf[261];
  char* part = nullptr;
  EXPECT_EQ(SearchPathA(nullptr, "folder.exe", nullptr, sizeof buf, buf, &part), 0u);
  EXPECT_EQ(SearchPathA(nullptr, (dir.path() + "/sc").c_str(), nullptr, sizeof buf, buf, &part), 0u);
  EXPECT_EQ(SearchPathA(nullptr, "no-such-program-here", nullptr, sizeof buf, buf, &part), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  std::string full = dir.file("scmpx.exe");
  EXPECT_EQ(SearchPathA(nullptr, "scmpx.exe", nullptr, 4, buf, &part), full.size() + 1);
}

class Find : public ::testing::Test {
 protected:
  kvtest::TempDir dir;
  void SetUp() override {
    kvtest::writeText(dir.file("a.WAV"), "12345");
    kvtest::writeText(dir.file("b.wav"), "");
    kvtest::writeText(dir.file("Notes.txt"), "");
    kvtest::writeText(dir.file("readme"), "");
    std::filesystem::create_directory(dir.file("music"));
  }
  std::vector<std::string> All(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    return names;
  }
};

TEST_F(Find, WildcardsAndNamesIgnoreLetterCase) {
  using V = std::vector<std::string>;
  struct {
    const char* pattern;
    V expected;
  } cases[] = {
      {"*.wav", V{"a.WAV", "b.wav"}},
      {"?.WaV", V{"a.WAV", "b.wav"}},
      {"NOTES.TXT", V{"Notes.txt"}},
      {"a.wav", V{"a.WAV"}},
      {"*", V{".", "..", "a.WAV", "b.wav", "music", "Notes.txt", "readme"}},
      {"*.*", V{".", "..", "a.WAV", "b.wav", "music", "Notes.txt", "readme"}},
      {"readme.*", V{"readme"}},
      {"*.xyz", V{}},
      {"missing.wav", V{}},
      {"MUSIC", V{"music"}},
  };
  for (const auto& c : cases) EXPECT_EQ(All(dir.file(c.pattern)), c.expected) << c.pattern;
}

TEST_F(Find, FolderPathFindsTheFolderItself) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir.file("music")).c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(fd.cFileName, "music");
  EXPECT_TRUE(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(FindNextFileA(h, &fd));
  FindClose(h);

  h = FindFirstFileA((dir.file("a.wav")).c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fd.nFileSizeLow, 5u);
  EXPECT_FALSE(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);

  for (const std::string& p : std::vector<std::string>{"/", "", dir.path() + "/", dir.path() + "/nodir/*.wav"}) {
    EXPECT_EQ(FindFirstFileA(p.c_str(), &fd), INVALID_HANDLE_VALUE) << p;
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(FindClose(reinterpret_cast<HANDLE>(0x1234)));
}

TEST(PathRemoveFileSpec, RemovesTheLastComponent) {
  struct {
    const char* in;
    const char* out;
    BOOL ret;
  } cases[] = {
      {"/tools/waveflt.exe", "/tools", TRUE}, {"/waveflt.exe", "/", TRUE}, {"/", "/", FALSE},
      {"waveflt.exe", "", TRUE},              {"", "", FALSE},             {"/a/b/", "/a/b", TRUE},
      {"tools/x", "tools", TRUE},
  };
  for (const auto& c : cases) {
    char buf[64];
    strcpy(buf, c.in);
    EXPECT_EQ(PathRemoveFileSpecA(buf), c.ret) << c.in;
    EXPECT_STREQ(buf, c.out) << c.in;
  }
  EXPECT_FALSE(PathRemoveFileSpecA(nullptr));
}

}  // namespace
