// Every message the program shows goes through MsgBox, so that window tests and the
// command-line driver can capture it instead of blocking on a modal box.
#pragma once
#include <QString>
#include <functional>

class QWidget;

namespace kv {

// Style bits as the program uses them (Visual Basic MsgBox values).
enum MsgStyle : int {
  vbOKOnly = 0,
  vbCritical = 16,
  vbQuestion = 32,
  vbExclamation = 48,
  vbInformation = 64,
};
constexpr int vbOK = 1;

// Title used when none is given: the program title.
QString AppTitle();

// Shows a message box (or hands it to the hook); returns the button pressed (vbOK). A box
// shows the media layer's reasons in Japanese; the hook receives the prompt as given.
int MsgBox(const QString& prompt, int style = vbOKOnly, const QString& title = QString(), QWidget* parent = nullptr);

// A hook receives every message instead of a modal box; pass {} to restore the boxes.
using MsgBoxHook = std::function<int(const QString& prompt, int style, const QString& title)>;
void SetMsgBoxHook(MsgBoxHook hook);

}  // namespace kv
