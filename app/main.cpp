#include <QApplication>
#include <QFont>
#include <QStringList>

#include <climits>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "app/EndSignals.h"
#include "app/frmMain.h"

namespace {

// The command-line driver is installed beside the program.
std::string CliBeside() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "korvessa";
  std::string path(self, size_t(n));
  return path.substr(0, path.rfind('/') + 1) + "korvessa";
}

// Qt ends the process with an abort when no window system can be reached (no DISPLAY, an SSH
// login, a server). Say plainly what is needed instead and point at the command-line driver. Qt's
// notes while it looks for a window system are held back: only the first (the cause) is shown then.
QStringList heldNotes;

void NoDesktopHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtFatalMsg) {
    heldNotes << text;
    return;
  }
  std::fprintf(stderr,
               "Dorvanti: the window needs a desktop session (X11 or Wayland)%s%s.\n"
               "From a terminal, convert with the command-line driver instead, for example:\n"
               "  %s convert --out ~/Music --format mp3 song.mid\n",
               heldNotes.isEmpty() ? "" : ": ", heldNotes.value(0).trimmed().toLocal8Bit().constData(),
               CliBeside().c_str());
  _exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  QtMessageHandler previous = qInstallMessageHandler(NoDesktopHandler);
  QApplication app(argc, argv);
  qInstallMessageHandler(previous);
  for (const QString& note : heldNotes) qWarning("%s", qPrintable(note));
  app.setApplicationName(QStringLiteral("Korvessa"));
  app.setFont(QFont(QStringLiteral("IPAPGothic"), 9));
  frmMain form;
  form.Form_Load();
  form.show();
  kv::CloseOnEndSignals(&form);
  return app.exec();
}
