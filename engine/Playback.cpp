// Playback of the list without recording: one entry, or every entry from the selected one on.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QTimer>

#include "app/SourceListView.h"
#include "app/frmMain.h"
#include "engine/MediaCommands.h"
#include "midi/MIDInfo.h"
#include "midi/SourceList.h"

void frmMain::PlayCommand() {
  if (lstSource->currentRow() < 0) return;
  StartPlayback(Sources->Entry(lstSource->currentRow()), cboDevice->currentIndex() - 1);
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
