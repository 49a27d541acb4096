// Special folders.
#include <gtest/gtest.h>

#include <string>

#include "Environment.h"
#include "ScratchFolder.h"
#include "shell32.h"

namespace {

std::string SpecialFolder(int csidl) {
  LPITEMIDLIST id = nullptr;
  if (SHGetSpecialFolderLocation(GetDesktopWindow(), csidl, &id) != S_OK) return "<failed>";
  char buf[256] = {};
  BOOL ok = SHGetPathFromIDListA(id, buf);
  CoTaskMemFree(id);
  return ok ? buf : "<no path>";
}

class SpecialFolders : public ::testing::Test {
 protected:
  kvtest::TempDir home;
  EnvGuard h{"HOME", home.path().c_str()}, c{"XDG_CONFIG_HOME", nullptr}, d{"XDG_DATA_HOME", nullptr},
      k{"XDG_DESKTOP_DIR", nullptr};
};

TEST_F(SpecialFolders, DefaultsUnderHome) {
  EXPECT_NE(GetDesktopWindow(), nullptr);
  EXPECT_EQ(SpecialFolder(CSIDL_DESKTOP), home.path());
  std::filesystem::create_directory(home.file("Desktop"));
  EXPECT_EQ(SpecialFolder(CSIDL_DESKTOP), home.file("Desktop"));
  EXPECT_EQ(SpecialFolder(CSIDL_PROGRAMS), home.file(".local/share/applications"));
  EXPECT_EQ(SpecialFolder(CSIDL_STARTUP), home.file(".config/autostart"));
  EXPECT_EQ(SpecialFolder(CSIDL_RECENT), home.file(".local/share"));
  EXPECT_EQ(SpecialFolder(0x1234), "<failed>");
}

TEST_F(SpecialFolders, XdgSettingsWin) {
  std::filesystem::create_directories(home.file("cfg"));
  std::filesystem::create_directories(home.file("デスクトップ"));
  kvtest::writeText(home.file("cfg/user-dirs.dirs"), "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/デスクトップ\"\n");
  EnvGuard cfg("XDG_CONFIG_HOME", (home.file("cfg")).c_str()), data("XDG_DATA_HOME", (home.file("data/")).c_str());
  EXPECT_EQ(SpecialFolder(CSIDL_DESKTOP), home.file("デスクトップ"));
  EXPECT_EQ(SpecialFolder(CSIDL_STARTUP), home.file("cfg/autostart"));
  EXPECT_EQ(SpecialFolder(CSIDL_PROGRAMS), home.file("data/applications"));
  EXPECT_EQ(SpecialFolder(CSIDL_RECENT), home.file("data"));
  char buf[MAX_PATH] = "x";
  EXPECT_FALSE(SHGetPathFromIDListA(nullptr, buf));
  EXPECT_STREQ(buf, "");
}

}  // namespace
