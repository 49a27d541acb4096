#include "postproc/cShellX.h"

#include "kernel32.h"
#include "shell32.h"
#include "shell/FileName.h"

cShellX::~cShellX() { Release(); }

void cShellX::Release() {
  if (m_process) CloseHandle(m_process);
  m_process = nullptr;
}

bool cShellX::SearchFile(const QString& name, const QString& folder) const {
  char buf[261] = {};
  char* part = nullptr;
  const QByteArray file = kv::PathBytes(name);
  // The working folder stands where the current folder would.
  if (!folder.isEmpty() && !name.contains(u'/') &&
      SearchPathA(kv::PathBytes(folder).constData(), file.constData(), nullptr, sizeof buf, buf, &part) != 0)
    return true;
  return SearchPathA(nullptr, file.constData(), nullptr, sizeof buf, buf, &part) != 0;
}

cShellX::Split cShellX::SplitCommandLine(const QString& line, const QString& folder) const {
  Split s{line, QString()};
  int p = line.indexOf(' ');
  if (p <= 0) return s;  // no blank, or a blank first: the whole line is the program
  while (p > 0) {
    const QString candidate = line.left(p);
    if (SearchFile(candidate, folder)) return {candidate, line.mid(p + 1)};
    p = line.indexOf(' ', p + 1);
  }
  return s;
}

bool cShellX::Running() const {
  DWORD code = 0;
  return m_process && GetExitCodeProcess(m_process, &code) && code == STILL_ACTIVE;
}

long cShellX::ExitCode() const {
  DWORD code = 0;
  if (!m_process || !GetExitCodeProcess(m_process, &code) || code == STILL_ACTIVE) return -1;
  return static_cast<long>(code);
}

bool cShellX::ShellX(const QString& strCommandLine, int WindowStyle, void* lngOwnerhWnd, bool blnWait,
                     const QString& folder) {
  Release();
  const Split split = SplitCommandLine(strCommandLine, folder);
  const QByteArray file = kv::PathBytes(split.program);
  const QByteArray params = kv::PathBytes(split.parameters);
  const QByteArray directory = kv::PathBytes(folder);
  SHELLEXECUTEINFOA sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_FLAG_NO_UI | (blnWait ? SEE_MASK_NOCLOSEPROCESS : 0);
  sei.hwnd = lngOwnerhWnd;
  sei.lpVerb = "open";
  sei.lpFile = file.constData();
  sei.lpParameters = params.constData();
  sei.lpDirectory = directory.constData();
  sei.nShow = WindowStyle;
  if (ShellExecuteExA(&sei) == 1) {
    if (blnWait) m_process = sei.hProcess;
    return true;
  }
  // Fallback: the whole command line as a new process.
  const DWORD pid = kvStartProcessIn(kv::PathBytes(strCommandLine).constData(), directory.constData());
  if (pid == 0) return false;
  if (blnWait) m_process = OpenProcess(PROCESS_QUERY_INFORMATION, TRUE, pid);
  return true;
}

namespace kv {

ProgramRun::ProgramRun(QObject* parent) : QObject(parent) {
  m_poll.setInterval(100);
  connect(&m_poll, &QTimer::timeout, this, [this] {
    if (m_runner.Running()) return;
    m_poll.stop();
    m_exitCode = m_runner.ExitCode();
    if (auto ended = std::exchange(m_ended, {})) ended();
  });
}

bool ProgramRun::Start(const QString& commandLine, std::function<void()> ended, const QString& folder) {
  m_exitCode = -1;
  if (!m_runner.ShellX(commandLine, 1, nullptr, true, folder)) return false;
  m_ended = std::move(ended);
  m_poll.start();
  return true;
}

}  // namespace kv
