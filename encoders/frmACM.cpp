#include "encoders/frmACM.h"


#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "app/Globals.h"
#include "shell/FileName.h"
#include "encoders/CommandLineEncoders.h"
#include "encoders/VBMP3.h"

using kv::G;

namespace kv {

const Vbmp3Api* LoadVbmp3(const QString& appPath) {
  const SharedLibrary* lib = LoadLibraryIn(appPath, QStringLiteral("VBMP3.DLL"));
  if (!lib) return nullptr;
  static Vbmp3Api api;
  const bool ok = lib->Bind(api.vbmp3_init, "vbmp3_init") && lib->Bind(api.vbmp3_encodeOpen, "vbmp3_encodeOpen") &&
                  lib->Bind(api.vbmp3_encodeStart, "vbmp3_encodeStart") &&
                  lib->Bind(api.vbmp3_getEncodeState, "vbmp3_getEncodeState") && lib->Bind(api.vbmp3_free, "vbmp3_free");
  return ok ? &api : nullptr;
}

}  // namespace kv

frmACM::frmACM(QWidget* owner) : kv::ProgressWindow(owner) {
  setObjectName(QStringLiteral("frmACM"));
  pbr1 = bar();
  tmr1 = new QTimer(this);
  connect(tmr1, &QTimer::timeout, this, &frmACM::tmr1_Timer);
}

void frmACM::Form_Load() {
  SetCaptionFor(QStringLiteral("ACM"), G().WaveFileName);
  pbr1->setValue(0);
  show();
  Run();
}

void frmACM::closeEvent(QCloseEvent* e) {
  e->ignore();
  tmr1->stop();
}

void frmACM::Run() {
  const auto& g = G();
  const kv::Vbmp3Api* api = kv::LoadVbmp3(g.AppPath);
  if (api) {
    // No result is checked: a failed open or start shows up as an encode that ends at once.
    api->vbmp3_init();
    const QByteArray mp3 = kv::PathBytes(kv::WithLastThree(g.WaveFileName, QStringLiteral("mp3")));
    int32_t info[4] = {0, 0, 0, 0};
    api->vbmp3_encodeOpen(kv::PathBytes(g.WaveFileName).constData(), info);
    lngTotal = info[3];
    api->vbmp3_encodeStart(mp3.constData());
    tmr1->start(500);
    kv::WaitWhile([this] { return tmr1->isActive(); });
    api->vbmp3_free();
  }
  hide();
}

void frmACM::tmr1_Timer() {
  const kv::Vbmp3Api* api = kv::LoadVbmp3(G().AppPath);
  int32_t progress = 0, other = 0;
  if (!api || api->vbmp3_getEncodeState(&progress, &other) != 1) {
    tmr1->stop();
    return;
  }
  // Without a total there is no percentage to show.
  if (lngTotal > 0) {
    const float percent = static_cast<float>(progress) / static_cast<float>(lngTotal) * 100.0f;
    pbr1->setValue(kv::BarValue(percent));
    lblPer->setText(kv::PercentTextNoLeadingZero(percent));
  }
}
