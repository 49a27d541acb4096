#include "encoders/ProgressWindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <memory>

#include "shell/Dir.h"

namespace kv {

void WaitWhile(const std::function<bool()>& busy) {
  // The guard's ticks wake the wait even when nothing else happens.
  QTimer guard;
  guard.start(50);
  while (busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

QString PercentText(float percent) { return QString::number(percent, 'f', 2) + QStringLiteral(" %"); }

QString PercentTextNoLeadingZero(float percent) {
  QString t = QString::number(percent, 'f', 2);
  if (t.startsWith(QStringLiteral("0."))) t.remove(0, 1);
  return t + QStringLiteral(" %");
}

int BarValue(float percent) { return std::clamp(static_cast<int>(percent), 0, 100); }

const SharedLibrary* LoadLibraryIn(const QString& folder, const QString& name) {
  // Kept loaded: the libraries run encoder threads of their own.
  static std::map<QString, std::unique_ptr<SharedLibrary>> loaded;
  const QString listed = Dir(folder + "/" + name);
  if (folder.isEmpty() || listed.isEmpty()) return nullptr;
  const QString path = folder + "/" + listed;
  auto& lib = loaded[path];
  if (!lib || !lib->loaded()) lib = std::make_unique<SharedLibrary>(QFile::encodeName(path).toStdString());
  return lib->loaded() ? lib.get() : nullptr;
}

ProgressWindow::ProgressWindow(QWidget* owner) : QWidget(owner, Qt::Window | Qt::WindowCloseButtonHint | Qt::WindowTitleHint) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  auto* layout = new QVBoxLayout(this);
  m_bar = new QProgressBar(this);
  m_bar->setObjectName(QStringLiteral("pbr1"));
  m_bar->setRange(0, 100);
  m_bar->setValue(0);
  m_bar->setTextVisible(false);
  lblPer = new QLabel(QStringLiteral("0 %"), this);
  lblPer->setObjectName(QStringLiteral("lblPer"));
  lblPer->setAlignment(Qt::AlignCenter);
  layout->addWidget(m_bar);
  layout->addWidget(lblPer);
  resize(360, 90);
}

void ProgressWindow::SetCaptionFor(const QString& prefix, const QString& waveFileName) {
  setWindowTitle(prefix + "[" + QFileInfo(waveFileName).fileName() + "]");
}

}  // namespace kv
