#include "shell/BFolder.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "shell/DialogHook.h"

QString BrowseStartFolder;

namespace kv {

QString ShapeFolderResult(const QString& path) {
  if (path.isEmpty()) return {};
  QString p = path;
  while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
  if (p.toUtf8().size() + 1 > 260) return {};
  return p;
}

}  // namespace kv

QString BrowseForFolder(QWidget* owner, const QString& title, const QString& startFolder, unsigned flags) {
  Q_UNUSED(flags);  // no browser option is used by the program
  BrowseStartFolder = startFolder;
  QString chosen;
  if (const kv::DialogHook& hook = kv::GetDialogHook()) {
    const QStringList r = hook(QStringLiteral("folder"), title, BrowseStartFolder);
    if (!r.isEmpty()) chosen = r.first();
  } else {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return {};
    QFileDialog dlg(owner, title);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setOption(QFileDialog::ShowDirsOnly, true);
    dlg.setFileMode(QFileDialog::Directory);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    // Open on the start folder's parent with the start folder itself selected.
    const QFileInfo start(BrowseStartFolder);
    if (!BrowseStartFolder.isEmpty() && start.isDir()) {
      const QString abs = start.absoluteFilePath();
      if (abs == QLatin1String("/")) {
        dlg.setDirectory(abs);
      } else {
        dlg.setDirectory(start.absolutePath());
        dlg.selectFile(abs);
      }
    }
    if (dlg.exec() != QDialog::Accepted) return {};
    const QStringList sel = dlg.selectedFiles();
    if (!sel.isEmpty()) chosen = sel.first();
  }
  return kv::ShapeFolderResult(chosen);
}
