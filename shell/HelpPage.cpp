#include "shell/HelpPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

#include "shell/MsgBox.h"

namespace kv {

namespace {
void ReportNoHelp(const QString& page, const QString& why, QWidget* owner) {
  MsgBox(QStringLiteral("ヘルプ ") + page + QStringLiteral(" を表示できませんでした。\r\n") + why, vbExclamation, AppTitle(),
         owner);
}
QString NoBrowser() { return QStringLiteral("ウェブブラウザーを起動できません。"); }
}  // namespace

QString HelpCopyFolder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime + QStringLiteral("/korvessa");
  return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/korvessa");
}

void ShowHelpPage(const QString& hlpPath, QWidget* owner) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return;
  QFile source(hlpPath);
  if (!source.open(QIODevice::ReadOnly)) return;
  const QByteArray page = source.readAll();
  const QString folder = HelpCopyFolder();
  const QString html = folder + "/" + QFileInfo(hlpPath).completeBaseName() + QStringLiteral(".html");
  QSaveFile copy(html);  // written under a temporary name, then renamed
  if (!QDir().mkpath(folder) || !copy.open(QIODevice::WriteOnly) || copy.write(page) != page.size() || !copy.commit()) {
    ReportNoHelp(html, folder + QStringLiteral(" に書き込めません。"), owner);
    return;
  }
  auto* opener = new QProcess(QCoreApplication::instance());
  opener->setStandardOutputFile(QProcess::nullDevice());
  opener->setStandardErrorFile(QProcess::nullDevice());
  QPointer<QWidget> box(owner);
  QObject::connect(opener, &QProcess::finished, opener, [opener, html, box](int code, QProcess::ExitStatus status) {
    if (status != QProcess::NormalExit || code != 0) ReportNoHelp(html, NoBrowser(), box);
    opener->deleteLater();
  });
  QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, html, box](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    ReportNoHelp(html, NoBrowser(), box);
    opener->deleteLater();
  });
  opener->start(QStringLiteral("xdg-open"), {QUrl::fromLocalFile(html).toString()});
}

}  // namespace kv
