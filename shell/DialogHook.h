// Lets window tests and the command-line driver answer the file and folder dialogs
// without user interaction.
#pragma once
#include <QString>
#include <QStringList>
#include <functional>

namespace kv {

// kind is "open" (plain open dialog), "preview" (open dialog with preview) or "folder".
// The hook returns the chosen full paths; an empty list means the user cancelled.
using DialogHook = std::function<QStringList(const QString& kind, const QString& title, const QString& initialDir)>;

// Pass {} to show the real dialogs again.
void SetDialogHook(DialogHook hook);
const DialogHook& GetDialogHook();

}  // namespace kv
