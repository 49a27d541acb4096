// Starting programs, exit codes and handles.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "TempDir.h"
#include "kernel32.h"
#include "shell32.h"

namespace {

// Polls until the process has ended (bounded so a broken build fails instead of hanging).
DWORD WaitForExit(HANDLE h) {
  DWORD code = STILL_ACTIVE;
  for (int i = 0; i < 2000 && code == STILL_ACTIVE; ++i) {
    if (!GetExitCodeProcess(h, &code)) return 0xFFFFFFFF;
    if (code == STILL_ACTIVE) Sleep(5);
  }
  return code;
}

void WriteScript(const std::string& path, const std::string& body, bool executable = true) {
  WriteBytes(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), executable ? 0755 : 0644);
}

TEST(Process, StartByCommandLineAndReadExitCode) {
  DWORD pid = kvStartProcess("true");
  ASSERT_NE(pid, 0u);
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, TRUE, pid);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WaitForExit(h), 0u);
  // The ended child has been reaped: no zombie is left behind.
  EXPECT_EQ(kill(static_cast<pid_t>(pid), 0), -1);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  pid = kvStartProcess("sh -c \"exit 7\"");
  ASSERT_NE(pid, 0u);
  h = OpenProcess(PROCESS_QUERY_INFORMATION, TRUE, pid);
  EXPECT_EQ(WaitForExit(h), 7u);
  CloseHandle(h);

  // A program in the current folder is found before PATH.
  TempDir dir;
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  WriteScript(dir / "local-tool", "exit 9\n");
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  pid = kvStartProcess("local-tool --flag");
  EXPECT_EQ(chdir(cwd), 0);
  ASSERT_NE(pid, 0u);
  h = OpenProcess(PROCESS_QUERY_INFORMATION, TRUE, pid);
  EXPECT_EQ(WaitForExit(h), 9u);
  CloseHandle(h);

  EXPECT_EQ(kvStartProcess("/no/such/program arg"), 0u);
  EXPECT_EQ(kvStartProcess(""), 0u);
}

TEST(Process, HandlesOfOtherProcessesAndBadHandles) {
  HANDLE self = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(getpid()));
  ASSERT_NE(self, nullptr);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(self, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  CloseHandle(self);
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 0), nullptr);
  EXPECT_FALSE(GetExitCodeProcess(reinterpret_cast<HANDLE>(0x42), &code));
  EXPECT_FALSE(CloseHandle(nullptr));
}

TEST(ShellExecute, ProgramRunsWithSplitParametersInItsFolder) {
  TempDir dir;
  std::string script = dir / "args.sh";
  // Writes its folder, its arguments one per line, and whatever stdin holds.
  WriteScript(script, "pwd > out.txt\nfor a in \"$@\"; do echo \"$a\" >> out.txt; done\ncat >> out.txt\n");
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = "open";
  info.lpFile = script.c_str();
  info.lpParameters = "one  \"two words\" \"say \\\"hi\\\"\"";
  info.lpDirectory = dir.path().c_str();
  info.nShow = SW_SHOWNORMAL;
  ASSERT_TRUE(ShellExecuteExA(&info));
  EXPECT_GT(reinterpret_cast<intptr_t>(info.hInstApp), 32);
  ASSERT_NE(info.hProcess, nullptr);
  EXPECT_EQ(WaitForExit(info.hProcess), 0u);
  CloseHandle(info.hProcess);
  EXPECT_EQ(ReadBytes(dir / "out.txt"), dir.path() + "\none\ntwo words\nsay \"hi\"\n");
}

TEST(ShellExecute, ExitCodeIsStillActiveUntilTheProgramEnds) {
  TempDir dir;
  std::string script = dir / "wait.sh";
  // Ends with 3 once the test lets it go, so the running state is observed for sure.
  WriteScript(script, "while [ ! -e \"$1\" ]; do sleep 0.02; done\nexit 3\n");
  std::string go = dir / "go";
  std::string params = "\"" + go + "\"";
  SHELLEXECUTEINFOA info{};
  info.cbSize = 60;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = script.c_str();
  info.lpParameters = params.c_str();
  info.lpDirectory = "";
  ASSERT_TRUE(ShellExecuteExA(&info));
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  WriteBytes(go, "");
  EXPECT_EQ(WaitForExit(info.hProcess), 3u);
  EXPECT_TRUE(CloseHandle(info.hProcess));

  info.fMask = 0;
  info.lpFile = "/bin/true";
  info.lpParameters = nullptr;
  ASSERT_TRUE(ShellExecuteExA(&info));
  EXPECT_EQ(info.hProcess, nullptr);
}

