// The help command: the help file beside the program holds an HTML page.
#pragma once
#include <QString>

class QWidget;

namespace kv {

// Shows the page in the desktop's web browser, without waiting for it. Desktop openers choose
// by content type and take "*.hlp" for Windows Help, so the browser gets an HTML copy written
// to a folder of ours. No desktop session: nothing happens. A help file that cannot be read is
// ignored; a browser that cannot be started is reported in a message box.
void ShowHelpPage(const QString& hlpPath, QWidget* owner);

// Shows a web address in the desktop's browser, without waiting for it; a browser that cannot
// be started is reported as for the help. No desktop session: nothing happens.
void ShowWebPage(const QString& address, QWidget* owner);

// Where that copy goes: $XDG_RUNTIME_DIR/korvessa, else the user's cache folder.
QString HelpCopyFolder();

}  // namespace kv
