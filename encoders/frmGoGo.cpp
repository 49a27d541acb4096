#include "encoders/frmGoGo.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>

#include "app/Globals.h"
#include "shell/FileName.h"
#include "app/frmMain.h"
#include "encoders/CommandLineEncoders.h"
#include "encoders/GogoLibrary.h"
#include "shell/MsgBox.h"
#include "shell/cSystemFolder.h"

using kv::G;

namespace {
constexpr int32_t kItemInputFile = 1, kItemOutputFile = 2, kItemChannelMode = 3, kItemBitrate = 4,
                  kItemInputRate = 6, kItemTotalFrames = 15;
constexpr int32_t kInputCannotOpen = 13;

const kv::GogoApi* GogoForRun() {
  const auto& g = G();
  cSystemFolder local;
  cSystemFolder& folders = MainForm() ? MainForm()->SystemFolders() : local;
  return kv::LoadGogo(kv::FindGogo(g.AppPath, folders.System(), folders.Windows()));
}
}  // namespace

frmGoGo::frmGoGo(QWidget* owner) : kv::ProgressWindow(owner) {
  setObjectName(QStringLiteral("frmGoGo"));
  pbr1 = bar();
}

void frmGoGo::Form_Load() {
  SetCaptionFor(QStringLiteral("GOGO"), G().WaveFileName);
  pbr1->setValue(0);
  show();
  Run();
}

void frmGoGo::closeEvent(QCloseEvent* e) {
  e->ignore();
  blnStop = true;
}

void frmGoGo::Run() {
  const auto& g = G();
  const QString previous = kv::CurrentFolder();
  QDir::setCurrent(g.AppPath);
  const kv::GogoApi* api = GogoForRun();
  if (!api || api->MPGE_initializeWorkVB() != 0) {
    hide();
    kv::SetCurrentFolder(previous);
    return;
  }
  int32_t states = 0;
  api->MPGE_getUnitStatesVB(&states);
  const QByteArray wave = kv::PathBytes(g.WaveFileName);
  const QByteArray mp3 = kv::PathBytes(kv::WithLastThree(g.WaveFileName, QStringLiteral("mp3")));
  api->MPGE_setConfigureVB(kItemInputFile, 0, wave.constData());
  api->MPGE_setConfigureVB(kItemOutputFile, 0, mp3.constData());
  api->MPGE_setConfigureVB(kItemInputRate, g.SampleRate, nullptr);
  api->MPGE_setConfigureVB(kItemChannelMode, g.StereoMode == QStringLiteral("Joint Stereo") ? 2 : 1, nullptr);
  api->MPGE_setConfigureVB(kItemBitrate, g.Bitrate, nullptr);

  int32_t r = api->MPGE_detectConfigureVB();
  int32_t frames = 0;
  if (r == 0) {
    int32_t total = 0;
    api->MPGE_getConfigureVB(kItemTotalFrames, &total);
    QElapsedTimer sinceEvents;
    do {
      r = api->MPGE_processFrameVB();
      ++frames;
      // Without a total there is no percentage: label and bar keep what they show.
      if (total > 0) {
        const float percent = static_cast<float>(frames) / static_cast<float>(total) * 100.0f;
        lblPer->setText(kv::PercentText(percent));
        pbr1->setValue(kv::BarValue(percent));
      }
      // The bar and label follow every frame; the window repaints and takes clicks (Stop) at
      // 60 Hz, which is all the eye sees and keeps the encoder's own speed.
      if (!sinceEvents.isValid() || sinceEvents.elapsed() >= 16) {
        QCoreApplication::processEvents();
        sinceEvents.start();
      }
    } while (r == 0 && !blnStop);
    if (r != 1)
      kv::MsgBox(QStringLiteral("エラーが発生しました errcode = ") + QString::number(r), kv::vbExclamation,
                 kv::AppTitle(), this);
  } else if (r == kInputCannotOpen) {
    kv::MsgBox(QStringLiteral("入力ファイルを開けませんでした"), kv::vbExclamation, kv::AppTitle(), this);
  } else {
    kv::MsgBox(QStringLiteral("解析エラーが発生しました"), kv::vbExclamation, kv::AppTitle(), this);
  }
  api->MPGE_closeCoderVB();
  api->MPGE_endCoderVB();
  hide();
  kv::SetCurrentFolder(previous);
}
