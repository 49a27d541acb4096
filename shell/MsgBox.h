// Every message the program shows goes through MsgBox, so that window tests and the
// command-line driver can capture it instead of blocking on a modal box.
#pragma once
#include <QString>
#include <functional>

#include "shell/MsgStyle.h"

class QWidget;

namespace kv {

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
