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
  if (PollSequencer(QStringLiteral("Play "))) return;
  tmrPlay->stop();
  StopPlayback();
  UnlockWindow();
  NextEntry(QStringLiteral("Play"));
}
