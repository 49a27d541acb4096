// Starts an external program or document from one command line; on request the started
// program can be watched until it has ended, without waiting here (the caller polls).
#pragma once
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class cShellX {
 public:
  cShellX() = default;
  ~cShellX();  // lets go of a watched program (it runs on)
  cShellX(const cShellX&) = delete;
  cShellX& operator=(const cShellX&) = delete;
  // blnWait: keep the started program to watch it with Running(). folder: the program's working
  // folder, where a bare program name is also looked for (empty: the current folder).
  bool ShellX(const QString& strCommandLine, int WindowStyle = 0, void* lngOwnerhWnd = nullptr, bool blnWait = false,
              const QString& folder = QString());
  // True while the program started with blnWait has not ended.
  bool Running() const;
  // The exit code of the program started with blnWait once it has ended; -1 before, or
  // when it is not known.
  long ExitCode() const;

  // How the command line is split into program and parameters (first findable prefix wins).
  struct Split {
    QString program;
    QString parameters;
  };
  Split SplitCommandLine(const QString& strCommandLine, const QString& folder = QString()) const;

 private:
  bool SearchFile(const QString& name, const QString& folder) const;
  void Release();
  void* m_process = nullptr;
};

namespace kv {

// One external program run: started as a normal window, then watched every 100 ms from the
// event loop; `ended` is called once it has ended (never from inside Start).
class ProgramRun : public QObject {
  Q_OBJECT
 public:
  explicit ProgramRun(QObject* parent = nullptr);
  // False when the program could not be started (then `ended` is never called). The program
  // runs in `folder` when one is given, else in the current folder.
  bool Start(const QString& commandLine, std::function<void()> ended, const QString& folder = QString());
  // The ended program's exit code (-1 while it runs, or when it is not known).
  long ExitCode() const { return m_exitCode; }

 private:
  cShellX m_runner;
  long m_exitCode = -1;
  QTimer m_poll;
  std::function<void()> m_ended;
};

}  // namespace kv
