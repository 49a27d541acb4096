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

TEST_F(SpecialFolders, DefaultsUnderHomeAndXdgSettingsWin) {
  EXPECT_NE(GetDesktopWindow(), nullptr);
  EXPECT_EQ(SpecialFolder(CSIDL_DESKTOP), home.path());  // no Desktop folder yet
  EXPECT_EQ(SpecialFolder(0x1234), "<failed>");
  const struct { int csidl; const char *byDefault, *byXdg; } cases[] = {
      {CSIDL_DESKTOP, "Desktop", "デスクトップ"},
      {CSIDL_PROGRAMS, ".local/share/applications", "data/applications"},
      {CSIDL_STARTUP, ".config/autostart", "cfg/autostart"},
      {CSIDL_RECENT, ".local/share", "data"},
  };
  for (const char* folder : {"Desktop", "cfg", "デスクトップ"}) std::filesystem::create_directories(home.file(folder));
  for (const auto& c : cases) EXPECT_EQ(SpecialFolder(c.csidl), home.file(c.byDefault)) << c.csidl;
  kvtest::writeText(home.file("cfg/user-dirs.dirs"), "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/デスクトップ\"\n");
  EnvGuard cfg("XDG_CONFIG_HOME", home.file("cfg").c_str()), data("XDG_DATA_HOME", home.file("data/").c_str());
  for (const auto& c : cases) EXPECT_EQ(SpecialFolder(c.csidl), home.file(c.byXdg)) << c.csidl;
  char buf[MAX_PATH] = "x";
  EXPECT_FALSE(SHGetPathFromIDListA(nullptr, buf));
  EXPECT_STREQ(buf, "");
}

}  // namespace
