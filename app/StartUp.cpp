// Start-up and shut-down of the main window.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QToolBar>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/Globals.h"
#include "app/frmMain.h"
#include "app/FormatLists.h"
#include "engine/MediaCommands.h"
#include "engine/RecordingFormats.h"
#include "shell/Dir.h"
#include "shell/FileName.h"
#include "shell/MsgBox.h"
#include "shell/cSystemFolder.h"
#include "settings/StartUpChecks.h"

using kv::G;

namespace {

// "録再遅延(前後" + n + "秒)" with n in the shortest text of a single-precision number.
QString WaitCaption(float seconds) {
  return QStringLiteral("録再遅延(前後") + kv::SingleText(seconds) + QStringLiteral("秒)");
}

}  // namespace

QString WaitCaptionFor(float seconds) { return WaitCaption(seconds); }

void frmMain::Form_Load() {
  // 1-4: caption, program folder, settings file, volume program.
  setWindowTitle(Caption());
  auto& g = G();
  QString app = m_appDir;
  if (app.endsWith('/')) app.chop(1);
  g.AppPath = app;
  Settings().setFileName(SettingsPath());
  const bool firstRun = !QFileInfo::exists(SettingsPath());
  VolumeProgram = QStringLiteral("sndvol32.exe");

  // Every setting, read once. The platform window is made first so that its designed size is
  // settled: that size is the default of the stored one (twips, outer frame).
  winId();
  const QRect frame = OuterFrame();
  static_cast<kv::Settings&>(g) = kv::ReadSettings(Settings(), static_cast<float>(kv::PxToTwips(frame.width())),
                                                   static_cast<float>(kv::PxToTwips(frame.height())), g.AppPath);

  // 6: the record/play delay (its check mark is the "Option"/"Wait" setting, step 29).
  mnuSetWait->setText(WaitCaption(static_cast<float>(g.WaitCount) / 10.0f));

  // 5, 7: keep the window on the screen, then place it in one operation.
  QScreen* scr = screen() ? screen() : QGuiApplication::primaryScreen();
  const QRect sg = scr ? scr->geometry() : QRect(0, 0, 1024, 768);
  const double screenW = kv::PxToTwips(sg.width());
  const double screenH = kv::PxToTwips(sg.height());
  double Left = g.Left, Top = g.Top;
  const double Width = g.Width, Height = g.Height;
  if (Left < 0) Left = 0;
  if (Top < 0) Top = 0;
  if (Left + Width > screenW) Left = screenW - Width;
  if (Top + Height > screenH) Top = screenH - Height;
  PlaceFrame(QRect(sg.left() + kv::TwipsToPx(Left), sg.top() + kv::TwipsToPx(Top), std::max(1, kv::TwipsToPx(Width)),
                   std::max(1, kv::TwipsToPx(Height))));
  Form_Resize();

  // 10-23: the installed encoders decide which commands are offered.
  kv::DetectEncoders(g, g.AppPath, SystemFolders().System(), SystemFolders().Windows());
  mnuRunSoft[2]->setVisible(g.EncoderAvailable[0]);
  mnuRunSoft[3]->setVisible(g.EncoderAvailable[0]);
  const bool anyMp3 = g.EncoderAvailable[0] || g.EncoderAvailable[1] || g.EncoderAvailable[2];
  Button("mp3")->setEnabled(anyMp3);
  mnuSetType[1]->setEnabled(anyMp3);
  const bool anyWma = g.WmaAvailable[0] || g.WmaAvailable[1];
  Button("wma")->setEnabled(anyWma);
  mnuSetType[2]->setEnabled(anyWma);

  // 24: folders; an unusable folder falls back to the program's folder.
  kv::CheckFolders(g, g.AppPath);

  // 8-9, 25: normaliser and cut choice.
  NormaliserSetup();

  // 26: the output folder is the current folder; the label shows it.
  kv::SetCurrentFolder(g.WavePath);
  lblWaveFileName->setText(g.WavePath + "/");

  // 27: toolbar images are attached by key when the buttons are made.
  // 28: device list and recording formats.
  FillDeviceList(cboDevice, g.DefDevice);
  FillSampleList(cboSample, g.DefSample);

  // 29: title check box and the delay mark.
  chkTitleToFilename->setChecked(g.TitleToName);
  mnuSetWait->setChecked(g.WaitOn);

  // 30: let pending window events run once.
  QCoreApplication::processEvents();

  // 31-32: replay the stored output format and play mode; a stored word that names no button
  // of its group falls back to the default.
  ReplayStoredKey(g.Media, "wave", {"wave", "mp3", "wma"});
  ReplayStoredKey(g.Play, "one", {"one", "all"});

  // 33: the first run opens the help.
  if (firstRun && m_openHelpOnFirstRun) mnuHelpOnline_Click();
}

void frmMain::ReplayStoredKey(QString k, const QString& def, const QStringList& allowed) {
  if (!allowed.contains(k)) k = def;
  Toolbar1_ButtonClick(Button(k));
  SetButtonPressed(k, true);
}

void frmMain::WriteSettings() {
  auto& g = G();
  // The window's own state goes into the settings first.
  const bool normal = !isMinimized() && !isMaximized() && !isFullScreen();
  if (normal) {
    const QRect f = OuterFrame();
    const QRect sg = screen() ? screen()->geometry() : QRect();
    g.Left = static_cast<float>(kv::PxToTwips(f.left() - sg.left()));
    g.Top = static_cast<float>(kv::PxToTwips(f.top() - sg.top()));
    g.Width = static_cast<float>(kv::PxToTwips(f.width()));
    g.Height = static_cast<float>(kv::PxToTwips(f.height()));
  }
  g.DefSample = static_cast<short>(cboSample->currentIndex());
  g.DefDevice = static_cast<short>(cboDevice->currentIndex());
  // A refused write (unreadable or non-text file, no room, no rights) is reported once.
  if (!kv::WriteSettings(Settings(), g, normal))
    kv::MsgBox(SettingsPath() + QStringLiteral(" に設定を保存できませんでした。"), kv::vbExclamation, kv::AppTitle(), this);
}

void frmMain::Form_Unload() {
  if (m_unloaded) return;
  m_unloaded = true;
  WriteSettings();
  m_systemFolders.reset();
  m_settings.reset();
  // A recording still running is not saved, and its temporary file is ours to remove.
  MciSend(QStringLiteral("close all"));
  if (m_endProcess) {
    m_endProcess();
    return;
  }
  // End at once: no further events, timers or media commands.
  fflush(nullptr);
  _exit(0);
}
