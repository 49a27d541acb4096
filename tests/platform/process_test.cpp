// Starting programs, exit codes and handles.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <string>

#include "Environment.h"
#include "ScratchFolder.h"
#include "kernel32.h"
#include "shell32.h"

namespace {

using kvtest::TempDir;

// Polls until the process has ended (bounded so a broken build fails instead of hanging).
DWORD WaitForExit(HANDLE h) {
  DWORD code = STILL_ACTIVE;
  for (int i = 0; i < 2000 && code == STILL_ACTIVE; ++i) {
    if (!GetExitCodeProcess(h, &code)) return 0xFFFFFFFF;
    if (code == STILL_ACTIVE) Sleep(5);
  }
  return code;
}

// Exit code of a process started by command line, its handle closed again.
DWORD RunToEnd(const char* commandLine) {
  const DWORD pid = kvStartProcess(commandLine);
  HANDLE h = pid ? OpenProcess(PROCESS_QUERY_INFORMATION, TRUE, pid) : nullptr;
  const DWORD code = h ? WaitForExit(h) : 0xFFFFFFFE;
  if (h) CloseHandle(h);
  return code;
}

void WriteScript(const std::string& path, const std::string& body) {
  kvtest::writeText(path, "#!/bin/sh\n" + body);
  chmod(path.c_str(), 0755);
}

SHELLEXECUTEINFOA Info(const char* file, ULONG mask = SEE_MASK_NOCLOSEPROCESS) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = mask;
  info.lpFile = file;
  return info;
}

intptr_t Shell(const char* verb, const char* file, const char* params = nullptr, const char* dir = nullptr) {
  return reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, verb, file, params, dir, 1));
}

TEST(Process, StartByCommandLineReadExitCodeAndHandles) {
  DWORD pid = kvStartProcess("true");
  ASSERT_NE(pid, 0u);
  HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, TRUE, pid);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WaitForExit(h), 0u);
  EXPECT_EQ(kill(static_cast<pid_t>(pid), 0), -1);  // the ended child has been reaped: no zombie
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(RunToEnd("sh -c \"exit 7\""), 7u);
  EXPECT_EQ(kvStartProcess("/no/such/program arg"), 0u);
}

// As the runner calls it: verb "open", parameters, no folder ("").
TEST(ShellExecute, ProgramsRunWithSplitParametersAndGiveExitCodes) {
  TempDir dir;
  const std::string args = dir.file("args.sh"), wait = dir.file("wait.sh");
  const std::string go = dir.file("go"), params = "\"" + go + "\"";
  // args.sh writes its arguments one per line and whatever stdin holds; wait.sh ends with 3 once
  // the test lets it go, so the running state is observed for sure.
  WriteScript(args, "for a in \"$@\"; do echo \"$a\" >> \"$(dirname \"$0\")/out.txt\"; done\ncat >> \"$(dirname \"$0\")/out.txt\"\n");
  WriteScript(wait, "while [ ! -e \"$1\" ]; do sleep 0.02; done\nexit 3\n");
  SHELLEXECUTEINFOA info = Info(args.c_str(), SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI);
  info.lpVerb = "open";
  info.lpParameters = "one  \"two words\" \"say \\\"hi\\\"\"";
  info.lpDirectory = "";
  ASSERT_TRUE(ShellExecuteExA(&info));
  ASSERT_NE(info.hProcess, nullptr);
  EXPECT_EQ(WaitForExit(info.hProcess), 0u);
  CloseHandle(info.hProcess);
  EXPECT_EQ(kvtest::readBytes(dir.file("out.txt")), "one\ntwo words\nsay \"hi\"\n");

  info = Info(wait.c_str());
  info.lpParameters = params.c_str();
  ASSERT_TRUE(ShellExecuteExA(&info));
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  kvtest::writeText(go, "");
  EXPECT_EQ(WaitForExit(info.hProcess), 3u);
  EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST(ShellExecute, FailuresGiveSmallCodes) {
  EXPECT_EQ(Shell("open", "/no/such/program.exe", "", ""), SE_ERR_FNF);
  SHELLEXECUTEINFOA missing = Info("/no/such/program.exe");
  EXPECT_FALSE(ShellExecuteExA(&missing));
  EXPECT_EQ(reinterpret_cast<intptr_t>(missing.hInstApp), SE_ERR_FNF);
  EXPECT_EQ(missing.hProcess, nullptr);
}

// Documents go to the desktop's opener (the desktop test has the real one); without a desktop
// there is none, and the execute bit alone does not make a document a program.
TEST(ShellExecute, DocumentsWithoutADesktopHaveNoAssociation) {
  TempDir dir;
  const std::string doc = dir.file("my help.hlp");
  kvtest::writeText(doc, "<html></html>");
  chmod(doc.c_str(), 0755);
  EnvGuard x("DISPLAY", nullptr), w("WAYLAND_DISPLAY", nullptr);
  EXPECT_EQ(Shell("open", doc.c_str()), SE_ERR_NOASSOC);
  SHELLEXECUTEINFOA info = Info(doc.c_str());
  EXPECT_FALSE(ShellExecuteExA(&info));
  EXPECT_EQ(reinterpret_cast<intptr_t>(info.hInstApp), SE_ERR_NOASSOC);
}

}  // namespace
