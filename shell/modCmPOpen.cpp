#include "shell/modCmPOpen.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

#include "shell/OpenDlg.h"

namespace kv {

namespace {
PreviewTextProvider& Provider() {
  static PreviewTextProvider p;
  return p;
}

quint32 BigEndian(const unsigned char* p, int n) {
  quint32 v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}
}  // namespace

void SetPreviewTextProvider(PreviewTextProvider provider) { Provider() = std::move(provider); }

QString DefaultPreviewText(const QString& path) {
  const QFileInfo fi(path);
  if (!fi.isFile()) return {};
  QString text = fi.fileName() + QLatin1Char('\n') + QStringLiteral("%1 バイト").arg(fi.size());
  QFile f(path);
  if (f.open(QIODevice::ReadOnly)) {
    const QByteArray h = f.read(14);
    const auto* p = reinterpret_cast<const unsigned char*>(h.constData());
    if (h.size() == 14 && h.startsWith("MThd") && BigEndian(p + 4, 4) >= 6) {
      text += QStringLiteral("\nMIDIフォーマット: %1\nトラック数: %2\n分解能: %3")
                  .arg(BigEndian(p + 8, 2))
                  .arg(BigEndian(p + 10, 2))
                  .arg(BigEndian(p + 12, 2));
    }
  }
  return text;
}

QString CleanPreviewBuffer(const QString& buffer) {
  qsizetype b = 0, e = buffer.size();
  while (b < e && buffer[b] == QLatin1Char(' ')) ++b;
  while (e > b && buffer[e - 1] == QLatin1Char(' ')) --e;
  while (e > b && buffer[e - 1] == QChar(0)) --e;
  return buffer.mid(b, e - b);
}

QString ShapePreviewResult(const QStringList& files) {
  const QString selection = ShapeOpenResult(files, kPreviewBufferBytes);
  if (selection.isEmpty()) return {};
  // What the dialog leaves in its space-filled buffer: the selection, its closing NUL(s), spaces.
  QString buffer = selection + QChar(0);
  if (files.size() > 1) buffer += QChar(0);
  buffer += QString(kPreviewBufferBytes - buffer.size(), QLatin1Char(' '));
  return CleanPreviewBuffer(buffer);
}

}  // namespace kv

QString OpenPreviewDialog(QWidget* owner, const QString& filter, const QString& initialDir) {
  auto addPane = [](QFileDialog& dlg) {
    auto* grid = qobject_cast<QGridLayout*>(dlg.layout());
    if (!grid) return;
    auto* pane = new QLabel(&dlg);
    pane->setObjectName(QStringLiteral("previewPane"));
    pane->setMinimumWidth(160);
    pane->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pane->setWordWrap(true);
    pane->setFrameShape(QFrame::StyledPanel);
    grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(&dlg, &QFileDialog::currentChanged, pane, [pane](const QString& path) {
      const kv::PreviewTextProvider& p = kv::Provider();
      pane->setText(p ? p(path) : kv::DefaultPreviewText(path));
    });
  };
  const QStringList files = kv::RunOpenDialog(owner, QStringLiteral("preview"), initialDir, filter, kv::kPreviewFlags,
                                              kv::PreviewDialogTitle(), addPane);
  const QString result = kv::ShapePreviewResult(files);
  if (!result.isEmpty()) kv::ChangeToSelectionFolder(files);
  return result;
}
