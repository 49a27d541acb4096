#include "shell/MsgBox.h"

#include <QApplication>
#include <QMessageBox>

#include "reasons_ja.h"
#include "shell/FileName.h"

namespace kv {

namespace {
MsgBoxHook& Hook() {
  static MsgBoxHook h;
  return h;
}
}  // namespace

QString AppTitle() { return QStringLiteral("Korvessa"); }

void SetMsgBoxHook(MsgBoxHook hook) { Hook() = std::move(hook); }

int MsgBox(const QString& prompt, int style, const QString& title, QWidget* parent) {
  const QString t = title.isEmpty() ? AppTitle() : title;
  if (Hook()) return Hook()(prompt, style, t);
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (style & 0x70) {
    case vbCritical: icon = QMessageBox::Critical; break;
    case vbQuestion: icon = QMessageBox::Question; break;
    case vbExclamation: icon = QMessageBox::Warning; break;
    case vbInformation: icon = QMessageBox::Information; break;
    default: break;
  }
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    // No window system (command-line use): the message goes to stderr.
    fprintf(stderr, "%s\n", qPrintable(prompt));
    return vbOK;
  }
  // The reasons the media layer gives in English (as the terminal shows them) are Japanese here.
  QMessageBox box(icon, t, QString::fromStdString(JapaneseReasons(DisplayName(prompt).toStdString())), QMessageBox::Ok,
                  parent);
  box.exec();
  return vbOK;
}

}  // namespace kv