TEST(ShellExecute, ScriptWithoutExecuteBitRunsThroughItsInterpreter) {
  TempDir dir;
  std::string script = dir / "plain.sh";
  WriteScript(script, "exit 5\n", false);
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = script.c_str();
  ASSERT_TRUE(ShellExecuteExA(&info));
  EXPECT_EQ(WaitForExit(info.hProcess), 5u);
  CloseHandle(info.hProcess);
}

TEST(ShellExecute, FailuresGiveSmallCodes) {
  EXPECT_EQ(reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, "open", "/no/such/program.exe", "", "", 1)),
            SE_ERR_FNF);
  EXPECT_EQ(reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, "open", "no-such-program-anywhere", nullptr, nullptr, 1)),
            SE_ERR_FNF);
  EXPECT_LE(reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, "open", "/bin/true", nullptr, "/no/such/dir", 1)), 32);
  EXPECT_EQ(reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, "print", "/bin/true", nullptr, nullptr, 1)),
            SE_ERR_NOASSOC);

  SHELLEXECUTEINFOA info{};
  info.cbSize = 12;
  info.lpFile = "/bin/true";
  EXPECT_FALSE(ShellExecuteExA(&info));
  info.cbSize = sizeof info;
  info.lpFile = "/no/such/program.exe";
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  EXPECT_FALSE(ShellExecuteExA(&info));
  EXPECT_EQ(reinterpret_cast<intptr_t>(info.hInstApp), SE_ERR_FNF);
  EXPECT_EQ(info.hProcess, nullptr);
}

TEST(ShellExecute, DocumentsWithoutDesktopHaveNoAssociation) {
  TempDir dir;
  std::string doc = dir / "Dorvanti.hlp";
  WriteBytes(doc, "<html></html>");
  EnvGuard x("DISPLAY", nullptr), w("WAYLAND_DISPLAY", nullptr);
  EXPECT_EQ(reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, "open", doc.c_str(), nullptr, nullptr, 1)),
            SE_ERR_NOASSOC);
  EXPECT_EQ(reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, "open", "https://example.org/form", nullptr, nullptr, 1)),
            SE_ERR_NOASSOC);
  // The execute bit alone does not make a document a program.
  chmod(doc.c_str(), 0755);
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = doc.c_str();
  EXPECT_FALSE(ShellExecuteExA(&info));
  EXPECT_EQ(reinterpret_cast<intptr_t>(info.hInstApp), SE_ERR_NOASSOC);
}

TEST(ShellExecute, DocumentsAndAddressesGoToXdgOpen) {
  TempDir dir;
  // A stand-in xdg-open that records what it was asked to open.
  WriteScript(dir / "xdg-open", "echo \"$1\" >> \"" + dir.path() + "/opened.txt\"\necho noise\n");
  std::string doc = dir / "my help.hlp";
  WriteBytes(doc, "<html></html>");
  std::string path = dir.path() + ":" + (getenv("PATH") ? getenv("PATH") : "");
  {
    EnvGuard p("PATH", path.c_str()), x("DISPLAY", ":97");
    EXPECT_GT(reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, "open", doc.c_str(), nullptr, nullptr, 1)), 32);
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = "mailto:info@example.org";
    EXPECT_TRUE(ShellExecuteExA(&info));
    EXPECT_EQ(info.hProcess, nullptr);
  }
  // Both requests arrive, in either order.
  std::string opened;
  for (int i = 0; i < 2000 && std::count(opened.begin(), opened.end(), '\n') < 2; ++i) {
    Sleep(5);
    opened = ReadBytes(dir / "opened.txt");
  }
  EXPECT_NE(opened.find(doc + "\n"), std::string::npos) << opened;
  EXPECT_NE(opened.find("mailto:info@example.org\n"), std::string::npos) << opened;
}

}  // namespace
