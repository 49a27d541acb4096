// The command surface: the toolbar dispatcher and the small commands of the menus.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QToolBar>


#include "app/Globals.h"
#include "app/frmMain.h"
#include "engine/StoredSetup.h"
#include "postproc/cShellX.h"
#include "shell/HelpPage.h"
#include "shell/MsgBox.h"
#include "shell/FileName.h"
#include "shell/mShare.h"

using kv::G;

QString WaitCaptionFor(float seconds);

namespace {
// The maker's inquiry page.
const char* kInquiryPage = "https://korvessa.example.org/contact";
}  // namespace

void frmMain::Toolbar1_ButtonClick(QAction* Button) {
  if (!Button) return;
  const QString key = Button->objectName();
  if (key == "FileOpen") {
    mnuFileOpen_Click();
  } else if (key == "SndVol") {
    RunProgram(VolumeProgram);
  } else if (key == "RecVol") {
    RunProgram(VolumeProgram + " /R");
  } else if (key == "SaveFolder") {
    mnuFileSave_Click();
    kv::SetCurrentFolder(G().WavePath);
    lstSource_Click();
  } else if (key == "Play") {
    PlayCommand();
  } else if (key == "Rec") {
    StartConversion();
  } else if (key == "Stop") {
    StopRun();
  } else if (key == "Clear") {
    mnuFileClear_Click();
  } else if (key == "wave" || key == "mp3" || key == "wma") {
    const int i = key == "wave" ? 0 : key == "mp3" ? 1 : 2;
    for (int k = 0; k < 3; ++k) mnuSetType[k]->setChecked(k == i);
  } else if (key == "one" || key == "all") {
    mnuSetPlay[0]->setChecked(key == "one");
    mnuSetPlay[1]->setChecked(key == "all");
  } else if (key == "waveflt") {
    const bool on = ButtonPressed("waveflt");
    mnuNormalEnable[1]->setChecked(on);
    mnuNormalEnable[2]->setChecked(!on);
    frmMain::Button("headcut")->setVisible(on);
    mnuSetCut->menuAction()->setEnabled(on);
  } else if (key == "headcut") {
    const bool on = ButtonPressed("headcut");
    mnuSetCutOK[0]->setChecked(on);
    mnuSetCutOK[1]->setChecked(!on);
  } else if (key == "Exit") {
    mnuFileQuit_Click();
  }
}

void frmMain::RunProgram(const QString& commandLine) {
  // A program that cannot be started is reported; the window goes on.
  cShellX runner;
  if (!runner.ShellX(commandLine, 1, nullptr, false))
    kv::MsgBox(commandLine + QStringLiteral(" を起動できませんでした。"), kv::vbExclamation, kv::AppTitle(), this);
}

void frmMain::mnuRunSoft_Click(int Index) {
  switch (Index) {
    case 0: RunProgram(VolumeProgram); break;
    case 1: RunProgram(VolumeProgram + " /R"); break;
    case 3: RunProgram(G().ScmpxPath); break;
    default: break;
  }
}

void frmMain::ApplyWaitAnswer(const QString& answer) {
  if (answer.isEmpty()) return;
  const kv::DelayAnswer d = kv::ParseDelayAnswer(answer);
  mnuSetWait->setText(WaitCaptionFor(d.seconds));
  mnuSetWait->setChecked(d.seconds > 0);
  WaitCount = d.tenths;
}

void frmMain::mnuSetWait_Click() {
  QInputDialog dlg(this);
  dlg.setWindowTitle(QStringLiteral("遅延時間設定"));
  dlg.setLabelText(QStringLiteral("遅延時間を秒単位で入力してください。"));
  dlg.setTextValue(QStringLiteral("0.5"));
  dlg.move(OuterFrame().left() + kv::TwipsToPx(100), OuterFrame().top() + kv::TwipsToPx(400));
  if (dlg.exec() != QDialog::Accepted) return;
  ApplyWaitAnswer(dlg.textValue());
}

void frmMain::mnuHelpOnline_Click() { kv::ShowHelpPage(G().AppPath + "/" + m_exeBase + ".hlp", this); }

void frmMain::mnuOtoiawaseForm_Click() { ShellOpen(QString::fromLatin1(kInquiryPage)); }

void frmMain::mnuHelpVersion_Click() {
  const QString crlf = QStringLiteral("\r\n");
  const QString text = kv::AppTitle() + crlf + crlf + "\tVer." + VersionText() + crlf + crlf +
                       QStringLiteral("Copyright (C) 2026 Korvessa developers. All rights reserved.");
  kv::MsgBox(text, kv::vbInformation | kv::vbOKOnly, QStringLiteral("バージョン情報"), this);
}
