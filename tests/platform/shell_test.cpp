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

// The desktop: HOME without a Desktop folder, HOME/Desktop, and the one named in user-dirs.dirs;
// folders named by the XDG variables: SystemFolder test.
TEST_F(SpecialFolders, DesktopUnderHomeAndTheOneOfUserDirs) {
  EXPECT_EQ(SpecialFolder(CSIDL_DESKTOP), home.path());
  std::filesystem::create_directories(home.file("Desktop"));
  EXPECT_EQ(SpecialFolder(CSIDL_DESKTOP), home.file("Desktop"));
  std::filesystem::create_directories(home.file("cfg/デスクトップ"));
  kvtest::writeText(home.file("cfg/user-dirs.dirs"), "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/cfg/デスクトップ\"\n");
  EnvGuard cfg("XDG_CONFIG_HOME", home.file("cfg").c_str());
  EXPECT_EQ(SpecialFolder(CSIDL_DESKTOP), home.file("cfg/デスクトップ"));
}

}  // namespace
