#include "encoders/ProgressWindow.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "encoders/EncoderBackend.h"

namespace kv {

ProgressWindow::ProgressWindow(EncoderBackend* encoder, const QString& waveFileName, QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowCloseButtonHint | Qt::WindowTitleHint), m_encoder(encoder) {
  // The window and bar names of each encoder's view.
  struct Names {
    const char *caption, *window, *bar;
  };
  static const Names kNames[] = {
      {"GOGO", "frmGoGo", "pbr1"}, {"ACM", "frmACM", "pbr1"}, {"VBWAV2WMA", "frmVBWMA", "ProgressBar1"}};
  const QString caption = encoder->ViewCaption();
  auto* layout = new QVBoxLayout(this);
  m_bar = new QProgressBar(this);
  m_bar->setRange(0, 100);
  m_bar->setValue(0);
  m_bar->setTextVisible(false);
  for (const Names& n : kNames) {
    if (caption != QLatin1String(n.caption)) continue;
    setObjectName(QLatin1String(n.window));
    m_bar->setObjectName(QLatin1String(n.bar));
  }
  lblPer = new QLabel(QStringLiteral("0 %"), this);
  lblPer->setObjectName(QStringLiteral("lblPer"));
  lblPer->setAlignment(Qt::AlignCenter);
  layout->addWidget(m_bar);
  layout->addWidget(lblPer);
  resize(360, 90);
  setWindowTitle(caption + "[" + QFileInfo(waveFileName).fileName() + "]");
  connect(encoder, &EncoderBackend::progress, this, [this](int value, const QString& text) {
    m_bar->setValue(value);
    lblPer->setText(text);
  });
  connect(encoder, &EncoderBackend::finished, this, &QWidget::hide);
  show();
}

void ProgressWindow::closeEvent(QCloseEvent* e) {
  e->ignore();
  m_encoder->Cancel();
}

}  // namespace kv
