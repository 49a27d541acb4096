// The command surface: the toolbar dispatcher and the small commands of the menus.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QToolBar>

#include "app/Globals.h"
#include "app/SourceListView.h"
#include "app/frmMain.h"
#include "capacity/Volume.h"
#include "capacity/frmSize.h"
#include "engine/ConversionController.h"
#include "midi/SourceList.h"
#include "postproc/cShellX.h"
#include "shell/FileName.h"
#include "shell/HelpPage.h"
#include "shell/MsgBox.h"
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
    G().Media = key;
    const int i = key == "wave" ? 0 : key == "mp3" ? 1 : 2;
    for (int k = 0; k < 3; ++k) mnuSetType[k]->setChecked(k == i);
  } else if (key == "one" || key == "all") {
    G().Play = key;
    mnuSetPlay[0]->setChecked(key == "one");
    mnuSetPlay[1]->setChecked(key == "all");
  } else if (key == "waveflt") {
    G().NormaliserOn = ButtonPressed("waveflt");
    ShowNormaliser();
  } else if (key == "headcut") {
    G().Headcut = ButtonPressed("headcut");
    ShowNormaliser();
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
  G().WaitCount = d.tenths;
  G().WaitOn = d.seconds > 0;
  mnuSetWait->setText(WaitCaptionFor(d.seconds));
  mnuSetWait->setChecked(G().WaitOn);
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

void frmMain::mnuOtoiawaseForm_Click() { kv::ShowWebPage(QString::fromLatin1(kInquiryPage), this); }

void frmMain::mnuHelpVersion_Click() {
  const QString crlf = QStringLiteral("\r\n");
  const QString text = kv::AppTitle() + crlf + crlf + "\tVer." + VersionText() + crlf + crlf +
                       QStringLiteral("Copyright (C) 2026 Korvessa developers. All rights reserved.");
  kv::MsgBox(text, kv::vbInformation | kv::vbOKOnly, QStringLiteral("バージョン情報"), this);
}

// The capacity check: refused for a network folder, whose free space and files would be slow
// or misleading to measure; otherwise a fresh window, so every opening measures anew.
void frmMain::mnuFileSpace_Click() {
  if (kv::IsNetworkPath(G().WavePath)) {
    kv::MsgBox(QStringLiteral("ネットワークパスの容量は確認できません。"), kv::vbExclamation, kv::AppTitle(), this);
    return;
  }
  frmSize form({Sources->Entries(), G().WavePath, G().AppPath, G().WaitOn}, this);
  form.Form_Load();
  form.exec();
}
