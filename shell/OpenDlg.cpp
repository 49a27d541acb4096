#include "shell/OpenDlg.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "shell/DialogHook.h"

namespace kv {

namespace {

// "*.mid" -> "*.[mM][iI][dD]": patterns on Windows ignore letter case, file systems here do not.
QString CaseInsensitiveGlob(const QString& pattern) {
  QString out;
  for (const QChar c : pattern) {
    const QChar lo = c.toLower(), up = c.toUpper();
    if (c.unicode() < 128 && lo != up) {
      out += QLatin1Char('[') + lo + up + QLatin1Char(']');
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

QStringList FilterToNameFilters(const QString& filter) {
  const QStringList parts = filter.split(QChar(0));
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& display = parts[i];
    if (display.isEmpty()) break;  // the closing double NUL
    QStringList globs;
    for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString t = p.trimmed();
      if (!t.isEmpty()) globs << CaseInsensitiveGlob(t);
    }
    if (globs.isEmpty()) continue;
    result << display + QStringLiteral(" (") + globs.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return result;
}

QString ShapeOpenResult(const QStringList& files, int maxBytes) {
  if (files.isEmpty() || files.first().isEmpty()) return {};
  if (files.size() == 1) {
    // The path and its NUL must fit.
    if (files.first().toUtf8().size() + 1 > maxBytes) return {};
    return files.first();
  }
  const QString folder = QFileInfo(files.first()).path();
  QString out = folder;
  qsizetype bytes = folder.toUtf8().size() + 1;
  for (const QString& f : files) {
    const QString name = QFileInfo(f).fileName();
    out += QChar(0) + name;
    bytes += name.toUtf8().size() + 1;
  }
  // One more NUL closes the list.
  if (bytes + 1 > maxBytes) return {};
  return out;
}

QStringList RunOpenDialog(QWidget* owner, const QString& kind, const QString& initialDir, const QString& filter,
                          unsigned flags, const QString& title, const std::function<void(QFileDialog&)>& extra) {
  QStringList files;
  if (const DialogHook& hook = GetDialogHook()) {
    files = hook(kind, title, initialDir);
  } else {
    // Without a window system there is nobody to ask: treat as cancelled.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return {};
    const QString dir = QFileInfo(initialDir).isDir() ? initialDir : QDir::currentPath();
    QFileDialog dlg(owner, title, dir);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setOption(QFileDialog::HideNameFilterDetails, true);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    if (flags & kOfnAllowMultiSelect) {
      dlg.setFileMode(QFileDialog::ExistingFiles);
    } else {
      dlg.setFileMode((flags & kOfnFileMustExist) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    }
    const QStringList nameFilters = FilterToNameFilters(filter);
    if (!nameFilters.isEmpty()) dlg.setNameFilters(nameFilters);  // the first one is selected
    if (extra) extra(dlg);
    if (dlg.exec() != QDialog::Accepted) return {};
    files = dlg.selectedFiles();
  }
  files.removeAll(QString());
  if (!(flags & kOfnAllowMultiSelect) && files.size() > 1) files = files.mid(0, 1);
  return files;
}

void ChangeToSelectionFolder(const QStringList& files) {
  if (files.isEmpty()) return;
  const QString folder = QFileInfo(files.first()).absolutePath();
  if (QFileInfo(folder).isDir()) QDir::setCurrent(folder);
}

}  // namespace kv

QString OpenFileDialog(QWidget* owner, const QString& initialDir, const QString& filter, unsigned flags,
                       const QString& title) {
  const QStringList files = kv::RunOpenDialog(owner, QStringLiteral("open"), initialDir, filter, flags, title);
  const QString result = kv::ShapeOpenResult(files, kv::kOpenBufferBytes);
  if (!result.isEmpty()) kv::ChangeToSelectionFolder(files);
  return result;
}
