#include "encoders/frmVBWMA.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "app/Globals.h"
#include "shell/FileName.h"
#include "encoders/VBWAV2WMA.h"
#include "shell/MsgBox.h"

using kv::G;

frmVBWMA::frmVBWMA(QWidget* owner) : kv::ProgressWindow(owner) {
  setObjectName(QStringLiteral("frmVBWMA"));
  ProgressBar1 = bar();
  Timer1 = new QTimer(this);
  connect(Timer1, &QTimer::timeout, this, &frmVBWMA::Timer1_Timer);
}

void frmVBWMA::Form_Load() {
  SetCaptionFor(QStringLiteral("VBWAV2WMA"), G().WaveFileName);
  ProgressBar1->setValue(0);
  show();
  Run();
}

void frmVBWMA::closeEvent(QCloseEvent* e) { e->ignore(); }

void frmVBWMA::Run() {
  const auto& g = G();
  const QString previous = kv::CurrentFolder();
  QDir::setCurrent(g.AppPath);
  const QString wma = g.WaveFileName.left(g.WaveFileName.size() - 3) + QStringLiteral("wma");
  kv::WmaEncodeSettings settings = kv::DefaultWmaSettings(kv::WmaTitleFor(g.WaveFileName));
  int32_t info[4] = {0, 0, 0, 0};
  if (!kv::OpenWmaEncode(g.WaveFileName, wma, info, settings)) {
    kv::MsgBox(QStringLiteral("エンコード失敗"), kv::vbOKOnly, kv::AppTitle(), this);
    if (const kv::VbwwApi* api = kv::LoadVbww(g.AppPath)) api->vbww_debug();
    hide();
    kv::SetCurrentFolder(previous);
    return;
  }
  const kv::VbwwApi* api = kv::LoadVbww(g.AppPath);
  api->vbww_encodeStart();
  lngTotal = info[3];
  lblPer->setText(QStringLiteral("0 %"));
  ProgressBar1->setValue(0);
  Timer1->start(300);
  kv::WaitWhile([this] { return Timer1->isActive(); });
  kv::RemoveFile(g.WaveFileName);
  hide();
  kv::SetCurrentFolder(previous);
}

void frmVBWMA::Timer1_Timer() {
  const kv::VbwwApi* api = kv::LoadVbww(G().AppPath);
  int32_t progress = 0;
  const int32_t state = api ? api->vbww_getEncodeState(&progress) : 0;
  if (state == 0) {
    Timer1->stop();
  } else if (state == 1 && lngTotal > 0) {
    // Without a total there is no percentage to show.
    const float percent = static_cast<float>(progress) / static_cast<float>(lngTotal) * 100.0f;
    lblPer->setText(kv::PercentText(percent));
    ProgressBar1->setValue(kv::BarValue(percent));
  }
}
