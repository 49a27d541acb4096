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
#include "engine/MediaCommands.h"
#include "app/FormatLists.h"
#include "engine/StoredSetup.h"
#include "shell/Dir.h"
#include "shell/FileName.h"
#include "shell/MsgBox.h"
#include "shell/cSystemFolder.h"

using kv::G;

namespace {

// "録再遅延(前後" + n + "秒)" with n in the shortest text of a single-precision number.
QString WaitCaption(float seconds) {
  return QStringLiteral("録再遅延(前後") + QString::number(seconds, 'g', 7) + QStringLiteral("秒)");
}

}  // namespace

QString WaitCaptionFor(float seconds) { return WaitCaption(seconds); }

void frmMain::Form_Load() {
  // 1-4: caption, program folder, settings file, volume program.
  setWindowTitle(Caption());
  QString app = m_appDir;
  if (app.endsWith('/')) app.chop(1);
  G().AppPath = app;
  Settings().setFileName(SettingsPath());
  const bool firstRun = !QFileInfo::exists(SettingsPath());
  VolumeProgram = QStringLiteral("sndvol32.exe");

  // 5: the stored window rectangle (twips, outer frame). The platform window is made first so
  // that its size is settled.
  winId();
  const QRect frame = OuterFrame();
  double Left = Settings().ReadSng("Position", "Left", 0);
  double Top = Settings().ReadSng("Position", "Top", 0);
  const double Width = Settings().ReadSng("Position", "Width", static_cast<float>(kv::PxToTwips(frame.width())));
  const double Height = Settings().ReadSng("Position", "Height", static_cast<float>(kv::PxToTwips(frame.height())));

  // 6: the record/play delay.
  WaitCount = Settings().ReadInt("Wait", "Count", 0);
  mnuSetWait->setText(WaitCaption(static_cast<float>(WaitCount) / 10.0f));
  mnuSetWait->setChecked(WaitCount > 0);

  // 7: keep the window on the screen, then place it in one operation.
  QScreen* scr = screen() ? screen() : QGuiApplication::primaryScreen();
  const QRect sg = scr ? scr->geometry() : QRect(0, 0, 1024, 768);
  const double screenW = kv::PxToTwips(sg.width());
  const double screenH = kv::PxToTwips(sg.height());
  if (Left < 0) Left = 0;
  if (Top < 0) Top = 0;
  if (Left + Width > screenW) Left = screenW - Width;
  if (Top + Height > screenH) Top = screenH - Height;
  PlaceFrame(QRect(sg.left() + kv::TwipsToPx(Left), sg.top() + kv::TwipsToPx(Top), std::max(1, kv::TwipsToPx(Width)),
                   std::max(1, kv::TwipsToPx(Height))));
  Form_Resize();

  // 8-9: the cut choice.
  const bool cut = Settings().ReadStr("Normalize", "Headcut", "OK") == QStringLiteral("OK");
  SetButtonPressed("headcut", cut);
  mnuSetCutOK[0]->setChecked(cut);
  mnuSetCutOK[1]->setChecked(!cut);
  Button("headcut")->setVisible(Button("waveflt")->isChecked());

  // 10-23: encoder choice and the installed components.
  G().SelSample = Settings().ReadInt("Option", "SelSample", 0);
  G().Quote = QStringLiteral("\"");
  DetectEncoders();

  // 24: folders; an unusable folder falls back to the program's folder.
  ValidateFolders();

  // 25: normaliser.
  NormaliserSetup();

  // 26: the output folder is the current folder; the label shows it.
  kv::SetCurrentFolder(G().WavePath);
  lblWaveFileName->setText(G().WavePath + "/");

  // 27: toolbar images are attached by key when the buttons are made.
  // 28: device list and recording formats.
  FillDeviceList(cboDevice, Settings());
  FillSampleList(cboSample, Settings());

  // 29: title check box and the delay mark.
  chkTitleToFilename->setChecked(Settings().ReadInt("Option", "TitleToName", 0) == 1);
  mnuSetWait->setChecked(Settings().ReadInt("Option", "Wait", 1) == 1);

  // 30: let pending window events run once.
  QCoreApplication::processEvents();

  // 31-32: replay the stored output format and play mode.
  ReplayStoredKey("OnKey", "Media", "wave", {"wave", "mp3", "wma"});
  ReplayStoredKey("OnKey", "Play", "one", {"one", "all"});

  // 33: the first run opens the help.
  if (firstRun && m_openHelpOnFirstRun) mnuHelpOnline_Click();
}

