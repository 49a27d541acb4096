#include "postproc/cShellX.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "kernel32.h"
#include "shell32.h"
#include "shell/FileName.h"

cShellX::cShellX() : blnTerminate(std::make_shared<bool>(false)) {}

cShellX::~cShellX() { *blnTerminate = true; }

bool cShellX::SearchFile(const QString& name) const {
  char buf[261] = {};
  char* part = nullptr;
  return SearchPathA(nullptr, kv::PathBytes(name).constData(), nullptr, sizeof buf, buf, &part) != 0;
}

cShellX::Split cShellX::SplitCommandLine(const QString& line) const {
  Split s{line, QString()};
  int p = line.indexOf(' ');
  if (p <= 0) return s;  // no blank, or a blank first: the whole line is the program
  while (p > 0) {
    const QString candidate = line.left(p);
    if (SearchFile(candidate)) return {candidate, line.mid(p + 1)};
    p = line.indexOf(' ', p + 1);
  }
  return s;
}

void cShellX::WaitFor(void* hProcess) {
  auto terminate = blnTerminate;  // survives this object's destruction during the wait
  DWORD code = 0;
  for (;;) {
    code = 0;
    GetExitCodeProcess(hProcess, &code);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QEventLoop pause;
    QTimer::singleShot(100, &pause, &QEventLoop::quit);
    pause.exec();
    if (*terminate || code != STILL_ACTIVE) break;
  }
}

bool cShellX::ShellX(const QString& strCommandLine, int WindowStyle, void* lngOwnerhWnd, bool blnWait) {
  const Split split = SplitCommandLine(strCommandLine);
  const QByteArray file = kv::PathBytes(split.program);
  const QByteArray params = kv::PathBytes(split.parameters);
  SHELLEXECUTEINFOA sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_FLAG_NO_UI | (blnWait ? SEE_MASK_NOCLOSEPROCESS : 0);
  sei.hwnd = lngOwnerhWnd;
  sei.lpVerb = "open";
  sei.lpFile = file.constData();
  sei.lpParameters = params.constData();
  sei.lpDirectory = "";
  sei.nShow = WindowStyle;
  if (ShellExecuteExA(&sei) == 1) {
    if (blnWait) {
      WaitFor(sei.hProcess);
      if (sei.hProcess) CloseHandle(sei.hProcess);
    }
    return true;
  }
  // Fallback: the whole command line as a new process.
  const DWORD pid = kvStartProcess(kv::PathBytes(strCommandLine).constData());
  if (pid == 0) return false;
  if (blnWait) {
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, TRUE, pid);
    WaitFor(h);
    if (h) CloseHandle(h);
  }
  return true;
}
