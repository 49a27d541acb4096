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
#include <functional>

#include "shell/MsgBox.h"

namespace kv {

namespace {
void ReportNoHelp(const QString& page, const QString& why, QWidget* owner) {
  MsgBox(QStringLiteral("ヘルプ ") + page + QStringLiteral(" を表示できませんでした。\r\n") + why, vbExclamation, AppTitle(),
         owner);
}
QString NoBrowser() { return QStringLiteral("ウェブブラウザーを起動できません。"); }
bool OnDesktop() { return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"); }

// Hands the address to the desktop's opener without waiting; `failed` runs when the opener
// cannot be started or says that nothing could open it.
void OpenInBrowser(const QString& address, std::function<void(QWidget*)> failed, QWidget* owner) {
  auto* opener = new QProcess(QCoreApplication::instance());
  opener->setStandardOutputFile(QProcess::nullDevice());
  opener->setStandardErrorFile(QProcess::nullDevice());
  QPointer<QWidget> box(owner);
  QObject::connect(opener, &QProcess::finished, opener, [opener, failed, box](int code, QProcess::ExitStatus status) {
    if (status != QProcess::NormalExit || code != 0) failed(box);
    opener->deleteLater();
  });
  QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, failed, box](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    failed(box);
    opener->deleteLater();
  });
  opener->start(QStringLiteral("xdg-open"), {address});
}
}  // namespace

QString HelpCopyFolder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime + QStringLiteral("/korvessa");
  return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/korvessa");
}

void ShowHelpPage(const QString& hlpPath, QWidget* owner) {
  if (!OnDesktop()) return;
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
  OpenInBrowser(QUrl::fromLocalFile(html).toString(), [html](QWidget* box) { ReportNoHelp(html, NoBrowser(), box); }, owner);
}

void ShowWebPage(const QString& address, QWidget* owner) {
  if (!OnDesktop()) return;
  OpenInBrowser(address, [address](QWidget* box) {
    MsgBox(QStringLiteral("ページ ") + address + QStringLiteral(" を開けませんでした。\r\n") + NoBrowser(), vbExclamation, AppTitle(), box);
  }, owner);
}

}  // namespace kv
