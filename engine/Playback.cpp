// Playback of the list without recording: one entry, or every entry from the selected one on.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QTimer>

#include "app/frmMain.h"
#include "engine/MediaCommands.h"
#include "midi/MIDInfo.h"

void frmMain::PlayCommand() {
  if (lstSource->currentRow() < 0) return;
  StartPlayback(lstSource->currentItem()->text(), cboDevice->currentIndex() - 1);
  LockWindow(false);
  tmrPlay->start();
}

void frmMain::tmrPlay_Timer() {
  if (StatusMode().startsWith(QStringLiteral("playing"))) {
    const long pos = ReplyNumber(StatusPosition());
    const long len = StatusLength();
    Panel("status")->setText(QStringLiteral("Play ") + TimeText(pos) + "/" + TimeText(len));
    return;
  }
  tmrPlay->stop();
  StopPlayback();
  UnlockWindow();
  if (mnuSetPlay[1]->isChecked() && lstSource->currentRow() < lstSource->count() - 1) {
    lstSource->setCurrentRow(lstSource->currentRow() + 1);
    Toolbar1_ButtonClick(Button("Play"));
  } else {
    lstSource_Click();
  }
}
