// Starts an external program or document from one command line and, on request, waits until
// the program has ended while the window keeps handling input and timers.
#pragma once
#include <QString>
#include <memory>

class cShellX {
 public:
  cShellX();
  ~cShellX();  // ends a wait in progress at its next test
  bool ShellX(const QString& strCommandLine, int WindowStyle = 0, void* lngOwnerhWnd = nullptr, bool blnWait = false);

  // How the command line is split into program and parameters (first findable prefix wins).
  struct Split {
    QString program;
    QString parameters;
  };
  Split SplitCommandLine(const QString& strCommandLine) const;

 private:
  bool SearchFile(const QString& name) const;
  void WaitFor(void* hProcess);
  std::shared_ptr<bool> blnTerminate;
};