void frmMain::ReplayStoredKey(const QString& section, const QString& key, const QString& def,
                              const QStringList& allowed) {
  QString k = Settings().ReadStr(section, key, def);
  // A stored word that names no button of the group falls back to the default.
  if (!allowed.contains(k)) k = def;
  Toolbar1_ButtonClick(Button(k));
  SetButtonPressed(k, true);
}

void frmMain::DetectEncoders() {
  const auto& g = G();
  kv::DetectEncoders(Settings(), SystemFolders().System(), SystemFolders().Windows());
  mnuRunSoft[2]->setVisible(g.EncoderAvailable[0]);
  mnuRunSoft[3]->setVisible(g.EncoderAvailable[0]);
  const bool anyMp3 = g.EncoderAvailable[0] || g.EncoderAvailable[1] || g.EncoderAvailable[2];
  Button("mp3")->setEnabled(anyMp3);
  mnuSetType[1]->setEnabled(anyMp3);
  const bool anyWma = g.WmaAvailable[0] || g.WmaAvailable[1];
  Button("wma")->setEnabled(anyWma);
  mnuSetType[2]->setEnabled(anyWma);
}

void frmMain::ValidateFolders() { kv::ReadFolders(Settings()); }

void frmMain::WriteSettings() {
  inifile_IO& s = Settings();
  auto& g = G();
  // A refused write (unreadable or non-text file, no room, no rights) is reported once.
  bool saved = true;
  auto put = [&s, &saved](const QString& section, const QString& key, const QString& value) {
    saved = s.WriteStr(section, key, value) && saved;
  };
  auto b = [](bool v) { return v ? QStringLiteral("1") : QStringLiteral("0"); };
  auto num = [](double v) { return QString::number(static_cast<float>(v), 'g', 7); };

  QString media = "wave";
  if (ButtonPressed("wave")) media = "wave";
  else if (ButtonPressed("mp3")) media = "mp3";
  else if (ButtonPressed("wma")) media = "wma";
  put("OnKey", "Media", media);
  if (!isMinimized() && !isMaximized() && !isFullScreen()) {
    const QRect f = OuterFrame();
    const QRect sg = screen() ? screen()->geometry() : QRect();
    put("Position", "Left", num(kv::PxToTwips(f.left() - sg.left())));
    put("Position", "Top", num(kv::PxToTwips(f.top() - sg.top())));
    put("Position", "Width", num(kv::PxToTwips(f.width())));
    put("Position", "Height", num(kv::PxToTwips(f.height())));
  }
  put("OnKey", "Play", ButtonPressed("one") ? "one" : "all");
  put("Folder", "WavePath", g.WavePath);
  put("Folder", "MidiPath", g.MidiPath);
  put("Option", "TitleToName", chkTitleToFilename->isChecked() ? "1" : "0");
  put("Option", "DefSample", QString::number(cboSample->currentIndex()));
  put("Option", "DefDevice", QString::number(cboDevice->currentIndex()));
  for (int i = 0; i < 3; ++i) put("Encoder", QStringLiteral("Enable%1").arg(i), b(g.EncoderAvailable[i]));
  put("Encoder", "Default", QString::number(g.EncoderDefault));
  put("Encoder", "Bitrate", QString::number(g.Bitrate));
  put("Encoder", "Stereo", g.StereoMode);
  put("Folder", "Scmpx", g.ScmpxPath);
  put("Encoder", "WMAEnc", QString::number(g.WmaEncoder));
  put("Folder", "Wm8eutil", g.Wm8eutilPath);
  put("Encoder", "Fast", b(g.FastEncode));
  put("Folder", "Waveflt", g.WavefltPath);
  put("Normalize", "Enable", mnuNormalEnable[1]->isChecked() ? "1" : "2");
  put("Normalize", "headcut", mnuSetCutOK[0]->isChecked() ? "OK" : "NG");
  put("Option", "SelSample", QString::number(g.SelSample));
  put("Option", "Wait", mnuSetWait->isChecked() ? "1" : "0");
  put("Wait", "Count", QString::number(WaitCount));
  if (!saved)
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
