#include "encoders/ProgressWindow.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

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

void* LoadLibraryIn(const QString& folder, const QString& name) {
  static QHash<QString, void*> loaded;
  const QString listed = Dir(folder + "/" + name);
  if (folder.isEmpty() || listed.isEmpty()) return nullptr;
  const QString path = folder + "/" + listed;
  if (loaded.contains(path)) return loaded.value(path);
  // Kept loaded: the libraries run encoder threads of their own.
  void* h = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
  if (h) loaded.insert(path, h);
  return h;
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
